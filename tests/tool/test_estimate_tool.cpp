// End-to-end runs of congestion-estimate on the bundled design: outputs,
// agreement with the library, heatmaps, and bad input.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <cairo.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tool_test_support.h"
#include "tools/design_netlist.h"
#include "tools/design_reader.h"
#include "tools/estimate.h"
#include "tools/heatmap.h"

namespace {

namespace fs = std::filesystem;

constexpr int EXIT_OUTPUT_FAILED = 1;
constexpr int EXIT_BAD_INPUT = 2;
constexpr const char* PNG_SIGNATURE = "\x89PNG\r\n\x1a\n";
constexpr const char* HEATMAP_STEMS[] = {"horizontal_left", "horizontal_right", "vertical_up", "vertical_down",
                                         "horizontal",      "vertical",         "lab_input"};

PROGRAM_RESULT run_tool(const std::vector<std::string>& args, const fs::path& dir)
{
    return run_program(ESTIMATE_TOOL, args, dir);
}

bool starts_with(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// One run of the tool with every output, shared by the tests of the suite.
class SampleRun : public ::testing::Test {
 protected:
    static void SetUpTestSuite()
    {
        s_dir = new SCRATCH_DIR();
        const fs::path dir = s_dir->get_path();
        s_result = new PROGRAM_RESULT(run_tool(
            {SAMPLE_DESIGN, "--json", (dir / "report.json").string(), "--heatmaps", (dir / "heatmaps").string(),
             "--dump", (dir / "grids.txt").string(), "--dump-netlist", (dir / "nets.txt").string()},
            dir));
        s_json = new nlohmann::json(nlohmann::json::parse(read_text(dir / "report.json"), nullptr, false));
    }
    static void TearDownTestSuite()
    {
        delete s_json;
        delete s_result;
        delete s_dir;
    }

    static SCRATCH_DIR* s_dir;
    static PROGRAM_RESULT* s_result;
    static nlohmann::json* s_json;
};

SCRATCH_DIR* SampleRun::s_dir = nullptr;
PROGRAM_RESULT* SampleRun::s_result = nullptr;
nlohmann::json* SampleRun::s_json = nullptr;

TEST_F(SampleRun, SucceedsAndWritesEveryOutputCompletely)
{
    ASSERT_EQ(s_result->exit_code, 0) << s_result->err;
    EXPECT_EQ(s_result->err, "");
    ASSERT_FALSE(s_json->is_discarded());
    const fs::path dir = s_dir->get_path();
    for (const char* stem : HEATMAP_STEMS)
        EXPECT_TRUE(starts_with(read_text(dir / "heatmaps" / (std::string(stem) + ".png")), PNG_SIGNATURE)) << stem;
    EXPECT_TRUE(starts_with(read_text(dir / "grids.txt"), "TOTAL UTILIZATION VALUES for H and V\n"));
    // The netlist dump starts with the number of nets handed to it.
    const std::vector<std::string> nets = read_lines(dir / "nets.txt");
    ASSERT_EQ(nets.size(), (*s_json)["nets"]["estimated"].get<size_t>() + 1);
    EXPECT_EQ(nets[0], std::to_string(nets.size() - 1));
}

// The report's figures against an estimate made here with library calls.
TEST_F(SampleRun, FiguresEqualTheLibrarysOwn)
{
    const ESTIMATE_OPTIONS defaults;
    const DESIGN design = read_design(SAMPLE_DESIGN);
    DESIGN_NETLIST netlist(design, defaults.policy, defaults.wirelength);
    CONGESTION estimator(design.nx, design.ny, &netlist);
    set_design_supply(estimator, design, defaults.supply);
    estimator.generate_smooth_wire_supply(defaults.parallel_dim, defaults.perpendicular_dim);
    estimator.update_demand(get_estimated_nets(design), defaults.model);
    estimator.update_demand({}, CONGESTION::LAB_INPUT_MODEL);

    const nlohmann::json& resources = (*s_json)["resources"];
    ASSERT_EQ(resources.size(), static_cast<size_t>(CONGESTION::NUM_RESOURCE_TYPES));
    for (int t = 0; t < CONGESTION::NUM_RESOURCE_TYPES; ++t) {
        const auto type = static_cast<CONGESTION::RESOURCE_TYPE>(t);
        EXPECT_EQ(resources[t]["name"], CONGESTION::get_string_for_resource_type(type));
        EXPECT_EQ(resources[t]["total_demand"].get<float>(), estimator.get_total_demand(type));
        const auto [peak, tile] = estimator.get_peak_utilization(defaults.peak_dim, type, false);
        EXPECT_EQ(resources[t]["peak_utilization"].get<float>(), peak);
        EXPECT_EQ(resources[t]["peak_tile"], nlohmann::json({tile.x, tile.y}));
    }
    // Lab Input demand is the number of load pins of the estimated nets.
    EXPECT_EQ(resources[4]["total_demand"].get<int>(), (*s_json)["nets"]["load_pins"].get<int>());

    // The routability figures themselves are checked on an overloaded design
    // with the statistics.
    ASSERT_EQ((*s_json)["routability"]["ace"].size(), ACE_PERCENTS.size());
    EXPECT_EQ((*s_json)["accuracy"]["tiles"], 34 * 34 - 4);  // every tile but the empty corners
}

// The text report holds the JSON's figures, and both the cookie of the
// tool's own estimator.
TEST_F(SampleRun, TextReportHoldsTheJsonFiguresAndTheCookie)
{
    const std::string& text = s_result->out;
    EXPECT_TRUE(starts_with(text, "design picorv32_ex, grid 34 x 34 tiles\n"));
    // Each resource's line: its total demand with 6 significant digits.
    for (const nlohmann::json& resource : (*s_json)["resources"]) {
        char line[160];
        std::snprintf(line, sizeof line, "\n%-18s %14.6g ", resource["name"].get<std::string>().c_str(),
                      resource["total_demand"].get<double>());
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    const DESIGN design = read_design(SAMPLE_DESIGN);
    ESTIMATE_RUN run(design, ESTIMATE_OPTIONS(), 0.0);
    run.run();
    char hex[sizeof "0123456789abcdef"];
    std::snprintf(hex, sizeof hex, "%016llx", run.get_estimator().get_cookie());
    EXPECT_EQ((*s_json)["cookie"], hex);
    EXPECT_NE(text.find(std::string("\nestimator cookie: ") + hex + "\n"), std::string::npos);
}

// The routed panel of each heatmap is routed usage over the map's supply.
TEST_F(SampleRun, HeatmapsShowEstimateAndRoutedUsage)
{
    const DESIGN design = read_design(SAMPLE_DESIGN);
    ESTIMATE_RUN run(design, ESTIMATE_OPTIONS(), 0.0);
    run.run();
    const std::vector<HEATMAP> heatmaps = run.get_heatmaps();
    ASSERT_EQ(heatmaps.size(), 7u);
    const HEATMAP& horizontal = heatmaps[4];
    EXPECT_EQ(horizontal.file_stem, "horizontal");
    ASSERT_EQ(horizontal.panels.size(), 2u);
    int compared = 0;
    for (size_t tile = 0; tile < design.get_num_tiles(); ++tile) {
        const int x = static_cast<int>(tile % design.nx), y = static_cast<int>(tile / design.nx);
        const double supply = static_cast<double>(run.get_estimator().get_supply(x, y, CONGESTION::HORIZONTAL_LEFT)) +
                              run.get_estimator().get_supply(x, y, CONGESTION::HORIZONTAL_RIGHT);
        const double routed = horizontal.panels[1].values[tile];
        if (supply > 0.0) {
            EXPECT_EQ(routed, (0.0 + design.routed[ROUTED_H_ALL][tile]) / supply) << x << "," << y;
            compared += design.routed[ROUTED_H_ALL][tile] > 0;
        } else {
            EXPECT_TRUE(std::isnan(routed)) << x << "," << y;
        }
    }
    EXPECT_GT(compared, 100);
}

// A 3 by 1 map of 0, the largest value and no supply: the tiles show the
// two ends of the colour scale and the grey of tiles without supply.
TEST(Heatmap, ColoursRunFromTheLowEndToTheHighEnd)
{
    SCRATCH_DIR dir;
    const std::string path = (dir.get_path() / "map.png").string();
    write_heatmap_png(path, 3, 1, HEATMAP{"map", "map", {TILE_MAP{"map", {0.0, 2.5, std::nan("")}}}},
                      HEATMAP_SCALE::SHARED);
    cairo_surface_t* image = cairo_image_surface_create_from_png(path.c_str());
    ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
    const unsigned char* pixels = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    // Tiles of 24 pixels from (68, 64): the centre of tile x is (80 + 24 x, 76).
    const auto expect_colour = [&](int x, double r, double g, double b) {
        const uint32_t rgb = *reinterpret_cast<const uint32_t*>(pixels + 76 * stride + 4 * (80 + 24 * x));
        EXPECT_NEAR(rgb >> 16 & 255, r * 255.0, 1.0) << x;
        EXPECT_NEAR(rgb >> 8 & 255, g * 255.0, 1.0) << x;
        EXPECT_NEAR(rgb & 255, b * 255.0, 1.0) << x;
    };
    expect_colour(0, 0.267, 0.005, 0.329);
    expect_colour(1, 0.993, 0.906, 0.144);
    expect_colour(2, 0.82, 0.82, 0.82);
    cairo_surface_destroy(image);
}

TEST(EstimateTool, WithoutRoutedTruthOrTimingsReportsNeither)
{
    SCRATCH_DIR dir;
    const fs::path design = dir.get_path() / "design";
    fs::create_directories(design);
    copy_sample_design(design);
    fs::remove(design / "routed.txt");
    const fs::path json = dir.get_path() / "report.json";
    const PROGRAM_RESULT result =
        run_tool({design.string(), "--model", "bbox", "--window", "4,2", "--uniform", "--policy", "overflow",
                  "--supply", "full", "--no-timings", "--json", json.string()},
                 dir.get_path());
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.out.find("no routed.txt: no accuracy figures"), std::string::npos);
    EXPECT_EQ(result.out.find("phase "), std::string::npos);
    const nlohmann::json report = nlohmann::json::parse(read_text(json));
    EXPECT_TRUE(report["accuracy"].is_null());
    EXPECT_FALSE(report.contains("phases"));
    EXPECT_EQ(report["settings"]["window"], nlohmann::json({4, 2}));
}

// A bad run exits with `code` and one sentence, prints no report and leaves
// no output behind (here, its heatmaps).
void expect_refused(std::vector<std::string> args, const SCRATCH_DIR& dir, int code, const std::string& sentence)
{
    const fs::path maps = dir.get_path() / "maps";
    args.insert(args.end(), {"--heatmaps", maps.string()});
    const PROGRAM_RESULT result = run_tool(args, dir.get_path());
    EXPECT_EQ(result.exit_code, code) << result.err;
    EXPECT_EQ(result.err, "congestion-estimate: " + sentence + "\n");
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(fs::exists(maps));
}

TEST(EstimateTool, RefusesBadInputWithOneSentence)
{
    SCRATCH_DIR dir;
    const std::string absent = (dir.get_path() / "absent").string();
    const std::pair<std::vector<std::string>, std::string> bad_arguments[] = {
        {{absent}, absent + ": is not a design folder (no such directory)."},
        {{}, "no design folder given (see --help)."},
        {{SAMPLE_DESIGN, "--window", "0,x"}, "the value 0 of --window is not between 1 and 255 (see --help)."},
        {{SAMPLE_DESIGN, "--model", "maze"}, "the value 'maze' of --model is not path or bbox (see --help)."},
        {{SAMPLE_DESIGN, "--frobnicate"}, "unrecognised option '--frobnicate' (see --help)."},
        {{SAMPLE_DESIGN, "--json", "--no-timings"},
         "the value '--no-timings' of --json is not a file name "
         "(write ./--no-timings for a file of that name) (see --help)."},
        {{SAMPLE_DESIGN, "--json", "-", "--dump", "/dev/stdout"},
         "--json and --dump name the same output /dev/stdout (see --help)."},
    };
    for (const auto& [args, sentence] : bad_arguments)
        expect_refused(args, dir, EXIT_BAD_INPUT, sentence);
    // An output that cannot be written is refused before any work.
    expect_refused({SAMPLE_DESIGN, "--json", absent + "/r.json"}, dir, EXIT_OUTPUT_FAILED,
                   "cannot write " + absent + "/r.json: the directory " + absent + " does not exist.");

    const fs::path design = dir.get_path() / "design";
    fs::create_directories(design);
    copy_sample_design(design);
    std::vector<std::string> nets = read_lines(design / "nets.txt");
    nets[4] = "2 3 4 0 11 11 25 26 0 0 0 11 25 11 26 11 99";
    write_lines(design / "nets.txt", nets);
    expect_refused({design.string()}, dir, EXIT_BAD_INPUT,
                   (design / "nets.txt").string() + ", line 5: pin 2 at (11, 99) lies outside the 34 x 34 grid.");

    // Placed only: every routed length unknown, and flag 4 never set.
    nets = read_lines(fs::path(SAMPLE_DESIGN) / "nets.txt");
    for (std::size_t line = 2; line < nets.size(); ++line) {
        std::istringstream fields(nets[line]);
        std::vector<std::string> words(std::istream_iterator<std::string>(fields), {});
        words[2] = std::to_string(std::stoi(words[2]) & ~NET_FLAG_NO_SPAN_WIRE);
        words[8] = words[9] = words[10] = "-1";
        nets[line] = words[0];
        for (std::size_t word = 1; word < words.size(); ++word)
            nets[line] += " " + words[word];
    }
    write_lines(design / "nets.txt", nets);
    expect_refused({design.string(), "--wirelength", "oracle"}, dir, EXIT_BAD_INPUT,
                   "--wirelength oracle needs the routed lengths of nets.txt, but " + design.string() +
                       " was placed and not routed (see --help).");
}

}  // namespace
