// Scratch folders and file editing for the tool's tests.
#include "tool_test_support.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

SCRATCH_DIR::SCRATCH_DIR()
{
    std::random_device seed;
    const std::string name = "congestion_tool_test_" + std::to_string(::getpid()) + "_" + std::to_string(seed());
    m_path = std::filesystem::temp_directory_path() / name;
    std::filesystem::create_directories(m_path);
}

SCRATCH_DIR::~SCRATCH_DIR()
{
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
}

std::vector<std::string> read_lines(const std::filesystem::path& path)
{
    std::ifstream stream(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

void write_lines(const std::filesystem::path& path, const std::vector<std::string>& lines)
{
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines)
        stream << line << '\n';
}

std::string read_text(const std::filesystem::path& path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

void copy_sample_design(const std::filesystem::path& dir)
{
    std::filesystem::create_directories(dir);
    for (const char* name : {"tiles.txt", "nets.txt", "routed.txt"})
        std::filesystem::copy_file(std::filesystem::path(SAMPLE_DESIGN) / name, dir / name,
                                   std::filesystem::copy_options::overwrite_existing);
}

namespace {

std::string quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

PROGRAM_RESULT run_program(const std::string& program, const std::vector<std::string>& args,
                           const std::filesystem::path& dir, const std::string& stdout_path)
{
    std::string command = quote(program);
    for (const std::string& arg : args)
        command += " " + quote(arg);
    const std::filesystem::path out = dir / "stdout.txt";
    const std::filesystem::path err = dir / "stderr.txt";
    command += " >" + quote(stdout_path.empty() ? out.string() : stdout_path) + " 2>" + quote(err.string());
    const int status = std::system(command.c_str());
    PROGRAM_RESULT result;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (stdout_path.empty())
        result.out = read_text(out);
    result.err = read_text(err);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return result;
}
