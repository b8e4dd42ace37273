// congestion-place end to end on copies of the bundled generic design: the
// folder it writes (legal, complete, read back as the input was), the same
// folder whatever the thread count, one refusal per kind of fault, and what
// an interrupted run leaves.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "placer/placed_design.h"
#include "tests/tool/tool_test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr int EXIT_OUTPUT_FAILED = 1;
constexpr int EXIT_BAD_INPUT = 2;
// Files of the bundled folder that the refined folder holds unchanged.
const std::vector<std::string> COPIED = {"tiles.txt", "netnames.txt", "pins.txt", "synth.json"};
// A short pass, so that the tests take little time.
const std::vector<std::string> SHORT = {"--effort", "0.2"};

PROGRAM_RESULT run_place(std::vector<std::string> args, const fs::path& dir)
{
    return run_program(PLACE_TOOL, args, dir);
}

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more)
{
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// Every file of a folder, by name.
std::map<std::string, std::string> read_folder(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder))
        files[entry.path().filename().string()] = read_text(entry.path());
    return files;
}

void expect_refused(const std::vector<std::string>& args, const fs::path& dir, int status, const std::string& sentence)
{
    const PROGRAM_RESULT result = run_place(args, dir);
    EXPECT_EQ(result.exit_code, status) << result.err;
    EXPECT_EQ(result.err, "congestion-place: " + sentence + "\n");
    EXPECT_EQ(result.out, "");
}

// The written folder is a placed design of the same netlist and device:
// FOLDER's files that describe them unchanged, every slice on a slice bel of
// a logic tile and every I/O cell where it was, no bel twice, one clock per
// tile, every pin on its cell's tile (read_placed_design checks the last
// three again, as the pass's input), the routed columns unknown, and
// meta.txt saying what it was refined from, with what.
TEST(PlaceTool, WritesALegalPlacedFolderOfTheSameNetlist)
{
    const SCRATCH_DIR dir;
    const fs::path out = dir.get_path() / "refined";
    // Files of an earlier routing in NEW go; a file of the user's stays.
    fs::create_directories(out);
    write_lines(out / "routed.txt", {"stale"});
    write_lines(out / "notes.txt", {"mine"});
    // A path ending in a separator names the same folder (meta.txt's design).
    const PROGRAM_RESULT result = run_place(with({BUNDLED_DESIGN, "--out", out.string() + "/"}, SHORT), dir.get_path());
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.rfind("congestion-place: wrote " + out.string() + "/ (", 0), 0u) << result.out;
    const std::map<std::string, std::string> files = read_folder(out);
    std::set<std::string> names;
    for (const auto& [name, text] : files)
        names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"meta.txt", "netnames.txt", "nets.txt", "notes.txt", "pins.txt",
                                            "placement.txt", "synth.json", "tiles.txt"}));
    for (const std::string& name : COPIED)
        EXPECT_EQ(files.at(name), read_text(fs::path(BUNDLED_DESIGN) / name)) << name;

    const PLACED_DESIGN before = read_placed_design(BUNDLED_DESIGN);
    const PLACED_DESIGN after = read_placed_design(out.string());
    ASSERT_EQ(after.placement.cell_names, before.placement.cell_names);
    int moved = 0;
    for (int cell = 0; cell < after.get_num_cells(); ++cell) {
        const BEL& from = before.cell_bels[static_cast<std::size_t>(cell)];
        const BEL& to = after.cell_bels[static_cast<std::size_t>(cell)];
        EXPECT_EQ(to.kind, from.kind);
        if (from.kind == BEL_KIND::IO) {
            EXPECT_EQ(to, from) << before.placement.cell_names[static_cast<std::size_t>(cell)];
        }
        moved += !(to == from);
    }
    EXPECT_GT(moved, 0);
    // The last line counts the slices that moved.
    const std::string count = std::to_string(moved) + " of ";
    EXPECT_NE(result.out.find("/ (" + count), std::string::npos) << result.out;
    const DESIGN& design = after.design;
    EXPECT_FALSE(design.has_routed_lengths);
    EXPECT_FALSE(design.has_routed);
    ASSERT_EQ(design.net_start, before.design.net_start);
    for (int net = 0; net < design.get_num_nets(); ++net)
        EXPECT_EQ(design.flags[net], before.design.flags[net] & (NET_FLAG_GLOBAL | NET_FLAG_CONSTANT));

    const std::vector<std::string> meta = read_lines(out / "meta.txt");
    for (const char* line :
         {"design refined", "arch generic", "grid 20 20", "stage placed", "routed no", "route_result not-attempted",
          "refined_from fir_mac_g20", "place_map estimate", "place_effort 0.2", "place_seed 1"})
        EXPECT_NE(std::find(meta.begin(), meta.end(), line), meta.end()) << line;
    // The routed figures and the import's timings are not carried over.
    for (const std::string key : {"routed_x_total ", "time_place_s "})
        EXPECT_TRUE(std::none_of(meta.begin(), meta.end(), [&](const std::string& line) {
            return line.rfind(key, 0) == 0;
        })) << key;
}

// The same options give the same folder byte for byte under one thread and
// under two; another seed or the other map another placement.
TEST(PlaceTool, TheSameSeedGivesTheSameFolderWhateverTheThreads)
{
    const SCRATCH_DIR dir;
    const fs::path out = dir.get_path() / "refined";
    const auto run = [&](const std::vector<std::string>& more) {
        const PROGRAM_RESULT result =
            run_place(with(with({BUNDLED_DESIGN, "--out", out.string()}, SHORT), more), dir.get_path());
        EXPECT_EQ(result.exit_code, 0) << result.err;
        return read_folder(out);
    };
    const std::map<std::string, std::string> one = run({"--threads", "1"});
    EXPECT_EQ(run({"--threads", "2"}), one);
    EXPECT_NE(run({"--threads", "2", "--seed", "2"}).at("placement.txt"), one.at("placement.txt"));
    EXPECT_NE(run({"--map", "boxes"}).at("placement.txt"), one.at("placement.txt"));
}

TEST(PlaceTool, RefusesBadInputWithOneSentence)
{
    const SCRATCH_DIR dir;
    const fs::path out = dir.get_path() / "out";
    const std::string design = BUNDLED_DESIGN;
    // Folders that are no placed generic design, or whose files disagree,
    // refused as bad command lines are.
    const auto edited = [&](const std::string& name, const std::string& file, int line, const std::string& text) {
        const fs::path folder = dir.get_path() / name;
        fs::copy(BUNDLED_DESIGN, folder);
        std::vector<std::string> lines = read_lines(folder / file);
        lines.at(static_cast<std::size_t>(line - 1)) = text;
        write_lines(folder / file, lines);
        return folder.string();
    };
    const std::string ice40 = edited("ice40", "meta.txt", 2, "arch ice40");
    const fs::path old_import = dir.get_path() / "old";
    fs::copy(BUNDLED_DESIGN, old_import);
    fs::remove(old_import / "pins.txt");
    // Net 1's driver is the cell of placement.txt line 28 (pins.txt line 4),
    // at (4, 4): its pin is moved to another tile in nets.txt, and the cell
    // onto the bel of line 29 in placement.txt.
    const std::vector<std::string> placement = read_lines(fs::path(BUNDLED_DESIGN) / "placement.txt");
    const std::string misplaced = edited("misplaced", "nets.txt", 4, "1 3 0 0 4 8 3 4 4 0 2 4 3 8 4 8 4");
    const auto cell_of = [&](int line) { return placement.at(line - 1).substr(0, placement.at(line - 1).rfind(' ')); };
    const auto bel_of = [&](int line) { return placement.at(line - 1).substr(placement.at(line - 1).rfind(' ') + 1); };
    const std::string twice = edited("twice", "placement.txt", 28, cell_of(28) + " " + bel_of(29));
    // Command lines, then folders.
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "no design folder given (see --help)."},
        {{design}, "--out NEW is missing: the folder to write the refined design into (see --help)."},
        {{design, "--out", design},
         "--out " + design + " is the design folder itself: give another folder (see --help)."},
        {{design, "--out", out.string(), "--map", "maze"},
         "the value 'maze' of --map is not estimate or boxes (see --help)."},
        {{design, "--out", out.string(), "--effort", "0"},
         "the value 0 of --effort is not above 0 and at most 1000 (see --help)."},
        {{design, "--out", out.string(), "--refresh", "often"},
         "the value 'often' of --refresh is not temperature or a number of moves (see --help)."},
        {{design, "--out", out.string(), "--threads", "-1"},
         "the value -1 of --threads is not between 0 and 4096 (see --help)."},
        {{ice40, "--out", out.string()},
         ice40 + "/meta.txt: the folder is no import of --arch generic (meta.txt has no 'arch generic')."},
        {{old_import.string(), "--out", out.string()},
         old_import.string() + "/pins.txt: is missing: the folder comes from a congestion-import that did not write it "
                               "(a --reroute of the folder on its own channel writes a folder with it)."},
        {{twice, "--out", out.string()},
         twice + "/placement.txt, line 29: the bel '" + bel_of(29) + "' already holds the cell '" +
             cell_of(28).substr(0, 40) + "...'."},  // a long name quoted cut short
        {{misplaced, "--out", out.string()},
         misplaced +
             "/pins.txt, line 4: pin 0 of net 1 lies at (4, 3) in nets.txt, "
             "but its cell " +
             cell_of(28) + " is on " + bel_of(28) + "."},
    };
    for (const auto& [args, sentence] : cases)
        expect_refused(args, dir.get_path(), EXIT_BAD_INPUT, sentence);
    EXPECT_FALSE(fs::exists(out));

    // An output that cannot be written is refused before any work.
    const fs::path file = dir.get_path() / "file";
    write_lines(file, {"x"});
    expect_refused({design, "--out", (file / "new").string()}, dir.get_path(), EXIT_OUTPUT_FAILED,
                   "cannot write the refined design into " + (file / "new").string() + ": " + file.string() +
                       " is not a directory.");
}

// On a terminal the pass names its phases; --quiet shows nothing. --version
// names the library's version.
TEST(PlaceTool, ProgressOnATerminalAndTheVersion)
{
    const SCRATCH_DIR dir;
    const std::vector<std::string> args = with({BUNDLED_DESIGN, "--out", (dir.get_path() / "out").string()}, SHORT);
    const PROGRAM_RESULT shown = run_program_on_terminal(PLACE_TOOL, args, dir.get_path());
    ASSERT_EQ(shown.exit_code, 0);
    for (const char* phase : {"read design", "refine", "write folder"})
        EXPECT_NE(shown.err.find(std::string("congestion-place: ") + phase), std::string::npos) << shown.err;
    const PROGRAM_RESULT quiet = run_program_on_terminal(PLACE_TOOL, with(args, {"--quiet"}), dir.get_path());
    EXPECT_EQ(quiet.exit_code, 0);
    EXPECT_EQ(quiet.err, "");
    EXPECT_EQ(run_place({"--version"}, dir.get_path()).out,
              "congestion-place (congestion library " CONGESTION_VERSION ")\n");
}

// Ctrl-C or SIGTERM while the pass runs ends it with the shell's status and
// one sentence, and leaves no folder behind.
TEST(PlaceTool, AnInterruptedRunLeavesNothing)
{
    const SCRATCH_DIR dir;
    const fs::path out = dir.get_path() / "out";
    for (const auto& [signal, name] : {std::pair{SIGINT, "SIGINT"}, std::pair{SIGTERM, "SIGTERM"}}) {
        const pid_t pass =
            start_program(PLACE_TOOL, {BUNDLED_DESIGN, "--out", out.string(), "--effort", "1000"}, dir.get_path());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::kill(pass, signal);
        const PROGRAM_RESULT result = wait_program(pass, dir.get_path());
        EXPECT_EQ(result.exit_code, 128 + signal);
        EXPECT_EQ(result.err, std::string("congestion-place: interrupted by ") + name + "; no output was written.\n");
        EXPECT_FALSE(fs::exists(out));
    }
}

}  // namespace
