// Scratch folders and file editing for the tool's tests.
#include "tool_test_support.h"

#include <fstream>
#include <random>
#include <sstream>

#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
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

const DIRECTIONAL_TABLE DIRECTIONAL_SUPPLY = {{
    {0, 0, 0, 0, 0},
    {2, 2, 1, 0, 4},
    {2, 2, 1, 0, 4},
    {0, 0, 0, 0, 0},  // y = 0
    {1, 0, 3, 3, 4},
    {6, 5, 4, 3, 8},
    {6, 5, 4, 3, 8},
    {0, 1, 3, 3, 4},  // y = 1
    {0, 0, 0, 0, 0},
    {2, 2, 0, 1, 4},
    {2, 2, 0, 1, 4},
    {0, 0, 0, 0, 0},  // y = 2
}};

const DIRECTIONAL_TABLE DIRECTIONAL_USAGE = {{
    {0, 0, 0, 0, 0},
    {1, 0, 1, 0, 1},
    {0, 1, 0, 0, 0},
    {0, 0, 0, 0, 0},  // y = 0
    {1, 0, 0, 0, 1},
    {3, 1, 2, 0, 3},
    {2, 2, 1, 1, 4},
    {0, 1, 0, 0, 0},  // y = 1
    {0, 0, 0, 0, 0},
    {0, 0, 0, 1, 0},
    {1, 0, 0, 0, 1},
    {0, 0, 0, 0, 0},  // y = 2
}};

void write_directional_design(const std::filesystem::path& dir)
{
    static const char* const KINDS[DIRECTIONAL_TILES] = {"empty", "io", "io",    "empty", "io", "logic",
                                                         "logic", "io", "empty", "io",    "io", "empty"};
    std::filesystem::create_directories(dir);
    std::vector<std::string> tiles = {"tiles 4 3 directional", "# x y kind right left up down lab_in"};
    std::vector<std::string> routed = {"routed 4 3 directional", "# x y right left up down lab_in"};
    for (int tile = 0; tile < DIRECTIONAL_TILES; ++tile) {
        const std::string at = std::to_string(tile % DIRECTIONAL_NX) + " " + std::to_string(tile / DIRECTIONAL_NX);
        tiles.push_back(at + " " + KINDS[tile]);
        routed.push_back(at);
        for (int c = 0; c < NUM_DIRECTIONAL_COLUMNS; ++c) {
            tiles.back() += " " + std::to_string(DIRECTIONAL_SUPPLY[tile][c]);
            routed.back() += " " + std::to_string(DIRECTIONAL_USAGE[tile][c]);
        }
    }
    write_lines(dir / "tiles.txt", tiles);
    write_lines(dir / "routed.txt", routed);
    write_lines(dir / "nets.txt", {"nets 4 4 3", "# id npins flags weight xl xr yb yt routed_x routed_y n_wires",
                                   "0 2 0 0 1 2 1 1 1 0 1 1 1 2 1", "1 3 0 0 1 2 0 1 1 1 2 1 0 2 1 2 1",
                                   "2 2 0 0 0 3 1 1 3 0 2 0 1 3 1", "3 2 0 0 1 1 0 2 0 2 1 1 0 1 2"});
}

void write_generic_design(const std::filesystem::path& dir, int slices, int lut, const std::string& tracks, int width)
{
    write_directional_design(dir);
    std::vector<std::string> tiles = read_lines(dir / "tiles.txt");
    const std::string wires = std::to_string(width);
    for (std::string& line : tiles)
        if (line.find(" logic ") != std::string::npos)
            line = line.substr(0, line.find(" logic ") + 7) + wires + " " + wires + " " + wires + " " + wires + " " +
                   std::to_string(slices * lut + 1);
    write_lines(dir / "tiles.txt", tiles);
    write_lines(dir / "meta.txt",
                {"design " + dir.filename().string(), "arch generic", "grid 4 3", "slices " + std::to_string(slices),
                 "lut " + std::to_string(lut), "tracks " + tracks, "tracks_per_direction " + wires});
}

namespace {

// Starts `program` with `args` and the variables of `environment` added to
// this process's, its standard output and error going to the named files.
pid_t spawn(const std::string& program, const std::vector<std::string>& args, const std::string& out,
            const std::string& err, const std::vector<std::string>& environment)
{
    std::vector<std::string> words = {program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const int output = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int error = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (output < 0 || error < 0 || ::dup2(output, STDOUT_FILENO) < 0 || ::dup2(error, STDERR_FILENO) < 0)
            ::_exit(127);
        for (const std::string& variable : environment) {
            const std::size_t equals = variable.find('=');
            ::setenv(variable.substr(0, equals).c_str(), variable.substr(equals + 1).c_str(), 1);
        }
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    return child;
}

}  // namespace

PROGRAM_RESULT run_program(const std::string& program, const std::vector<std::string>& args,
                           const std::filesystem::path& dir, const std::string& stdout_path)
{
    return wait_program(start_program(program, args, dir, {}, stdout_path), dir);
}

PROGRAM_RESULT run_program_on_terminal(const std::string& program, const std::vector<std::string>& args,
                                       const std::filesystem::path& dir)
{
    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0 || ::grantpt(terminal) != 0 || ::unlockpt(terminal) != 0)
        return {};
    // The terminal's other side is opened here, before the child exists, so
    // that reading never finds it closed too early; it passes newlines as
    // they are written.
    const int side = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (side < 0 || ::tcgetattr(side, &settings) != 0)
        return {};
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    ::tcsetattr(side, TCSANOW, &settings);
    const pid_t child = spawn(program, args, (dir / "stdout.txt").string(), ::ptsname(terminal), {});
    ::close(side);
    // Reading ends (EIO) once the child has closed its side.
    std::string shown;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(terminal, buffer, sizeof buffer);
        if (got > 0)
            shown.append(buffer, static_cast<size_t>(got));
        else if (got < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    ::close(terminal);
    PROGRAM_RESULT result = wait_program(child, dir);
    result.err = shown;
    return result;
}

pid_t start_program(const std::string& program, const std::vector<std::string>& args, const std::filesystem::path& dir,
                    const std::vector<std::string>& environment, const std::string& stdout_path)
{
    return spawn(program, args, stdout_path.empty() ? (dir / "stdout.txt").string() : stdout_path,
                 (dir / "stderr.txt").string(), environment);
}

PROGRAM_RESULT wait_program(pid_t child, const std::filesystem::path& dir)
{
    int status = 0;
    ::waitpid(child, &status, 0);
    PROGRAM_RESULT result;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    result.out = read_text(dir / "stdout.txt");
    result.err = read_text(dir / "stderr.txt");
    std::filesystem::remove(dir / "stdout.txt");
    std::filesystem::remove(dir / "stderr.txt");
    return result;
}
