// End-to-end runs of congestion-estimate on the bundled design: outputs,
// agreement with an estimate made in this process, heatmaps, bad input, and
// what the tool writes where a path already holds something (a symbolic link,
// a FIFO, its own standard output, a full device, a folder in the way).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cairo.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <tbb/global_control.h>
#include <tbb/task_arena.h>

#include "tool_test_support.h"
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
constexpr double NO_SUPPLY = std::numeric_limits<double>::quiet_NaN();
// The heatmaps divide in double, the report's peaks in float.
constexpr double DIVISION_PRECISION = 1e-6;
constexpr int MANY_THREADS = 4096;

PROGRAM_RESULT run_tool(const std::vector<std::string>& args, const fs::path& dir, const std::string& stdout_path = "")
{
    return run_program(ESTIMATE_TOOL, args, dir, stdout_path);
}

bool starts_with(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The cookie of a JSON report, "" when the text is not one.
std::string get_cookie(const std::string& text)
{
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    return json.is_object() ? json.value("cookie", "") : "";
}

// One run of the tool with every output and one estimate with the default
// options made here, under a thread limit above the machine's cores, made
// once for the tests that read them.
struct SAMPLE_RUN {
    SCRATCH_DIR dir;
    PROGRAM_RESULT result;
    nlohmann::json json;
    DESIGN design = read_design(SAMPLE_DESIGN);
    ESTIMATE_RUN run{design, ESTIMATE_OPTIONS(), 0.0};
    std::string cookie;

    SAMPLE_RUN()
    {
        const fs::path path = dir.get_path();
        result = run_tool(
            {SAMPLE_DESIGN, "--json", (path / "report.json").string(), "--heatmaps", (path / "heatmaps").string(),
             "--dump", (path / "grids.txt").string(), "--dump-netlist", (path / "nets.txt").string()},
            path);
        json = nlohmann::json::parse(read_text(path / "report.json"), nullptr, false);
        cookie = get_cookie(read_text(path / "report.json"));
        const tbb::global_control limit(tbb::global_control::max_allowed_parallelism, MANY_THREADS);
        run.run();
    }
};

const SAMPLE_RUN& sample()
{
    static const SAMPLE_RUN run;
    return run;
}

TEST(SampleRun, SucceedsAndWritesEveryOutputCompletely)
{
    const SAMPLE_RUN& s = sample();
    ASSERT_EQ(s.result.exit_code, 0) << s.result.err;
    EXPECT_EQ(s.result.err, "");
    ASSERT_FALSE(s.json.is_discarded());
    const fs::path dir = s.dir.get_path();
    for (const char* stem : HEATMAP_STEMS)
        EXPECT_TRUE(starts_with(read_text(dir / "heatmaps" / (std::string(stem) + ".png")), PNG_SIGNATURE)) << stem;
    EXPECT_TRUE(starts_with(read_text(dir / "grids.txt"), "TOTAL UTILIZATION VALUES for H and V\n"));
    // The netlist dump starts with the number of nets handed to it.
    const std::vector<std::string> nets = read_lines(dir / "nets.txt");
    ASSERT_EQ(nets.size(), s.json["nets"]["estimated"].get<size_t>() + 1);
    EXPECT_EQ(nets[0], std::to_string(nets.size() - 1));
}

// The JSON's figures are the library's answers to its queries on the same
// estimate; the text report holds them, and both the cookie of the tool's
// own estimator.
TEST(SampleRun, ReportsHoldTheLibrarysFiguresAndTheCookie)
{
    const SAMPLE_RUN& s = sample();
    const CONGESTION& estimator = s.run.get_estimator();
    const ESTIMATE_OPTIONS options;
    const std::string& text = s.result.out;
    EXPECT_TRUE(starts_with(text, "design picorv32_ex, grid 34 x 34 tiles\n"));
    ASSERT_EQ(s.json["resources"].size(), static_cast<size_t>(CONGESTION::NUM_RESOURCE_TYPES));
    for (int t = 0; t < CONGESTION::NUM_RESOURCE_TYPES; ++t) {
        const nlohmann::json& resource = s.json["resources"][t];
        const auto type = static_cast<CONGESTION::RESOURCE_TYPE>(t);
        EXPECT_EQ(resource["name"], CONGESTION::get_string_for_resource_type(type));
        EXPECT_EQ(resource["total_demand"].get<float>(), estimator.get_total_demand(type));
        EXPECT_EQ(resource["total_overflow"].get<float>(), estimator.get_total_apl_style_congestion(type));
        const auto [peak, tile] = estimator.get_peak_utilization(options.peak_dim, type, false);
        EXPECT_EQ(resource["peak_utilization"].get<float>(), peak);
        EXPECT_EQ(resource["peak_tile"], (std::vector<int>{tile.x, tile.y}));
        // Each resource's line: its total demand with 6 significant digits.
        char line[160];
        std::snprintf(line, sizeof line, "\n%-18s %14.6g ", resource["name"].get<std::string>().c_str(),
                      resource["total_demand"].get<double>());
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(s.json["avg_chip_utilization"]["above_0"].get<float>(), estimator.get_avg_chip_utilization(0.0f));
    EXPECT_EQ(s.json["avg_chip_utilization"]["above_1"].get<float>(), estimator.get_avg_chip_utilization(1.0f));
    char hex[sizeof "0123456789abcdef"];
    std::snprintf(hex, sizeof hex, "%016llx", s.run.get_estimator().get_cookie());
    EXPECT_EQ(s.json["cookie"], hex);
    EXPECT_NE(text.find(std::string("\nestimator cookie: ") + hex + "\n"), std::string::npos);
}

// The smoothed peaks are the largest values of the single-type heatmaps; the
// routed panel of a heatmap is routed usage over the map's supply; the
// threads are those that could run.
TEST(SampleRun, HeatmapsShowTheSmoothedPeaksAndRoutedUsage)
{
    const SAMPLE_RUN& s = sample();
    const REPORT& report = s.run.get_report();
    EXPECT_EQ(report.threads, tbb::this_task_arena::max_concurrency());
    const std::vector<HEATMAP> heatmaps = s.run.get_heatmaps();
    ASSERT_EQ(heatmaps.size(), 7u);
    for (const TYPE_FIGURES& figures : report.types) {
        const std::string stem = HEATMAP_STEMS[figures.type == CONGESTION::LAB_INPUT ? 6 : figures.type];
        const auto heatmap =
            std::find_if(heatmaps.begin(), heatmaps.end(), [&](const HEATMAP& h) { return h.file_stem == stem; });
        ASSERT_NE(heatmap, heatmaps.end());
        const std::vector<double>& values = heatmap->panels[0].values;
        double largest = 0.0;
        for (double value : values)
            largest = std::isnan(value) ? largest : std::max(largest, value);
        const double tolerance = largest * DIVISION_PRECISION;
        EXPECT_NEAR(figures.smoothed_peak_utilization, largest, tolerance) << stem;
        const CONGESTION::LOC tile = figures.smoothed_peak_tile;
        EXPECT_NEAR(values[s.design.get_tile_index(tile.x, tile.y)], largest, tolerance) << stem;
    }

    const DESIGN& design = s.design;
    const HEATMAP& horizontal = heatmaps[4];
    EXPECT_EQ(horizontal.file_stem, "horizontal");
    ASSERT_EQ(horizontal.panels.size(), 2u);
    int compared = 0;
    for (size_t tile = 0; tile < design.get_num_tiles(); ++tile) {
        const int x = static_cast<int>(tile % design.nx), y = static_cast<int>(tile / design.nx);
        const double supply = static_cast<double>(s.run.get_estimator().get_supply(x, y, CONGESTION::HORIZONTAL_LEFT)) +
                              s.run.get_estimator().get_supply(x, y, CONGESTION::HORIZONTAL_RIGHT);
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

// The pixel values of a large grid: 5 by 3 tiles, 2 tiles to a pixel side,
// 3 by 2 pixels, each the largest of its tiles.
//   y=2:  NaN NaN  7  NaN  1
//   y=1:   1   2  NaN NaN NaN
//   y=0:   0   3   4   5  NaN
TEST(Heatmap, EachPixelShowsTheLargestOfItsTiles)
{
    const std::vector<double> tiles = {0,         3,         4,         5,         NO_SUPPLY, 1,         2, NO_SUPPLY,
                                       NO_SUPPLY, NO_SUPPLY, NO_SUPPLY, NO_SUPPLY, 7,         NO_SUPPLY, 1};
    const std::vector<double> pixels = get_pixel_values(tiles, 5, 3, 2);
    ASSERT_EQ(pixels.size(), 6u);
    EXPECT_EQ(pixels[0], 3.0);
    EXPECT_EQ(pixels[1], 5.0);
    EXPECT_TRUE(std::isnan(pixels[2]));
    EXPECT_TRUE(std::isnan(pixels[3]));
    EXPECT_EQ(pixels[4], 7.0);
    EXPECT_EQ(pixels[5], 1.0);
}

// A 3 by 1 map of 0, the largest value and no supply: the tiles show the two
// ends of the colour scale and the grey of tiles without supply. The widest
// grid the reader accepts, in a pair of panels, is capped in size.
TEST(Heatmap, ColoursRunFromTheLowEndToTheHighEndAndTheSizeIsCapped)
{
    SCRATCH_DIR dir;
    const std::string path = (dir.get_path() / "map.png").string();
    write_heatmap_png(path, 3, 1, HEATMAP{"map", "map", {TILE_MAP{"map", {0.0, 2.5, NO_SUPPLY}}}},
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

    const int nx = MAX_GRID_SIDE;
    const int ny = 3;
    write_heatmap_png(
        path, nx, ny,
        {"wide",
         "wide: a pair",
         {{"estimate", std::vector<double>(nx * ny, 1.0)}, {"routed", std::vector<double>(nx * ny, 0.5)}}},
        HEATMAP_SCALE::SHARED);
    image = cairo_image_surface_create_from_png(path.c_str());
    ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
    EXPECT_LE(cairo_image_surface_get_width(image), MAX_HEATMAP_SIDE);
    EXPECT_LE(cairo_image_surface_get_height(image), MAX_HEATMAP_SIDE);
    cairo_surface_destroy(image);
}

TEST(Heatmap, PanelsOfAPairShareOneScaleUnlessToldOtherwiseAndAZeroMapSaysSo)
{
    const HEATMAP pair{"pair", "pair", {{"estimate", {0.0, 2.0, NO_SUPPLY}}, {"routed", {1.0, 0.5, NO_SUPPLY}}}};
    EXPECT_EQ(get_scale_tops(pair, HEATMAP_SCALE::SHARED), (std::vector<double>{2.0, 2.0}));
    EXPECT_EQ(get_scale_tops(pair, HEATMAP_SCALE::SEPARATE), (std::vector<double>{2.0, 1.0}));
    EXPECT_EQ(get_legend_labels(2.0), (std::vector<std::string>{"0", "0.5", "1", "1.5", "2"}));
    EXPECT_EQ(get_legend_labels(0.0), std::vector<std::string>{"0 everywhere"});
}

// Without routed truth, timings or wire supply (every tile's h4, h12, v4 and
// v12 set to 0; routed usage cannot exceed that supply, so routed.txt goes),
// and with a doubtful algorithm switch: no accuracy figures, no phase times,
// and two warnings.
TEST(EstimateTool, WithoutRoutedTruthTimingsOrWireSupply)
{
    SCRATCH_DIR dir;
    const fs::path design = dir.get_path() / "design";
    copy_sample_design(design);
    fs::remove(design / "routed.txt");
    std::vector<std::string> tiles = read_lines(design / "tiles.txt");
    for (std::size_t i = 2; i < tiles.size(); ++i) {
        std::istringstream fields(tiles[i]);
        std::string x, y, kind, h4, h12, v4, v12, lab_in;
        fields >> x >> y >> kind >> h4 >> h12 >> v4 >> v12 >> lab_in;
        tiles[i] = x + " " + y + " " + kind + " 0 0 0 0 " + lab_in;
    }
    write_lines(design / "tiles.txt", tiles);
    const fs::path json = dir.get_path() / "report.json";
    const char* previous = std::getenv("congestion_use_orig");
    const std::string algorithm = previous != nullptr ? previous : "";
    ::setenv("congestion_use_orig", "maybe", 1);
    const PROGRAM_RESULT result =
        run_tool({design.string(), "--model", "bbox", "--window", "4,2", "--uniform", "--policy", "overflow",
                  "--supply", "full", "--no-timings", "--json", json.string()},
                 dir.get_path());
    if (previous != nullptr)
        ::setenv("congestion_use_orig", algorithm.c_str(), 1);
    else
        ::unsetenv("congestion_use_orig");
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.err,
              "congestion-estimate: warning: congestion_use_orig=maybe is neither on (1, on, true, yes) "
              "nor off (0, off, false, no); the new smoothing algorithm is used.\n"
              "congestion-estimate: warning: no tile of " +
                  (design / "tiles.txt").string() +
                  " has wire supply (h4, h12, v4 and v12 are 0 everywhere), so the wire utilization "
                  "figures mean nothing.\n");
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

    // Placed only: every routed length unknown, and flag 4 never set.
    const fs::path design = dir.get_path() / "design";
    copy_sample_design(design);
    std::vector<std::string> nets = read_lines(design / "nets.txt");
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

// Every name under `dir`, relative to it, sorted.
std::vector<std::string> list_tree(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        names.push_back(entry.path().lexically_relative(dir).string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ToolOutputs, ASymbolicLinkIsFollowedAndTheFileItReplacesKeepsItsPermissions)
{
    const SAMPLE_RUN& s = sample();
    const SCRATCH_DIR dir;
    const auto at = [&](const char* name) { return dir.get_path() / name; };
    write_lines(at("target.json"), {"old"});
    fs::permissions(at("target.json"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("target.json", at("link.json"));
    const PROGRAM_RESULT result = run_tool({SAMPLE_DESIGN, "--json", at("link.json").string()}, dir.get_path());
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(fs::is_symlink(at("link.json")));
    EXPECT_EQ(get_cookie(read_text(at("target.json"))), s.cookie);
    EXPECT_EQ(fs::status(at("target.json")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(list_tree(dir.get_path()), (std::vector<std::string>{"link.json", "target.json"}));
}

TEST(ToolOutputs, StreamsAreWrittenDirectly)
{
    const SAMPLE_RUN& s = sample();
    const SCRATCH_DIR dir;
    const auto at = [&](const char* name) { return dir.get_path() / name; };
    // A FIFO with a reader stays a FIFO and carries the report.
    ASSERT_EQ(::mkfifo(at("fifo").c_str(), S_IRUSR | S_IWUSR), 0);
    std::string received;
    std::thread reader([&] { received = read_text(at("fifo")); });
    const PROGRAM_RESULT result = run_tool({SAMPLE_DESIGN, "--json", at("fifo").string()}, dir.get_path());
    // Should the tool never have opened the FIFO, this releases the reader.
    const int release = ::open(at("fifo").c_str(), O_WRONLY | O_NONBLOCK);
    if (release >= 0)
        ::close(release);
    reader.join();
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(fs::is_fifo(at("fifo")));
    EXPECT_EQ(get_cookie(received), s.cookie);

    // Standard output by both its names, here redirected to a regular file
    // that must not be renamed over: the JSON takes the text report's place.
    for (const char* name : {"-", "/dev/stdout"}) {
        const PROGRAM_RESULT named = run_tool({SAMPLE_DESIGN, "--json", name}, dir.get_path());
        EXPECT_EQ(named.exit_code, 0) << named.err;
        EXPECT_EQ(get_cookie(named.out), s.cookie) << name;
    }
}

// A failed run exits with 1 and one sentence that says what had already been
// written; nothing staged stays behind.
TEST(ToolOutputs, AFailedOutputSaysWhatWasAlreadyWritten)
{
    const SCRATCH_DIR dir;
    const auto at = [&](const char* name) { return dir.get_path() / name; };
    fs::create_directories(at("blocked/vertical.png/occupied"));
    const std::string maps = at("maps").string();
    const std::string blocked = at("blocked").string();
    struct CASE {
        std::vector<std::string> args;
        std::string stdout_path;
        std::string message;
        std::vector<std::string> left;  // what the scratch folder holds afterwards
    };
    const CASE cases[] = {
        {{}, "/dev/full", "cannot write standard output: No space left on device; no output was written.", {}},
        {{"--heatmaps", maps, "--json", "/dev/full"},
         "",
         "cannot write /dev/full: No space left on device; already written: the heatmaps in " + maps +
             " and the report on standard output.",
         {"maps", "maps/horizontal.png", "maps/horizontal_left.png", "maps/horizontal_right.png", "maps/lab_input.png",
          "maps/vertical.png", "maps/vertical_down.png", "maps/vertical_up.png"}},
        {{"--json", at("report.json").string(), "--heatmaps", blocked},
         "",
         "cannot write " + blocked + "/vertical.png: it is a directory; no output was written.",
         {}},
    };
    for (const CASE& c : cases) {
        std::vector<std::string> args = {SAMPLE_DESIGN};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const PROGRAM_RESULT result = run_tool(args, dir.get_path(), c.stdout_path);
        EXPECT_EQ(result.exit_code, EXIT_OUTPUT_FAILED) << c.message;
        EXPECT_EQ(result.err, "congestion-estimate: " + c.message + "\n");
        std::vector<std::string> left = {"blocked", "blocked/vertical.png", "blocked/vertical.png/occupied"};
        left.insert(left.end(), c.left.begin(), c.left.end());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(list_tree(dir.get_path()), left) << c.message;
        fs::remove_all(maps);
    }
}

// The 4 x 3 directional design of the test support: each accuracy row sets
// the estimate of some directions against the routed usage of the same
// directions, the baseline spreads the nets' boxes as on any design, the
// heatmaps are drawn, and --supply is refused. (That its supply is used as it
// is shows in the Python suite, whose estimate from the design's columns
// must give the tool's cookie.)
TEST(DirectionalDesign, SupplyIsUsedAsItIsAndRowsCompareLikeWithLike)
{
    SCRATCH_DIR dir;
    const fs::path folder = dir.get_path() / "design";
    write_directional_design(folder);
    const fs::path json_path = dir.get_path() / "report.json";
    const PROGRAM_RESULT result =
        run_tool({folder.string(), "--json", json_path.string(), "--heatmaps", (dir.get_path() / "png").string()},
                 dir.get_path());
    ASSERT_EQ(result.exit_code, 0) << result.err;
    for (const char* stem : HEATMAP_STEMS)
        EXPECT_TRUE(starts_with(read_text(dir.get_path() / "png" / (std::string(stem) + ".png")), PNG_SIGNATURE));
    const nlohmann::json report = nlohmann::json::parse(read_text(json_path));
    EXPECT_EQ(report["settings"]["supply"], "directional");

    // Table columns: right 0, left 1, up 2, down 3, lab_in 4. Baseline: the
    // nets' widths 1, 1, 3, 0 and heights 0, 1, 0, 2, and their 9 pins, all
    // in tiles with wire supply.
    struct ROW {
        const char* estimate;
        const char* truth;
        std::vector<int> columns;
        double baseline_sum;
    };
    const ROW rows[] = {
        {"HORIZONTAL_LEFT", "left", {1}, 5.0},
        {"HORIZONTAL_RIGHT", "right", {0}, 5.0},
        {"VERTICAL_UP", "up", {2}, 3.0},
        {"VERTICAL_DOWN", "down", {3}, 3.0},
        {"H (left+right)", "right+left", {0, 1}, 5.0},
        {"V (up+down)", "up+down", {2, 3}, 3.0},
        {"all wires", "right+left+up+down", {0, 1, 2, 3}, 8.0},
        {"LAB_INPUT", "lab_in", {4}, 9.0},
    };
    const nlohmann::json& accuracy = report["accuracy"]["rows"];
    ASSERT_EQ(accuracy.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const ROW& row = rows[i];
        int truth = 0;
        for (int tile = 0; tile < DIRECTIONAL_TILES; ++tile) {
            const auto& supply = DIRECTIONAL_SUPPLY[tile];
            if (supply[0] + supply[1] + supply[2] + supply[3] > 0)
                for (int column : row.columns)
                    truth += DIRECTIONAL_USAGE[tile][column];
        }
        EXPECT_EQ(accuracy[i]["estimate"], row.estimate);
        EXPECT_EQ(accuracy[i]["truth"], row.truth);
        EXPECT_EQ(accuracy[i]["sums"]["routed"].get<double>(), truth) << row.truth;
        EXPECT_NEAR(accuracy[i]["sums"]["baseline"].get<double>(), row.baseline_sum, 1e-12) << row.truth;
    }

    expect_refused({folder.string(), "--supply", "half"}, dir, EXIT_BAD_INPUT,
                   "--supply does not apply to " + folder.string() +
                       ", whose tiles.txt gives the supply per direction, used as it is (see --help).");
}

}  // namespace
