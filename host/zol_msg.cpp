// Fatal reports and debug messages written to standard error.
#include "host/zol_msg.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace {

std::mutex& report_mutex()
{
    static std::mutex mutex;
    return mutex;
}

// HOST_DEBUG_LEVEL as an integer; -1 when unset or not a number.
int debug_level_from_environment()
{
    const char* text = std::getenv("HOST_DEBUG_LEVEL");
    if (text == nullptr || *text == '\0')
        return -1;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0')
        return -1;
    return static_cast<int>(value);
}

}  // namespace

void MSG_INTERNAL_ERROR::report(const char* message, const char* module, const char* file, int line)
{
    {
        // Held until abort: a second thread reporting at the same time waits
        // here and never prints a half line into ours.
        report_mutex().lock();
        std::fprintf(stderr, "Fatal error in module %s (%s:%d): %s\n", module ? module : "?", file ? file : "?", line,
                     message ? message : "");
        std::fflush(stderr);
    }
    std::abort();
}

bool msg_local_vdebug(const char* module, MSG_D_LEVEL level, const char* format, va_list args)
{
    if (debug_level_from_environment() < static_cast<int>(level))
        return false;
    va_list copy;
    va_copy(copy, args);
    const int size = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (size < 0)
        return false;
    std::string text(static_cast<size_t>(size) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(size));
    std::fprintf(stderr, "%s: %s\n", module ? module : "?", text.c_str());
    std::fflush(stderr);
    return true;
}
