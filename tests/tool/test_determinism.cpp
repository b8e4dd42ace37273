// Whole estimates of real designs: the same cookie and report bytes with 1 and
// 2 worker threads, and the same figures within a tolerance with 16 and 7
// chunks.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tool_test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr int DEFAULT_CHUNKS = 16;
// Shares no factor with 16, so nets and rows fall into other groups.
constexpr int OTHER_CHUNKS = 7;

// One estimate: the text report and the JSON, both without timings.
struct ESTIMATE_OUTPUT {
    std::string text;
    std::string json_text;
    nlohmann::json json;
};

// The design folders under `root`: those holding a tiles.txt, by name.
std::vector<fs::path> find_designs(const fs::path& root)
{
    std::vector<fs::path> designs;
    std::error_code error;
    if (!fs::is_directory(root, error))
        return designs;
    for (const auto& entry : fs::directory_iterator(root))
        if (fs::exists(entry.path() / "tiles.txt"))
            designs.push_back(entry.path());
    std::sort(designs.begin(), designs.end());
    return designs;
}

ESTIMATE_OUTPUT run_estimate(const fs::path& design, int threads, int chunks, const fs::path& dir)
{
    const fs::path json = dir / "report.json";
    const PROGRAM_RESULT result = run_program(ESTIMATE_TOOL,
                                              {design.string(), "--threads", std::to_string(threads), "--chunks",
                                               std::to_string(chunks), "--no-timings", "--json", json.string()},
                                              dir);
    EXPECT_EQ(result.exit_code, 0) << design << " threads " << threads << " chunks " << chunks << ": " << result.err;
    ESTIMATE_OUTPUT output{result.out, read_text(json), {}};
    output.json = nlohmann::json::parse(output.json_text, nullptr, false);
    fs::remove(json);
    return output;
}

// A chunk count regroups the single-precision additions of the demand merge
// and of the original smoothing, so a value may change in its last bits
// (2^-23 relative per addition, a few hundred nets per tile). Figures drawn
// from the values move by as little: VALUE_TOLERANCE, relative to the larger
// magnitude or to 1, is ten times the largest change seen on the shared
// designs. Rank figures are not continuous: a tie split by one bit moves
// Spearman ranks by half the tie, and a near-tie at the top-10 % boundary
// moves the share by one tile (1/115 on 34 x 34 devices). RANK_TOLERANCE is
// above one such step and four times the largest Spearman change seen.
// Whole numbers and strings must not change.
constexpr double VALUE_TOLERANCE = 1e-4;
constexpr double RANK_TOLERANCE = 0.01;

// Walks two reports of the same shape and checks every figure; the settings
// (which name the chunk count) and the cookie (which hashes it) are left out.
void compare_figures(const nlohmann::json& a, const nlohmann::json& b, const std::string& where, const std::string& key)
{
    ASSERT_EQ(a.type(), b.type()) << where;
    if (a.is_object()) {
        for (const auto& [name, value] : a.items())
            if (name != "settings" && name != "cookie") {
                ASSERT_TRUE(b.contains(name)) << where << "/" << name;
                compare_figures(value, b[name], where + "/" + name, name);
            }
    } else if (a.is_array()) {
        ASSERT_EQ(a.size(), b.size()) << where;
        for (std::size_t i = 0; i < a.size(); ++i)
            compare_figures(a[i], b[i], where + "/" + std::to_string(i), key);
    } else if (a.is_number_float()) {
        const double x = a.get<double>(), y = b.get<double>();
        if (key == "spearman" || key == "top10_share")
            EXPECT_LE(std::abs(x - y), RANK_TOLERANCE) << where << ": " << x << " against " << y;
        else
            EXPECT_LE(std::abs(x - y) / std::max({std::abs(x), std::abs(y), 1.0}), VALUE_TOLERANCE)
                << where << ": " << x << " against " << y;
    } else {
        EXPECT_EQ(a, b) << where;
    }
}

TEST(Determinism, SharedDesignsAgreeAcrossThreadAndChunkCounts)
{
    const std::vector<fs::path> designs = find_designs(SHARED_DESIGNS);
    if (designs.empty())
        GTEST_SKIP() << "no design folders in " << SHARED_DESIGNS
                     << " (the CMake cache variable CONGESTION_SHARED_DESIGNS names the folder): nothing to compare";

    for (const fs::path& design : designs) {
        SCOPED_TRACE(design.filename().string());
        SCRATCH_DIR dir;
        ESTIMATE_OUTPUT by_chunks[2];
        for (int c = 0; c < 2; ++c) {
            const int chunks = c == 0 ? DEFAULT_CHUNKS : OTHER_CHUNKS;
            const ESTIMATE_OUTPUT one = run_estimate(design, 1, chunks, dir.get_path());
            const ESTIMATE_OUTPUT two = run_estimate(design, 2, chunks, dir.get_path());
            ASSERT_FALSE(one.json.is_discarded());
            EXPECT_EQ(one.json["cookie"], two.json["cookie"]) << "chunks " << chunks;
            EXPECT_EQ(one.text, two.text) << "chunks " << chunks;
            EXPECT_EQ(one.json_text, two.json_text) << "chunks " << chunks;
            by_chunks[c] = two;
        }
        compare_figures(by_chunks[0].json, by_chunks[1].json, "", "");
    }
}

}  // namespace
