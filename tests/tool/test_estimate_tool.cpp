// End-to-end runs of congestion-estimate on the bundled design: outputs,
// report invariants, agreement with the library, and bad input.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tool_test_support.h"
#include "tools/design_netlist.h"
#include "tools/design_reader.h"
#include "tools/estimate.h"

namespace {

namespace fs = std::filesystem;

constexpr int EXIT_BAD_INPUT = 2;
constexpr int EXIT_OUTPUT_FAILED = 1;
constexpr const char* PNG_SIGNATURE = "\x89PNG\r\n\x1a\n";
constexpr const char* HEATMAP_STEMS[] = {"horizontal_left", "horizontal_right", "vertical_up", "vertical_down",
                                         "horizontal", "vertical", "lab_input"};
// The text report prints totals with 6 significant digits and correlations
// with 3 decimals.
constexpr double TEXT_RELATIVE_PRECISION = 1e-5;
constexpr double TEXT_FIGURE_PRECISION = 5e-4;

using TOOL_RESULT = PROGRAM_RESULT;

// Runs the tool with `args`, capturing its output in files of `dir`.
TOOL_RESULT run_tool(const std::vector<std::string>& args, const fs::path& dir)
{
    return run_program(ESTIMATE_TOOL, args, dir);
}

bool starts_with(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The whitespace-separated fields after `prefix` on the `occurrence`-th line
// of `text` that starts with it.
std::vector<std::string> get_fields_after(const std::string& text, const std::string& prefix, int occurrence = 0)
{
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (starts_with(line, prefix) && occurrence-- == 0) {
            std::istringstream rest(line.substr(prefix.size()));
            std::vector<std::string> fields;
            for (std::string field; rest >> field;)
                fields.push_back(field);
            return fields;
        }
    return {};
}

void expect_text_number(const std::string& text, const nlohmann::json& value, double tolerance)
{
    if (value.is_null()) {
        EXPECT_EQ(text, "n/a");
        return;
    }
    EXPECT_NEAR(std::stod(text), value.get<double>(), tolerance) << text;
}

// One run of the tool with every output, shared by the tests of the suite.
class SampleRun : public ::testing::Test {
 protected:
    static void SetUpTestSuite()
    {
        s_dir = new SCRATCH_DIR();
        const fs::path dir = s_dir->get_path();
        s_result = new TOOL_RESULT(run_tool({SAMPLE_DESIGN, "--json", (dir / "report.json").string(), "--heatmaps",
                                             (dir / "heatmaps").string(), "--dump", (dir / "grids.txt").string(),
                                             "--dump-netlist", (dir / "nets.txt").string()},
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
    static TOOL_RESULT* s_result;
    static nlohmann::json* s_json;
};

SCRATCH_DIR* SampleRun::s_dir = nullptr;
TOOL_RESULT* SampleRun::s_result = nullptr;
nlohmann::json* SampleRun::s_json = nullptr;

TEST_F(SampleRun, SucceedsAndWritesEveryOutputCompletely)
{
    ASSERT_EQ(s_result->exit_code, 0) << s_result->err;
    EXPECT_EQ(s_result->err, "");
    ASSERT_FALSE(s_json->is_discarded());
    const fs::path dir = s_dir->get_path();
    for (const char* stem : HEATMAP_STEMS) {
        const std::string png = read_text(dir / "heatmaps" / (std::string(stem) + ".png"));
        EXPECT_TRUE(starts_with(png, PNG_SIGNATURE)) << stem;
    }
    EXPECT_TRUE(starts_with(read_text(dir / "grids.txt"), "TOTAL UTILIZATION VALUES for H and V\n"));
    // The netlist dump starts with the number of nets handed to it.
    const std::vector<std::string> nets = read_lines(dir / "nets.txt");
    ASSERT_FALSE(nets.empty());
    EXPECT_EQ(nets[0], std::to_string((*s_json)["nets"]["estimated"].get<int>()));
    EXPECT_EQ(nets.size(), (*s_json)["nets"]["estimated"].get<size_t>() + 1);
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST_F(SampleRun, TotalsAndPeaksEqualTheLibrarysOwn)
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
}

TEST_F(SampleRun, FiguresLieInTheirRanges)
{
    const nlohmann::json& accuracy = (*s_json)["accuracy"];
    ASSERT_TRUE(accuracy.is_object());
    EXPECT_EQ(accuracy["tiles"], 34 * 34 - 4);  // every tile but the empty corners
    ASSERT_EQ(accuracy["rows"].size(), 8u);
    for (const nlohmann::json& row : accuracy["rows"])
        for (const char* side : {"estimate_figures", "baseline_figures"}) {
            for (const char* figure : {"pearson", "spearman"}) {
                ASSERT_TRUE(row[side][figure].is_number()) << row["estimate"];
                EXPECT_GE(row[side][figure].get<double>(), -1.0);
                EXPECT_LE(row[side][figure].get<double>(), 1.0);
            }
            EXPECT_GE(row[side]["top10_share"].get<double>(), 0.0);
            EXPECT_LE(row[side]["top10_share"].get<double>(), 1.0);
        }
    const nlohmann::json& routability = (*s_json)["routability"];
    double previous = INFINITY;
    for (const nlohmann::json& ace : routability["ace"]) {
        EXPECT_LE(ace["value"].get<double>(), previous);  // a wider top has a lower mean
        previous = ace["value"].get<double>();
    }
    EXPECT_GE((*s_json)["avg_chip_utilization"]["above_0"].get<double>(), 0.0);
}

TEST_F(SampleRun, TextReportHoldsTheJsonNumbers)
{
    const std::string& text = s_result->out;
    EXPECT_TRUE(starts_with(text, "design picorv32_ex, grid 34 x 34 tiles\n"));
    EXPECT_NE(text.find("smoothing algorithm: " + (*s_json)["algorithm"].get<std::string>() + "\n"),
              std::string::npos);
    for (const nlohmann::json& resource : (*s_json)["resources"]) {
        const std::vector<std::string> fields = get_fields_after(text, resource["name"].get<std::string>() + " ");
        ASSERT_EQ(fields.size(), 6u) << resource["name"];
        const double total = resource["total_demand"].get<double>();
        EXPECT_NEAR(std::stod(fields[0]), total, std::abs(total) * TEXT_RELATIVE_PRECISION);
        const nlohmann::json& tile = resource["peak_tile"];
        EXPECT_EQ(fields[2], "(" + std::to_string(tile[0].get<int>()) + "," + std::to_string(tile[1].get<int>()) + ")");
    }
    for (const nlohmann::json& row : (*s_json)["accuracy"]["rows"]) {
        const std::string name = row["estimate"].get<std::string>() + " ~ " + row["truth"].get<std::string>() + " ";
        const std::vector<std::string> fields = get_fields_after(text, name);
        ASSERT_EQ(fields.size(), 6u) << name;
        int i = 0;
        for (const char* side : {"estimate_figures", "baseline_figures"})
            for (const char* figure : {"pearson", "spearman", "top10_share"})
                expect_text_number(fields[i++], row[side][figure], TEXT_FIGURE_PRECISION);
        const std::vector<std::string> sums = get_fields_after(text, name, 1);
        ASSERT_EQ(sums.size(), 3u) << name;
        const double routed = row["sums"]["routed"].get<double>();
        EXPECT_NEAR(std::stod(sums[2]), routed, routed * TEXT_RELATIVE_PRECISION);
    }
}

TEST_F(SampleRun, OneThreadGivesTheSameReport)
{
    SCRATCH_DIR dir;
    const fs::path json = dir.get_path() / "one.json";
    const TOOL_RESULT result = run_tool({SAMPLE_DESIGN, "--threads", "1", "--json", json.string()}, dir.get_path());
    ASSERT_EQ(result.exit_code, 0) << result.err;
    nlohmann::json one = nlohmann::json::parse(read_text(json));
    nlohmann::json many = *s_json;
    EXPECT_EQ(one["settings"]["threads"], 1);
    for (nlohmann::json* report : {&one, &many}) {
        report->erase("phases");
        (*report)["settings"].erase("threads");
    }
    EXPECT_EQ(one, many);
}

TEST_F(SampleRun, ReportsTheCookieOfTheWholeEstimate)
{
    const DESIGN design = read_design(SAMPLE_DESIGN);
    ESTIMATE_RUN run(design, ESTIMATE_OPTIONS(), 0.0);
    run.run();
    const unsigned long long cookie = run.get_estimator().get_cookie();
    EXPECT_EQ(run.get_report().cookie, cookie);
    char hex[sizeof "0123456789abcdef"];
    std::snprintf(hex, sizeof hex, "%016llx", cookie);
    EXPECT_EQ((*s_json)["cookie"], hex);
    EXPECT_NE(s_result->out.find(std::string("\nestimator cookie: ") + hex + "\n"), std::string::npos);
}

TEST_F(SampleRun, WithoutTimingsLeavesOutOnlyThePhaseTimesAndTheThreadCount)
{
    SCRATCH_DIR dir;
    const fs::path json = dir.get_path() / "bare.json";
    const TOOL_RESULT result = run_tool({SAMPLE_DESIGN, "--no-timings", "--json", json.string()}, dir.get_path());
    ASSERT_EQ(result.exit_code, 0) << result.err;
    nlohmann::json timed = *s_json;
    timed.erase("phases");
    timed["settings"].erase("threads");
    EXPECT_EQ(nlohmann::json::parse(read_text(json)), timed);

    // The text without ", threads N" and without the phase table, which
    // runs from its blank line to the blank line after its last row.
    std::string text = s_result->out;
    const std::string threads = ", threads " + std::to_string((*s_json)["settings"]["threads"].get<int>());
    const std::size_t threads_at = text.find(threads + "\n");
    ASSERT_NE(threads_at, std::string::npos);
    text.erase(threads_at, threads.size());
    const std::size_t table = text.find("\nphase ");
    ASSERT_NE(table, std::string::npos);
    text.erase(table, text.find("\n\n", table + 1) + 1 - table);
    EXPECT_EQ(result.out, text);
}

TEST(EstimateTool, WithoutRoutedTruthReportsNoAccuracy)
{
    SCRATCH_DIR dir;
    const fs::path design = dir.get_path() / "design";
    fs::create_directories(design);
    copy_sample_design(design);
    fs::remove(design / "routed.txt");
    const fs::path json = dir.get_path() / "report.json";
    const TOOL_RESULT result =
        run_tool({design.string(), "--model", "bbox", "--window", "4,2", "--uniform", "--policy", "overflow",
                  "--supply", "full", "--json", json.string(), "--heatmaps", (dir.get_path() / "maps").string()},
                 dir.get_path());
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.out.find("no routed.txt: no accuracy figures"), std::string::npos);
    const nlohmann::json report = nlohmann::json::parse(read_text(json));
    EXPECT_TRUE(report["accuracy"].is_null());
    EXPECT_EQ(report["settings"]["model"], "bbox");
    EXPECT_EQ(report["settings"]["window"], nlohmann::json({4, 2}));
    EXPECT_EQ(report["settings"]["uniform"], true);
    EXPECT_EQ(report["settings"]["supply"], "full");
    EXPECT_TRUE(starts_with(read_text(dir.get_path() / "maps" / "lab_input.png"), PNG_SIGNATURE));
}

// A bad run exits with `code`, says `phrase` on one line of standard error,
// prints no report and leaves no output file behind.
void expect_refused(const std::vector<std::string>& args, const SCRATCH_DIR& dir, int code, const std::string& phrase)
{
    std::vector<std::string> with_output = args;
    with_output.push_back("--json");
    with_output.push_back((dir.get_path() / "report.json").string());
    const TOOL_RESULT result = run_tool(with_output, dir.get_path());
    EXPECT_EQ(result.exit_code, code) << result.err;
    EXPECT_NE(result.err.find(phrase), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(fs::exists(dir.get_path() / "report.json"));
}

TEST(EstimateTool, RefusesBadInputWithOneSentence)
{
    SCRATCH_DIR dir;
    expect_refused({(dir.get_path() / "absent").string()}, dir, EXIT_BAD_INPUT, "is not a design folder");
    expect_refused({}, dir, EXIT_BAD_INPUT, "no design folder given");
    expect_refused({SAMPLE_DESIGN, "--window", "0,x"}, dir, EXIT_BAD_INPUT,
                   "the value 0 of --window is not between 1 and 255");
    expect_refused({SAMPLE_DESIGN, "--window", "3"}, dir, EXIT_BAD_INPUT, "is not PARALLEL,PERPENDICULAR");
    expect_refused({SAMPLE_DESIGN, "--window", "3,x"}, dir, EXIT_BAD_INPUT, "'x' of --window is not a whole number");
    expect_refused({SAMPLE_DESIGN, "--model", "maze"}, dir, EXIT_BAD_INPUT, "'maze' of --model is not path or bbox");
    expect_refused({SAMPLE_DESIGN, "--chunks", "-1"}, dir, EXIT_BAD_INPUT, "the value -1 of --chunks");
    expect_refused({SAMPLE_DESIGN, "--frobnicate"}, dir, EXIT_BAD_INPUT, "unrecognised option '--frobnicate'");

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
                   "congestion-estimate: --wirelength oracle needs the routed lengths of nets.txt, but " +
                       design.string() + " was placed and not routed (see --help).\n");
}

TEST(EstimateTool, RefusesAnOutputItCannotWriteBeforeAnyWork)
{
    SCRATCH_DIR dir;
    const TOOL_RESULT result =
        run_tool({SAMPLE_DESIGN, "--json", (dir.get_path() / "absent" / "report.json").string()}, dir.get_path());
    EXPECT_NE(result.exit_code, 0);
    EXPECT_NE(result.err.find("does not exist"), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(fs::exists(dir.get_path() / "absent"));
}

}  // namespace
