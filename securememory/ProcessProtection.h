#pragma once

// Start-up protection of a process that holds secrets. A crash writes no core file, and no
// other process of the same user may copy the process's memory (ptrace, /proc/PID/mem, a
// debugger's core image); only root still can. Both programs call apply() first thing in main.
class ProcessProtection
{
public:
    static void apply() noexcept;
};
