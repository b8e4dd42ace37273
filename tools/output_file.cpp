// Writing under a temporary name and renaming when complete.
#include "tools/output_file.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include <unistd.h>

namespace fs = std::filesystem;

std::string get_temporary_path(const std::string& path)
{
    const fs::path target(path);
    const std::string name = "." + target.filename().string() + ".tmp" + std::to_string(::getpid());
    return (target.parent_path() / name).string();
}

void write_file_atomically(const std::string& path, const std::function<void(const std::string&)>& write)
{
    const std::string temporary = get_temporary_path(path);
    std::error_code error;
    try {
        write(temporary);
    } catch (...) {
        fs::remove(temporary, error);
        throw;
    }
    if (!fs::is_regular_file(temporary, error)) {
        fs::remove(temporary, error);
        throw OUTPUT_ERROR("cannot write " + path + ": the file could not be created.");
    }
    fs::rename(temporary, path, error);
    if (error) {
        // Taken before the clean-up, which reuses `error`.
        const std::string reason = error.message();
        fs::remove(temporary, error);
        throw OUTPUT_ERROR("cannot rename the finished " + path + " into place: " + reason + ".");
    }
}

void write_text_file(const std::string& path, const std::string& text)
{
    write_file_atomically(path, [&](const std::string& temporary) {
        std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
        stream << text;
        stream.close();
        if (!stream)
            throw OUTPUT_ERROR("cannot write " + path + ": writing " + temporary + " failed.");
    });
}

void check_output_directory(const std::string& path)
{
    const fs::path parent = fs::path(path).parent_path();
    std::error_code error;
    if (fs::is_directory(path, error))
        throw OUTPUT_ERROR("cannot write " + path + ": it is a directory.");
    if (!parent.empty() && !fs::is_directory(parent, error))
        throw OUTPUT_ERROR("cannot write " + path + ": the directory " + parent.string() + " does not exist.");
}
