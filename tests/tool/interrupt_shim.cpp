// Preloaded into congestion-estimate by its interrupt tests, so that an
// interruption comes at a chosen point of a run every time instead of by
// timing luck.
//
// CONGESTION_INTERRUPT_AT=TEXT: the first time the process opens for writing
// a file whose path holds TEXT, the opening thread sends the process SIGINT
// (or the signal CONGESTION_INTERRUPT_SIGNAL gives by number) and holds the open until the interruption has begun to remove files (or
// HOLD_MS passed: a tool that lets the file's writing end first removes
// nothing before). The interruption's _exit in turn waits for that open to
// be done. A tool that removed what was staged while a file was about to be
// created therefore always leaves that file behind.
//
// CONGESTION_INTERRUPT_AT_EXIT=1: as the process exits, once the run is
// over, it sends itself the signal and waits for the interruption to end it.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr auto HOLD = std::chrono::milliseconds(300);
constexpr auto EXIT_WAIT = std::chrono::seconds(5);
constexpr auto POLL = std::chrono::milliseconds(1);

enum STATE { WAITING, HOLDING, OPENED };
std::atomic<int> s_state{WAITING};
std::atomic<bool> s_removing{false};

template <typename FUNCTION>
FUNCTION get_next(const char* name)
{
    return reinterpret_cast<FUNCTION>(::dlsym(RTLD_NEXT, name));
}

// Waits until `done` or `limit` passed.
template <typename DONE>
void wait_for(const DONE& done, std::chrono::milliseconds limit)
{
    for (auto waited = std::chrono::milliseconds(0); !done() && waited < limit; waited += POLL)
        std::this_thread::sleep_for(POLL);
}

void send_signal()
{
    const char* number = std::getenv("CONGESTION_INTERRUPT_SIGNAL");
    ::kill(::getpid(), number != nullptr ? std::atoi(number) : SIGINT);
}

// Before an open: interrupts on the first matching one, and holds it.
// Returns whether this open is the held one.
bool interrupt_before(const char* path, bool writes)
{
    const char* at = std::getenv("CONGESTION_INTERRUPT_AT");
    if (!writes || at == nullptr || path == nullptr || std::strstr(path, at) == nullptr)
        return false;
    int expected = WAITING;
    if (!s_state.compare_exchange_strong(expected, HOLDING))
        return false;
    send_signal();
    wait_for([] { return s_removing.load(); }, HOLD);
    return true;
}

void after(bool held)
{
    if (held)
        s_state = OPENED;
}

bool writes_mode(const char* mode) { return mode != nullptr && std::strpbrk(mode, "wa+") != nullptr; }

bool writes_flags(int flags) { return (flags & O_ACCMODE) != O_RDONLY || (flags & O_CREAT) != 0; }

FILE* open_stream(FILE* (*next)(const char*, const char*), const char* path, const char* mode)
{
    const bool held = interrupt_before(path, writes_mode(mode));
    FILE* file = next(path, mode);
    after(held);
    return file;
}

void note_removal()
{
    if (s_state != WAITING)
        s_removing = true;
}

}  // namespace

extern "C" {

FILE* fopen(const char* path, const char* mode)
{
    static const auto next = get_next<FILE* (*)(const char*, const char*)>("fopen");
    return open_stream(next, path, mode);
}

FILE* fopen64(const char* path, const char* mode)
{
    static const auto next = get_next<FILE* (*)(const char*, const char*)>("fopen64");
    return open_stream(next, path, mode);
}

int open(const char* path, int flags, ...)
{
    static const auto next = get_next<int (*)(const char*, int, ...)>("open");
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    const bool held = interrupt_before(path, writes_flags(flags));
    const int descriptor = next(path, flags, mode);
    const int saved = errno;
    after(held);
    errno = saved;
    return descriptor;
}

int unlink(const char* path) noexcept
{
    static const auto next = get_next<int (*)(const char*)>("unlink");
    note_removal();
    return next(path);
}

int remove(const char* path) noexcept
{
    static const auto next = get_next<int (*)(const char*)>("remove");
    note_removal();
    return next(path);
}

int rmdir(const char* path) noexcept
{
    static const auto next = get_next<int (*)(const char*)>("rmdir");
    note_removal();
    return next(path);
}

void _exit(int status)
{
    static const auto next = get_next<void (*)(int)>("_exit");
    wait_for([] { return s_state != HOLDING; }, EXIT_WAIT);
    next(status);
    std::abort();
}

}  // extern "C"

namespace {

// Runs as the process exits, once the run is over; a process that no
// longer waits for the signal exits as it would have after a while.
void interrupt_at_exit()
{
    send_signal();
    std::this_thread::sleep_for(EXIT_WAIT);
}

__attribute__((constructor)) void install_exit_interruption()
{
    if (std::getenv("CONGESTION_INTERRUPT_AT_EXIT") != nullptr)
        std::atexit(interrupt_at_exit);
}

}  // namespace
