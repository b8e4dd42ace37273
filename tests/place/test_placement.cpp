// The placement pass's state and cost on the bundled 20 x 20 generic design:
// boxes and costs kept up to date move by move against a recomputation from
// scratch, legal moves, the maps against plain tile-by-tile computations, and
// the annealer's schedule.
#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "front_end/routability.h"
#include "placer/anneal.h"
#include "placer/congestion_map.h"
#include "placer/placed_design.h"
#include "placer/placement.h"
#include "placer/placement_cost.h"

namespace {

constexpr std::uint32_t SEED = 33;
constexpr int RANDOM_MOVES = 20000;
constexpr int CHECKED_CHANGES = 200;
constexpr double CONGESTION_WEIGHT = 2.0;
constexpr double THRESHOLD = 1.5;
constexpr double WINDOW_TOLERANCE = 1e-4;  // of a map: only crowding above 1.5 times the average counts
// Relative difference allowed between a running sum and the same sum taken
// again in net order.
constexpr double SUM_TOLERANCE = 1e-9;

const PLACED_DESIGN& get_design()
{
    static const PLACED_DESIGN design = read_placed_design(BUNDLED_DESIGN);
    return design;
}

// A random legal move of a random slice, tried; false when the drawn one is
// not legal.
bool try_random_move(PLACEMENT& placement, std::mt19937& random)
{
    const std::vector<int>& cells = placement.get_movable_cells();
    const int cell = cells[random() % cells.size()];
    const int x = static_cast<int>(random() % static_cast<unsigned>(placement.get_nx()));
    const int y = static_cast<int>(random() % static_cast<unsigned>(placement.get_ny()));
    const int z = static_cast<int>(random() % static_cast<unsigned>(placement.get_placed().slices));
    if (!placement.is_legal_move(cell, x, y, z))
        return false;
    placement.try_move(cell, x, y, z);
    return true;
}

// Every slice bel holds at most one cell, every cell lies on a bel of its
// kind, the pins on their cells' tiles and each logic tile's clocked slices
// share a clock.
void expect_legal(const PLACEMENT& placement)
{
    const PLACED_DESIGN& placed = placement.get_placed();
    const DESIGN& design = placed.design;
    std::set<std::string> bels;
    std::vector<int> clock(design.get_num_tiles(), NO_NET);
    for (int cell = 0; cell < placed.get_num_cells(); ++cell) {
        const BEL& bel = placement.get_bel(cell);
        const BEL& before = placed.cell_bels[static_cast<std::size_t>(cell)];
        EXPECT_TRUE(bels.insert(get_bel_name(bel)).second) << get_bel_name(bel) << " holds two cells";
        EXPECT_EQ(bel.kind, before.kind);
        EXPECT_EQ(TILE_KIND_NAMES[design.tile_kind[design.get_tile_index(bel.x, bel.y)]],
                  std::string(bel.kind == BEL_KIND::SLICE ? "logic" : "io"));
        if (bel.kind == BEL_KIND::IO) {
            EXPECT_EQ(bel, before) << "an I/O cell moved";
        }
        const int cell_clock = placed.cell_clock[static_cast<std::size_t>(cell)];
        if (cell_clock != NO_NET) {
            int& shared = clock[design.get_tile_index(bel.x, bel.y)];
            EXPECT_TRUE(shared == NO_NET || shared == cell_clock) << "two clocks in the tile of " << get_bel_name(bel);
            shared = cell_clock;
        }
    }
    for (std::size_t pin = 0; pin < design.pin_x.size(); ++pin) {
        const BEL& bel = placement.get_bel(placed.placement.pin_cell[pin]);
        ASSERT_EQ(placement.get_pin_x()[pin], bel.x);
        ASSERT_EQ(placement.get_pin_y()[pin], bel.y);
    }
}

class MovesUnderEachMap : public testing::TestWithParam<MAP_KIND> {};

// Random moves, each kept or undone at random: the boxes the placement
// computes for a move (edge counts, scanned again only when a pin leaves an
// edge alone) equal a scan of the pins, a move's change the difference of
// the totals, the cost of every net equals its cost computed anew, and the
// running totals the sums taken again.
TEST_P(MovesUnderEachMap, IncrementalBoxesAndCostsEqualARecomputationFromScratch)
{
    PLACEMENT placement(get_design());
    const std::unique_ptr<CONGESTION_MAP> map = make_congestion_map(GetParam(), placement);
    PLACEMENT_COST cost(placement, *map, CONGESTION_WEIGHT);
    std::mt19937 random(SEED);
    int kept = 0;
    for (int m = 0; m < RANDOM_MOVES; ++m) {
        if (!try_random_move(placement, random))
            continue;
        for (const TOUCHED_NET& touched : placement.get_touched()) {
            const COUNTED_BOX scanned = placement.scan_box(touched.net);
            ASSERT_EQ(touched.box.box, scanned.box) << "net " << touched.net << " at move " << m;
            ASSERT_EQ((std::vector<int>{touched.box.on_xl, touched.box.on_xr, touched.box.on_yb, touched.box.on_yt}),
                      (std::vector<int>{scanned.on_xl, scanned.on_xr, scanned.on_yb, scanned.on_yt}))
                << "net " << touched.net << " at move " << m;
        }
        const double before = cost.get_total();
        const double change = cost.get_change(placement.get_touched());
        if (random() % 2 == 0) {
            cost.commit(placement.get_touched());
            placement.commit();
            // The change a move reports is the difference of the totals
            // before and after (checked on the first kept moves only, as the
            // recomputation resets the running sums).
            if (++kept <= CHECKED_CHANGES) {
                cost.recompute();
                EXPECT_NEAR(cost.get_total() - before, change, SUM_TOLERANCE * before) << "move " << m;
            }
        } else {
            placement.undo();
        }
    }
    ASSERT_GT(kept, RANDOM_MOVES / 4);
    expect_legal(placement);
    // The netlist the estimator reads has the same boxes, and the running
    // wire length is the sum of q(pins) * (width + height).
    const FLAT_NETLIST netlist(placement.get_netlist_arrays());
    double total = 0.0;
    double wirelength = 0.0;
    for (int net : placement.get_wired_nets()) {
        const NET_BOX box = placement.scan_box(net).box;
        ASSERT_EQ(placement.get_box(net), box) << "net " << net;
        EXPECT_EQ(cost.get_net_cost(net), cost.get_cost(net, box)) << "net " << net;
        total += cost.get_net_cost(net);
        NET_BOX read;
        netlist.get_bounding_box(net, &read.xl, &read.xr, &read.yb, &read.yt);
        ASSERT_EQ(read, box) << "net " << net;
        wirelength +=
            get_crossing_factor(get_design().design.get_num_pins(net)) * ((box.xr - box.xl) + (box.yt - box.yb));
    }
    EXPECT_NEAR(cost.get_total(), total, SUM_TOLERANCE * total);
    EXPECT_NEAR(cost.get_wirelength(), wirelength, SUM_TOLERANCE * wirelength);
    const double running = cost.get_total();
    cost.recompute();
    EXPECT_NEAR(cost.get_total(), running, SUM_TOLERANCE * total);
    EXPECT_NEAR(cost.get_wirelength(), wirelength, SUM_TOLERANCE * wirelength);
}

INSTANTIATE_TEST_SUITE_P(Maps, MovesUnderEachMap, testing::Values(MAP_KIND::ESTIMATE, MAP_KIND::BOXES),
                         [](const testing::TestParamInfo<MAP_KIND>& info) {
                             return info.param == MAP_KIND::BOXES ? "Boxes" : "Estimate";
                         });

// A move that would put two clocks into one logic tile is refused, in both
// directions of a swap; one onto a cell's own tile or off the logic tiles too.
TEST(Moves, IllegalMovesAreRefused)
{
    PLACEMENT placement(get_design());
    const PLACED_DESIGN& placed = get_design();
    // The first clocked slice outside the tile (x, y).
    const auto find_clocked = [&](int x, int y) {
        for (int cell : placement.get_movable_cells()) {
            const BEL& at = placement.get_bel(cell);
            if (placed.cell_clock[static_cast<std::size_t>(cell)] != NO_NET && (at.x != x || at.y != y))
                return cell;
        }
        return PLACEMENT::NO_CELL;
    };
    const int clocked = find_clocked(-1, -1);
    ASSERT_NE(clocked, PLACEMENT::NO_CELL);
    const BEL& bel = placement.get_bel(clocked);
    EXPECT_FALSE(placement.is_legal_move(clocked, bel.x, bel.y, (bel.z + 1) % placed.slices));
    EXPECT_FALSE(placement.is_legal_move(clocked, 0, bel.y, 0));  // an I/O tile
    const int other_x = bel.x == 1 ? 2 : 1;
    EXPECT_FALSE(placement.is_legal_move(clocked, other_x, bel.y, placed.slices));  // no such slice
    EXPECT_FALSE(placement.is_legal_move(clocked, other_x, bel.y, -1));
    // A tile whose slices all take another clock does not take this cell; the
    // design has one clock, so another is made by hand in a copy.
    PLACED_DESIGN two_clocks = placed;
    const int other_clock = placed.design.get_num_nets() - 1;
    ASSERT_NE(other_clock, placed.cell_clock[static_cast<std::size_t>(clocked)]);
    const int target = find_clocked(bel.x, bel.y);
    ASSERT_NE(target, PLACEMENT::NO_CELL);
    const BEL& target_bel = placed.cell_bels[static_cast<std::size_t>(target)];
    for (int cell = 0; cell < placed.get_num_cells(); ++cell) {
        const BEL& at = placed.cell_bels[static_cast<std::size_t>(cell)];
        if (at.x == target_bel.x && at.y == target_bel.y &&
            two_clocks.cell_clock[static_cast<std::size_t>(cell)] != NO_NET)
            two_clocks.cell_clock[static_cast<std::size_t>(cell)] = other_clock;
    }
    PLACEMENT separate(two_clocks);
    for (int z = 0; z < placed.slices; ++z)
        EXPECT_FALSE(separate.is_legal_move(clocked, target_bel.x, target_bel.y, z)) << "slice " << z;
    EXPECT_TRUE(placement.is_legal_move(clocked, target_bel.x, target_bel.y, target_bel.z));
    // A swap takes the other clock out of the tile it brings this one into:
    // with each of the two cells the only clocked slice of its tile, they
    // swap, but the cell does not join the other's tile beside it.
    PLACED_DESIGN alone = two_clocks;
    const BEL& clocked_bel = placed.cell_bels[static_cast<std::size_t>(clocked)];
    for (int cell = 0; cell < placed.get_num_cells(); ++cell) {
        const BEL& at = placed.cell_bels[static_cast<std::size_t>(cell)];
        const bool in_either =
            (at.x == target_bel.x && at.y == target_bel.y) || (at.x == clocked_bel.x && at.y == clocked_bel.y);
        if (in_either && cell != clocked && cell != target)
            alone.cell_clock[static_cast<std::size_t>(cell)] = NO_NET;
    }
    PLACEMENT swapping(alone);
    EXPECT_TRUE(swapping.is_legal_move(clocked, target_bel.x, target_bel.y, target_bel.z));
    EXPECT_FALSE(swapping.is_legal_move(clocked, target_bel.x, target_bel.y, (target_bel.z + 1) % placed.slices));
}

// A net's cost is its crossing factor times its box's width and height,
// each weighted by 1 + a times the map's mean over the box: here a box of 4
// by 3 tiles (width 3, height 2, 12 tiles) of a net of 4 pins (factor
// 1.0828) under a map whose box sums are 6 horizontal and 12 vertical, with
// a = 2: 1.0828 * (3 * (1 + 2 * 6 / 12) + 2 * (1 + 2 * 12 / 12)) = 12.9936.
TEST(Cost, ANetsCostIsItsBoxWeightedByTheMapsMeanOverIt)
{
    class FIXED_MAP : public CONGESTION_MAP {
     public:
        void refresh() override {}
        double get_horizontal_sum(const NET_BOX&) const override { return 6.0; }
        double get_vertical_sum(const NET_BOX&) const override { return 12.0; }
    } map;
    PLACEMENT placement(get_design());
    const PLACEMENT_COST cost(placement, map, 2.0);
    int four_pins = -1;
    for (int net : placement.get_wired_nets())
        if (get_design().design.get_num_pins(net) == 4) {
            four_pins = net;
            break;
        }
    ASSERT_GE(four_pins, 0);
    EXPECT_NEAR(cost.get_cost(four_pins, {2, 5, 1, 3}), 12.9936, 1e-12);
    // A box one tile wide costs nothing along that axis.
    EXPECT_NEAR(cost.get_cost(four_pins, {4, 4, 1, 3}), 1.0828 * 2 * (1 + 2 * 12.0 / 3), 1e-12);
    EXPECT_EQ(cost.get_cost(four_pins, {4, 4, 2, 2}), 0.0);
}

// Bel names of the generic device, and names that are none.
TEST(Bels, NamesAreReadAndWrittenAsTheDeviceNamesThem)
{
    const std::pair<const char*, BEL> names[] = {{"X3/Y14/SLICE2", {3, 14, 2, BEL_KIND::SLICE}},
                                                 {"X0/Y7/IO1", {0, 7, 1, BEL_KIND::IO}}};
    for (const auto& [name, bel] : names) {
        ASSERT_TRUE(parse_bel_name(name).has_value()) << name;
        EXPECT_EQ(*parse_bel_name(name), bel) << name;
        EXPECT_EQ(get_bel_name(bel), name);
    }
    for (const char* name : {"A3/Y14/SLICE2", "X3/Z14/SLICE2", "X/Y14/SLICE2", "X3/Y14/SLICE", "X3/Y14/LUT2", "X3/Y14",
                             "X-1/Y14/SLICE2", "X3/Y14/SLICE2x", "X3Y14/SLICE2"})
        EXPECT_FALSE(parse_bel_name(name).has_value()) << name;
}

// The number of tiles with supply, and the check that MAP sums to 2 per
// such tile over the whole grid: a mean of one in each axis.
std::size_t expect_mean_of_one(const CONGESTION_MAP& map, const DESIGN& design, double tolerance)
{
    std::size_t tiles = 0;
    for (std::size_t tile = 0; tile < design.get_num_tiles(); ++tile)
        tiles += design.has_wire_supply(tile);
    const NET_BOX grid{0, design.nx - 1, 0, design.ny - 1};
    EXPECT_NEAR(map.get_horizontal_sum(grid) + map.get_vertical_sum(grid), 2.0 * static_cast<double>(tiles),
                tolerance * static_cast<double>(tiles));
    return tiles;
}

// A tile's box demand along an axis over the supply of the axis's two
// directions, 0 on a tile without supply.
double get_demand_over_supply(const DESIGN& design, const BOX_DEMAND& demand, int x, int y, bool horizontal)
{
    const std::size_t tile = design.get_tile_index(x, y);
    const double supply =
        horizontal ? design.direction_supply[DIRECTIONAL_RIGHT][tile] + design.direction_supply[DIRECTIONAL_LEFT][tile]
                   : design.direction_supply[DIRECTIONAL_UP][tile] + design.direction_supply[DIRECTIONAL_DOWN][tile];
    if (supply <= 0.0)
        return 0.0;
    return (horizontal ? demand.get_horizontal(x, y) : demand.get_vertical(x, y)) / supply;
}

// The box map is the net boxes' demand, unlengthened, over the axis's supply, divided
// by the mean over the tiles with supply: summed over the whole grid it gives
// the number of tiles with supply times 2 at the first refresh.
TEST(Maps, TheBoxMapIsTheVerdictsDemandOverTheSupplyNormalisedToAMeanOfOne)
{
    PLACEMENT placement(get_design());
    const std::unique_ptr<CONGESTION_MAP> map = make_congestion_map(MAP_KIND::BOXES, placement);
    const DESIGN& design = get_design().design;
    FLAT_NETLIST netlist(placement.get_netlist_arrays());
    const BOX_DEMAND demand(design.nx, design.ny, netlist, placement.get_wired_nets(), 0.0);
    double horizontal = 0.0;
    double vertical = 0.0;
    for (int y = 0; y < design.ny; ++y)
        for (int x = 0; x < design.nx; ++x) {
            horizontal += get_demand_over_supply(design, demand, x, y, true);
            vertical += get_demand_over_supply(design, demand, x, y, false);
        }
    const std::size_t tiles = expect_mean_of_one(*map, design, 1e-9);
    const double reference = (horizontal + vertical) / (2.0 * static_cast<double>(tiles));
    const NET_BOX grid{0, design.nx - 1, 0, design.ny - 1};
    EXPECT_NEAR(map->get_horizontal_sum(grid), horizontal / reference, 1e-9 * horizontal / reference);
    EXPECT_NEAR(map->get_vertical_sum(grid), vertical / reference, 1e-9 * vertical / reference);
    // With a threshold t each tile counts only its value above t.
    const std::unique_ptr<CONGESTION_MAP> above = make_congestion_map(MAP_KIND::BOXES, placement, THRESHOLD);
    double horizontal_above = 0.0;
    for (int y = 0; y < design.ny; ++y)
        for (int x = 0; x < design.nx; ++x)
            horizontal_above +=
                std::max(0.0, get_demand_over_supply(design, demand, x, y, true) / reference - THRESHOLD);
    EXPECT_GT(horizontal_above, 0.0);
    EXPECT_NEAR(above->get_horizontal_sum(grid), horizontal_above, 1e-9 * horizontal_above);
    // One tile's sum is its own value.
    const int x = design.nx / 2;
    const int y = design.ny / 2;
    EXPECT_NEAR(map->get_horizontal_sum({x, x, y, y}), get_demand_over_supply(design, demand, x, y, true) / reference,
                1e-12);
}

// The estimate map is the library's congestion of the two directions of an
// axis, averaged, normalised alike: summed over the grid, 2 per tile with
// supply at the first refresh.
TEST(Maps, TheEstimateMapIsNormalisedToAMeanOfOne)
{
    PLACEMENT placement(get_design());
    const std::unique_ptr<CONGESTION_MAP> map = make_congestion_map(MAP_KIND::ESTIMATE, placement);
    const DESIGN& design = get_design().design;
    expect_mean_of_one(*map, design, 1e-4);
    // With a threshold each direction's value is the plain one less the
    // threshold, not below 0, so an axis's is the mean of its directions'.
    const std::unique_ptr<CONGESTION_MAP> above = make_congestion_map(MAP_KIND::ESTIMATE, placement, THRESHOLD);
    int hot = 0;
    for (int y = 0; y < design.ny; ++y)
        for (int x = 0; x < design.nx; ++x) {
            const NET_BOX tile{x, x, y, y};
            const double plain = map->get_horizontal_sum(tile);
            const double counted = above->get_horizontal_sum(tile);
            // A one-tile window of the library's float tables is the tile's
            // value to a few units in the last place of the table's sums.
            const double tolerance = WINDOW_TOLERANCE * std::max(1.0, plain);
            EXPECT_LE(counted, std::max(0.0, plain - THRESHOLD / 2.0) + tolerance) << x << ", " << y;
            EXPECT_GE(counted + tolerance, plain - THRESHOLD) << x << ", " << y;
            hot += counted > 0.0;
        }
    EXPECT_GT(hot, 0);
}

// The documented schedule: the temperature falls by the factor the
// acceptance rate picks (0.5 above 0.96, 0.9 above 0.8, 0.95 above 0.15,
// else 0.8), the range limit follows the rate within 1 tile and the
// device's side, the map is made again every temperature (or every N
// moves), and the last round runs at temperature 0.
TEST(Anneal, TheScheduleFollowsTheAcceptanceRate)
{
    for (const long long refresh_moves : {0LL, 3000LL}) {
        PLACEMENT placement(get_design());
        const std::unique_ptr<CONGESTION_MAP> map = make_congestion_map(MAP_KIND::BOXES, placement);
        ANNEAL_OPTIONS options;
        options.effort = 0.1;
        options.refresh_moves = refresh_moves;
        std::vector<TEMPERATURE_STEP> steps;
        const ANNEAL_RESULT result =
            anneal(placement, *map, options, [&](const TEMPERATURE_STEP& step) { steps.push_back(step); });
        ASSERT_GE(steps.size(), 3u);
        EXPECT_EQ(result.temperatures, static_cast<int>(steps.size()));
        long long moves = 0;
        long long accepted = 0;
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const TEMPERATURE_STEP& step = steps[i];
            EXPECT_EQ(step.index, static_cast<int>(i) + 1);
            EXPECT_LE(step.accepted, step.moves);
            moves += step.moves;
            accepted += step.accepted;
            EXPECT_GE(step.range, 1.0);
            EXPECT_LE(step.range, std::max(get_design().design.nx, get_design().design.ny));
            if (i + 2 >= steps.size())
                continue;  // the last temperature above 0 sets no next one
            const double rate = static_cast<double>(step.accepted) / static_cast<double>(step.moves);
            const double cooling = rate > 0.96 ? 0.5 : rate > 0.8 ? 0.9 : rate > 0.15 ? 0.95 : 0.8;
            EXPECT_DOUBLE_EQ(steps[i + 1].temperature, step.temperature * cooling) << "temperature " << i + 1;
            EXPECT_DOUBLE_EQ(steps[i + 1].range,
                             std::clamp(step.range * (0.56 + rate), 1.0,
                                        static_cast<double>(std::max(get_design().design.nx, get_design().design.ny))));
        }
        EXPECT_GT(steps.front().temperature, 0.0);
        EXPECT_EQ(steps.back().temperature, 0.0);
        EXPECT_GT(steps.back().accepted, 0);  // at 0 the gains are still taken
        EXPECT_EQ(result.moves, moves);
        EXPECT_EQ(result.accepted, accepted);
        EXPECT_EQ(result.refreshes, steps.back().refreshes);
        if (refresh_moves == 0) {
            // Once a temperature, but not before the first (the map was just made).
            EXPECT_EQ(result.refreshes, result.temperatures - 1);
        } else {
            EXPECT_EQ(result.refreshes, moves / refresh_moves + 1);
        }
    }
}

}  // namespace
