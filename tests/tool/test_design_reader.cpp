// The design reader on the bundled design and on malformed copies of it, and
// the device a generic folder's meta.txt describes.
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "front_end/design_reader.h"
#include "front_end/routability.h"
#include "tool_test_support.h"

namespace {

namespace fs = std::filesystem;

// Figures of the bundled design, from its meta.txt.
constexpr int SAMPLE_SIDE = 34;
constexpr int SAMPLE_NETS = 1942;
constexpr int SAMPLE_PINS = 8160;
constexpr int SAMPLE_ROUTED_X_TOTAL = 7338;
constexpr int SAMPLE_ROUTED_Y_TOTAL = 5493;

TEST(DesignReaderSample, ReadsTheBundledDesignWithItsDocumentedTotals)
{
    const DESIGN design = read_design(SAMPLE_DESIGN);
    EXPECT_EQ(design.name, "picorv32_ex");
    EXPECT_EQ(design.nx, SAMPLE_SIDE);
    EXPECT_EQ(design.ny, SAMPLE_SIDE);
    ASSERT_EQ(design.get_num_nets(), SAMPLE_NETS);
    EXPECT_EQ(design.pin_x.size(), static_cast<size_t>(SAMPLE_PINS));
    EXPECT_EQ(design.net_start.back(), SAMPLE_PINS);
    EXPECT_EQ(std::accumulate(design.routed_x.begin(), design.routed_x.end(), 0), SAMPLE_ROUTED_X_TOTAL);
    EXPECT_EQ(std::accumulate(design.routed_y.begin(), design.routed_y.end(), 0), SAMPLE_ROUTED_Y_TOTAL);
    ASSERT_TRUE(design.has_routed);
    for (const std::vector<int>& column : design.routed)
        EXPECT_EQ(column.size(), design.get_num_tiles());
    // The kinds of four tiles, as tiles.txt names them.
    const std::pair<std::pair<int, int>, std::string> kinds[] = {
        {{0, 0}, "empty"}, {{1, 0}, "io"}, {{8, 1}, "ramb"}, {{5, 5}, "logic"}};
    for (const auto& [at, kind] : kinds)
        EXPECT_EQ(TILE_KIND_NAMES.at(design.tile_kind.at(design.get_tile_index(at.first, at.second))), kind);
}

// One edited line each: file, line number (one past the last appends), the
// line's new text, the sentence that must name the faulty line (when it ends
// in '.', else a phrase of it), and that line when it is not the edited one.
struct LINE_FAULT {
    const char* file;
    int line;
    std::string text;
    std::string phrase;
    int faulty_line = 0;  // the line the error names, when not `line`; NO_LINE for none
};

constexpr int NO_LINE = -1;

// Expects the reader to refuse `folder` with one sentence, "FILE, line N:
// ..." (or "FILE: ..." for line 0), holding the phrase, or that sentence when
// the phrase ends in '.'.
void expect_refused(const fs::path& folder, const fs::path& file, int line, const std::string& phrase)
{
    try {
        read_design(folder.string());
        ADD_FAILURE() << "no error for " << file << ", line " << line << ": " << phrase;
    } catch (const DESIGN_ERROR& error) {
        const std::string message = error.what();
        const std::string where = file.string() + (line > 0 ? ", line " + std::to_string(line) : "") + ": ";
        EXPECT_EQ(error.get_file(), file.string());
        EXPECT_EQ(error.get_line(), line) << message;
        EXPECT_EQ(message.rfind(where, 0), 0u) << message;
        if (phrase.back() == '.')
            EXPECT_EQ(message, where + phrase);
        else
            EXPECT_NE(message.find(phrase), std::string::npos) << message;
        EXPECT_EQ(message.back(), '.') << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
}

// Edits the fault's line of its file in `dir` (the file restored after each),
// and expects the reader to refuse the folder naming the faulty line.
void expect_edits_refused(const fs::path& dir, const std::vector<LINE_FAULT>& faults)
{
    for (const LINE_FAULT& fault : faults) {
        const fs::path path = dir / fault.file;
        const std::vector<std::string> original = read_lines(path);
        std::vector<std::string> lines = original;
        if (static_cast<size_t>(fault.line) > lines.size())
            lines.push_back(fault.text);
        else
            lines.at(fault.line - 1) = fault.text;
        write_lines(path, lines);
        expect_refused(dir, path, fault.faulty_line == 0 ? fault.line : std::max(fault.faulty_line, 0), fault.phrase);
        write_lines(path, original);
    }
}

TEST(DesignReaderFaults, EditedLinesAreRefusedWithTheirFileAndLine)
{
    // tiles.txt line 4 is "1 0 io 4 0 64 24 10"; nets.txt line 5 holds net 2,
    // "2 3 4 0 11 11 25 26 0 0 0 11 25 11 26 11 26"; routed.txt line 517 is
    // tile (4, 15), "4 15 1 1 0 0 1 0 0 1 0 1 0 1 0 0 1".
    const std::string digits(1000, '7');
    const std::vector<LINE_FAULT> faults = {
        {"tiles.txt", 1, "tiles 34", "needs 3 fields but the line has 2"},
        {"tiles.txt", 1, "tile 34 34", "the header must start with 'tiles'"},
        {"tiles.txt", 1, "tiles 0 34", "grid side 0 is not between 1 and 4096"},
        {"tiles.txt", 1, "tiles 34 34 directed", "the header's last word 'directed' is not 'directional'"},
        {"tiles.txt", 2, "x y kind", "must be the column line starting with '#'"},
        {"tiles.txt", 4, "1 0 io 4x 0 64 24 10", "h4 '4x' is not a whole number"},
        {"tiles.txt", 4, "1 0 io\t4 0 64 24 10 7", "needs 8 fields but the line has 9"},
        {"tiles.txt", 4, "2 0 io 4 0 64 24 10", "the tile (2, 0) is out of order, (1, 0) was expected"},
        {"tiles.txt", 4, "1 0 io -4 0 64 24 10", "h4 -4 is below 0"},
        {"tiles.txt", 4, "1 0 lut 4 0 64 24 10", "the tile kind 'lut' is unknown"},
        {"tiles.txt", 4, "1 0 io 4 16777217 64 24 10", "h12 16777217 is above 16777216"},
        // A byte the terminal would act on is written as \xNN, and a long
        // field is cut after 40 characters.
        {"tiles.txt", 4, "1 0 io\x1b[2J 4 0 64 24 10", "the tile kind 'io\\x1b[2J' is unknown"},
        {"tiles.txt", 4, "1 0 io 4 0 64 24 " + digits, "lab_in '" + digits.substr(0, 40) + "...' is out of range."},
        {"nets.txt", 1, "nets 1942 34 33", "the header's grid 34 x 33 differs from the 34 x 34 grid"},
        {"nets.txt", 1, "nets 1e3 34 34", "the header's N '1e3' is not a whole number"},
        {"nets.txt", 5, "2 3 4 0 11 11 25 26 0 0 0 11 25 11 26 11 2b", "the y of pin 2 '2b' is not"},
        {"nets.txt", 5, "2 3 4 0 11 11 25 26 0 0 0 11 25 11 26 11",
         "a net of 3 pins needs 17 fields but the line has 16"},
        {"nets.txt", 5, "2 3 4 0 11 11", "a net needs at least 11 fields but the line has 6"},
        {"nets.txt", 5, "7 3 4 0 11 11 25 26 0 0 0 11 25 11 26 11 26", "the net id 7 is out of order, 2 was expected"},
        {"nets.txt", 5, "2 0 4 0 11 11 25 26 0 0 0", "the pin count 0 is below 1"},
        {"nets.txt", 5, "2 3 9 0 11 11 25 26 0 0 0 11 25 11 26 11 26", "hold bits other than 1, 2 and 4"},
        {"nets.txt", 5, "2 2000000000 4 0 11 11 25 26 0 0 0 11 25 11 26 11 26",
         "a net of 2000000000 pins needs 4000000011 fields but the line has 17"},
        {"nets.txt", 5, "2 3 4 0 -1 11 25 26 0 0 0 11 25 11 26 11 26", "the box x -1..11, y 25..26 is empty or leaves"},
        {"nets.txt", 5, "2 3 4 0 11 34 25 26 0 0 0 11 25 11 26 11 26", "the box x 11..34, y 25..26 is empty or leaves"},
        {"nets.txt", 5, "2 3 4 0 11 11 -1 26 0 0 0 11 25 11 26 11 26", "the box x 11..11, y -1..26 is empty or leaves"},
        {"nets.txt", 5, "2 3 4 0 11 11 25 34 0 0 0 11 25 11 26 11 26", "the box x 11..11, y 25..34 is empty or leaves"},
        {"nets.txt", 5, "2 3 4 0 12 11 25 26 0 0 0 11 25 11 26 11 26", "the box x 12..11, y 25..26 is empty or leaves"},
        {"nets.txt", 5, "2 3 4 0 11 11 26 25 0 0 0 11 25 11 26 11 26", "the box x 11..11, y 26..25 is empty or leaves"},
        {"nets.txt", 5, "2 3 4 0 11 11 25 26 0 0 0 11 25 11 26 11 40",
         "pin 2 at (11, 40) lies outside the 34 x 34 grid"},
        {"nets.txt", 5, "2 3 4 0 11 11 25 26 0 0 0 11 25 11 -1 11 26",
         "pin 1 at (11, -1) lies outside the 34 x 34 grid"},
        {"nets.txt", 5, "2 3 4 0 11 11 24 26 0 0 0 11 25 11 26 11 26",
         "is not the box of the pins, x 11..11, y 25..26"},
        {"nets.txt", 5, "2 3 4 0 11 11 25 26 -2 0 0 11 25 11 26 11 26", "routed_x -2 is below -1"},
        {"nets.txt", 5, "2 3 0 0 11 11 25 26 -1 -1 0 11 25 11 26 11 26",
         "routed_x, routed_y and n_wires must be all known or all -1 (unknown)"},
        {"nets.txt", 5, "2 3 0 0 11 11 25 26 -1 -1 -1 11 25 11 26 11 26",
         "the routed lengths are unknown (-1) while those of the nets before are known"},
        {"nets.txt", 3, "0 3 6 0 16 17 32 32 -1 -1 -1 16 32 16 32 17 32",
         "flag 4 (no span wire used) is set on a net that was not routed"},
        {"routed.txt", 1, "routed 33 34", "the header's grid 33 x 34 differs"},
        {"routed.txt", 1, "routed 34 34 directional",
         "the header marks the directional form but tiles.txt has the undirected one, and a design folder holds one "
         "form."},
        {"routed.txt", 517, "4 15 2 1 0 0 1 0 0 1 0 1 0 1 0 0 1", "h_all 2 differs from h_left + h_right + h_drv = 1"},
        {"routed.txt", 517, "4 15 1 1 0 0 1 0 0 1 0 0 0 1 0 0 1", "h_all 1 differs from h4 + h12 = 0"},
        {"routed.txt", 517, "4 15 1 1 0 0 1 0 0 1 0 1 0 1 0 99 1",
         "the routed lab_in 99 exceeds the tile's supply of 35"},
        {"routed.txt", 517, "5 15 1 1 0 0 1 0 0 1 0 1 0 1 0 0 1", "out of order, (4, 15) was expected"},
        // Counts whose sum would not fit in an int are refused before any sum.
        {"routed.txt", 517, "4 15 1 2000000000 2000000000 2000000000 1 0 0 1 0 1 0 1 0 0 1",
         "h_left 2000000000 is above 16777216"},
        // Counts that disagree with the header: tiles.txt holds 34 * 34 + 2
        // lines, nets.txt 1942 + 2.
        {"tiles.txt", 1, "tiles 34 35", "the file ends where the tile (0, 34) was expected", 1159},
        {"tiles.txt", 1159, "0 34 io 1 1 1 1 1", "a line follows the last tile"},
        {"tiles.txt", 1, "tiles 4096 4096", "the tile (0, 1) is out of order, (34, 0) was expected", 37},
        {"nets.txt", 1, "nets 1943 34 34", "the file ends where net 1942 of the 1943", 1945},
        {"nets.txt", 1, "nets 1941 34 34", "a line follows the last net", 1944},
    };
    SCRATCH_DIR dir;
    copy_sample_design(dir.get_path());
    expect_edits_refused(dir.get_path(), faults);
}

TEST(DesignReaderFaults, MissingFilesAndFolders)
{
    SCRATCH_DIR dir;
    copy_sample_design(dir.get_path());
    fs::remove(dir.get_path() / "nets.txt");
    expect_refused(dir.get_path(), dir.get_path() / "nets.txt", 0, "cannot be opened for reading.");
    EXPECT_THROW(read_design((dir.get_path() / "absent").string()), DESIGN_ERROR);

    // A file that opens but cannot be read says so: /proc/self/mem fails a
    // read from its start.
    fs::remove(dir.get_path() / "tiles.txt");
    fs::create_symlink("/proc/self/mem", dir.get_path() / "tiles.txt");
    expect_refused(dir.get_path(), dir.get_path() / "tiles.txt", 0, "cannot be read: Input/output error.");
}

// A design without routed.txt, a tiles.txt of CR LF line ends with a blank
// last line, and a net with every flag at once (global, constant, no span
// wire used) are read.
TEST(DesignReaderFaults, RoutedTruthIsOptionalAndBlankTrailingLinesAndCrLfAreAccepted)
{
    SCRATCH_DIR dir;
    copy_sample_design(dir.get_path());
    fs::remove(dir.get_path() / "routed.txt");
    std::vector<std::string> nets = read_lines(dir.get_path() / "nets.txt");
    nets.at(4) = "2 3 7 0 11 11 25 26 0 0 0 11 25 11 26 11 26";
    write_lines(dir.get_path() / "nets.txt", nets);
    std::vector<std::string> lines = read_lines(dir.get_path() / "tiles.txt");
    for (std::string& line : lines)
        line += '\r';
    lines.push_back("");
    write_lines(dir.get_path() / "tiles.txt", lines);
    const DESIGN design = read_design(dir.get_path().string());
    EXPECT_FALSE(design.has_routed);
    EXPECT_EQ(design.lab_in[design.get_tile_index(1, 0)], 10);
    EXPECT_EQ(design.flags.at(2), 7);
}

// The reader takes files in blocks of 1 MiB: a nets.txt of about 2.5 MB whose
// lines cross block boundaries, one net longer than a block, and a last line
// without '\n' reads as written, and a fault on the last line names it.
// Net n has its pins in tile (n % 34, n / 34 % 34).
TEST(DesignReaderBlocks, LinesAcrossBlocksAndLongerThanABlockReadAsWritten)
{
    constexpr int NETS = 40000;
    constexpr int LONG_NET = NETS / 2;
    constexpr int LONG_NET_PINS = 250000;  // " 8 10" each: 1.25 MB
    SCRATCH_DIR dir;
    copy_sample_design(dir.get_path());
    std::vector<std::string> lines = {"nets " + std::to_string(NETS) + " 34 34", "# id npins ..."};
    long long sum_x = 0;
    for (int net = 0; net < NETS; ++net) {
        const int npins = net == LONG_NET ? LONG_NET_PINS : 2 + net % 3;
        const std::string x = std::to_string(net % SAMPLE_SIDE), y = std::to_string(net / SAMPLE_SIDE % SAMPLE_SIDE);
        lines.push_back(std::to_string(net) + " " + std::to_string(npins) + " 0 0 " + x + " " + x + " " + y + " " + y +
                        " 1 1 1");
        for (int p = 0; p < npins; ++p)
            lines.back() += " " + x + " " + y;
        sum_x += static_cast<long long>(npins) * (net % SAMPLE_SIDE);
    }
    const fs::path path = dir.get_path() / "nets.txt";
    const auto write_without_last_newline = [&] {
        write_lines(path, lines);
        fs::resize_file(path, fs::file_size(path) - 1);
    };
    write_without_last_newline();
    ASSERT_GT(fs::file_size(path), std::uintmax_t{2} << 20);
    const DESIGN design = read_design(dir.get_path().string());
    ASSERT_EQ(design.get_num_nets(), NETS);
    EXPECT_EQ(design.get_num_pins(LONG_NET), LONG_NET_PINS);
    EXPECT_EQ(std::accumulate(design.pin_x.begin(), design.pin_x.end(), 0LL), sum_x);
    EXPECT_EQ(design.pin_y.back(), (NETS - 1) / SAMPLE_SIDE % SAMPLE_SIDE);

    lines.back().replace(0, lines.back().find(' '), "7");
    write_without_last_newline();
    expect_refused(dir.get_path(), path, NETS + 2,
                   "the net id 7 is out of order, " + std::to_string(NETS - 1) + " was expected.");
}

// routed.txt line 8 is tile (1, 1), supply right 6, left 5, up 4, down 3,
// lab_in 8.
TEST(DesignReaderDirectional, ReadsEachDirectionIntoItsOwnColumnAndHoldsUsageToTheSupplyOfTheSameName)
{
    SCRATCH_DIR dir;
    write_directional_design(dir.get_path());
    const DESIGN design = read_design(dir.get_path().string());
    EXPECT_EQ(design.form, DESIGN_FORM::DIRECTIONAL);
    ASSERT_EQ(design.get_num_tiles(), static_cast<size_t>(DIRECTIONAL_TILES));
    EXPECT_TRUE(design.h4.empty() && design.h12.empty() && design.v4.empty() && design.v12.empty());
    ASSERT_EQ(design.routed.size(), static_cast<size_t>(NUM_DIRECTIONAL_COLUMNS));
    for (int tile = 0; tile < DIRECTIONAL_TILES; ++tile)
        for (int c = 0; c < NUM_DIRECTIONAL_COLUMNS; ++c) {
            const int supply = c == DIRECTIONAL_LAB_IN ? design.lab_in.at(tile) : design.direction_supply[c].at(tile);
            EXPECT_EQ(supply, DIRECTIONAL_SUPPLY[tile][c]) << tile << " " << c;
            EXPECT_EQ(design.routed[c].at(tile), DIRECTIONAL_USAGE[tile][c]) << tile << " " << c;
        }

    expect_edits_refused(
        dir.get_path(),
        {
            {"routed.txt", 8, "1 1 3 6 2 0 3", "the routed left 6 exceeds the tile's supply of 5."},
            {"routed.txt", 8, "1 1 3 1 2 4 3", "the routed down 4 exceeds the tile's supply of 3."},
            {"routed.txt", 1, "routed 4 3",
             "the header marks the undirected form but tiles.txt has the directional one, and a design folder holds "
             "one form."},
        });
}

// The device of a generic folder for each architecture the importer builds,
// computed here from its options: s, the share of a direction's tracks that
// start a wire in a tile (track t of a class of length L starts one in every
// L-th tile, so a class of C tracks starts C / L a tile), and p, a logic
// tile's input pins (a LUT's inputs per slice and the clock); the threshold
// 1.692 (s / p)^(1/4). A folder that does not describe its device gets the
// default device's figures, marked assumed.
TEST(DesignReaderDevice, TheThresholdFollowsTheArchitectureThatMetaTxtDescribes)
{
    struct ARCHITECTURE {
        const char* options;
        int slices, lut;
        const char* tracks;
        double starting_share;
        int tile_inputs;
    };
    const ARCHITECTURE architectures[] = {
        {"defaults", 4, 4, "1:12,4:8", (12 + 8 / 4.0) / 20, 4 * 4 + 1},
        {"--slices 8", 8, 4, "1:12,4:8", (12 + 8 / 4.0) / 20, 8 * 4 + 1},
        {"--lut 6", 4, 6, "1:12,4:8", (12 + 8 / 4.0) / 20, 4 * 6 + 1},
        {"--tracks 1:4,2:8,6:8", 4, 4, "1:4,2:8,6:8", (4 + 8 / 2.0 + 8 / 6.0) / 20, 4 * 4 + 1},
        // the classes in any order
        {"--slices 8 --tracks 6:8,1:6,2:6", 8, 4, "6:8,1:6,2:6", (6 + 6 / 2.0 + 8 / 6.0) / 20, 8 * 4 + 1},
    };
    SCRATCH_DIR dir;
    for (const ARCHITECTURE& a : architectures) {
        const fs::path folder = dir.get_path() / std::to_string(&a - architectures);
        write_generic_design(folder, a.slices, a.lut, a.tracks, 20);
        const ROUTING_DEVICE device = get_design_device(read_design(folder.string()));
        EXPECT_NEAR(device.starting_share, a.starting_share, 1e-15) << a.options;
        EXPECT_EQ(device.tile_inputs, a.tile_inputs) << a.options;
        EXPECT_FALSE(device.assumed) << a.options;
        EXPECT_NEAR(get_routability_threshold(ROUTABILITY_RULE_CALIBRATED, device),
                    1.692 * std::pow(a.starting_share / a.tile_inputs, 0.25), 1e-12)
            << a.options;
    }
    // The default device's threshold, 0.762; the same figures stand in for
    // a folder without meta.txt and for the bundled iCE40 design's, which
    // describes no generic device.
    const fs::path bare = dir.get_path() / "bare";
    write_directional_design(bare);
    for (const std::string& folder : {bare.string(), std::string(SAMPLE_DESIGN)}) {
        const ROUTING_DEVICE device = get_design_device(read_design(folder));
        EXPECT_TRUE(device.assumed) << folder;
        EXPECT_NEAR(device.starting_share, 0.7, 1e-15) << folder;
        EXPECT_EQ(device.tile_inputs, 17) << folder;
        EXPECT_NEAR(get_routability_threshold(ROUTABILITY_RULE_CALIBRATED, device), 0.7622, 5e-5) << folder;
    }
}

// meta.txt of the generic 4 x 3 design of the test support: line 2 "arch
// generic", 4 "slices 4", 5 "lut 4", 6 "tracks 1:12,4:8"; every logic tile
// has 20 wires a direction and 17 lab_in. Each edit is refused with the line
// (0 for a missing key).
TEST(DesignReaderDevice, AMetaTxtThatDoesNotDescribeTheDeviceOfTilesTxtIsRefused)
{
    SCRATCH_DIR dir;
    write_generic_design(dir.get_path(), 4, 4, "1:12,4:8", 20);
    const fs::path path = dir.get_path() / "meta.txt";
    const std::vector<std::string> original = read_lines(path);
    const std::string tracks =
        "the key tracks is missing or not a list LEN:COUNT,... of wire classes, each length "
        "and count a positive whole number and no length twice.";
    expect_edits_refused(
        dir.get_path(),
        {
            {"meta.txt", 4, "slices 0", "the key slices is missing or not a positive whole number."},
            {"meta.txt", 5, "lut", "the key lut is missing or not a positive whole number."},
            {"meta.txt", 5, "lut_inputs 4", "the key lut is missing or not a positive whole number.", NO_LINE},
            {"meta.txt", 6, "tracks 1:12,4:x", tracks},
            {"meta.txt", 6, "tracks 1:12,1:8", tracks},
            {"meta.txt", 6, "tracks 0:12,4:8", tracks},
            {"meta.txt", 6, "tracks 1:12;4:8", tracks},
            {"meta.txt", 6, "tracks 1:12,", tracks},
            {"meta.txt", 6, "wires 1:12,4:8", tracks, NO_LINE},
            {"meta.txt", 6, "tracks 1:12,4:6",
             "the tracks give 18 wires per direction, but the logic tile (1, 1) of tiles.txt has 20 right."},
            {"meta.txt", 5, "lut 6",
             "4 slices of 6-input LUTs give a logic tile 25 input pins with the clock, but the logic tile (1, 1) of "
             "tiles.txt has 17 lab_in."},
        });
    // Another device's meta.txt is no generic device's: read, and assumed.
    std::vector<std::string> lines = original;
    lines.at(1) = "arch ice40";
    write_lines(path, lines);
    EXPECT_TRUE(get_design_device(read_design(dir.get_path().string())).assumed);

    // An undirected folder that says it is of the generic device.
    copy_sample_design(dir.get_path() / "undirected");
    write_lines(dir.get_path() / "undirected" / "meta.txt", original);
    expect_refused(dir.get_path() / "undirected", dir.get_path() / "undirected" / "meta.txt", 2,
                   "the folder is of the generic device, whose tiles.txt has the directional form, but tiles.txt "
                   "has the undirected one.");
}

}  // namespace
