// Tests of the grid dump and the netlist dump.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine_support.h"
#include "test_support.h"

namespace {

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

// 3 by 2:
//   (1, 1): right demand 1 over supply 3        combined 33.3333
//   (2, 1): left demand 1000 over supply 3      percent in float 33333.3359,
//                                               widened to double 33333.3344
//   (0, 1): Lab Input demand 10 over supply 5   not in the combined table
//   smoothed right demand 1.25 at (0, 0)
class Dump : public ::testing::Test {
 protected:
    Dump() : impl(3, 2, &netlist)
    {
        impl.set_supply(1, 1, kRight, 3.0f);
        PEER::demand(impl)[kRight](1, 1) = 1.0f;
        impl.set_supply(2, 1, kLeft, 3.0f);
        PEER::demand(impl)[kLeft](2, 1) = 1000.0f;
        impl.set_supply(0, 1, kLab, 5.0f);
        PEER::demand(impl)[kLab](0, 1) = 10.0f;
        PEER::smooth_demand_orig(impl)[kRight](0, 0) = 1.25f;
        // A path of its own per test and algorithm: both ctest runs of this
        // executable may run at once.
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        path = (std::filesystem::temp_directory_path() /
                (std::string("congestion_") + test->name() + (original_algorithm_in_force() ? "_orig" : "_new")))
                   .string();
    }
    ~Dump() override { std::filesystem::remove(path); }

    TEST_NETLIST netlist;
    CONGESTION_IMPL impl;
    std::string path;
};

TEST_F(Dump, TablesUseTheirOwnFormats)
{
    std::ofstream(path) << std::string(20000, 'x');  // truncated
    impl.dump(path.c_str(), {});
    const std::string text = read_file(path);
    EXPECT_EQ(text.rfind("TOTAL UTILIZATION VALUES for H and V\n\n\t0\t1\t2\n"
                         "0\t0.0000\t0.0000\t0.0000\n"
                         "1\t0.0000\t33.3333\t33333.3359\n\n\n"
                         "Utilization values (Horizontal Left):\n\n\t0\t1\t2\n"
                         "0\t0.0000\t0.0000\t0.0000\n"
                         "1\t0.0000\t0.0000\t33333.3344\n\n\n",
                         0),
              0u);
    EXPECT_EQ(table(text, "Utilization values (Lab Input):"),
              "Utilization values (Lab Input):\n\n\t0\t1\t2\n"
              "0\t0.0000\t0.0000\t0.0000\n"
              "1\t200.0000\t0.0000\t0.0000\n\n\n");
    EXPECT_EQ(table(text, "Smooth demand values (Horizontal Right):"),
              "Smooth demand values (Horizontal Right):\n\n\t0\t1\t2\n"
              "0\t1.2500\t0.0000\t0.0000\n"
              "1\t0.0000\t0.0000\t0.0000\n\n\n");
    EXPECT_EQ(table(text, "Supply values (Horizontal Left):"),
              "Supply values (Horizontal Left):\n\n\t0\t1\t2\n"
              "0\t0.0\t0.0\t0.0\n"
              "1\t0.0\t0.0\t3.0\n\n\n");
    EXPECT_EQ(text.substr(text.size() - 3), "\n\n\n");
    EXPECT_EQ(text.find('x'), std::string::npos);
}

TEST_F(Dump, SkippedColumnIsLeftOutAndTheRestRenumbered)
{
    impl.dump(path.c_str(), {1});
    EXPECT_EQ(table(read_file(path), "TOTAL UTILIZATION VALUES for H and V"),
              "TOTAL UTILIZATION VALUES for H and V\n\n\t0\t1\n"
              "0\t0.0000\t0.0000\n"
              "1\t0.0000\t33333.3359\n\n\n");
    // An unwritable path writes nothing but still checks.
    const std::string missing = path + "_missing_dir/grid.txt";
    impl.dump(missing.c_str(), {});
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_FATAL(impl.dump(missing.c_str(), {1, 1}), "x_count == unscaled_nx");
    // Without rows only the combined table is written.
    CONGESTION_IMPL(0, 2, nullptr).dump(path.c_str(), {});
    EXPECT_EQ(read_file(path), "TOTAL UTILIZATION VALUES for H and V\n\n\n0\n1\n\n\n");
}

// Net 7: driver (1, 2) weight 0, load (3, 4) weight 1.5; net 5 has no pins;
// net 2: (-1, 0) weight 0.25 and (6, 9) weight 2.
TEST_F(Dump, NetlistDumpWritesCountThenOneLinePerNet)
{
    netlist.nets.resize(8);
    netlist.weights.resize(8);
    netlist.nets[7] = {{1, 2}, {3, 4}};
    netlist.weights[7] = {0.0f, 1.5f};
    netlist.nets[2] = {{-1, 0}, {6, 9}};
    netlist.weights[2] = {0.25f, 2.0f};
    impl.dump_netlist({2, 5, 7}, path.c_str());
    EXPECT_EQ(read_file(path), "3\n2 2 -1 0 0.2500 6 9 2.0000 \n5 0 \n7 2 1 2 0.0000 3 4 1.5000 \n");
    impl.dump_netlist({}, path.c_str());
    EXPECT_EQ(read_file(path), "0\n");
    EXPECT_FATAL(CONGESTION_IMPL(4, 4, nullptr).dump_netlist({}, path.c_str()), "m_net_if != nullptr");
}

}  // namespace
