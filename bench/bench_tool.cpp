// The estimator tool's own costs on a 1000 x 1000 device: the routability
// figures over every (tile, wire type) entry, against one full sort of the
// same entries; the routability verdict, against the first release's rule;
// a pair of heatmap panels drawn and written as PNG; and, on the synthetic
// design of scripts/synthetic_design.py, the design reader against a plain
// pass over the same bytes and the tool's heatmaps against its wire demand;
// and the memory of the tool's estimate of a design folder against the
// library's.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <cstdio>

#include <sys/resource.h>
#include <unistd.h>

#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include "front_end/design_reader.h"
#include "front_end/routability.h"
#include "front_end/statistics.h"
#include "synthetic_chip.h"
#include "tools/estimate.h"
#include "tools/grid_files.h"
#include "tools/heatmap.h"
#include "front_end/output_file.h"
#include "tools/report.h"

namespace {

constexpr int DEVICE_SIDE = 1000;
constexpr int WIRE_TYPES = 4;
constexpr unsigned SEED = 11;
constexpr double LARGEST_UTILIZATION = 1.2;
constexpr int SYNTHETIC_NETS = 200000;
constexpr std::size_t PLAIN_PASS_BLOCK = std::size_t{1} << 20;
const char* const DESIGN_FILES[] = {"tiles.txt", "nets.txt"};
const std::vector<double> ACE_PERCENTAGES = {0.5, 1.0, 2.0, 5.0};

// Single precision, as the tool's utilizations are.
const std::vector<float>& get_entries(std::size_t count)
{
    static const std::vector<float> entries = [count] {
        std::mt19937 random(SEED);
        std::uniform_real_distribution<float> utilization(0.0f, static_cast<float>(LARGEST_UTILIZATION));
        std::vector<float> values(count);
        for (float& value : values)
            value = utilization(random);
        return values;
    }();
    return entries;
}

void BM_ToolAce(benchmark::State& state)
{
    const std::vector<float>& entries = get_entries(std::size_t{DEVICE_SIDE} * DEVICE_SIDE * WIRE_TYPES);
    for (auto _ : state)
        benchmark::DoNotOptimize(get_ace(entries, ACE_PERCENTAGES));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(entries.size()));
}

// Baseline: a copy and one full descending sort of the entries.
void BM_ToolAceFullSortBaseline(benchmark::State& state)
{
    const std::vector<float>& entries = get_entries(std::size_t{DEVICE_SIDE} * DEVICE_SIDE * WIRE_TYPES);
    for (auto _ : state) {
        std::vector<float> sorted = entries;
        std::sort(sorted.begin(), sorted.end(), std::greater<float>());
        benchmark::DoNotOptimize(sorted.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(entries.size()));
}

// The entries standing for the smoothed demand of the four wire types on
// DEVICE_SIDE x DEVICE_SIDE tiles, each against a supply of 1.
std::array<TILE_READER, NUM_WIRE_TYPES> get_demand_readers()
{
    const std::vector<float>& entries = get_entries(std::size_t{DEVICE_SIDE} * DEVICE_SIDE * WIRE_TYPES);
    std::array<TILE_READER, NUM_WIRE_TYPES> readers;
    for (int t = 0; t < NUM_WIRE_TYPES; ++t)
        readers[t] = [&entries, first = static_cast<std::size_t>(t) * DEVICE_SIDE * DEVICE_SIDE](int x, int y) {
            return entries[first + static_cast<std::size_t>(y) * DEVICE_SIDE + x];
        };
    return readers;
}

const TILE_READER SUPPLY_OF_ONE = [](int, int) { return 1.0f; };

// The tool's verdict with its calibrated rule: the box demand of the
// benchmarks' synthetic netlist (most nets of 2 to 5 pins, a tail of
// thousands, a few chip-wide) and the figure over it.
void BM_ToolRoutability(benchmark::State& state)
{
    static const SYNTHETIC_NETLIST netlist(DEVICE_SIDE, DEVICE_SIDE, SYNTHETIC_NETS, SEED);
    std::array<TILE_READER, NUM_WIRE_TYPES> supply;
    supply.fill(SUPPLY_OF_ONE);
    for (auto _ : state) {
        const BOX_DEMAND demand(DEVICE_SIDE, DEVICE_SIDE, netlist, netlist.get_all_nets(),
                                ROUTABILITY_RULE_CALIBRATED.extent);
        benchmark::DoNotOptimize(get_placement_routability(DEVICE_SIDE, DEVICE_SIDE, demand, supply, 20,
                                                           get_routing_device(DEFAULT_GENERIC_ARCHITECTURE)));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(DEVICE_SIDE) * DEVICE_SIDE * WIRE_TYPES);
}

// Baseline: the figure of the verdict's first release, the largest
// utilization of one tile and direction, which keeps no values.
void BM_ToolRoutabilityFirstRule(benchmark::State& state)
{
    const std::array<TILE_READER, NUM_WIRE_TYPES> demand = get_demand_readers();
    std::vector<DEMAND_AND_SUPPLY> maps;
    for (int t = 0; t < NUM_WIRE_TYPES; ++t)
        maps.push_back({{demand[t]}, {SUPPLY_OF_ONE}, t >= 2});
    for (auto _ : state)
        benchmark::DoNotOptimize(get_routability_figure(DEVICE_SIDE, DEVICE_SIDE, maps, {1, 1, 1.0, false}));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(DEVICE_SIDE) * DEVICE_SIDE * WIRE_TYPES);
}

void BM_ToolHeatmapPair(benchmark::State& state)
{
    // Two smooth hills, as placed designs give, rather than noise that no
    // real map looks like.
    const std::size_t tiles = std::size_t{DEVICE_SIDE} * DEVICE_SIDE;
    std::vector<float> estimate;
    std::vector<float> routed;
    for (int y = 0; y < DEVICE_SIDE; ++y)
        for (int x = 0; x < DEVICE_SIDE; ++x) {
            const double dx = x - 0.5 * DEVICE_SIDE;
            const double dy = y - 0.4 * DEVICE_SIDE;
            const double hill = std::exp(-(dx * dx + dy * dy) / (0.2 * DEVICE_SIDE * DEVICE_SIDE));
            estimate.push_back(static_cast<float>(LARGEST_UTILIZATION * hill));
            routed.push_back(static_cast<float>(LARGEST_UTILIZATION * hill * hill));
        }
    const HEATMAP pair{
        "pair",
        "synthetic: a pair",
        {get_values_panel("estimate", PANEL_KIND::UTILIZATION, std::move(estimate), DEVICE_SIDE, DEVICE_SIDE),
         get_values_panel("routed", PANEL_KIND::UTILIZATION, std::move(routed), DEVICE_SIDE, DEVICE_SIDE)}};
    const std::string path = (std::filesystem::temp_directory_path() / "congestion_bench_heatmap.png").string();
    for (auto _ : state)
        write_heatmap_png(path, DEVICE_SIDE, DEVICE_SIDE, pair, HEATMAP_SCALE::SHARED);
    std::filesystem::remove(path);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(tiles));
}

// The synthetic design of DEVICE_SIDE x DEVICE_SIDE tiles and SYNTHETIC_NETS
// nets, written once by the project's script into the temporary folder (it
// gives the same files every time); empty when it cannot be made.
std::string get_synthetic_design()
{
    static const std::string dir = [] {
        const std::filesystem::path folder =
            std::filesystem::temp_directory_path() /
            ("congestion_bench_synthetic_" + std::to_string(DEVICE_SIDE) + "_" + std::to_string(SYNTHETIC_NETS));
        if (std::filesystem::exists(folder / "nets.txt"))
            return folder.string();
        const std::string command = "python3 " CONGESTION_SOURCE_DIR "/scripts/synthetic_design.py " + folder.string() +
                                    ".tmp " + std::to_string(DEVICE_SIDE) + " " + std::to_string(SYNTHETIC_NETS);
        std::error_code error;
        if (std::system(command.c_str()) != 0 ||
            (std::filesystem::rename(folder.string() + ".tmp", folder, error), error))
            return std::string();
        return folder.string();
    }();
    return dir;
}

std::int64_t get_design_bytes(const std::string& dir)
{
    std::int64_t bytes = 0;
    for (const char* name : DESIGN_FILES)
        bytes += static_cast<std::int64_t>(std::filesystem::file_size(std::filesystem::path(dir) / name));
    return bytes;
}

void BM_ToolReadDesign(benchmark::State& state)
{
    const std::string dir = get_synthetic_design();
    if (dir.empty()) {
        state.SkipWithError("scripts/synthetic_design.py could not write the synthetic design");
        return;
    }
    for (auto _ : state) {
        const DESIGN design = read_design(dir);
        benchmark::DoNotOptimize(design.pin_x.data());
    }
    state.SetBytesProcessed(state.iterations() * get_design_bytes(dir));
}

// Baseline: the same files read in large blocks and their lines counted,
// the least a line reader does.
void BM_ToolReadDesignPlainPass(benchmark::State& state)
{
    const std::string dir = get_synthetic_design();
    if (dir.empty()) {
        state.SkipWithError("scripts/synthetic_design.py could not write the synthetic design");
        return;
    }
    std::vector<char> block(PLAIN_PASS_BLOCK);
    for (auto _ : state) {
        std::size_t lines = 0;
        for (const char* name : DESIGN_FILES) {
            std::FILE* file = std::fopen((std::filesystem::path(dir) / name).c_str(), "rb");
            for (std::size_t n; file != nullptr && (n = std::fread(block.data(), 1, block.size(), file)) > 0;)
                for (const char* at = block.data();
                     (at = static_cast<const char*>(std::memchr(at, '\n', block.data() + n - at))) != nullptr; ++at)
                    ++lines;
            if (file != nullptr)
                std::fclose(file);
        }
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(state.iterations() * get_design_bytes(dir));
}

// The tool's estimate of the synthetic design, run once; no estimate when
// the design cannot be made.
struct SYNTHETIC_RUN {
    DESIGN design;
    std::unique_ptr<ESTIMATE_RUN> run;
    SYNTHETIC_RUN()
    {
        const std::string dir = get_synthetic_design();
        if (dir.empty())
            return;
        design = read_design(dir);
        run = std::make_unique<ESTIMATE_RUN>(design, ESTIMATE_OPTIONS(), 0.0);
        run->run();
    }
};

const SYNTHETIC_RUN& get_synthetic_run()
{
    static const SYNTHETIC_RUN run;
    return run;
}

// Args: threads. The tool's heatmaps phase: every heatmap of the estimate
// drawn, encoded and staged (the staged files are removed, not committed).
void BM_ToolHeatmaps(benchmark::State& state)
{
    const tbb::global_control threads(tbb::global_control::max_allowed_parallelism, state.range(0));
    const SYNTHETIC_RUN& synthetic = get_synthetic_run();
    if (!synthetic.run) {
        state.SkipWithError("scripts/synthetic_design.py could not write the synthetic design");
        return;
    }
    const std::string dir = (std::filesystem::temp_directory_path() / "congestion_bench_heatmaps").string();
    for (auto _ : state) {
        OUTPUT_SET outputs;
        stage_heatmaps(outputs, dir, *synthetic.run, HEATMAP_SCALE::SHARED);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(synthetic.design.get_num_tiles()));
}

// Args: threads. The wire demand of the same estimate, its baseline.
void BM_ToolWireDemand(benchmark::State& state)
{
    const tbb::global_control threads(tbb::global_control::max_allowed_parallelism, state.range(0));
    const SYNTHETIC_RUN& synthetic = get_synthetic_run();
    if (!synthetic.run) {
        state.SkipWithError("scripts/synthetic_design.py could not write the synthetic design");
        return;
    }
    const ESTIMATE_OPTIONS options;
    DESIGN_NETLIST netlist(synthetic.design, options.policy, options.wirelength);
    CONGESTION estimator(synthetic.design.nx, synthetic.design.ny, &netlist);
    set_design_supply(estimator, synthetic.design, options.supply);
    estimator.generate_smooth_wire_supply(options.parallel_dim, options.perpendicular_dim);
    for (auto _ : state) {
        estimator.clear_demand();
        const auto start = std::chrono::steady_clock::now();
        estimator.update_demand(synthetic.run->get_nets(), options.model);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(synthetic.run->get_nets().size()));
}

// The resident memory of the process now, in bytes.
double get_resident_bytes()
{
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE));
}

// The largest resident memory of the process so far, in bytes.
double get_peak_resident_bytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) * 1024.0;
}

}  // namespace

// The tool's estimate of a design folder with its defaults, the heatmaps
// and the JSON report, and what it holds: the design, the library at its
// peak (its grids and the update's scratch: the growth of the resident
// memory from before the estimator is made to the end of the estimate),
// and the whole process at its peak.
int report_tool_memory(const std::string& design_dir)
{
    constexpr double MIB = 1024.0 * 1024.0;
    const double at_start = get_resident_bytes();
    DESIGN design;
    try {
        design = read_design(design_dir);
    } catch (const DESIGN_ERROR& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    const double with_design = get_resident_bytes();
    ESTIMATE_RUN run(design, ESTIMATE_OPTIONS(), 0.0);
    const double before_estimate = get_resident_bytes();
    run.run();
    const double library_peak = get_peak_resident_bytes() - before_estimate;
    const std::string dir = (std::filesystem::temp_directory_path() / "congestion_bench_memory").string();
    {
        OUTPUT_SET outputs;
        stage_heatmaps(outputs, dir, run, HEATMAP_SCALE::SHARED);
        outputs.stage_text(dir + ".json", "the JSON report", get_report_json(run.get_report()).dump(2));
    }
    const double process_peak = get_peak_resident_bytes();
    std::printf("estimate of %s (%d x %d tiles, %d nets), heatmaps and JSON\n", design_dir.c_str(), design.nx,
                design.ny, design.get_num_nets());
    std::printf("  the process before the design:           %8.1f MiB\n", at_start / MIB);
    std::printf("  the design as read:                      %8.1f MiB\n", (with_design - at_start) / MIB);
    std::printf("  the tool's netlist and net list:         %8.1f MiB\n", (before_estimate - with_design) / MIB);
    std::printf("  the library at its peak:                 %8.1f MiB\n", library_peak / MIB);
    std::printf("  the whole process at its peak:           %8.1f MiB\n", process_peak / MIB);
    std::printf("  process peak / library peak:             %8.2f  (target <= 1.25)\n", process_peak / library_peak);
    return 0;
}

BENCHMARK(BM_ToolReadDesign)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ToolReadDesignPlainPass)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ToolAce)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToolAceFullSortBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToolRoutability)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToolRoutabilityFirstRule)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToolHeatmapPair)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToolHeatmaps)->Unit(benchmark::kMillisecond)->UseRealTime()->ArgName("threads")->Arg(1)->Arg(2);
BENCHMARK(BM_ToolWireDemand)->Unit(benchmark::kMillisecond)->UseManualTime()->ArgName("threads")->Arg(1)->Arg(2);
