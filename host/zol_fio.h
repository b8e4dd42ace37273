// File-path services of the host process.
#ifndef ZOL_FIO_H
#define ZOL_FIO_H

#include <string>

#include "host/host_export.h"

// The absolute, lexically normalised form of `path` as a wide string.
HOST_API std::wstring fio_get_unc_full_path(const char* path);

#endif
