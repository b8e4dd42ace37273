// congestion-estimate: runs the congestion estimate of a placed-and-routed
// design folder, prints the report and writes the requested outputs.
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <optional>
#include <string>
#include <vector>

#include <signal.h>
#include <unistd.h>

#include <boost/program_options.hpp>
#include <tbb/global_control.h>

#include "front_end/command_line.h"
#include "front_end/design_reader.h"
#include "host/zol_cfg_ini.h"
#include "tools/estimate.h"
#include "tools/grid_files.h"
#include "tools/heatmap.h"
#include "front_end/interrupts.h"
#include "tools/option_words.h"
#include "front_end/output_file.h"
#include "front_end/progress.h"
#include "tools/report.h"

namespace po = boost::program_options;

namespace {

constexpr const char* PROGRAM = "congestion-estimate";
constexpr int EXIT_UNROUTABLE = 3;
constexpr int MAX_WINDOW = 255;
constexpr int MAX_CHUNKS = 4096;
constexpr int MAX_THREADS = 4096;
constexpr int JSON_INDENT = 2;
constexpr const char* STANDARD_OUTPUT = "-";
constexpr const char* ALGORITHM_SWITCH = "congestion_use_orig";

struct COMMAND_LINE {
    std::string design_dir;
    ESTIMATE_OPTIONS options;
    bool supply_given = false;  // --supply on the command line, not its default
    int threads = 0;
    bool timings = true;
    bool quiet = false;
    bool fail_if_unroutable = false;
    std::string json_path;
    std::string heatmap_dir;
    std::string grids_dir;
    std::string dump_path;
    std::string dump_netlist_path;
    HEATMAP_SCALE heatmap_scale = HEATMAP_SCALE::SHARED;
};

void warn(const std::string& what) { std::cerr << PROGRAM << ": warning: " << what << "\n"; }

// The value of the table's word that `text` is.
template <typename VALUE, std::size_t N>
VALUE parse_word(const std::string& text, const std::string& option, const OPTION_WORD<VALUE> (&table)[N])
{
    for (const OPTION_WORD<VALUE>& entry : table)
        if (text == entry.word)
            return entry.value;
    std::string list;
    for (const OPTION_WORD<VALUE>& entry : table)
        list += (list.empty() ? "" : " or ") + std::string(entry.word);
    throw USAGE_ERROR("the value '" + text + "' of " + option + " is not " + list);
}

po::options_description get_option_descriptions(const ESTIMATE_OPTIONS& d)
{
    const std::string window = std::to_string(d.parallel_dim) + "," + std::to_string(d.perpendicular_dim);
    po::options_description options("Options");
    options.add_options()("help,h", "print this help and exit")(
        "version", "print the version of the tool and its library and exit")(
        "quiet,q", "show no progress on standard error (shown only when it is a terminal)")(
        "model", po::value<std::string>()->default_value(get_model_word(d.model)),
        "net model: path (pin-based crossing probabilities) or bbox (box and wire length spread by supply)")(
        "window", po::value<std::string>()->default_value(window),
        "smoothing window PARALLEL,PERPENDICULAR in tiles along and across each wire direction (1..255)")(
        "uniform", po::value<std::string>()->default_value(get_word(YES_NO_WORDS, d.uniform))->implicit_value("yes"),
        "smooth demand uniformly over the window (yes or no; --uniform alone means yes)")(
        "policy", po::value<std::string>()->default_value(get_policy_word(d.policy)),
        "congestion value of a tile: ratio (smoothed demand over smoothed supply, 0 without supply) or "
        "overflow (smoothed demand minus smoothed supply, not below 0)")(
        "supply", po::value<std::string>()->default_value(get_supply_word(d.supply)),
        "wire supply per direction: half ((h4+h12)/2 left and right, (v4+v12)/2 up and down) or full "
        "(all the wires in each direction); Lab Input supply is lab_in. A directional design's supply "
        "per direction is used as it is, and --supply is refused on it")(
        "wirelength", po::value<std::string>()->default_value(get_wirelength_word(d.wirelength)),
        "wire-length estimate of the bbox model: hpwl (box width and height) or oracle (the routed lengths "
        "routed_x, routed_y: uses the routing result, for comparison only)")(
        "peak-window", po::value<std::string>()->default_value(std::to_string(d.peak_dim)),
        "square window of the peak-utilization search, in tiles (1..255)")(
        "chunks", po::value<std::string>()->default_value(std::to_string(d.num_chunks)),
        "chunks of the library's chunked parallel loops (1..4096)")(
        "threads", po::value<std::string>()->default_value("0"), "worker threads, 0 for all cores")(
        "no-timings",
        "leave the phase times and the thread count out of the report and the JSON, so that "
        "the outputs of two runs can be compared byte for byte")(
        "fail-if-unroutable",
        "exit with status 3, once every output is written, when the routability verdict is \"does not route\"")(
        "json", po::value<std::string>(), "write the whole report as JSON to FILE (- for standard output)")(
        "heatmaps", po::value<std::string>(), "write PNG heatmaps into the folder DIR (created if missing)")(
        "grids", po::value<std::string>(),
        "write every per-tile map as a NumPy .npy file, with the index grids.json, into the folder DIR (created if "
        "missing)")(
        "heatmap-scale", po::value<std::string>()->default_value(get_word(HEATMAP_SCALE_WORDS, HEATMAP_SCALE::SHARED)),
        "colour scale of the estimate and routed panels of a heatmap: shared (equal colours are equal values) "
        "or separate (each panel from 0 to its own largest value)")(
        "dump", po::value<std::string>(), "write the library's grid dump to FILE (- for standard output)")(
        "dump-netlist", po::value<std::string>(),
        "write the library's dump of the estimated nets to FILE (- for standard output)");
    return options;
}

std::string get_usage(const po::options_description& options)
{
    std::ostringstream usage;
    usage << "Usage: " << PROGRAM << " DESIGN_DIR [options]\n"
          << "Estimates the routing congestion of a placed design (tiles.txt, nets.txt) and, when routed.txt\n"
          << "is present, compares the estimate and a plain bounding-box baseline with the routed usage.\n"
          << "The environment variable congestion_use_orig=1 selects the original smoothing algorithm.\n"
          << "Outputs are written completely or not at all: a symbolic link is followed and its target replaced,\n"
          << "a replaced file keeps its permissions, and standard output, FIFOs and devices are written directly.\n"
          << "When an output goes to standard output, the text report is left out.\n\n"
          << options << "\nExit status:\n"
          << "  " << EXIT_SUCCESS << "  the estimate was made and every output written\n"
          << "  " << EXIT_OUTPUT_FAILED << "  an output could not be written (the message says which were)\n"
          << "  " << EXIT_BAD_INPUT << "  the command line or the design is wrong (the message says where)\n"
          << "  " << EXIT_UNROUTABLE
          << "  with --fail-if-unroutable: the routability verdict is \"does not route\" (every output written)\n"
          << "  " << EXIT_INTERRUPTED + SIGINT << ", " << EXIT_INTERRUPTED + SIGTERM
          << "  interrupted by Ctrl-C (SIGINT) or SIGTERM, whenever it came: the message says which outputs\n"
          << "      were written (none while they are staged)\n";
    return usage.str();
}

// The parsed command line, or nothing when help or the version was printed.
std::optional<COMMAND_LINE> parse_command_line(int argc, char** argv)
{
    const ESTIMATE_OPTIONS defaults;
    const std::optional<FOLDER_COMMAND_LINE> parsed =
        parse_folder_command_line(argc, argv, PROGRAM, get_option_descriptions(defaults), get_usage);
    if (!parsed)
        return std::nullopt;
    const po::variables_map& values = parsed->values;
    COMMAND_LINE line;
    line.design_dir = parsed->folder;
    const auto text = [&](const char* name) { return values[name].as<std::string>(); };
    ESTIMATE_OPTIONS& o = line.options;
    o.model = parse_word(text("model"), "--model", MODEL_WORDS);
    const std::string window = text("window");
    const std::size_t comma = window.find(',');
    if (comma == std::string::npos || window.find(',', comma + 1) != std::string::npos)
        throw USAGE_ERROR("the value '" + window + "' of --window is not two numbers PARALLEL,PERPENDICULAR");
    o.parallel_dim = parse_whole<int>(window.substr(0, comma), "--window", 1, MAX_WINDOW);
    o.perpendicular_dim = parse_whole<int>(window.substr(comma + 1), "--window", 1, MAX_WINDOW);
    o.uniform = parse_word(text("uniform"), "--uniform", YES_NO_WORDS);
    o.policy = parse_word(text("policy"), "--policy", POLICY_WORDS);
    o.supply = parse_word(text("supply"), "--supply", SUPPLY_WORDS);
    line.supply_given = !values["supply"].defaulted();
    o.wirelength = parse_word(text("wirelength"), "--wirelength", WIRELENGTH_WORDS);
    o.peak_dim = parse_whole<int>(text("peak-window"), "--peak-window", 1, MAX_WINDOW);
    o.num_chunks = parse_whole<int>(text("chunks"), "--chunks", 1, MAX_CHUNKS);
    line.threads = parse_whole<int>(text("threads"), "--threads", 0, MAX_THREADS);
    line.timings = values.count("no-timings") == 0;
    line.quiet = values.count("quiet") != 0;
    line.fail_if_unroutable = values.count("fail-if-unroutable") != 0;
    line.heatmap_scale = parse_word(text("heatmap-scale"), "--heatmap-scale", HEATMAP_SCALE_WORDS);
    // A value such as "--no-timings" after "--json" is an option left
    // without its value, not a file name.
    const auto path_text = [&](const char* name) {
        if (values.count(name) == 0)
            return std::string();
        const std::string path = values[name].as<std::string>();
        if (path.empty())
            throw USAGE_ERROR(std::string("--") + name + " needs a file name");
        if (path[0] == '-' && path != STANDARD_OUTPUT)
            throw USAGE_ERROR("the value '" + path + "' of --" + name + " is not a file name (write ./" + path +
                              " for a file of that name)");
        return path;
    };
    line.json_path = path_text("json");
    line.heatmap_dir = path_text("heatmaps");
    line.grids_dir = path_text("grids");
    line.dump_path = path_text("dump");
    line.dump_netlist_path = path_text("dump-netlist");
    for (const auto& [name, dir] : {std::pair{"--heatmaps", &line.heatmap_dir}, std::pair{"--grids", &line.grids_dir}})
        if (*dir == STANDARD_OUTPUT)
            throw USAGE_ERROR(std::string(name) + " needs a folder, not standard output");
    const std::pair<const char*, const std::string*> outputs[] = {
        {"--json", &line.json_path}, {"--dump", &line.dump_path}, {"--dump-netlist", &line.dump_netlist_path}};
    for (std::size_t i = 0; i < std::size(outputs); ++i)
        for (std::size_t j = i + 1; j < std::size(outputs); ++j)
            if (!outputs[i].second->empty() && !outputs[j].second->empty() &&
                get_output_target(*outputs[i].second) == get_output_target(*outputs[j].second))
                throw USAGE_ERROR(std::string(outputs[i].first) + " and " + outputs[j].first +
                                  " name the same output " + *outputs[j].second);
    return line;
}

// Refuses, before any work, outputs that could not be written.
void check_outputs(const COMMAND_LINE& line)
{
    for (const std::string* path : {&line.json_path, &line.dump_path, &line.dump_netlist_path})
        if (!path->empty())
            check_output_path(*path);
    for (const auto& [what, dir] : {std::pair{"heatmaps", &line.heatmap_dir}, std::pair{"grids", &line.grids_dir}})
        if (!dir->empty())
            check_output_folder(*dir, what);
}

// The library reads the switch itself and takes any other text for off.
void check_algorithm_switch()
{
    const char* value = std::getenv(ALGORITHM_SWITCH);
    const bool recognised =
        cfg_is_on(ALGORITHM_SWITCH, true).get_value() == cfg_is_on(ALGORITHM_SWITCH, false).get_value();
    if (value != nullptr && !recognised)
        warn(std::string(ALGORITHM_SWITCH) + "=" + value +
             " is neither on (1, on, true, yes) nor off (0, off, false, no); the new smoothing algorithm is used.");
}

void check_wire_supply(const COMMAND_LINE& line, const DESIGN& design)
{
    for (std::size_t tile = 0; tile < design.get_num_tiles(); ++tile)
        if (design.has_wire_supply(tile))
            return;
    const char* columns = design.form == DESIGN_FORM::DIRECTIONAL ? "right, left, up and down" : "h4, h12, v4 and v12";
    warn("no tile of " + (std::filesystem::path(line.design_dir) / "tiles.txt").string() + " has wire supply (" +
         columns + " are 0 everywhere), so the wire utilization figures mean nothing.");
}

bool writes_standard_output(const COMMAND_LINE& line)
{
    for (const std::string* path : {&line.json_path, &line.dump_path, &line.dump_netlist_path})
        if (!path->empty() && get_output_target(*path).descriptor == STDOUT_FILENO)
            return true;
    return false;
}

// Stages every output, the heatmaps and grids first so that their times are
// in the report, then puts them all in place.
void write_outputs(const COMMAND_LINE& line, ESTIMATE_RUN& run, PROGRESS& progress)
{
    OUTPUT_SET outputs;
    if (!line.heatmap_dir.empty()) {
        stage_heatmaps(outputs, line.heatmap_dir, run, line.heatmap_scale, &progress);
        run.add_phase_time("heatmaps", progress.end());
    }
    if (!line.grids_dir.empty()) {
        stage_grids(outputs, line.grids_dir, run, &progress);
        run.add_phase_time("grids", progress.end());
    }
    progress.begin("writing outputs");
    if (!writes_standard_output(line)) {
        std::ostringstream report;
        print_report(report, run.get_report(), line.timings);
        outputs.stage_text(STANDARD_OUTPUT, "the report on standard output", report.str());
    }
    if (!line.json_path.empty())
        outputs.stage_text(line.json_path, line.json_path,
                           get_report_json(run.get_report(), line.timings).dump(JSON_INDENT) + "\n");
    if (!line.dump_path.empty())
        outputs.stage(line.dump_path, line.dump_path,
                      [&](const std::string& file) { run.get_estimator().dump(file.c_str(), {}); });
    if (!line.dump_netlist_path.empty())
        outputs.stage(line.dump_netlist_path, line.dump_netlist_path,
                      [&](const std::string& file) { run.get_estimator().dump_netlist(run.get_nets(), file.c_str()); });
    // The last line of progress ends before the report starts.
    progress.end();
    outputs.commit();
}

int run_tool(const COMMAND_LINE& line)
{
    check_outputs(line);
    check_algorithm_switch();
    std::unique_ptr<tbb::global_control> threads;
    if (line.threads > 0)
        threads = std::make_unique<tbb::global_control>(tbb::global_control::max_allowed_parallelism,
                                                        static_cast<std::size_t>(line.threads));
    PROGRESS progress(!line.quiet && ::isatty(STDERR_FILENO) == 1, PROGRAM, std::cerr);
    const INTERRUPTS interrupts(PROGRAM, progress);
    progress.begin("read design");
    const DESIGN design = read_design(line.design_dir);
    if (line.options.wirelength == WIRELENGTH_SOURCE::ROUTED_ORACLE && !design.has_routed_lengths)
        throw USAGE_ERROR("--wirelength oracle needs the routed lengths of nets.txt, but " + line.design_dir +
                          " was placed and not routed");
    if (line.supply_given && design.form == DESIGN_FORM::DIRECTIONAL)
        throw USAGE_ERROR("--supply does not apply to " + line.design_dir +
                          ", whose tiles.txt gives the supply per direction, used as it is");
    const double read_ms = progress.end();
    check_wire_supply(line, design);

    ESTIMATE_RUN run(design, line.options, read_ms);
    run.set_progress(&progress);
    run.run();
    write_outputs(line, run, progress);
    return line.fail_if_unroutable && !run.get_report().routability.routes ? EXIT_UNROUTABLE : EXIT_SUCCESS;
}

}  // namespace

int main(int argc, char** argv)
{
    return run_main(PROGRAM, [&] {
        const std::optional<COMMAND_LINE> line = parse_command_line(argc, argv);
        return line ? run_tool(*line) : EXIT_SUCCESS;
    });
}
