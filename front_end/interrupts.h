// Ctrl-C and SIGTERM end a run of a command-line program at once, leaving
// nothing staged.
#ifndef CONGESTION_INTERRUPTS_H
#define CONGESTION_INTERRUPTS_H

#include <string>

class PROGRESS;

// An interrupted run exits with this plus the signal's number, as a shell
// reports a process that a signal ended.
constexpr int EXIT_INTERRUPTED = 128;

// Every thread blocks SIGINT and SIGTERM but one, which waits for them: it
// removes what the run's outputs staged (remove_staged_outputs, which first
// lets the file being written end; no signal handler could safely do that),
// says on standard error after `program`'s name which outputs were written
// (none, every one, or those before the others) and exits with
// EXIT_INTERRUPTED + the signal's number, whichever it is.
class INTERRUPTS {
 public:
    // Blocks the signals in the calling thread and the threads it starts
    // later: call it first in main, before any other thread exists.
    static void block();

    // Starts the waiting thread; `progress` ends its line before the
    // message. A signal that comes after the object is gone still ends the
    // run, without a progress line to end.
    INTERRUPTS(const std::string& program, PROGRESS& progress);
    ~INTERRUPTS();
    INTERRUPTS(const INTERRUPTS&) = delete;
    INTERRUPTS& operator=(const INTERRUPTS&) = delete;
};

#endif
