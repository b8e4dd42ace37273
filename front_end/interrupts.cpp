// The thread that waits for Ctrl-C and SIGTERM.
#include "front_end/interrupts.h"

#include <iostream>
#include <mutex>
#include <thread>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include "front_end/output_file.h"
#include "front_end/progress.h"

namespace {

sigset_t get_signals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

// The progress display of the run, while there is one. Never destroyed: a
// signal may come while the process exits.
std::mutex& get_mutex()
{
    static auto* mutex = new std::mutex;
    return *mutex;
}

PROGRESS*& get_progress()
{
    static PROGRESS* progress = nullptr;
    return progress;
}

}  // namespace

void INTERRUPTS::block()
{
    const sigset_t signals = get_signals();
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

INTERRUPTS::INTERRUPTS(const std::string& program, PROGRESS& progress)
{
    {
        const std::lock_guard<std::mutex> lock(get_mutex());
        get_progress() = &progress;
    }
    std::thread([program] {
        const sigset_t signals = get_signals();
        int signal = 0;
        if (::sigwait(&signals, &signal) != 0)
            return;
        const std::lock_guard<std::mutex> lock(get_mutex());
        if (get_progress() != nullptr)
            get_progress()->break_line();
        const std::string outputs = remove_staged_outputs();
        std::cerr << program << ": interrupted by " << (signal == SIGINT ? "SIGINT" : "SIGTERM") << "; " << outputs
                  << ".\n"
                  << std::flush;
        ::_exit(EXIT_INTERRUPTED + signal);
    }).detach();
}

INTERRUPTS::~INTERRUPTS()
{
    const std::lock_guard<std::mutex> lock(get_mutex());
    get_progress() = nullptr;
}
