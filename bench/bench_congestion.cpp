// Google Benchmark suite: every estimator operation at chip scale, next to
// baselines measured in the same run, and a ratio table at the end.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include "fitter/congestion/congestion_impl.h"
#include "placer_estimate.h"
#include "synthetic_chip.h"

using namespace congestion_internal;
using GRID_KIND = CONGESTION_IMPL::GRID_KIND;

namespace {

constexpr uint32_t kSeed = 20261206;
constexpr int kSupplyWindow = 3;

// ---------------------------------------------------------------------------
// Inputs, built once per size outside the timed loops.
// ---------------------------------------------------------------------------

const SYNTHETIC_SUPPLY& chip_of(int size)
{
    static std::map<int, std::unique_ptr<SYNTHETIC_SUPPLY>> cache;
    auto& slot = cache[size];
    if (!slot)
        slot = std::make_unique<SYNTHETIC_SUPPLY>(make_synthetic_supply(size, size));
    return *slot;
}

const SYNTHETIC_NETLIST& netlist_of(int size, int nets)
{
    static std::map<std::pair<int, int>, std::unique_ptr<SYNTHETIC_NETLIST>> cache;
    auto& slot = cache[{size, nets}];
    if (!slot)
        slot = std::make_unique<SYNTHETIC_NETLIST>(size, size, nets, kSeed);
    return *slot;
}

// The nets of `netlist` whose box covers at most a tenth of the chip: the
// part where a kernel's cost per tile visit shows, without the few
// chip-spanning nets that dominate the whole netlist.
const std::vector<int>& local_nets_of(int size, int nets)
{
    static std::map<std::pair<int, int>, std::vector<int>> cache;
    auto [slot, inserted] = cache.try_emplace({size, nets});
    if (inserted) {
        const SYNTHETIC_NETLIST& netlist = netlist_of(size, nets);
        const int64_t chip_area = static_cast<int64_t>(size) * size;
        for (int net : netlist.get_all_nets()) {
            int xl, xr, yb, yt;
            netlist.get_bounding_box(net, &xl, &xr, &yb, &yt);
            const int64_t area = static_cast<int64_t>(xr - xl + 1) * (yt - yb + 1);
            if (10 * area <= chip_area)
                slot->second.push_back(net);
        }
    }
    return slot->second;
}

// The whole netlist, or only its local nets.
const std::vector<int>& nets_of(int size, int nets, bool local)
{
    return local ? local_nets_of(size, nets) : netlist_of(size, nets).get_all_nets();
}

// Typical nets per tile of a full device, for the operations that need some
// demand but whose cost does not depend on it.
int default_nets(int size) { return size * size / 2; }

// An engine over `netlist` (by default the default netlist) with the chip's
// supply, its smoothed supply and tables, and optionally that netlist's demand.
std::unique_ptr<CONGESTION_IMPL> prepared_engine(int size, bool with_demand, const SYNTHETIC_NETLIST* nets = nullptr)
{
    const SYNTHETIC_NETLIST& netlist = nets != nullptr ? *nets : netlist_of(size, default_nets(size));
    auto engine = std::make_unique<CONGESTION_IMPL>(size, size, const_cast<SYNTHETIC_NETLIST*>(&netlist));
    const SYNTHETIC_SUPPLY& chip = chip_of(size);
    for (int type = 0; type < CONGESTION::NUM_RESOURCE_TYPES; ++type)
        for (int x = 0; x < size; ++x)
            for (int y = 0; y < size; ++y)
                if (const float value = chip.supply[type][static_cast<size_t>(x) * size + y]; value > 0.0f)
                    engine->set_supply(x, y, static_cast<RESOURCE_TYPE>(type), value);
    engine->generate_smooth_supply(kSupplyWindow, kSupplyWindow, WIRE_TYPES);
    if (with_demand) {
        engine->update_demand(netlist.get_all_nets(), CONGESTION::PATH_PROBABILITY_MODEL);
        engine->update_demand({}, CONGESTION::LAB_INPUT_MODEL);
    }
    return engine;
}

// One engine per size with supply and demand, shared by the benchmarks that
// only read demand and supply (they rewrite nothing but their own outputs),
// so that the path-probability demand of a large chip is built once.
CONGESTION_IMPL& shared_engine(int size)
{
    static std::map<int, std::unique_ptr<CONGESTION_IMPL>> cache;
    auto& slot = cache[size];
    if (!slot)
        slot = prepared_engine(size, true);
    return *slot;
}

uint64_t checksum(const GRID_2D<float>& grid)
{
    uint64_t sum = 0;
    for (float value : grid) {
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        sum = sum * 1099511628211ULL + bits;
    }
    return sum;
}

uint64_t checksum(const TYPE_GRIDS& grids)
{
    uint64_t sum = 0;
    for (const GRID_2D<float>& grid : grids)
        sum = sum * 31 + checksum(grid);
    return sum;
}

// Every benchmark runs at 1 and 2 threads; the result must not depend on it.
// The first run of a case records its checksum, later runs compare.
bool checksum_agrees(const std::string& key, uint64_t value)
{
    static std::mutex mutex;
    static std::map<std::string, uint64_t> seen;
    std::lock_guard<std::mutex> lock(mutex);
    const auto [it, inserted] = seen.emplace(key, value);
    return inserted || it->second == value;
}

std::string case_key(const char* name, std::initializer_list<int64_t> args)
{
    std::string key = name;
    for (int64_t arg : args)
        key += "/" + std::to_string(arg);
    return key;
}

void verify(benchmark::State& state, const std::string& key, uint64_t value)
{
    if (!checksum_agrees(key, value))
        state.SkipWithError("result differs from the run with another thread count");
}

int64_t grid_bytes(int size) { return static_cast<int64_t>(size) * size * static_cast<int64_t>(sizeof(float)); }

// ---------------------------------------------------------------------------
// Operations
// ---------------------------------------------------------------------------

// Args: grid size, nets, net model, threads; `local` keeps only the nets
// whose box covers at most a tenth of the chip.
void run_update_demand(benchmark::State& state, bool local)
{
    const int size = static_cast<int>(state.range(0));
    const int nets = static_cast<int>(state.range(1));
    const auto model = static_cast<CONGESTION::NET_MODEL>(state.range(2));
    tbb::global_control threads(tbb::global_control::max_allowed_parallelism, state.range(3));
    const SYNTHETIC_NETLIST& netlist = netlist_of(size, nets);
    const std::vector<int>& net_list = nets_of(size, nets, local);
    auto engine = prepared_engine(size, false, &netlist);
    for (auto _ : state) {
        state.PauseTiming();
        engine->clear_demand();
        state.ResumeTiming();
        engine->update_demand(net_list, model);
    }
    verify(state, case_key(local ? "update_demand_local" : "update_demand", {size, nets, model}),
           checksum(engine->get_grids(GRID_KIND::DEMAND)));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(net_list.size()));
}

void BM_UpdateDemand(benchmark::State& state) { run_update_demand(state, false); }
void BM_UpdateDemandLocal(benchmark::State& state) { run_update_demand(state, true); }

// Plain reference for the bounding-box model: each net's half-perimeter
// spread evenly over its box, no direction, no supply weighting. Args: grid
// size, nets.
void run_plain_bounding_box(benchmark::State& state, bool local)
{
    const int size = static_cast<int>(state.range(0));
    const int nets = static_cast<int>(state.range(1));
    const SYNTHETIC_NETLIST& netlist = netlist_of(size, nets);
    const std::vector<int>& net_list = nets_of(size, nets, local);
    std::vector<float> demand(static_cast<size_t>(size) * size);
    for (auto _ : state) {
        std::fill(demand.begin(), demand.end(), 0.0f);
        for (int net : net_list) {
            int xl, xr, yb, yt;
            netlist.get_bounding_box(net, &xl, &xr, &yb, &yt);
            const float area = static_cast<float>((xr - xl + 1) * (yt - yb + 1));
            const float share = static_cast<float>((xr - xl) + (yt - yb)) / area;
            for (int x = xl; x <= xr; ++x)
                for (int y = yb; y <= yt; ++y)
                    demand[static_cast<size_t>(x) * size + y] += share;
        }
        benchmark::DoNotOptimize(demand.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(net_list.size()));
}

void BM_PlainBoundingBox(benchmark::State& state) { run_plain_bounding_box(state, false); }
void BM_PlainBoundingBoxLocal(benchmark::State& state) { run_plain_bounding_box(state, true); }

// Args: grid size, window, threads.
void BM_SmoothSupply(benchmark::State& state)
{
    const int size = static_cast<int>(state.range(0));
    const int window = static_cast<int>(state.range(1));
    tbb::global_control threads(tbb::global_control::max_allowed_parallelism, state.range(2));
    CONGESTION_IMPL* engine = &shared_engine(size);
    for (auto _ : state)
        engine->generate_smooth_supply(window, window, WIRE_TYPES);
    verify(state, case_key("smooth_supply", {size, window}), checksum(engine->get_grids(GRID_KIND::SMOOTH_SUPPLY)));
    engine->generate_smooth_supply(kSupplyWindow, kSupplyWindow, WIRE_TYPES);  // as the others expect
    state.SetItemsProcessed(state.iterations() * size * size * 4);
    state.SetBytesProcessed(state.iterations() * grid_bytes(size) * 4 * 3);
}

// Args: grid size, window, threads, uniform. Both algorithms smooth the four
// wire types of the shared engine's demand into their own grids.
void run_smoothing(benchmark::State& state, bool original)
{
    const int size = static_cast<int>(state.range(0));
    const int window = static_cast<int>(state.range(1));
    const bool uniform = state.range(3) != 0;
    tbb::global_control threads(tbb::global_control::max_allowed_parallelism, state.range(2));
    CONGESTION_IMPL* engine = &shared_engine(size);
    for (auto _ : state) {
        if (original)
            engine->generate_smooth_wire_demand(window, window, uniform);
        else
            engine->generate_smooth_demand_smeared_new(window, window, uniform, WIRE_TYPES);
    }
    const TYPE_GRIDS& result =
        engine->get_grids(original ? GRID_KIND::SMOOTH_DEMAND_ORIG : GRID_KIND::SMOOTH_DEMAND_NEW);
    verify(state, case_key(original ? "smooth_orig" : "smooth_new", {size, window, uniform}), checksum(result));
    state.SetItemsProcessed(state.iterations() * size * size * 4);
}

void BM_SmoothNew(benchmark::State& state) { run_smoothing(state, false); }
void BM_SmoothOriginal(benchmark::State& state) { run_smoothing(state, true); }

// Args: grid size, build tables, threads.
void BM_UpdateCongestion(benchmark::State& state)
{
    const int size = static_cast<int>(state.range(0));
    const bool tables = state.range(1) != 0;
    tbb::global_control threads(tbb::global_control::max_allowed_parallelism, state.range(2));
    CONGESTION_IMPL* engine = &shared_engine(size);
    engine->generate_smooth_demand_smeared_new(3, 3, false, WIRE_TYPES);
    if (s_use_orig_algorithm)
        engine->generate_smooth_wire_demand(3, 3, false);
    for (auto _ : state)
        engine->update_congestion(tables);
    verify(state, case_key("update_congestion", {size, tables}), engine->get_cookie());
    state.SetItemsProcessed(state.iterations() * size * size * 4);
    state.SetBytesProcessed(state.iterations() * grid_bytes(size) * 4 * 3);
}

// Args: grid size, threads.
void BM_PeakUtilization(benchmark::State& state)
{
    const int size = static_cast<int>(state.range(0));
    tbb::global_control threads(tbb::global_control::max_allowed_parallelism, state.range(1));
    const CONGESTION_IMPL* engine = &shared_engine(size);
    std::pair<float, CONGESTION::LOC> peak{};
    for (auto _ : state)
        peak = engine->get_peak_utilization(3, CONGESTION::HORIZONTAL_RIGHT, false);
    uint32_t bits;
    std::memcpy(&bits, &peak.first, sizeof bits);
    verify(state, case_key("peak", {size}), (uint64_t{bits} << 32) ^ (peak.second.x * 65536u + peak.second.y));
    state.SetItemsProcessed(state.iterations() * size * size);
}

// Args: grid size.
void BM_AvgChipUtilization(benchmark::State& state)
{
    const int size = static_cast<int>(state.range(0));
    const CONGESTION_IMPL* engine = &shared_engine(size);
    float result = 0.0f;
    for (auto _ : state)
        benchmark::DoNotOptimize(result = engine->get_avg_chip_utilization(0.0f));
    state.SetItemsProcessed(state.iterations() * size * size * 4);
    state.SetBytesProcessed(state.iterations() * grid_bytes(size) * 8);
}

// One whole estimate through the public handle, supply to metrics, as a
// placer would run it; returns the final cookie.
unsigned long long run_whole_estimate(int size, const SYNTHETIC_NETLIST& netlist, const SYNTHETIC_SUPPLY& chip)
{
    CONGESTION estimator(size, size, const_cast<SYNTHETIC_NETLIST*>(&netlist));
    apply_supply(chip, estimator);
    return run_placer_estimate(estimator, netlist.get_all_nets(),
                               {CONGESTION::PATH_PROBABILITY_MODEL, kSupplyWindow, kSupplyWindow, 3, 1.0f});
}

// Args: grid size, nets, threads.
void BM_WholeEstimate(benchmark::State& state)
{
    const int size = static_cast<int>(state.range(0));
    const int nets = static_cast<int>(state.range(1));
    tbb::global_control threads(tbb::global_control::max_allowed_parallelism, state.range(2));
    const SYNTHETIC_NETLIST& netlist = netlist_of(size, nets);
    const SYNTHETIC_SUPPLY& chip = chip_of(size);
    unsigned long long cookie = 0;
    for (auto _ : state)
        cookie = run_whole_estimate(size, netlist, chip);
    verify(state, case_key("whole", {size, nets}), cookie);
    state.SetItemsProcessed(state.iterations() * nets);
}

// ---------------------------------------------------------------------------
// Grid passes and their memory baselines
// ---------------------------------------------------------------------------

constexpr int kMergeChunks = 16;

// Args: grid size, threads. The merge of 16 chunk grids into one.
void BM_MergeChunks(benchmark::State& state)
{
    const int size = static_cast<int>(state.range(0));
    tbb::global_control threads(tbb::global_control::max_allowed_parallelism, state.range(1));
    std::vector<GRID_2D<float>> chunks(kMergeChunks);
    for (int c = 0; c < kMergeChunks; ++c)
        chunks[c].resize(size, size, 0.25f * static_cast<float>(c));
    GRID_2D<float> dst;
    for (auto _ : state) {
        state.PauseTiming();
        dst.resize(size, size, 0.0f);
        state.ResumeTiming();
        merge_chunk_grids(chunks, size, size, dst);
    }
    verify(state, case_key("merge", {size}), checksum(dst));
    state.SetBytesProcessed(state.iterations() * grid_bytes(size) * (kMergeChunks + 2));
}

// Args: grid size, threads.
void BM_BuildDownLeftSum(benchmark::State& state)
{
    const int size = static_cast<int>(state.range(0));
    tbb::global_control threads(tbb::global_control::max_allowed_parallelism, state.range(1));
    const SYNTHETIC_SUPPLY& chip = chip_of(size);
    GRID_2D<float> source;
    source.resize(size, size, 0.0f);
    std::copy(chip.supply[0].begin(), chip.supply[0].end(), source.begin());
    GRID_2D<float> table;
    table.resize(size, size, 0.0f);
    for (auto _ : state)
        build_down_left_sum(source, table);
    verify(state, case_key("down_left_sum", {size}), checksum(table));
    state.SetBytesProcessed(state.iterations() * grid_bytes(size) * 2);
}

// Args: grid size, threads. The gather of a supply average through a table.
void BM_Gather(benchmark::State& state)
{
    const int size = static_cast<int>(state.range(0));
    tbb::global_control threads(tbb::global_control::max_allowed_parallelism, state.range(1));
    const CONGESTION_IMPL* engine = &shared_engine(size);
    GRID_2D<float> out;
    const RESOURCE_TYPE type = CONGESTION::HORIZONTAL_RIGHT;
    for (auto _ : state)
        gather_from_window(size, size, 15, 15, engine->get_grids(GRID_KIND::SUPPLY)[type],
                           engine->get_grids(GRID_KIND::SUPPLY_TABLE)[type], GATHER_RULE::AVERAGE, out);
    verify(state, case_key("gather", {size}), checksum(out));
    state.SetBytesProcessed(state.iterations() * grid_bytes(size) * 2);
}

// Args: grid size, grids read, grids written. One plain pass over the same
// bytes: every output element is the sum of the input elements at its index.
// It works through a block that stays in the first-level cache, so each
// input is read once and each output written once, in memory order.
void BM_MemoryPass(benchmark::State& state)
{
    constexpr size_t kBlock = 2048;
    const int size = static_cast<int>(state.range(0));
    const int reads = static_cast<int>(state.range(1));
    const int writes = static_cast<int>(state.range(2));
    const size_t count = static_cast<size_t>(size) * size;
    std::vector<std::vector<float>> in(reads, std::vector<float>(count, 1.0f));
    std::vector<std::vector<float>> out(writes, std::vector<float>(count, 0.0f));
    std::vector<float> block(kBlock);
    for (auto _ : state) {
        for (size_t start = 0; start < count; start += kBlock) {
            const size_t n = std::min(kBlock, count - start);
            std::copy_n(in[0].data() + start, n, block.data());
            for (int k = 1; k < reads; ++k) {
                const float* src = in[k].data() + start;
                for (size_t i = 0; i < n; ++i)
                    block[i] += src[i];
            }
            for (std::vector<float>& grid : out)
                std::copy_n(block.data(), n, grid.data() + start);
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * grid_bytes(size) * (reads + writes));
}

// ---------------------------------------------------------------------------
// Registration
// ---------------------------------------------------------------------------

const std::vector<int64_t> kSizes = {100, 300, 1000};
const std::vector<int64_t> kThreads = {1, 2};

void register_all()
{
    const auto ms = benchmark::kMillisecond;
    // The demand cases run for at least two seconds, so that the figure is
    // that of later calls on the engine: the library then measures again
    // after a first run, which it discards (a fresh engine's first call is
    // measured apart, by --first-call).
    constexpr double kDemandMinTime = 2.0;
    auto* demand = benchmark::RegisterBenchmark("update_demand", BM_UpdateDemand)
                       ->Unit(ms)
                       ->UseRealTime()
                       ->MinTime(kDemandMinTime);
    for (auto [size, nets] : {std::pair<int64_t, int64_t>{100, 10000}, {300, 100000}, {1000, 1000000}})
        for (int64_t model : {0, 1})
            for (int64_t threads : kThreads)
                demand->Args({size, nets, model, threads});
    // The largest netlist, on both cores only.
    for (int64_t model : {0, 1})
        demand->Args({1000, 2000000, model, 2});
    auto* plain = benchmark::RegisterBenchmark("plain_bounding_box", BM_PlainBoundingBox)->Unit(ms)->UseRealTime();
    for (auto [size, nets] : {std::pair<int64_t, int64_t>{100, 10000}, {300, 100000}, {1000, 1000000}, {1000, 2000000}})
        plain->Args({size, nets});
    // Without the nets whose box covers more than a tenth of the chip.
    auto* local = benchmark::RegisterBenchmark("update_demand_local", BM_UpdateDemandLocal)
                      ->Unit(ms)
                      ->UseRealTime()
                      ->MinTime(kDemandMinTime);
    for (int64_t model : {0, 1})
        local->Args({1000, 1000000, model, 1});
    benchmark::RegisterBenchmark("plain_bounding_box_local", BM_PlainBoundingBoxLocal)
        ->Unit(ms)
        ->UseRealTime()
        ->Args({1000, 1000000});

    auto* supply = benchmark::RegisterBenchmark("smooth_supply", BM_SmoothSupply)->Unit(ms)->UseRealTime();
    auto* smooth_new = benchmark::RegisterBenchmark("smooth_new", BM_SmoothNew)->Unit(ms)->UseRealTime();
    auto* smooth_orig = benchmark::RegisterBenchmark("smooth_orig", BM_SmoothOriginal)->Unit(ms)->UseRealTime();
    for (int64_t size : kSizes)
        for (int64_t threads : kThreads) {
            for (int64_t window : {3, 15, 63}) {
                supply->Args({size, window, threads});
                smooth_new->Args({size, window, threads, 0});
            }
            for (int64_t window : {3, 15})
                for (int64_t uniform : {0, 1})
                    smooth_orig->Args({size, window, threads, uniform});
        }

    auto* update = benchmark::RegisterBenchmark("update_congestion", BM_UpdateCongestion)->Unit(ms)->UseRealTime();
    auto* peak = benchmark::RegisterBenchmark("peak_utilization", BM_PeakUtilization)->Unit(ms)->UseRealTime();
    auto* whole = benchmark::RegisterBenchmark("whole_estimate", BM_WholeEstimate)->Unit(ms)->UseRealTime();
    auto* merge = benchmark::RegisterBenchmark("merge_chunks", BM_MergeChunks)->Unit(ms)->UseRealTime();
    auto* table = benchmark::RegisterBenchmark("down_left_sum", BM_BuildDownLeftSum)->Unit(ms)->UseRealTime();
    auto* gather = benchmark::RegisterBenchmark("gather", BM_Gather)->Unit(ms)->UseRealTime();
    auto* chip = benchmark::RegisterBenchmark("avg_chip_utilization", BM_AvgChipUtilization)->Unit(ms);
    auto* memory = benchmark::RegisterBenchmark("memory_pass", BM_MemoryPass)->Unit(ms);
    for (int64_t threads : kThreads)
        whole->Args({1000, 1000000, threads});
    for (int64_t size : kSizes) {
        for (int64_t threads : kThreads) {
            update->Args({size, 0, threads});
            update->Args({size, 1, threads});
            peak->Args({size, threads});
            whole->Args({size, default_nets(static_cast<int>(size)), threads});
            merge->Args({size, threads});
            table->Args({size, threads});
            gather->Args({size, threads});
        }
        chip->Args({size});
        for (auto [reads, writes] : {std::pair<int64_t, int64_t>{kMergeChunks + 1, 1}, {1, 1}, {2, 1}, {8, 4}})
            memory->Args({size, reads, writes});
    }
}

// ---------------------------------------------------------------------------
// Ratio table
// ---------------------------------------------------------------------------

class RATIO_REPORTER : public benchmark::ConsoleReporter {
 public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (!run.error_occurred && run.aggregate_name.empty()) {
                // Cases are looked up without their minimum time.
                benchmark::BenchmarkName name = run.run_name;
                name.min_time.clear();
                m_ms[name.str()] = run.GetAdjustedRealTime() * to_ms(run.time_unit);
            }
        ConsoleReporter::ReportRuns(runs);
    }

    // Time of a case in ms, or a negative value when it did not run.
    double ms(const std::string& name) const
    {
        for (const char* timing : {"/real_time", "/manual_time"}) {
            const auto found = m_ms.find(name + timing);
            if (found != m_ms.end())
                return found->second;
        }
        const auto plain = m_ms.find(name);
        return plain == m_ms.end() ? -1.0 : plain->second;
    }

 private:
    static double to_ms(benchmark::TimeUnit unit)
    {
        switch (unit) {
        case benchmark::kNanosecond: return 1e-6;
        case benchmark::kMicrosecond: return 1e-3;
        case benchmark::kMillisecond: return 1.0;
        case benchmark::kSecond: return 1e3;
        }
        return 1.0;
    }
    std::map<std::string, double> m_ms;
};

void print_ratio(const RATIO_REPORTER& report, const char* what, const std::string& numerator,
                 const std::string& denominator, const char* target)
{
    const double a = report.ms(numerator);
    const double b = report.ms(denominator);
    if (a < 0.0 || b <= 0.0)
        return;
    std::printf("%-58s %8.3f  %s\n", what, a / b, target);
}

void print_time(const RATIO_REPORTER& report, const char* what, const std::string& name, const char* target)
{
    const double value = report.ms(name);
    if (value >= 0.0)
        std::printf("%-58s %8.0f  %s\n", what, value, target);
}

void print_ratios(const RATIO_REPORTER& r)
{
    std::printf("\n%-58s %8s  %s\n", "ratio (same run)", "value", "target");
    std::printf("-- bundled design picorv32_ex (34 x 34)\n");
    for (const char* model : {"0", "1"})
        print_ratio(r,
                    model[0] == '0' ? "whole estimate, path model: 1 thread / 2 threads"
                                    : "whole estimate, bbox model: 1 thread / 2 threads",
                    std::string("design/bundled/picorv32_ex/model:") + model + "/threads:1",
                    std::string("design/bundled/picorv32_ex/model:") + model + "/threads:2", "");
    for (const char* size : {"100", "300", "1000"}) {
        const std::string s = size;
        std::printf("-- %s x %s\n", size, size);
        print_ratio(r, "smooth_new window 63 / window 3 (2 threads)", "smooth_new/" + s + "/63/2/0",
                    "smooth_new/" + s + "/3/2/0", "<= 1.2");
        print_ratio(r, "smooth_supply window 63 / window 3 (2 threads)", "smooth_supply/" + s + "/63/2",
                    "smooth_supply/" + s + "/3/2", "<= 1.2");
        print_ratio(r, "smooth_orig uniform window 15 / window 3", "smooth_orig/" + s + "/15/2/1",
                    "smooth_orig/" + s + "/3/2/1", "");
        print_ratio(r, "merge 16 chunks / memory pass (2 threads)", "merge_chunks/" + s + "/2",
                    "memory_pass/" + s + "/17/1", "<= 2");
        print_ratio(r, "down_left_sum / memory pass (2 threads)", "down_left_sum/" + s + "/2",
                    "memory_pass/" + s + "/1/1", "<= 2");
        print_ratio(r, "gather / memory pass (2 threads)", "gather/" + s + "/2", "memory_pass/" + s + "/2/1", "<= 2");
        print_ratio(r, "update_congestion, no tables / memory pass (2 threads)", "update_congestion/" + s + "/0/2",
                    "memory_pass/" + s + "/8/4", "<= 2");
        const std::string nets = s == "100" ? "10000" : s == "300" ? "100000" : "1000000";
        print_ratio(r, "update_demand path: 1 thread / 2 threads", "update_demand/" + s + "/" + nets + "/0/1",
                    "update_demand/" + s + "/" + nets + "/0/2", ">= 1.8");
        print_ratio(r, "update_demand bbox: 1 thread / 2 threads", "update_demand/" + s + "/" + nets + "/1/1",
                    "update_demand/" + s + "/" + nets + "/1/2", ">= 1.8");
        print_ratio(r, "update_demand path (1 thread) / plain bbox kernel", "update_demand/" + s + "/" + nets + "/0/1",
                    "plain_bounding_box/" + s + "/" + nets, "<= 15");
        print_ratio(r, "update_demand bbox (1 thread) / plain bbox kernel", "update_demand/" + s + "/" + nets + "/1/1",
                    "plain_bounding_box/" + s + "/" + nets, "<= 15");
        const std::string whole = "whole_estimate/" + s + "/" + std::to_string(default_nets(std::stoi(s)));
        print_ratio(r, "whole estimate: 1 thread / 2 threads", whole + "/1", whole + "/2", "");
    }
    std::printf("-- 1000 x 1000, nets whose box covers at most a tenth of the chip\n");
    print_ratio(r, "update_demand path (1 thread) / plain bbox kernel", "update_demand_local/1000/1000000/0/1",
                "plain_bounding_box_local/1000/1000000", "<= 25");
    print_ratio(r, "update_demand bbox (1 thread) / plain bbox kernel", "update_demand_local/1000/1000000/1/1",
                "plain_bounding_box_local/1000/1000000", "<= 25");
    std::printf("-- design reader, synthetic 1000 x 1000 design, 200 000 nets\n");
    print_ratio(r, "read design / plain pass over its bytes (1 thread)", "BM_ToolReadDesign",
                "BM_ToolReadDesignPlainPass", "");
    std::printf("-- the estimator tool on a synthetic 1000 x 1000 design, 200 000 nets\n");
    for (const char* threads : {"1", "2"})
        print_ratio(r, threads[0] == '1' ? "heatmaps / wire demand (1 thread)" : "heatmaps / wire demand (2 threads)",
                    std::string("BM_ToolHeatmaps/threads:") + threads,
                    std::string("BM_ToolWireDemand/threads:") + threads, "<= 1");
    for (const char* side : {"40", "80"}) {
        const std::string s = side;
        std::printf("-- placement pass, synthetic %s x %s generic device, half its slices filled\n", side, side);
        for (const char* map : {"0", "1"}) {
            const std::string m = map;
            print_ratio(r,
                        m == "0" ? "refresh of the estimate / one temperature's moves (2 threads)"
                                 : "refresh of the net boxes / one temperature's moves (2 threads)",
                        "place_refresh/" + s + "/" + m + "/2", "place_temperature/" + s + "/" + m, "");
        }
        print_ratio(r, "refresh of the estimate / of the net boxes (2 threads)", "place_refresh/" + s + "/0/2",
                    "place_refresh/" + s + "/1/2", "");
    }
    std::printf("-- whole estimate 1000 x 1000, 1 000 000 nets, supply to metrics\n");
    print_time(r, "1 thread (ms)", "whole_estimate/1000/1000000/1", "");
    print_time(r, "2 threads (ms)", "whole_estimate/1000/1000000/2", "< 1500");
    print_ratio(r, "1 thread / 2 threads", "whole_estimate/1000/1000000/1", "whole_estimate/1000/1000000/2", "");
}

// Peak resident memory of one whole estimate, with the sizes that should
// dominate it: the demand's scratch grids and the object's own grids.
int report_memory(int size, int nets)
{
    const SYNTHETIC_NETLIST& netlist = netlist_of(size, nets);
    const SYNTHETIC_SUPPLY& chip = chip_of(size);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    run_whole_estimate(size, netlist, chip);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const double mib = 1024.0 * 1024.0;
    const double grid = static_cast<double>(grid_bytes(size));
    std::printf("whole estimate %d x %d, %d nets\n", size, size, nets);
    std::printf("  peak resident before inputs were used: %8.1f MiB\n", before.ru_maxrss / 1024.0);
    std::printf("  peak resident after the estimate:      %8.1f MiB\n", after.ru_maxrss / 1024.0);
    std::printf("  of which the estimate added at most:   %8.1f MiB\n", (after.ru_maxrss - before.ru_maxrss) / 1024.0);
    std::printf("  one set of the four wire grids:        %8.1f MiB\n", 4 * grid / mib);
    std::printf("    (update_demand holds about one per worker and a copy of the demand)\n");
    std::printf("  the object's own grids (about 40):     %8.1f MiB\n", 40 * grid / mib);
    return 0;
}

// The first update_demand of a process against a later one, with an empty
// net list and with the whole netlist. Meant for a fresh process: what a
// first call pays depends on what the allocator already holds.
int report_first_call(int size, int nets, CONGESTION::NET_MODEL model)
{
    const SYNTHETIC_NETLIST& netlist = netlist_of(size, nets);
    auto engine = prepared_engine(size, false, &netlist);
    const auto time_ms = [&](const std::vector<int>& net_list) {
        engine->clear_demand();
        const auto start = std::chrono::steady_clock::now();
        engine->update_demand(net_list, model);
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
    const std::vector<int> no_nets;
    const double empty_first = time_ms(no_nets);
    const double empty_later = time_ms(no_nets);
    const double full_first = time_ms(netlist.get_all_nets());
    const double full_later = time_ms(netlist.get_all_nets());
    std::printf("update_demand %s model, %d x %d, fresh process: first / later call (target <= 2)\n",
                model == CONGESTION::PATH_PROBABILITY_MODEL ? "path" : "bbox", size, size);
    std::printf("  no nets:     %10.3f / %10.3f ms = %6.2f\n", empty_first, empty_later, empty_first / empty_later);
    std::printf("  %d nets: %10.1f / %10.1f ms = %6.2f\n", nets, full_first, full_later, full_first / full_later);
    return 0;
}

}  // namespace

#if defined(CONGESTION_BENCH_DESIGNS)
void register_design_benchmarks(const std::string& source_dir, const std::string& shared_designs);
int report_tool_memory(const std::string& design_dir);
#endif
#if defined(CONGESTION_BENCH_PLACER)
void register_placer_benchmarks();
#endif

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--memory") == 0)
            return report_memory(1000, 1000000);
        else if (std::strncmp(argv[i], "--first-call=", 13) == 0)
            return report_first_call(1000, 1000000, static_cast<CONGESTION::NET_MODEL>(std::atoi(argv[i] + 13)));
#if defined(CONGESTION_BENCH_DESIGNS)
        else if (std::strncmp(argv[i], "--tool-memory=", 14) == 0)
            return report_tool_memory(argv[i] + 14);
#endif
    register_all();
#if defined(CONGESTION_BENCH_DESIGNS)
    register_design_benchmarks(CONGESTION_SOURCE_DIR, CONGESTION_SHARED_DESIGNS);
#endif
#if defined(CONGESTION_BENCH_PLACER)
    register_placer_benchmarks();
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RATIO_REPORTER reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    print_ratios(reporter);
    benchmark::Shutdown();
    return 0;
}
