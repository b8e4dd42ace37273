// congestion-place: refines the placement of a placed generic design folder
// to relieve the routing congestion a map of it shows, and writes the
// refined design folder.
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <signal.h>
#include <unistd.h>

#include <boost/program_options.hpp>
#include <tbb/global_control.h>

#include "front_end/command_line.h"
#include "front_end/design_reader.h"
#include "front_end/interrupts.h"
#include "front_end/output_file.h"
#include "front_end/progress.h"
#include "placer/anneal.h"
#include "placer/congestion_map.h"
#include "placer/placed_design.h"
#include "placer/placement.h"
#include "placer/refined_folder.h"

namespace po = boost::program_options;
namespace fs = std::filesystem;

namespace {

constexpr const char* PROGRAM = "congestion-place";
constexpr int MAX_THREADS = 4096;
constexpr long long MAX_SEED = 0xFFFFFFFFLL;
constexpr double MAX_WEIGHT = 1000.0;
constexpr double MAX_EFFORT = 1000.0;
constexpr double MAX_START_TEMPERATURE = 1000.0;
constexpr const char* REFRESH_EVERY_TEMPERATURE = "temperature";

struct COMMAND_LINE {
    std::string folder;
    std::string out;
    MAP_KIND map = MAP_KIND::ESTIMATE;
    double threshold = DEFAULT_CONGESTION_THRESHOLD;
    ANNEAL_OPTIONS anneal;
    int threads = 0;
    bool quiet = false;
};

const char* get_map_word(MAP_KIND map) { return map == MAP_KIND::BOXES ? "boxes" : "estimate"; }

double parse_number(const std::string& text, const std::string& option, double minimum, double maximum,
                    bool above_minimum)
{
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() || !std::isfinite(value))
        throw USAGE_ERROR("the value '" + text + "' of " + option + " is not a number");
    if (value < minimum || (above_minimum && value == minimum) || value > maximum) {
        std::ostringstream range;
        range << (above_minimum ? "above " : "from ") << minimum << (above_minimum ? " and at most " : " to ")
              << maximum;
        throw USAGE_ERROR("the value " + text + " of " + option + " is not " + range.str());
    }
    return value;
}

std::string format_number(double value)
{
    std::ostringstream text;
    text << value;
    return text.str();
}

po::options_description get_option_descriptions(const ANNEAL_OPTIONS& d)
{
    po::options_description options("Options");
    options.add_options()("help,h", "print this help and exit")(
        "version", "print the version of the program and its library and exit")(
        "quiet,q", "show no progress on standard error (shown only when it is a terminal)")(
        "out", po::value<std::string>(), "the design folder to write (required; created when missing)")(
        "map", po::value<std::string>()->default_value("estimate"),
        "the congestion map that steers the pass: estimate (the library's estimate of the placement) or boxes "
        "(the routability verdict's net boxes)")(
        "congestion-weight", po::value<std::string>()->default_value(format_number(d.congestion_weight)),
        "how much a net's box costs more per unit of the map's congestion over it (0 to 1000; 0 for wire length "
        "alone)")(
        "congestion-threshold", po::value<std::string>()->default_value(format_number(DEFAULT_CONGESTION_THRESHOLD)),
        "the share of the starting placement's average utilization above which the map counts congestion (0 to "
        "1000)")("effort", po::value<std::string>()->default_value(format_number(d.effort)),
                 "moves per temperature, times the movable cells to the power 4/3 (above 0, at most 1000)")(
        "start-temperature", po::value<std::string>()->default_value(format_number(d.start_temperature)),
        "the first temperature, times the spread of the cost changes of random moves (above 0, at most 1000)")(
        "refresh", po::value<std::string>()->default_value(REFRESH_EVERY_TEMPERATURE),
        "when the map is made again: every temperature, or every N moves")(
        "seed", po::value<std::string>()->default_value(std::to_string(d.seed)), "seed of the moves (0 to 4294967295)")(
        "threads", po::value<std::string>()->default_value("0"), "worker threads of the library, 0 for all cores");
    return options;
}

std::string get_usage(const po::options_description& options)
{
    std::ostringstream usage;
    usage
        << "Usage: " << PROGRAM << " FOLDER --out NEW [options]\n"
        << "Refines the placement of a placed generic design folder (written by congestion-import --arch generic)\n"
        << "so that the routing congestion a map of it shows is relieved, and writes the design folder NEW with\n"
        << "the refined placement: placed and not routed, for congestion-import --reroute NEW --tracks ...\n"
        << "Slices move, swapped or into free slice bels; I/O cells stay where they are. The same inputs, options\n"
        << "and seed give the same folder whatever the number of threads. NEW is written completely or not at all.\n\n"
        << options << "\nExit status:\n"
        << "  " << EXIT_SUCCESS << "  the refined folder was written\n"
        << "  " << EXIT_OUTPUT_FAILED << "  the folder could not be written (the message says what was)\n"
        << "  " << EXIT_BAD_INPUT << "  the command line or the design folder is wrong (the message says where)\n"
        << "  " << EXIT_INTERRUPTED + SIGINT << ", " << EXIT_INTERRUPTED + SIGTERM
        << "  interrupted by Ctrl-C (SIGINT) or SIGTERM; what was not yet written is removed\n";
    return usage.str();
}

// The parsed command line, or nothing when help or the version was printed.
std::optional<COMMAND_LINE> parse_command_line(int argc, char** argv)
{
    const ANNEAL_OPTIONS defaults;
    const std::optional<FOLDER_COMMAND_LINE> parsed =
        parse_folder_command_line(argc, argv, PROGRAM, get_option_descriptions(defaults), get_usage);
    if (!parsed)
        return std::nullopt;
    const po::variables_map& values = parsed->values;
    COMMAND_LINE line;
    line.folder = parsed->folder;
    if (values.count("out") == 0)
        throw USAGE_ERROR("--out NEW is missing: the folder to write the refined design into");
    line.out = values["out"].as<std::string>();
    if (line.out.empty() || line.out[0] == '-')
        throw USAGE_ERROR("the value '" + line.out + "' of --out is not a folder name" +
                          (line.out.empty() ? "" : " (write ./" + line.out + " for a folder of that name)"));
    const auto text = [&](const char* name) { return values[name].as<std::string>(); };
    const std::string map = text("map");
    if (map != "estimate" && map != "boxes")
        throw USAGE_ERROR("the value '" + map + "' of --map is not estimate or boxes");
    line.map = map == "boxes" ? MAP_KIND::BOXES : MAP_KIND::ESTIMATE;
    ANNEAL_OPTIONS& a = line.anneal;
    a.congestion_weight = parse_number(text("congestion-weight"), "--congestion-weight", 0.0, MAX_WEIGHT, false);
    line.threshold = parse_number(text("congestion-threshold"), "--congestion-threshold", 0.0, MAX_WEIGHT, false);
    a.effort = parse_number(text("effort"), "--effort", 0.0, MAX_EFFORT, true);
    a.start_temperature =
        parse_number(text("start-temperature"), "--start-temperature", 0.0, MAX_START_TEMPERATURE, true);
    const std::string refresh = text("refresh");
    if (refresh != REFRESH_EVERY_TEMPERATURE) {
        if (refresh.empty() || !std::isdigit(static_cast<unsigned char>(refresh[0])))
            throw USAGE_ERROR("the value '" + refresh + "' of --refresh is not temperature or a number of moves");
        a.refresh_moves = parse_whole<long long>(refresh, "--refresh", 1, std::numeric_limits<int>::max());
    }
    a.seed = static_cast<std::uint64_t>(parse_whole<long long>(text("seed"), "--seed", 0, MAX_SEED));
    line.threads = static_cast<int>(parse_whole<long long>(text("threads"), "--threads", 0, MAX_THREADS));
    line.quiet = values.count("quiet") != 0;
    std::error_code error;
    if (fs::exists(line.out, error) && fs::exists(line.folder, error) && fs::equivalent(line.out, line.folder, error))
        throw USAGE_ERROR("--out " + line.out + " is the design folder itself: give another folder");
    return line;
}

// The settings NEW's meta.txt records beside FOLDER's name.
META get_meta_entries(const COMMAND_LINE& line, const PLACED_DESIGN& placed)
{
    const ANNEAL_OPTIONS& a = line.anneal;
    return {{"refined_from", find_meta(placed.meta, "design").value_or(fs::path(line.folder).filename().string())},
            {"place_map", get_map_word(line.map)},
            {"place_congestion_weight", format_number(a.congestion_weight)},
            {"place_congestion_threshold", format_number(line.threshold)},
            {"place_effort", format_number(a.effort)},
            {"place_start_temperature", format_number(a.start_temperature)},
            {"place_refresh", a.refresh_moves > 0 ? std::to_string(a.refresh_moves) : REFRESH_EVERY_TEMPERATURE},
            {"place_seed", std::to_string(a.seed)},
            {"place_version", CONGESTION_VERSION}};
}

int count_moved_cells(const PLACEMENT& placement)
{
    int moved = 0;
    for (int cell = 0; cell < placement.get_placed().get_num_cells(); ++cell)
        moved += !(placement.get_bel(cell) == placement.get_placed().cell_bels[static_cast<std::size_t>(cell)]);
    return moved;
}

int run_pass(const COMMAND_LINE& line)
{
    check_output_folder(line.out, "the refined design");
    std::unique_ptr<tbb::global_control> threads;
    if (line.threads > 0)
        threads = std::make_unique<tbb::global_control>(tbb::global_control::max_allowed_parallelism,
                                                        static_cast<std::size_t>(line.threads));
    PROGRESS progress(!line.quiet && ::isatty(STDERR_FILENO) == 1, PROGRAM, std::cerr);
    const INTERRUPTS interrupts(PROGRAM, progress);
    const auto start = std::chrono::steady_clock::now();
    progress.begin("read design");
    const PLACED_DESIGN placed = read_placed_design(line.folder);
    progress.begin("refine");
    PLACEMENT placement(placed);
    const std::unique_ptr<CONGESTION_MAP> map = make_congestion_map(line.map, placement, line.threshold);
    const ANNEAL_RESULT result =
        anneal(placement, *map, line.anneal, [&](const TEMPERATURE_STEP&) { progress.add_step(); });
    progress.begin("write folder");
    OUTPUT_SET outputs;
    stage_refined_folder(outputs, line.out, placement, get_meta_entries(line, placed));
    progress.end();
    outputs.commit();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double change = result.start_wirelength > 0.0
                              ? 100.0 * (result.end_wirelength - result.start_wirelength) / result.start_wirelength
                              : 0.0;
    std::cout << PROGRAM << ": wrote " << line.out << " (" << count_moved_cells(placement) << " of "
              << placement.get_movable_cells().size() << " slices moved, box wire length " << std::fixed
              << std::setprecision(1) << std::showpos << change << std::noshowpos << " %; " << result.temperatures
              << " temperatures, " << result.moves << " moves; the map (" << get_map_word(line.map) << ") made "
              << result.refreshes << " times in " << std::setprecision(3) << result.refresh_seconds << " s, "
              << std::setprecision(0)
              << (result.refresh_seconds > 0.0 ? result.refreshes / result.refresh_seconds : 0.0) << " a second; "
              << std::setprecision(2) << seconds << " s in all)\n";
    return EXIT_SUCCESS;
}

}  // namespace

int main(int argc, char** argv)
{
    return run_main(PROGRAM, [&] {
        const std::optional<COMMAND_LINE> line = parse_command_line(argc, argv);
        return line ? run_pass(*line) : EXIT_SUCCESS;
    });
}
