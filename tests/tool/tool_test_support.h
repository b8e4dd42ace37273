// Scratch folders and file editing for the tool's tests.
#ifndef TOOL_TEST_SUPPORT_H
#define TOOL_TEST_SUPPORT_H

#include <filesystem>
#include <string>
#include <vector>

// A fresh empty folder under the system's temporary folder, removed with the
// object.
class SCRATCH_DIR {
 public:
    SCRATCH_DIR();
    ~SCRATCH_DIR();
    SCRATCH_DIR(const SCRATCH_DIR&) = delete;
    SCRATCH_DIR& operator=(const SCRATCH_DIR&) = delete;
    const std::filesystem::path& get_path() const { return m_path; }

 private:
    std::filesystem::path m_path;
};

std::vector<std::string> read_lines(const std::filesystem::path& path);
void write_lines(const std::filesystem::path& path, const std::vector<std::string>& lines);
std::string read_text(const std::filesystem::path& path);

// Copies tiles.txt, nets.txt and routed.txt of the sample design into `dir`,
// made when missing.
void copy_sample_design(const std::filesystem::path& dir);

// How a program run ended and what it printed.
struct PROGRAM_RESULT {
    int exit_code = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs `program` with `args`, capturing its standard output and error in
// files of `dir` that are removed afterwards. With `stdout_path` the
// standard output goes there instead and `out` stays empty.
PROGRAM_RESULT run_program(const std::string& program, const std::vector<std::string>& args,
                           const std::filesystem::path& dir, const std::string& stdout_path = "");

#endif
