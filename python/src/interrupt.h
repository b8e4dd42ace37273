// INTERRUPT_WATCH: lets Ctrl-C stop a long engine call that runs without the
// GIL, through the netlist interface the engine calls.
#ifndef CONGESTION_PYTHON_INTERRUPT_H
#define CONGESTION_PYTHON_INTERRUPT_H

#include <atomic>
#include <exception>
#include <stdexcept>
#include <thread>

// Thrown through the engine when a signal handler raised; the engine unwinds
// and leaves its demand as it was.
struct INTERRUPTED : std::runtime_error {
    INTERRUPTED() : std::runtime_error("interrupted by a signal") {}
};

// Created, with the GIL held, by the Python thread that calls the engine.
// Python runs signal handlers only in its main thread, so only that thread,
// when it works on the engine's loops, runs them, every POLL_PERIOD calls of
// poll(); once one has raised, every thread's next poll throws INTERRUPTED.
class INTERRUPT_WATCH {
 public:
    INTERRUPT_WATCH();
    // Called by the netlist interface from any thread, without the GIL.
    void poll();
    // After the engine has unwound, with the GIL held: raises what the signal
    // handler raised (KeyboardInterrupt for Ctrl-C).
    [[noreturn]] void raise() const;

 private:
    static constexpr unsigned POLL_PERIOD = 1024;
    std::thread::id m_signal_thread;  // default id: not Python's main thread
    std::atomic<bool> m_interrupted{false};
    std::exception_ptr m_error;  // written once, before m_interrupted is set
};

#endif
