// The placement pass's loop on synthetic generic devices of 40 x 40 and
// 80 x 80 tiles: a refresh of each map (the estimate made again through the
// public handle, or the net boxes, and every net's cost under it) against the
// moves of one temperature, which decide how often a refresh pays.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include "placer/anneal.h"
#include "placer/congestion_map.h"
#include "placer/placed_design.h"
#include "placer/placement.h"
#include "placer/placement_cost.h"

namespace {

constexpr std::uint32_t SEED = 33;
constexpr int SLICES = 4;
constexpr int IOBS = 2;
constexpr int TRACKS = 20;     // per direction, as the importer's default channel
constexpr double FILL = 0.5;   // of the slices, as the importer's default grid
constexpr int FANOUT_MIN = 1;  // loads of a net
constexpr int FANOUT_MAX = 5;
constexpr int LOCAL_REACH = 3;             // tiles from the driver of a nearby load
constexpr double FAR_LOAD_SHARE = 0.1;     // loads anywhere on the device
constexpr double CONGESTION_WEIGHT = 3.0;  // the pass's default
constexpr double MOVE_EXPONENT = 4.0 / 3.0;

// A generic device of side x side tiles (I/O ring, 4 slices per logic tile,
// 20 tracks per direction) with half its slices filled by cells packed into
// the middle of the device as a wire-length placer leaves them; each cell
// drives a net of 1 to 5 loads, most within 3 tiles, a tenth anywhere. No
// clocks.
PLACED_DESIGN make_design(int side)
{
    std::mt19937 random(SEED);
    PLACED_DESIGN placed;
    placed.folder = "synthetic";
    placed.slices = SLICES;
    placed.iobs_per_tile = IOBS;
    DESIGN& design = placed.design;
    design.nx = design.ny = side;
    design.form = DESIGN_FORM::DIRECTIONAL;
    const std::size_t tiles = design.get_num_tiles();
    design.tile_kind.assign(tiles, 0);
    for (auto& column : design.direction_supply)
        column.assign(tiles, TRACKS);
    design.lab_in.assign(tiles, SLICES * 4 + 1);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const bool edge_x = x == 0 || x == side - 1;
            const bool edge_y = y == 0 || y == side - 1;
            if (edge_x || edge_y)
                design.tile_kind[design.get_tile_index(x, y)] = edge_x && edge_y ? 9 : 3;  // empty, io
        }
    // Cells fill the tiles of a square in the middle, each to 4 slices.
    const int cells = static_cast<int>(FILL * (side - 2) * (side - 2) * SLICES);
    const int square = static_cast<int>(std::ceil(std::sqrt(cells / static_cast<double>(SLICES))));
    const int first = (side - square) / 2;
    for (int cell = 0; cell < cells; ++cell) {
        const int tile = cell / SLICES;
        const BEL bel{first + tile % square, first + tile / square, cell % SLICES, BEL_KIND::SLICE};
        placed.cell_bels.push_back(bel);
        placed.placement.cell_names.push_back("c" + std::to_string(cell));
        placed.placement.bel_names.push_back(get_bel_name(bel));
    }
    placed.cell_clock.assign(static_cast<std::size_t>(cells), NO_NET);
    design.net_start.assign(1, 0);
    const auto add_pin = [&](int cell) {
        design.pin_x.push_back(placed.cell_bels[static_cast<std::size_t>(cell)].x);
        design.pin_y.push_back(placed.cell_bels[static_cast<std::size_t>(cell)].y);
        placed.placement.pin_cell.push_back(cell);
        placed.placement.pin_port.emplace_back(placed.placement.pin_cell.size() == 1 ? "F" : "I[0]");
    };
    std::uniform_int_distribution<int> fanout(FANOUT_MIN, FANOUT_MAX);
    std::uniform_int_distribution<int> any_cell(0, cells - 1);
    std::uniform_int_distribution<int> reach(-LOCAL_REACH, LOCAL_REACH);
    std::uniform_int_distribution<int> slice(0, SLICES - 1);
    std::bernoulli_distribution far(FAR_LOAD_SHARE);
    // A cell of a tile at most LOCAL_REACH tiles from the driver's along
    // each axis, inside the filled square.
    const auto near = [&](int driver) {
        const int tile = driver / SLICES;
        const int x = std::clamp(tile % square + reach(random), 0, square - 1);
        const int y = std::clamp(tile / square + reach(random), 0, square - 1);
        return std::min(cells - 1, (y * square + x) * SLICES + slice(random));
    };
    for (int driver = 0; driver < cells; ++driver) {
        add_pin(driver);
        for (int load = fanout(random); load > 0; --load)
            add_pin(far(random) ? any_cell(random) : near(driver));
        design.net_start.push_back(static_cast<int>(design.pin_x.size()));
        design.flags.push_back(0);
        design.weight.push_back(0);
    }
    return placed;
}

const PLACED_DESIGN& get_design(int side)
{
    static const PLACED_DESIGN small = make_design(40);
    static const PLACED_DESIGN large = make_design(80);
    return side == 40 ? small : large;
}

// Args: side, map (0 estimate, 1 boxes), threads. One refresh of the loop:
// the map made again and every net's cost under it.
void BM_PlaceRefresh(benchmark::State& state)
{
    const tbb::global_control threads(tbb::global_control::max_allowed_parallelism,
                                      static_cast<std::size_t>(state.range(2)));
    PLACEMENT placement(get_design(static_cast<int>(state.range(0))));
    const std::unique_ptr<CONGESTION_MAP> map =
        make_congestion_map(state.range(1) == 0 ? MAP_KIND::ESTIMATE : MAP_KIND::BOXES, placement);
    PLACEMENT_COST cost(placement, *map, CONGESTION_WEIGHT);
    for (auto _ : state) {
        map->refresh();
        cost.recompute();
    }
    benchmark::DoNotOptimize(cost.get_total());
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(placement.get_wired_nets().size()));
}

// Args: side, map. The moves of one temperature at the pass's default
// effort (the movable cells to the power 4/3), each tried, costed and
// undone, so that every iteration starts from the same placement.
void BM_PlaceTemperature(benchmark::State& state)
{
    PLACEMENT placement(get_design(static_cast<int>(state.range(0))));
    const std::unique_ptr<CONGESTION_MAP> map =
        make_congestion_map(state.range(1) == 0 ? MAP_KIND::ESTIMATE : MAP_KIND::BOXES, placement);
    PLACEMENT_COST cost(placement, *map, CONGESTION_WEIGHT);
    const std::vector<int>& cells = placement.get_movable_cells();
    const auto moves = static_cast<int64_t>(std::pow(static_cast<double>(cells.size()), MOVE_EXPONENT));
    constexpr int RANGE = 3;
    std::mt19937 random(SEED);
    double sum = 0.0;
    for (auto _ : state)
        for (int64_t m = 0; m < moves; ++m) {
            const int cell = cells[random() % cells.size()];
            const BEL& from = placement.get_bel(cell);
            const int x = from.x + static_cast<int>(random() % (2 * RANGE + 1)) - RANGE;
            const int y = from.y + static_cast<int>(random() % (2 * RANGE + 1)) - RANGE;
            const int z = static_cast<int>(random() % SLICES);
            if (!placement.is_legal_move(cell, x, y, z))
                continue;
            sum += cost.get_change(placement.try_move(cell, x, y, z));
            placement.undo();
        }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations() * moves);
}

}  // namespace

void register_placer_benchmarks()
{
    auto* refresh =
        benchmark::RegisterBenchmark("place_refresh", BM_PlaceRefresh)->Unit(benchmark::kMillisecond)->UseRealTime();
    auto* temperature = benchmark::RegisterBenchmark("place_temperature", BM_PlaceTemperature)
                            ->Unit(benchmark::kMillisecond)
                            ->UseRealTime();
    for (int64_t side : {40, 80})
        for (int64_t map : {0, 1}) {
            for (int64_t threads : {1, 2})
                refresh->Args({side, map, threads});
            temperature->Args({side, map});
        }
}
