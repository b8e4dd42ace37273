// congestion-estimate: runs the congestion estimate of a placed-and-routed
// design folder, prints the report and writes the requested outputs.
#include <charconv>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <optional>
#include <string>
#include <vector>

#include <boost/program_options.hpp>
#include <tbb/global_control.h>

#include "tools/design_reader.h"
#include "tools/estimate.h"
#include "tools/heatmap.h"
#include "tools/output_file.h"
#include "tools/report.h"

namespace po = boost::program_options;

namespace {

constexpr const char* PROGRAM = "congestion-estimate";
constexpr int EXIT_BAD_INPUT = 2;
constexpr int EXIT_OUTPUT_FAILED = 1;
constexpr int MAX_WINDOW = 255;
constexpr int MAX_CHUNKS = 4096;
constexpr int MAX_THREADS = 4096;
constexpr int JSON_INDENT = 2;

// A bad command line or option value; what() is one sentence.
class USAGE_ERROR : public std::runtime_error {
 public:
    using std::runtime_error::runtime_error;
};

struct COMMAND_LINE {
    std::string design_dir;
    ESTIMATE_OPTIONS options;
    int threads = 0;
    bool timings = true;
    std::string json_path;
    std::string heatmap_dir;
    std::string dump_path;
    std::string dump_netlist_path;
};

int parse_int(const std::string& text, const std::string& option, int minimum, int maximum)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        throw USAGE_ERROR("the value '" + text + "' of " + option + " is not a whole number");
    if (value < minimum || value > maximum)
        throw USAGE_ERROR("the value " + text + " of " + option + " is not between " + std::to_string(minimum) +
                          " and " + std::to_string(maximum));
    return value;
}

// The one of `words` that `text` names; its index.
int parse_word(const std::string& text, const std::string& option, const std::vector<std::string>& words)
{
    for (std::size_t i = 0; i < words.size(); ++i)
        if (text == words[i])
            return static_cast<int>(i);
    std::string list;
    for (const std::string& word : words)
        list += (list.empty() ? "" : " or ") + word;
    throw USAGE_ERROR("the value '" + text + "' of " + option + " is not " + list);
}

po::options_description get_option_descriptions(const ESTIMATE_OPTIONS& d)
{
    const std::string window = std::to_string(d.parallel_dim) + "," + std::to_string(d.perpendicular_dim);
    po::options_description options("Options");
    options.add_options()
        ("help,h", "print this help and exit")
        ("model", po::value<std::string>()->default_value(get_model_word(d.model)),
         "net model: path (pin-based crossing probabilities) or bbox (box and wire length spread by supply)")
        ("window", po::value<std::string>()->default_value(window),
         "smoothing window PARALLEL,PERPENDICULAR in tiles along and across each wire direction (1..255)")
        ("uniform", po::value<std::string>()->default_value(d.uniform ? "yes" : "no")->implicit_value("yes"),
         "smooth demand uniformly over the window (yes or no; --uniform alone means yes)")
        ("policy", po::value<std::string>()->default_value(get_policy_word(d.policy)),
         "congestion value of a tile: ratio (smoothed demand over smoothed supply, 0 without supply) or "
         "overflow (smoothed demand minus smoothed supply, not below 0)")
        ("supply", po::value<std::string>()->default_value(get_supply_word(d.supply)),
         "wire supply per direction: half ((h4+h12)/2 left and right, (v4+v12)/2 up and down) or full "
         "(all the wires in each direction); Lab Input supply is lab_in")
        ("wirelength", po::value<std::string>()->default_value(get_wirelength_word(d.wirelength)),
         "wire-length estimate of the bbox model: hpwl (box width and height) or oracle (the routed lengths "
         "routed_x, routed_y: uses the routing result, for comparison only)")
        ("peak-window", po::value<std::string>()->default_value(std::to_string(d.peak_dim)),
         "square window of the peak-utilization search, in tiles (1..255)")
        ("chunks", po::value<std::string>()->default_value(std::to_string(d.num_chunks)),
         "chunks of the library's chunked parallel loops (1..4096)")
        ("threads", po::value<std::string>()->default_value("0"), "worker threads, 0 for all cores")
        ("no-timings", "leave the phase times and the thread count out of the report and the JSON, so that "
         "the outputs of two runs can be compared byte for byte")
        ("json", po::value<std::string>(), "write the whole report as JSON to FILE")
        ("heatmaps", po::value<std::string>(), "write PNG heatmaps into the folder DIR (created if missing)")
        ("dump", po::value<std::string>(), "write the library's grid dump to FILE")
        ("dump-netlist", po::value<std::string>(), "write the library's dump of the estimated nets to FILE");
    return options;
}

std::string get_usage(const po::options_description& options)
{
    std::ostringstream usage;
    usage << "Usage: " << PROGRAM << " DESIGN_DIR [options]\n"
          << "Estimates the routing congestion of a placed design (tiles.txt, nets.txt) and, when routed.txt\n"
          << "is present, compares the estimate and a plain bounding-box baseline with the routed usage.\n"
          << "The environment variable congestion_use_orig=1 selects the original smoothing algorithm.\n\n"
          << options;
    return usage.str();
}

// The parsed command line, or nothing when help was printed.
std::optional<COMMAND_LINE> parse_command_line(int argc, char** argv)
{
    const ESTIMATE_OPTIONS defaults;
    po::options_description visible = get_option_descriptions(defaults);
    po::options_description all;
    all.add(visible).add_options()("design", po::value<std::vector<std::string>>(), "design folder");
    po::positional_options_description positional;
    positional.add("design", -1);
    po::variables_map values;
    try {
        po::store(po::command_line_parser(argc, argv).options(all).positional(positional).run(), values);
        po::notify(values);
    } catch (const po::error& error) {
        throw USAGE_ERROR(error.what());
    }
    if (values.count("help") != 0) {
        std::cout << get_usage(visible);
        return std::nullopt;
    }
    if (values.count("design") == 0)
        throw USAGE_ERROR("no design folder given");
    const auto& designs = values["design"].as<std::vector<std::string>>();
    if (designs.size() != 1)
        throw USAGE_ERROR("exactly one design folder is expected, " + std::to_string(designs.size()) + " were given");

    COMMAND_LINE line;
    line.design_dir = designs[0];
    const auto text = [&](const char* name) { return values[name].as<std::string>(); };
    ESTIMATE_OPTIONS& o = line.options;
    o.model = parse_word(text("model"), "--model", {"path", "bbox"}) == 0 ? CONGESTION::PATH_PROBABILITY_MODEL
                                                                          : CONGESTION::BOUNDING_BOX_MODEL;
    const std::string window = text("window");
    const std::size_t comma = window.find(',');
    if (comma == std::string::npos)
        throw USAGE_ERROR("the value '" + window + "' of --window is not PARALLEL,PERPENDICULAR");
    o.parallel_dim = parse_int(window.substr(0, comma), "--window", 1, MAX_WINDOW);
    o.perpendicular_dim = parse_int(window.substr(comma + 1), "--window", 1, MAX_WINDOW);
    o.uniform = parse_word(text("uniform"), "--uniform", {"no", "yes"}) == 1;
    o.policy = parse_word(text("policy"), "--policy", {"ratio", "overflow"}) == 0 ? CONGESTION_POLICY::RATIO
                                                                                   : CONGESTION_POLICY::OVERFLOW;
    o.supply = parse_word(text("supply"), "--supply", {"half", "full"}) == 0 ? SUPPLY_MAPPING::HALF
                                                                             : SUPPLY_MAPPING::FULL;
    o.wirelength = parse_word(text("wirelength"), "--wirelength", {"hpwl", "oracle"}) == 0
                       ? WIRELENGTH_SOURCE::HALF_PERIMETER
                       : WIRELENGTH_SOURCE::ROUTED_ORACLE;
    o.peak_dim = parse_int(text("peak-window"), "--peak-window", 1, MAX_WINDOW);
    o.num_chunks = parse_int(text("chunks"), "--chunks", 1, MAX_CHUNKS);
    line.threads = parse_int(text("threads"), "--threads", 0, MAX_THREADS);
    line.timings = values.count("no-timings") == 0;
    const auto optional_text = [&](const char* name) {
        return values.count(name) != 0 ? values[name].as<std::string>() : std::string();
    };
    line.json_path = optional_text("json");
    line.heatmap_dir = optional_text("heatmaps");
    line.dump_path = optional_text("dump");
    line.dump_netlist_path = optional_text("dump-netlist");
    return line;
}

// Refuses, before any work, outputs that could not be written.
void check_outputs(const COMMAND_LINE& line)
{
    for (const std::string* path : {&line.json_path, &line.dump_path, &line.dump_netlist_path})
        if (!path->empty())
            check_output_directory(*path);
    std::error_code error;
    if (!line.heatmap_dir.empty() && std::filesystem::exists(line.heatmap_dir, error) &&
        !std::filesystem::is_directory(line.heatmap_dir, error))
        throw OUTPUT_ERROR("cannot write heatmaps into " + line.heatmap_dir + ": it is not a directory.");
}

void write_outputs(const COMMAND_LINE& line, const ESTIMATE_RUN& run, const DESIGN& design)
{
    if (!line.json_path.empty())
        write_text_file(line.json_path, get_report_json(run.get_report(), line.timings).dump(JSON_INDENT) + "\n");
    if (!line.heatmap_dir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(line.heatmap_dir, error);
        if (error)
            throw OUTPUT_ERROR("cannot create the heatmap folder " + line.heatmap_dir + ": " + error.message() + ".");
        for (const HEATMAP& heatmap : run.get_heatmaps())
            write_heatmap_png((std::filesystem::path(line.heatmap_dir) / (heatmap.file_stem + ".png")).string(),
                              design.nx, design.ny, heatmap);
    }
    if (!line.dump_path.empty())
        write_file_atomically(line.dump_path, [&](const std::string& temporary) {
            run.get_estimator().dump(temporary.c_str(), {});
        });
    if (!line.dump_netlist_path.empty())
        write_file_atomically(line.dump_netlist_path, [&](const std::string& temporary) {
            run.get_estimator().dump_netlist(run.get_nets(), temporary.c_str());
        });
}

int run_tool(const COMMAND_LINE& line)
{
    check_outputs(line);
    std::unique_ptr<tbb::global_control> threads;
    if (line.threads > 0)
        threads = std::make_unique<tbb::global_control>(tbb::global_control::max_allowed_parallelism,
                                                        static_cast<std::size_t>(line.threads));
    const auto start = std::chrono::steady_clock::now();
    const DESIGN design = read_design(line.design_dir);
    if (line.options.wirelength == WIRELENGTH_SOURCE::ROUTED_ORACLE && !design.has_routed_lengths)
        throw USAGE_ERROR("--wirelength oracle needs the routed lengths of nets.txt, but " + line.design_dir +
                          " was placed and not routed");
    const std::chrono::duration<double, std::milli> read_time = std::chrono::steady_clock::now() - start;

    ESTIMATE_RUN run(design, line.options, read_time.count());
    run.run();
    print_report(std::cout, run.get_report(), line.timings);
    std::cout.flush();
    write_outputs(line, run, design);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        const std::optional<COMMAND_LINE> line = parse_command_line(argc, argv);
        return line ? run_tool(*line) : 0;
    } catch (const USAGE_ERROR& error) {
        std::cerr << PROGRAM << ": " << error.what() << " (see --help).\n";
        return EXIT_BAD_INPUT;
    } catch (const DESIGN_ERROR& error) {
        std::cerr << PROGRAM << ": " << error.what() << "\n";
        return EXIT_BAD_INPUT;
    } catch (const OUTPUT_ERROR& error) {
        std::cerr << PROGRAM << ": " << error.what() << "\n";
        return EXIT_OUTPUT_FAILED;
    } catch (const std::exception& error) {
        std::cerr << PROGRAM << ": " << error.what() << "\n";
        return EXIT_OUTPUT_FAILED;
    }
}
