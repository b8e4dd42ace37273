// The design reader on the bundled design and on malformed copies of it.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tool_test_support.h"
#include "tools/design_reader.h"

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
    int routed_x = 0;
    int routed_y = 0;
    for (int net = 0; net < design.get_num_nets(); ++net) {
        routed_x += design.routed_x[net];
        routed_y += design.routed_y[net];
    }
    EXPECT_EQ(routed_x, SAMPLE_ROUTED_X_TOTAL);
    EXPECT_EQ(routed_y, SAMPLE_ROUTED_Y_TOTAL);
    ASSERT_TRUE(design.has_routed);
    for (const std::vector<int>& column : design.routed)
        EXPECT_EQ(column.size(), design.get_num_tiles());
}

TEST(DesignReaderSample, KeepsFieldsOfKnownLines)
{
    const DESIGN design = read_design(SAMPLE_DESIGN);
    // nets.txt: "0 3 6 0 16 17 32 32 0 0 0 16 32 16 32 17 32"
    ASSERT_EQ(design.get_num_pins(0), 3);
    EXPECT_EQ(design.flags[0], 6);
    EXPECT_EQ(design.xl[0], 16);
    EXPECT_EQ(design.xr[0], 17);
    EXPECT_EQ(design.yb[0], 32);
    EXPECT_EQ(design.yt[0], 32);
    EXPECT_EQ(design.pin_x[design.net_start[0] + 2], 17);
    EXPECT_FALSE(design.is_routed_net(0));  // constant net
    // tiles.txt: "1 0 io 4 0 64 24 10" is tile (1, 0).
    const size_t tile = design.get_tile_index(1, 0);
    EXPECT_EQ(design.tile_kind[tile], "io");
    EXPECT_EQ(design.h4[tile], 4);
    EXPECT_EQ(design.v4[tile], 64);
    EXPECT_EQ(design.v12[tile], 24);
    EXPECT_EQ(design.lab_in[tile], 10);
    EXPECT_FALSE(design.has_wire_supply(design.get_tile_index(0, 0)));  // empty corner
    // routed.txt line 517: "4 15 1 1 0 0 1 0 0 1 0 1 0 1 0 0 1"
    const size_t used = design.get_tile_index(4, 15);
    EXPECT_EQ(design.routed[ROUTED_H_ALL][used], 1);
    EXPECT_EQ(design.routed[ROUTED_H_LEFT][used], 1);
    EXPECT_EQ(design.routed[ROUTED_V_DRV][used], 1);
    EXPECT_EQ(design.routed[ROUTED_SW][used], 1);
}

// Each test edits one file of a fresh copy of the bundled design.
class DesignReaderFaults : public ::testing::Test {
 protected:
    void SetUp() override { copy_sample_design(m_dir.get_path()); }

    // Applies `edit` to the lines of `file`, expects the reader to fail on
    // `line` of that file with a message holding `phrase`, then restores it.
    void expect_fault(const std::string& file, const std::function<void(std::vector<std::string>&)>& edit,
                      int line, const std::string& phrase)
    {
        const fs::path path = m_dir.get_path() / file;
        const std::vector<std::string> original = read_lines(path);
        std::vector<std::string> lines = original;
        edit(lines);
        write_lines(path, lines);
        try {
            read_design(m_dir.get_path().string());
            ADD_FAILURE() << "no error for the edited " << file;
        } catch (const DESIGN_ERROR& error) {
            const std::string message = error.what();
            EXPECT_EQ(error.get_file(), path.string());
            EXPECT_EQ(error.get_line(), line) << message;
            const std::string where = path.string() + ", line " + std::to_string(line) + ": ";
            EXPECT_EQ(message.rfind(where, 0), 0u) << message;
            EXPECT_NE(message.find(phrase), std::string::npos) << message;
            EXPECT_EQ(message.back(), '.') << message;
            EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        }
        write_lines(path, original);
    }

    // Replaces file line `line` (1-based) by `text`.
    void expect_line_fault(const std::string& file, int line, const std::string& text, const std::string& phrase)
    {
        expect_fault(file, [&](std::vector<std::string>& lines) { lines.at(line - 1) = text; }, line, phrase);
    }

    SCRATCH_DIR m_dir;
};

TEST_F(DesignReaderFaults, TileLines)
{
    expect_line_fault("tiles.txt", 4, "1 0 io 4x 0 64 24 10", "h4 '4x' is not a whole number");
    expect_line_fault("tiles.txt", 4, "1 0 io 4 0 64 24", "needs 8 fields but the line has 7");
    expect_line_fault("tiles.txt", 4, "1 0 io 4 0 64 24 10 7", "needs 8 fields but the line has 9");
    expect_line_fault("tiles.txt", 4, "2 0 io 4 0 64 24 10", "the tile (2, 0) is out of order, (1, 0) was expected");
    expect_line_fault("tiles.txt", 4, "1 0 io -4 0 64 24 10", "h4 -4 is below 0");
    expect_line_fault("tiles.txt", 4, "1 0 lut 4 0 64 24 10", "the tile kind 'lut' is unknown");
    expect_line_fault("tiles.txt", 4, "1 0 io 4 0 64 24 99999999999", "lab_in '99999999999' is out of range");
    expect_line_fault("tiles.txt", 4, "1 0 io 4 16777217 64 24 10", "h12 16777217 is above 16777216");
}

TEST_F(DesignReaderFaults, QuotedFieldsStayOnePrintableLine)
{
    // A byte the terminal would act on is written as \xNN, and a long
    // field is cut after 40 characters.
    expect_line_fault("tiles.txt", 4, "1 0 io\x1b[2J 4 0 64 24 10", "the tile kind 'io\\x1b[2J' is unknown");
    const std::string digits(1000, '7');
    expect_line_fault("tiles.txt", 4, "1 0 io 4 0 64 24 " + digits,
                      "lab_in '" + digits.substr(0, 40) + "...' is out of range.");
}

TEST_F(DesignReaderFaults, TileHeaders)
{
    expect_line_fault("tiles.txt", 1, "tiles 34", "needs 3 fields but the line has 2");
    expect_line_fault("tiles.txt", 1, "tile 34 34", "the header must start with 'tiles'");
    expect_line_fault("tiles.txt", 1, "tiles 0 34", "grid side 0 is not between 1 and 4096");
    expect_line_fault("tiles.txt", 1, "tiles 34 100000", "grid side 100000 is not between 1 and 4096");
    expect_line_fault("tiles.txt", 2, "x y kind", "must be the column line starting with '#'");
}

TEST_F(DesignReaderFaults, TileCountsDisagreeWithTheHeader)
{
    // A header that promises one more row than the file holds: 34 * 34 + 2
    // lines, so the missing tile would be on line 1159.
    expect_fault("tiles.txt", [](std::vector<std::string>& lines) { lines[0] = "tiles 34 35"; }, 1159,
                 "the file ends where the tile (0, 34) was expected");
    expect_fault("tiles.txt", [](std::vector<std::string>& lines) { lines.push_back("0 34 io 1 1 1 1 1"); }, 1159,
                 "a line follows the last tile");
}

TEST_F(DesignReaderFaults, TileHeaderLargerThanTheFileAllocatesNothingUnbounded)
{
    // 4096 x 4096 tiles announced, 1156 present: fails on the first record
    // that does not fit (line 37, tile (0, 1) where (34, 0) belongs) after
    // reserving only what the file can hold.
    expect_fault("tiles.txt", [](std::vector<std::string>& lines) { lines[0] = "tiles 4096 4096"; }, 37,
                 "the tile (0, 1) is out of order, (34, 0) was expected");
}

TEST_F(DesignReaderFaults, NetLines)
{
    // Line 5 holds net 2: "2 3 4 0 11 11 25 26 0 0 0 11 25 11 26 11 26".
    expect_line_fault("nets.txt", 5, "2 3 4 0 11 11 25 26 0 0 0 11 25 11 26 11 2b", "the y of pin 2 '2b' is not");
    expect_line_fault("nets.txt", 5, "2 3 4 0 11 11 25 26 0 0 0 11 25 11 26 11",
                      "a net of 3 pins needs 17 fields but the line has 16");
    expect_line_fault("nets.txt", 5, "2 3 4 0 11 11 25 26 0 0 0 11 25 11 26 11 26 0",
                      "a net of 3 pins needs 17 fields but the line has 18");
    expect_line_fault("nets.txt", 5, "2 3 4 0 11 11", "a net needs at least 11 fields but the line has 6");
    expect_line_fault("nets.txt", 5, "7 3 4 0 11 11 25 26 0 0 0 11 25 11 26 11 26",
                      "the net id 7 is out of order, 2 was expected");
    expect_line_fault("nets.txt", 5, "2 0 4 0 11 11 25 26 0 0 0", "the pin count 0 is below 1");
    expect_line_fault("nets.txt", 5, "2 3 9 0 11 11 25 26 0 0 0 11 25 11 26 11 26", "hold bits other than 1, 2 and 4");
    expect_line_fault("nets.txt", 5, "2 3 4 0 11 11 25 26 -2 0 0 11 25 11 26 11 26", "routed_x -2 is below -1");
    expect_line_fault("nets.txt", 5, "2 3 0 0 11 11 25 26 -1 -1 0 11 25 11 26 11 26",
                      "routed_x, routed_y and n_wires must be all known or all -1 (unknown)");
    expect_line_fault("nets.txt", 5, "2 3 0 0 11 11 25 26 -1 -1 -1 11 25 11 26 11 26",
                      "the routed lengths are unknown (-1) while those of the nets before are known");
    expect_line_fault("nets.txt", 3, "0 3 6 0 16 17 32 32 -1 -1 -1 16 32 16 32 17 32",
                      "flag 4 (no span wire used) is set on a net that was not routed");
    expect_line_fault("nets.txt", 5, "2 2000000000 4 0 11 11 25 26 0 0 0 11 25 11 26 11 26",
                      "a net of 2000000000 pins needs 4000000011 fields but the line has 17");
}

TEST_F(DesignReaderFaults, NetGeometry)
{
    expect_line_fault("nets.txt", 5, "2 3 4 0 11 34 25 26 0 0 0 11 25 34 26 11 26",
                      "the box x 11..34, y 25..26 is empty or leaves the 34 x 34 grid");
    expect_line_fault("nets.txt", 5, "2 3 4 0 11 11 25 26 0 0 0 11 25 11 26 11 40",
                      "pin 2 at (11, 40) lies outside the 34 x 34 grid");
    expect_line_fault("nets.txt", 5, "2 3 4 0 11 11 25 26 0 0 0 11 25 11 -1 11 26",
                      "pin 1 at (11, -1) lies outside the 34 x 34 grid");
    expect_line_fault("nets.txt", 5, "2 3 4 0 11 11 24 26 0 0 0 11 25 11 26 11 26",
                      "is not the box of the pins, x 11..11, y 25..26");
    expect_line_fault("nets.txt", 5, "2 3 4 0 12 11 25 26 0 0 0 11 25 11 26 11 26", "is empty or leaves");
}

TEST_F(DesignReaderFaults, NetHeaders)
{
    expect_line_fault("nets.txt", 1, "nets 1942 34 33", "the header's grid 34 x 33 differs from the 34 x 34 grid");
    expect_fault("nets.txt", [](std::vector<std::string>& lines) { lines[0] = "nets 1943 34 34"; }, 1945,
                 "the file ends where net 1942 of the 1943");
    expect_fault("nets.txt", [](std::vector<std::string>& lines) { lines[0] = "nets 1941 34 34"; }, 1944,
                 "a line follows the last net");
    expect_line_fault("nets.txt", 1, "nets 1e3 34 34", "the header's N '1e3' is not a whole number");
    expect_line_fault("nets.txt", 1, "nets -1 34 34", "the header's N -1 is below 0");
}

TEST_F(DesignReaderFaults, RoutedLines)
{
    // Line 517 holds tile (4, 15): "4 15 1 1 0 0 1 0 0 1 0 1 0 1 0 0 1".
    expect_line_fault("routed.txt", 517, "4 15 2 1 0 0 1 0 0 1 0 1 0 1 0 0 1",
                      "h_all 2 differs from h_left + h_right + h_drv = 1");
    expect_line_fault("routed.txt", 517, "4 15 1 1 0 0 1 0 0 1 0 0 0 1 0 0 1", "h_all 1 differs from h4 + h12 = 0");
    expect_line_fault("routed.txt", 517, "4 15 1 1 0 0 1 0 0 1 0 1 0 1 0 0", "needs 17 fields but the line has 16");
    expect_line_fault("routed.txt", 517, "4 15 1 1 0 0 1 0 0 1 0 1 0 1 0 99 1",
                      "the routed lab_in 99 exceeds the tile's supply of 35");
    expect_line_fault("routed.txt", 1, "routed 33 34", "the header's grid 33 x 34 differs");
    expect_line_fault("routed.txt", 517, "5 15 1 1 0 0 1 0 0 1 0 1 0 1 0 0 1", "out of order, (4, 15) was expected");
    // Counts whose sum would not fit in an int are refused before any sum.
    expect_line_fault("routed.txt", 517, "4 15 1 2000000000 2000000000 2000000000 1 0 0 1 0 1 0 1 0 0 1",
                      "h_left 2000000000 is above 16777216");
}

TEST_F(DesignReaderFaults, MissingFilesAndFolders)
{
    fs::remove(m_dir.get_path() / "nets.txt");
    try {
        read_design(m_dir.get_path().string());
        ADD_FAILURE() << "no error for a missing nets.txt";
    } catch (const DESIGN_ERROR& error) {
        EXPECT_EQ(error.get_line(), 0);
        EXPECT_EQ(std::string(error.what()), (m_dir.get_path() / "nets.txt").string() + ": cannot be opened for reading.");
    }
    EXPECT_THROW(read_design((m_dir.get_path() / "absent").string()), DESIGN_ERROR);
}

TEST_F(DesignReaderFaults, RoutedTruthIsOptionalAndBlankTrailingLinesAndCrLfAreAccepted)
{
    fs::remove(m_dir.get_path() / "routed.txt");
    std::vector<std::string> lines = read_lines(m_dir.get_path() / "tiles.txt");
    for (std::string& line : lines)
        line += '\r';
    lines.push_back("");
    write_lines(m_dir.get_path() / "tiles.txt", lines);
    const DESIGN design = read_design(m_dir.get_path().string());
    EXPECT_FALSE(design.has_routed);
    EXPECT_EQ(design.lab_in[design.get_tile_index(1, 0)], 10);
}

}  // namespace
