// Absolute, normalised paths.
#include "host/zol_fio.h"

#include <filesystem>
#include <system_error>

std::wstring fio_get_unc_full_path(const char* path)
{
    const std::filesystem::path given(path ? path : "");
    std::error_code error;
    std::filesystem::path full = std::filesystem::absolute(given, error);
    if (error)
        full = given;  // no current directory to anchor it: keep the name as given
    return full.lexically_normal().wstring();
}
