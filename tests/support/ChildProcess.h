#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// A program in a child process, for tests that look into it while it runs: standard input is a
// pipe written piece by piece, standard output is read line by line (or discarded), a
// pseudo-terminal may be its controlling terminal (for password prompts), and it may be held at
// its exit, all of its memory still there, until the test lets it go (ptrace).
class ChildProcess
{
public:
    struct Options
    {
        bool terminal = false;
        bool holdAtExit = false;
        bool discardOutput = false;
        bool asNobody = false;         // when root: run as the unprivileged user "nobody"
        bool errorsToTerminal = false; // standard error goes to the terminal as well
    };

    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool start(const QString& program, const QStringList& arguments, const Options& options);
    pid_t pid() const { return child; }

    // Each piece goes out in a write of its own.
    bool writeInput(const QList<QByteArray>& pieces);
    void closeInput();
    // The next line of standard output, without its "\n"; empty when none came in time.
    QByteArray readLine(int timeoutMs = 20000);

    // Waits for `prompt` on the terminal and for its echo to go off, then types the pieces and
    // Enter.
    bool answerPrompt(const QByteArray& prompt, const QList<QByteArray>& pieces,
                      int timeoutMs = 20000);
    // Waits for `text` on the terminal after what was answered so far, then types `keys`.
    bool typeAfter(const QByteArray& text, const QByteArray& keys, int timeoutMs = 20000);
    // Reads what the terminal shows until the program has closed it.
    void readTerminalToEnd(int timeoutMs = 20000);
    // Whether the terminal echoes what is typed, as the program left it.
    bool terminalEchoes() const;
    // Everything the terminal showed so far.
    const QByteArray& screen() const { return terminalOutput; }
    // Waits until the child blocks reading its standard input.
    bool waitUntilReadingInput(int timeoutMs = 20000);
    // Waits until the child, with holdAtExit, is held at its exit.
    bool waitUntilHeldAtExit(int timeoutMs = 20000);
    // Lets a held child go and waits for its end: the exit code, or minus the signal that ended
    // it, or -1000 when it did not end in time (it is then killed).
    int finish(int timeoutMs = 20000);
    // Whether the child still runs; once not, exitStatus() tells how it ended (as finish()).
    // 125: it could not become nobody; 126, 127: it could not start the program.
    bool running();
    int exitStatus() const { return endStatus; }

private:
    bool readTerminal(int timeoutMs);
    // Handles one state change of a traced child; false once it has ended.
    bool handleStop(int status);

    pid_t child = -1;
    int input = -1;
    int output = -1;
    int terminalMaster = -1;
    bool traced = false;
    bool held = false;
    int endStatus = -1;
    bool ended = false;
    QByteArray outputBuffer;
    QByteArray terminalOutput;
    int answered = 0; // the terminal output up to here holds prompts already answered
};
