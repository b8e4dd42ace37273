// The estimator tool's own costs on a 1000 x 1000 device: the routability
// figures over every (tile, wire type) entry, against one full sort of the
// same entries, and a pair of heatmap panels drawn and written as PNG.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "tools/heatmap.h"
#include "tools/statistics.h"

namespace {

constexpr int DEVICE_SIDE = 1000;
constexpr int WIRE_TYPES = 4;
constexpr unsigned SEED = 11;
constexpr double LARGEST_UTILIZATION = 1.2;
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

void BM_ToolHeatmapPair(benchmark::State& state)
{
    // Two smooth hills, as placed designs give, rather than noise that no
    // real map looks like.
    const std::size_t tiles = std::size_t{DEVICE_SIDE} * DEVICE_SIDE;
    HEATMAP pair{"pair", "synthetic: a pair", {{"estimate", {}}, {"routed", {}}}};
    for (int y = 0; y < DEVICE_SIDE; ++y)
        for (int x = 0; x < DEVICE_SIDE; ++x) {
            const double dx = x - 0.5 * DEVICE_SIDE;
            const double dy = y - 0.4 * DEVICE_SIDE;
            const double hill = std::exp(-(dx * dx + dy * dy) / (0.2 * DEVICE_SIDE * DEVICE_SIDE));
            pair.panels[0].values.push_back(LARGEST_UTILIZATION * hill);
            pair.panels[1].values.push_back(LARGEST_UTILIZATION * hill * hill);
        }
    const std::string path = (std::filesystem::temp_directory_path() / "congestion_bench_heatmap.png").string();
    for (auto _ : state)
        write_heatmap_png(path, DEVICE_SIDE, DEVICE_SIDE, pair, HEATMAP_SCALE::SHARED);
    std::filesystem::remove(path);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(tiles));
}

}  // namespace

BENCHMARK(BM_ToolAce)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToolAceFullSortBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToolHeatmapPair)->Unit(benchmark::kMillisecond);
