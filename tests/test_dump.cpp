// Tests of the grid dump and the netlist dump.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fitter/congestion/congestion_impl.h"
#include "engine_support.h"
#include "test_support.h"

namespace {

const char* const kTypeNames[] = {"Horizontal Left", "Horizontal Right", "Vertical Up", "Vertical Down", "Lab Input"};

// A file path of its own for the running test. Both ctest runs of this
// executable may run at once, so the algorithm switch is part of the name;
// the process id is not, since a death test's child re-runs the fixture.
std::string scratch_path(const char* suffix)
{
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
        (std::string("congestion_") + test->name() + (original_algorithm_in_force() ? "_orig" : "_new") + suffix);
    std::filesystem::remove(path);
    return path.string();
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The table titled `title` up to and including its closing blank lines.
std::string table(const std::string& text, const std::string& title)
{
    const size_t begin = text.find(title + "\n\n");
    if (begin == std::string::npos)
        return "missing " + title;
    return text.substr(begin, text.find("\n\n\n", begin) + 3 - begin);
}

// ---------------------------------------------------------------------------
// Grid dump
// ---------------------------------------------------------------------------

TEST(GridDump, BeginsLikeTheWorkedExample)
{
    // 3 by 2; tile (0, 0) has wire supply 8 (5 right + 3 up) and wire demand 2.
    CONGESTION_IMPL impl(3, 2, nullptr);
    impl.m_supply[kRight](0, 0) = 5.0f;
    impl.m_supply[kUp](0, 0) = 3.0f;
    impl.m_demand[kLeft](0, 0) = 2.0f;
    const std::string path = scratch_path(".txt");
    impl.dump(path.c_str(), {});
    const std::string expected = "TOTAL UTILIZATION VALUES for H and V\n"
                                 "\n"
                                 "\t0\t1\t2\n"
                                 "0\t25.0000\t0.0000\t0.0000\n"
                                 "1\t0.0000\t0.0000\t0.0000\n"
                                 "\n"
                                 "\n"
                                 "Utilization values (Horizontal Left):\n"
                                 "\n"
                                 "\t0\t1\t2\n";
    EXPECT_EQ(read_file(path).substr(0, expected.size()), expected);
    std::filesystem::remove(path);
}

// 3 by 2:
//   (1, 1): right demand 1 over supply 3        combined 33.3333
//   (2, 1): left demand 1000 over supply 3      percent in float 33333.3359,
//                                               widened to double 33333.3344,
//                                               all in double 33333.3333
//   (1, 0): up demand 0.5 without supply        combined 0.0000
//   (0, 1): Lab Input demand 10 over supply 5   not in the combined table
//   smoothed right demand 1.25 at (0, 0)
class GridDumpScene : public ::testing::Test {
 protected:
    GridDumpScene() : impl(3, 2, nullptr)
    {
        impl.m_supply[kRight](1, 1) = 3.0f;
        impl.m_demand[kRight](1, 1) = 1.0f;
        impl.m_supply[kLeft](2, 1) = 3.0f;
        impl.m_demand[kLeft](2, 1) = 1000.0f;
        impl.m_demand[kUp](1, 0) = 0.5f;
        impl.m_supply[kLab](0, 1) = 5.0f;
        impl.m_demand[kLab](0, 1) = 10.0f;
        impl.m_smooth_demand_orig[kRight](0, 0) = 1.25f;
        path = scratch_path(".txt");
    }
    ~GridDumpScene() override { std::filesystem::remove(path); }

    CONGESTION_IMPL impl;
    std::string path;
};

TEST_F(GridDumpScene, CombinedTableIsSinglePrecisionPercent)
{
    impl.dump(path.c_str(), {});
    EXPECT_EQ(table(read_file(path), "TOTAL UTILIZATION VALUES for H and V"),
              "TOTAL UTILIZATION VALUES for H and V\n\n"
              "\t0\t1\t2\n"
              "0\t0.0000\t0.0000\t0.0000\n"
              "1\t0.0000\t33.3333\t33333.3359\n\n\n");
}

TEST_F(GridDumpScene, TypeTablesUseTheirOwnFormats)
{
    impl.dump(path.c_str(), {});
    const std::string text = read_file(path);
    // Utilization is widened to double before the percent is taken.
    EXPECT_EQ(table(text, "Utilization values (Horizontal Left):"),
              "Utilization values (Horizontal Left):\n\n\t0\t1\t2\n"
              "0\t0.0000\t0.0000\t0.0000\n"
              "1\t0.0000\t0.0000\t33333.3344\n\n\n");
    EXPECT_EQ(table(text, "Utilization values (Lab Input):"),
              "Utilization values (Lab Input):\n\n\t0\t1\t2\n"
              "0\t0.0000\t0.0000\t0.0000\n"
              "1\t200.0000\t0.0000\t0.0000\n\n\n");
    EXPECT_EQ(table(text, "Demand values (Vertical Up):"),
              "Demand values (Vertical Up):\n\n\t0\t1\t2\n"
              "0\t0.0000\t0.5000\t0.0000\n"
              "1\t0.0000\t0.0000\t0.0000\n\n\n");
    EXPECT_EQ(table(text, "Smooth demand values (Horizontal Right):"),
              "Smooth demand values (Horizontal Right):\n\n\t0\t1\t2\n"
              "0\t1.2500\t0.0000\t0.0000\n"
              "1\t0.0000\t0.0000\t0.0000\n\n\n");
    EXPECT_EQ(table(text, "Supply values (Horizontal Left):"),
              "Supply values (Horizontal Left):\n\n\t0\t1\t2\n"
              "0\t0.0\t0.0\t0.0\n"
              "1\t0.0\t0.0\t3.0\n\n\n");
}

TEST_F(GridDumpScene, SkippedColumnIsLeftOutAndTheRestRenumbered)
{
    impl.dump(path.c_str(), {1});
    const std::string text = read_file(path);
    EXPECT_EQ(table(text, "TOTAL UTILIZATION VALUES for H and V"),
              "TOTAL UTILIZATION VALUES for H and V\n\n"
              "\t0\t1\n"
              "0\t0.0000\t0.0000\n"
              "1\t0.0000\t33333.3359\n\n\n");
    EXPECT_EQ(table(text, "Supply values (Horizontal Right):"),
              "Supply values (Horizontal Right):\n\n\t0\t1\n"
              "0\t0.0\t0.0\n"
              "1\t0.0\t0.0\n\n\n");
}

TEST_F(GridDumpScene, BadSkipListStopsAfterTheFirstLine)
{
    EXPECT_FATAL(impl.dump(path.c_str(), {1, 1}), "x_count == unscaled_nx");
    EXPECT_FATAL(impl.dump(path.c_str(), {3}), "x_count == unscaled_nx");
}

TEST_F(GridDumpScene, ExistingFileIsTruncated)
{
    std::ofstream(path) << std::string(20000, 'x');
    impl.dump(path.c_str(), {});
    const std::string text = read_file(path);
    EXPECT_EQ(text.find('x'), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 3), "\n\n\n");
}

TEST(GridDump, NoColumnsGivesTitlesAndHeadersOnly)
{
    CONGESTION_IMPL impl(2, 0, nullptr);
    const std::string path = scratch_path(".txt");
    const std::vector<const char*> kinds = {"Utilization values (", "Demand values (", "Smooth demand values (",
                                            "Supply values ("};
    impl.dump(path.c_str(), {});
    std::string expected = "TOTAL UTILIZATION VALUES for H and V\n\n\t0\t1\n\n\n";
    for (const char* kind : kinds)
        for (const char* name : kTypeNames)
            expected += std::string(kind) + name + "):\n\n\t0\t1\n\n\n";
    EXPECT_EQ(read_file(path), expected);

    // Without lines the skip list is never checked; more skipped columns
    // than x leave the headers without labels.
    impl.dump(path.c_str(), {0, 0, 0});
    expected = "TOTAL UTILIZATION VALUES for H and V\n\n\n\n\n";
    for (const char* kind : kinds)
        for (const char* name : kTypeNames)
            expected += std::string(kind) + name + "):\n\n\n\n\n";
    EXPECT_EQ(read_file(path), expected);
    std::filesystem::remove(path);
}

TEST(GridDump, NoRowsGivesOnlyTheCombinedTable)
{
    CONGESTION_IMPL impl(0, 2, nullptr);
    const std::string path = scratch_path(".txt");
    impl.dump(path.c_str(), {});
    EXPECT_EQ(read_file(path), "TOTAL UTILIZATION VALUES for H and V\n\n\n0\n1\n\n\n");
    std::filesystem::remove(path);
}

TEST(GridDump, UnwritablePathWritesNothingButStillChecks)
{
    CONGESTION estimator(3, 2);
    const std::string path = scratch_path("_missing_dir/grid.txt");
    estimator.dump(path.c_str(), {});
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FATAL(estimator.dump(path.c_str(), {2, 2}), "x_count == unscaled_nx");
}

// ---------------------------------------------------------------------------
// Netlist dump
// ---------------------------------------------------------------------------

// Records every call the dump makes, in order.
class RECORDING_NETLIST : public TEST_NETLIST {
 public:
    mutable std::vector<std::string> calls;

    CONGESTION::LOC get_pin_loc(int net, int pin) const override
    {
        calls.push_back("loc " + std::to_string(net) + " " + std::to_string(pin));
        return TEST_NETLIST::get_pin_loc(net, pin);
    }
    int get_num_pins(int net) const override
    {
        calls.push_back("pins " + std::to_string(net));
        return TEST_NETLIST::get_num_pins(net);
    }
    float get_pin_weight(int net, int pin) const override
    {
        calls.push_back("weight " + std::to_string(net) + " " + std::to_string(pin));
        return TEST_NETLIST::get_pin_weight(net, pin);
    }
};

// Net 7: driver (1, 2) weight 0, load (3, 4) weight 1.5; net 5 has no pins;
// net 2: (-1, 0) weight 0.25 and (6, 9) weight 2.
class NetlistDump : public ::testing::Test {
 protected:
    NetlistDump()
    {
        netlist.nets.resize(8);
        netlist.weights.resize(8);
        netlist.nets[7] = {{1, 2}, {3, 4}};
        netlist.weights[7] = {0.0f, 1.5f};
        netlist.nets[2] = {{-1, 0}, {6, 9}};
        netlist.weights[2] = {0.25f, 2.0f};
        path = scratch_path(".txt");
    }
    ~NetlistDump() override { std::filesystem::remove(path); }

    RECORDING_NETLIST netlist;
    std::string path;
};

TEST_F(NetlistDump, WritesCountThenOneLinePerNet)
{
    CONGESTION_IMPL impl(4, 4, &netlist);
    impl.dump_netlist({7}, path.c_str());
    EXPECT_EQ(read_file(path), "1\n7 2 1 2 0.0000 3 4 1.5000 \n");
    impl.dump_netlist({2, 5, 2}, path.c_str());
    EXPECT_EQ(read_file(path), "3\n2 2 -1 0 0.2500 6 9 2.0000 \n5 0 \n2 2 -1 0 0.2500 6 9 2.0000 \n");
    impl.dump_netlist({}, path.c_str());
    EXPECT_EQ(read_file(path), "0\n");
}

TEST_F(NetlistDump, AsksPinsThenLocationAndWeightOfEachPin)
{
    CONGESTION_IMPL impl(4, 4, &netlist);
    impl.dump_netlist({5, 7}, path.c_str());
    const std::vector<std::string> expected = {"pins 5", "pins 7", "loc 7 0", "weight 7 0", "loc 7 1", "weight 7 1"};
    EXPECT_EQ(netlist.calls, expected);
}

TEST_F(NetlistDump, UnwritablePathStillAsksForEveryPin)
{
    CONGESTION estimator(4, 4, &netlist);
    const std::string missing = scratch_path("_missing_dir/nets.txt");
    estimator.dump_netlist({7, 2}, missing.c_str());
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_EQ(netlist.calls.size(), 10u);
}

TEST(NetlistDumpNoInterface, IsRefused)
{
    const CONGESTION_IMPL impl(4, 4, nullptr);
    EXPECT_FATAL(impl.dump_netlist({}, "unused.txt"), "m_net_if != nullptr");
}

}  // namespace
