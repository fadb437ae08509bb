#pragma once

// When the editor windows lock by themselves. Kept with the other settings (group "Lock"), read
// once by the process and written when the settings dialog is accepted, so every window of
// the process follows the same values.
struct LockSettings
{
    int idleSeconds = 600; // no input to the program for this long; 0: never
    bool onScreenLock = true;
    bool beforeSleep = true;
    bool onMinimize = false;

    static LockSettings read();
    void write() const;
};
