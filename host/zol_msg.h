// Fatal internal-error reports and levelled debug messages of the host process.
#ifndef ZOL_MSG_H
#define ZOL_MSG_H

#include <cstdarg>

#include "host/host_export.h"

// Debug levels: a message of level L is shown when HOST_DEBUG_LEVEL >= L.
enum MSG_D_LEVEL : int {
    MSG_D_LEVEL_0 = 0,
    MSG_D_LEVEL_1 = 1,
    MSG_D_LEVEL_2 = 2,
    MSG_D_LEVEL_3 = 3,
    MSG_D_LEVEL_4 = 4,
};

class HOST_API MSG_INTERNAL_ERROR {
 public:
    // Writes one report naming the message, module, file and line to standard
    // error ("Fatal error in module M (file:line): message", not "internal":
    // most failed checks catch a caller's input, which the reporter cannot
    // tell from a fault of the library), flushes it and aborts the process. Safe to call from any thread;
    // concurrent reports are serialised so that their text never interleaves.
    [[noreturn]] static void report(const char* message, const char* module, const char* file, int line);
};

// Prints `format` expanded with `args` as one line on standard error, prefixed
// by the module, when the environment variable HOST_DEBUG_LEVEL holds an
// integer at least `level`. Returns whether anything was printed.
HOST_API bool msg_local_vdebug(const char* module, MSG_D_LEVEL level, const char* format, va_list args);

#endif
