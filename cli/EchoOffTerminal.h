#pragma once

#include "EndingSignals.h"

#include <termios.h>

// Turns a terminal's echo off for as long as the object lives, dropping what was typed ahead
// of it. The terminal is put back on every way out: the destructor, and the signals that end
// the program (Ctrl-C, hang-up, termination), after which the signal takes its normal course.
// One at a time per process.
class EchoOffTerminal
{
public:
    explicit EchoOffTerminal(int fd);
    ~EchoOffTerminal();
    EchoOffTerminal(const EchoOffTerminal&) = delete;
    EchoOffTerminal& operator=(const EchoOffTerminal&) = delete;

    // False when `fd` is no terminal or its settings could not be changed.
    bool active() const { return isActive; }

private:
    static void restore();
    static void onSignal(int signalNumber);

    EndingSignals endingSignals;
    bool isActive = false;
};
