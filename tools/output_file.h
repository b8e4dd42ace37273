// Output files that appear complete or not at all.
#ifndef CONGESTION_OUTPUT_FILE_H
#define CONGESTION_OUTPUT_FILE_H

#include <functional>
#include <stdexcept>
#include <string>

// An output that could not be written; what() is one sentence.
class OUTPUT_ERROR : public std::runtime_error {
 public:
    using std::runtime_error::runtime_error;
};

// The temporary name `path` is written under: a hidden name in the same
// directory, so that the final rename never crosses file systems.
std::string get_temporary_path(const std::string& path);

// Calls write(temporary) to create the file under its temporary name, then
// renames it to `path`. When write throws, or leaves no file behind, the
// temporary is removed and OUTPUT_ERROR is thrown.
void write_file_atomically(const std::string& path, const std::function<void(const std::string&)>& write);

// Writes `text` to `path` through write_file_atomically.
void write_text_file(const std::string& path, const std::string& text);

// Throws OUTPUT_ERROR unless the directory that will hold `path` exists.
void check_output_directory(const std::string& path);

#endif
