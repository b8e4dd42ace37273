// Scratch folders and file editing for the tool's tests.
#ifndef TOOL_TEST_SUPPORT_H
#define TOOL_TEST_SUPPORT_H

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/types.h>

#include "front_end/design_reader.h"

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

// A directional design of 4 x 3 tiles, its tables indexed y * 4 + x:
//   y=2:  empty  io     io     empty
//   y=1:  io     logic  logic  io
//   y=0:  empty  io     io     empty
// Each direction has a supply of its own (right 6, left 5, up 4, down 3 in a
// logic tile), so that supply read from a wrong column or shared out as an
// undirected design's shows. Four nets: two in row 1, one from (1, 0) to
// (2, 1), one up column 1.
constexpr int DIRECTIONAL_NX = 4;
constexpr int DIRECTIONAL_NY = 3;
constexpr int DIRECTIONAL_TILES = DIRECTIONAL_NX * DIRECTIONAL_NY;
// right, left, up, down and lab_in of each tile.
using DIRECTIONAL_TABLE = std::array<std::array<int, NUM_DIRECTIONAL_COLUMNS>, DIRECTIONAL_TILES>;
extern const DIRECTIONAL_TABLE DIRECTIONAL_SUPPLY;
extern const DIRECTIONAL_TABLE DIRECTIONAL_USAGE;

// Writes the design's tiles.txt, nets.txt and routed.txt into `dir`, made
// when missing.
void write_directional_design(const std::filesystem::path& dir);

// The directional design's layout and nets as a folder of the generic
// device that `slices`, `lut` and `tracks` (LEN:COUNT,... of `width` tracks
// per direction) describe: its logic tiles with `width` wires in every
// direction and slices x lut + 1 Lab Input pins, and a meta.txt saying so.
void write_generic_design(const std::filesystem::path& dir, int slices, int lut, const std::string& tracks, int width);

// How a program run ended and what it printed.
struct PROGRAM_RESULT {
    int exit_code = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Starts `program` with `args` and the environment variables `environment`
// ("NAME=VALUE") added to this process's, its standard output and error
// going to files of `dir`; wait_program waits for it and reads them, and
// removes them. With `stdout_path` the standard output goes there instead
// and `out` stays empty. A program that a signal ended has the exit code
// 128 + the signal's number, as a shell says.
pid_t start_program(const std::string& program, const std::vector<std::string>& args, const std::filesystem::path& dir,
                    const std::vector<std::string>& environment = {}, const std::string& stdout_path = "");
PROGRAM_RESULT wait_program(pid_t child, const std::filesystem::path& dir);

// Starts `program` and waits for it.
PROGRAM_RESULT run_program(const std::string& program, const std::vector<std::string>& args,
                           const std::filesystem::path& dir, const std::string& stdout_path = "");

// Runs `program` as run_program does, but with its standard error on a new
// terminal; `err` holds what the terminal received, `out` the standard
// output.
PROGRAM_RESULT run_program_on_terminal(const std::string& program, const std::vector<std::string>& args,
                                       const std::filesystem::path& dir);

#endif
