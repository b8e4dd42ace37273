// Statistics on hand-checked vectors, the baseline's conservation, the
// design netlist's answers, the routability figures of an estimate and the
// .npy header.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "front_end/baseline.h"
#include "front_end/design_netlist.h"
#include "front_end/npy_file.h"
#include "front_end/routability.h"
#include "front_end/statistics.h"
#include "tools/estimate.h"

namespace {

constexpr double EPSILON = 1e-12;

TEST(Statistics, HandCheckedVectors)
{
    EXPECT_NEAR(get_pearson({1, 2, 3, 4}, {2, 4, 6, 8}), 1.0, EPSILON);
    EXPECT_NEAR(get_pearson({1, 2, 3, 4}, {8, 6, 4, 2}), -1.0, EPSILON);
    // Deviations (-1, 0, 1) and (-1, 1, 0): covariance 1, variances 2 and 2.
    EXPECT_NEAR(get_pearson({1, 2, 3}, {1, 3, 2}), 0.5, EPSILON);
    // A constant side, although the mean of three 0.1 is not 0.1.
    EXPECT_TRUE(std::isnan(get_pearson({0.1, 0.1, 0.1}, {1, 2, 4})));
    EXPECT_TRUE(std::isnan(get_pearson({1, 2, 4}, {0.1, 0.1, 0.1})));
    EXPECT_TRUE(std::isnan(get_pearson({1}, {1})));
    EXPECT_TRUE(std::isnan(get_pearson({1, 2}, {1, 2, 3})));
    EXPECT_EQ(get_average_ranks({10, 20, 20, 30}), (std::vector<double>{1, 2.5, 2.5, 4}));
    EXPECT_EQ(get_average_ranks({3, 1, 2, 1}), (std::vector<double>{4, 1.5, 3, 1.5}));
    // Ranks (1, 2.5, 2.5, 4) against (1, 3, 2, 4): covariance 4.5, variances
    // 4.5 and 5, so 4.5 / sqrt(22.5) = 3 / sqrt(10).
    EXPECT_NEAR(get_spearman({1, 2, 2, 3}, {1, 3, 2, 4}), 3.0 / std::sqrt(10.0), EPSILON);
    // Any increasing map keeps Spearman at 1 where Pearson falls below it.
    const std::vector<double> x = {1, 2, 3, 4, 5};
    const std::vector<double> cubes = {1, 8, 27, 64, 125};
    EXPECT_NEAR(get_spearman(x, cubes), 1.0, EPSILON);
    EXPECT_LT(get_pearson(x, cubes), 0.99);
    // 20 values: the top 10 % is two entries. Truth's top: 0 and 1.
    std::vector<double> truth(20, 0.0);
    truth[0] = 9;
    truth[1] = 8;
    std::vector<double> estimate(20, 0.0);
    estimate[0] = 5;
    estimate[7] = 6;
    EXPECT_EQ(get_top_indices(estimate, 0.1), (std::vector<int>{7, 0}));
    EXPECT_DOUBLE_EQ(get_top_share(truth, estimate, 0.1), 0.5);
    EXPECT_DOUBLE_EQ(get_top_share(truth, truth, 0.1), 1.0);
    EXPECT_TRUE(std::isnan(get_top_share({1, 2}, {1, 2, 3}, 0.1)));
    // All equal: the lowest indices win the ties, so 0 and 1 are chosen.
    EXPECT_DOUBLE_EQ(get_top_share(truth, std::vector<double>(20, 1.0), 0.1), 1.0);
    EXPECT_EQ(get_top_indices({1, 3, 2}, 0.1), (std::vector<int>{1}));  // at least one
    std::vector<double> values;
    for (int v = 200; v >= 1; --v)
        values.push_back(v);
    std::shuffle(values.begin(), values.end(), std::mt19937(7));
    // 1, 2, 4 and 10 values (191..200), in any order of the percentages.
    EXPECT_EQ(get_ace(values, {0.5, 5.0, 1.0, 2.0}), (std::vector<double>{200.0, 195.5, 199.5, 198.5}));
    EXPECT_EQ(get_ace({}, {5.0}), std::vector<double>{0.0});
}

// Each mean adds the largest values in descending order, as after a full
// sort: checked bit for bit over values of every sign and scale, with
// repeats and both zeros, in both precisions.
template <typename VALUE>
void expect_ace_of_a_full_sort(const std::vector<double>& percents)
{
    std::mt19937 random(3);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-30, 30);
    std::vector<VALUE> values;
    for (int i = 0; i < 30011; ++i)
        values.push_back(static_cast<VALUE>(std::ldexp(mantissa(random), exponent(random))));
    for (int i = 0; i < 500; ++i)
        values.insert(values.end(), {VALUE(0), -VALUE(0), values[i]});
    std::shuffle(values.begin(), values.end(), random);
    std::vector<VALUE> sorted = values;
    std::sort(sorted.begin(), sorted.end(), std::greater<VALUE>());
    std::vector<double> expected;
    for (double percent : percents) {
        const auto count = static_cast<std::ptrdiff_t>(std::ceil(static_cast<double>(values.size()) * percent / 100.0));
        expected.push_back(std::accumulate(sorted.begin(), sorted.begin() + count, 0.0) / static_cast<double>(count));
    }
    EXPECT_EQ(get_ace(values, percents), expected);
}

TEST(Statistics, AceAddsTheLargestValuesInDescendingOrder)
{
    expect_ace_of_a_full_sort<float>({0.5, 1.0, 2.0, 5.0, 60.0, 100.0});
    expect_ace_of_a_full_sort<double>({0.5, 5.0, 100.0});
}

// A 6 by 4 design with the given nets (pins, driver first) and a uniform
// supply: h4 = 48, h12 = 24, v4 = 48, v12 = 26, lab_in = 35 per tile.
DESIGN make_design(const std::vector<std::vector<CONGESTION::LOC>>& nets, const std::vector<int>& flags)
{
    DESIGN design;
    design.nx = 6;
    design.ny = 4;
    const size_t tiles = design.get_num_tiles();
    design.h4.assign(tiles, 48);
    design.h12.assign(tiles, 24);
    design.v4.assign(tiles, 48);
    design.v12.assign(tiles, 26);
    design.lab_in.assign(tiles, 35);
    design.net_start.push_back(0);
    for (size_t n = 0; n < nets.size(); ++n) {
        int box[4] = {design.nx, -1, design.ny, -1};
        for (const CONGESTION::LOC& pin : nets[n]) {
            design.pin_x.push_back(pin.x);
            design.pin_y.push_back(pin.y);
            box[0] = std::min(box[0], pin.x);
            box[1] = std::max(box[1], pin.x);
            box[2] = std::min(box[2], pin.y);
            box[3] = std::max(box[3], pin.y);
        }
        design.net_start.push_back(static_cast<int>(design.pin_x.size()));
        design.flags.push_back(flags[n]);
        design.weight.push_back(0);
        design.xl.push_back(box[0]);
        design.xr.push_back(box[1]);
        design.yb.push_back(box[2]);
        design.yt.push_back(box[3]);
        design.routed_x.push_back(static_cast<int>(10 + n));
        design.routed_y.push_back(static_cast<int>(20 + n));
        design.n_wires.push_back(1);
    }
    return design;
}

TEST(Baseline, ConservesTheHalfPerimeterOfRandomNets)
{
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> x_of(0, 5);
    std::uniform_int_distribution<int> y_of(0, 3);
    std::uniform_int_distribution<int> pins_of(2, 6);
    std::vector<std::vector<CONGESTION::LOC>> nets(50);
    for (auto& net : nets)
        for (int p = pins_of(random); p > 0; --p)
            net.push_back({x_of(random), y_of(random)});
    const DESIGN design = make_design(nets, std::vector<int>(nets.size(), 0));
    std::vector<int> all(nets.size());
    std::iota(all.begin(), all.end(), 0);
    const BASELINE baseline = compute_baseline(design, all);
    double width = 0.0;
    double height = 0.0;
    for (int net : all) {
        width += design.xr[net] - design.xl[net];
        height += design.yt[net] - design.yb[net];
    }
    EXPECT_NEAR(std::accumulate(baseline.horizontal.begin(), baseline.horizontal.end(), 0.0), width, 1e-9);
    EXPECT_NEAR(std::accumulate(baseline.vertical.begin(), baseline.vertical.end(), 0.0), height, 1e-9);
}

TEST(DesignNetlist, AnswersFromTheArraysUnderEachPolicyAndSupplyMapping)
{
    // Net 0: routed, driver (0, 0), loads (2, 1) and (2, 1). Net 1: global
    // (flag 1). Net 2: one pin. Only net 0 is estimated.
    const DESIGN design = make_design({{{0, 0}, {2, 1}, {2, 1}}, {{4, 3}, {5, 3}}, {{1, 1}}}, {0, 1, 0});
    EXPECT_EQ(get_estimated_nets(design), (std::vector<int>{0}));
    const DESIGN_NETLIST netlist(design, CONGESTION_POLICY::RATIO, WIRELENGTH_SOURCE::HALF_PERIMETER);
    EXPECT_EQ(netlist.get_num_nets(), 3);
    EXPECT_EQ(netlist.get_num_pins(0), 3);
    EXPECT_EQ(netlist.get_pin_loc(0, 1).x, 2);
    EXPECT_EQ(netlist.get_pin_loc(1, 0).y, 3);
    EXPECT_EQ(netlist.get_lab_input_demand(2, 1), 2);
    EXPECT_EQ(netlist.get_lab_input_demand(0, 0), 0);  // the driver is no load
    EXPECT_EQ(netlist.get_lab_input_demand(5, 3), 0);  // global nets are not estimated
    int box[4];
    netlist.get_bounding_box(0, &box[0], &box[1], &box[2], &box[3]);
    EXPECT_EQ(std::vector<int>(box, box + 4), (std::vector<int>{0, 2, 0, 1}));
    EXPECT_EQ(netlist.get_wirelength(0), std::make_pair(2.0f, 1.0f));
    EXPECT_EQ(netlist.compute_congestion(3.0f, 4.0f, CONGESTION::HORIZONTAL_LEFT), 0.75f);
    EXPECT_EQ(netlist.compute_congestion(3.0f, 0.0f, CONGESTION::HORIZONTAL_LEFT), 0.0f);
    const DESIGN_NETLIST overflow(design, CONGESTION_POLICY::OVERFLOW, WIRELENGTH_SOURCE::ROUTED_ORACLE);
    EXPECT_EQ(overflow.get_wirelength(2), std::make_pair(12.0f, 22.0f));
    EXPECT_EQ(overflow.compute_congestion(5.5f, 4.0f, CONGESTION::VERTICAL_UP), 1.5f);
    EXPECT_EQ(overflow.compute_congestion(3.0f, 4.0f, CONGESTION::VERTICAL_UP), 0.0f);
    // Supply: h4 = 48, h12 = 24, v4 = 48, v12 = 26, lab_in = 35 per tile.
    EXPECT_EQ(get_design_supply(design, 1, 2, CONGESTION::HORIZONTAL_LEFT, SUPPLY_MAPPING::HALF), 36.0f);
    EXPECT_EQ(get_design_supply(design, 1, 2, CONGESTION::HORIZONTAL_RIGHT, SUPPLY_MAPPING::FULL), 72.0f);
    EXPECT_EQ(get_design_supply(design, 1, 2, CONGESTION::VERTICAL_DOWN, SUPPLY_MAPPING::HALF), 37.0f);
    EXPECT_EQ(get_design_supply(design, 1, 2, CONGESTION::VERTICAL_UP, SUPPLY_MAPPING::FULL), 74.0f);
    EXPECT_EQ(get_design_supply(design, 1, 2, CONGESTION::LAB_INPUT, SUPPLY_MAPPING::HALF), 35.0f);
    EXPECT_EQ(get_design_supply(design, 1, 2, CONGESTION::LAB_INPUT, SUPPLY_MAPPING::FULL), 35.0f);
}

// An overloaded 6 by 4 design (one horizontal and one vertical wire per
// tile): the routability figures take every (tile, wire type) utilization
// with supply, column 0 included, and count a tile once when any is above 1.
TEST(Routability, AceAndTilesOverCapacityCoverEveryTile)
{
    DESIGN design = make_design({{{0, 0}, {0, 3}}, {{0, 1}, {5, 1}}, {{1, 0}, {4, 3}}, {{0, 2}, {2, 2}}}, {0, 0, 0, 0});
    for (std::vector<int>* column : {&design.h4, &design.v4})
        column->assign(design.get_num_tiles(), 2);
    for (std::vector<int>* column : {&design.h12, &design.v12})
        column->assign(design.get_num_tiles(), 0);
    ESTIMATE_RUN run(design, ESTIMATE_OPTIONS(), 0.0);
    run.run();
    const CONGESTION& estimator = run.get_estimator();
    std::vector<double> entries;
    int over = 0;
    std::vector<double> peak(CONGESTION::NUM_RESOURCE_TYPES, 0.0);
    std::vector<CONGESTION::LOC> peak_tile(CONGESTION::NUM_RESOURCE_TYPES, {-1, -1});
    for (int x = 0; x < design.nx; ++x)
        for (int y = 0; y < design.ny; ++y) {
            bool tile_over = false;
            for (CONGESTION::RESOURCE_TYPE type : CONGESTION::get_wire_resource_types()) {
                entries.push_back(estimator.get_smooth_demand(x, y, type) / estimator.get_supply(x, y, type));
                tile_over = tile_over || entries.back() > 1.0;
                // The smoothed peak: the first largest in column-major order.
                if (peak_tile[type].x < 0 || entries.back() > peak[type]) {
                    peak[type] = entries.back();
                    peak_tile[type] = {x, y};
                }
            }
            over += tile_over;
        }
    for (CONGESTION::RESOURCE_TYPE type : CONGESTION::get_wire_resource_types()) {
        const TYPE_FIGURES& figures = run.get_report().types[type];
        EXPECT_EQ(figures.smoothed_peak_utilization, peak[type]);
        EXPECT_EQ(figures.smoothed_peak_tile.x, peak_tile[type].x);
        EXPECT_EQ(figures.smoothed_peak_tile.y, peak_tile[type].y);
    }
    EXPECT_GT(over, 0);
    EXPECT_EQ(run.get_report().tiles_over_capacity, over);
    const auto& ace = run.get_report().ace;
    EXPECT_EQ(std::vector<double>(ace.begin(), ace.end()),
              get_ace(entries, std::vector<double>(ACE_PERCENTS.begin(), ACE_PERCENTS.end())));
}

// Random whole-number maps on a 7 by 5 grid, so that every sum is exact: the
// figure equals a plain count over each tile's window for every window shape
// and quantile, and its mean from a rank up the plain mean of the sorted
// values. Map 0 (horizontal wires) sums two demand maps stored x-major
// against a supply stored y-major, with tiles of no supply; map 1 (vertical
// wires, so its window is turned) is one demand map.
TEST(RoutabilityVerdict, WindowFigureEqualsAPlainCountOverEveryTilesWindow)
{
    constexpr int NX = 7;
    constexpr int NY = 5;
    std::mt19937 random(11);
    const auto fill = [&](int high) {
        std::vector<float> values(NX * NY);
        for (float& value : values)
            value = static_cast<float>(std::uniform_int_distribution<int>(0, high)(random));
        return values;
    };
    const std::vector<float> demand_a = fill(9), demand_b = fill(9), supply_0 = fill(3), demand_1 = fill(20),
                             supply_1 = fill(6);
    const auto x_major = [](const std::vector<float>& v) {
        return TILE_READER([&v](int x, int y) { return v[x * NY + y]; });
    };
    const auto y_major = [](const std::vector<float>& v) {
        return TILE_READER([&v](int x, int y) { return v[y * NX + x]; });
    };
    const std::vector<DEMAND_AND_SUPPLY> maps = {{{x_major(demand_a), x_major(demand_b)}, {y_major(supply_0)}, false},
                                                 {{y_major(demand_1)}, {y_major(supply_1)}, true}};
    for (const auto& window : std::vector<std::pair<int, int>>{{1, 1}, {3, 3}, {9, 9}, {1, 3}, {5, 1}}) {
        const int along = window.first, across = window.second;
        std::vector<double> values;
        for (int m = 0; m < 2; ++m) {
            const int half_x = (m == 1 ? across : along) / 2;
            const int half_y = (m == 1 ? along : across) / 2;
            for (int x = 0; x < NX; ++x)
                for (int y = 0; y < NY; ++y) {
                    if (maps[m].supply[0](x, y) == 0.0f)
                        continue;
                    double demand = 0.0, supply = 0.0;
                    for (int u = std::max(0, x - half_x); u <= std::min(NX - 1, x + half_x); ++u)
                        for (int v = std::max(0, y - half_y); v <= std::min(NY - 1, y + half_y); ++v) {
                            for (const TILE_READER& reader : maps[m].demand)
                                demand += reader(u, v);
                            supply += maps[m].supply[0](u, v);
                        }
                    values.push_back(demand / supply);
                }
        }
        std::sort(values.begin(), values.end());
        const double n = static_cast<double>(values.size());
        ASSERT_LT(n, 2.0 * NX * NY) << "some tiles have no supply";
        const auto figure = [&](double quantile, bool mean_above) {
            return get_routability_figure(NX, NY, maps, {along, across, quantile, mean_above});
        };
        for (std::size_t rank = 1; rank <= values.size(); ++rank) {
            const double quantile = (static_cast<double>(rank) - 0.5) / n;
            EXPECT_EQ(figure(quantile, false), values[rank - 1]) << along << " x " << across << ", rank " << rank;
            double sum = 0.0;
            for (std::size_t i = rank - 1; i < values.size(); ++i)
                sum += values[i];
            EXPECT_DOUBLE_EQ(figure(quantile, true), sum / (n - static_cast<double>(rank - 1)))
                << along << " x " << across << ", rank " << rank;
        }
        EXPECT_EQ(figure(1.0, false), values.back());
        EXPECT_EQ(figure(1.0, true), values.back());
        EXPECT_EQ(figure(1e-9, false), values.front());
    }
    // Without supply: demand needs more than any supply, no demand nothing.
    const std::vector<float> none(NX * NY, 0.0f);
    EXPECT_EQ(get_routability_figure(NX, NY, {{{y_major(demand_1)}, {y_major(none)}}}, {3, 3, 1.0, false}),
              std::numeric_limits<double>::infinity());
    EXPECT_EQ(get_routability_figure(NX, NY, {{{y_major(none)}, {y_major(none)}}}, {3, 3, 1.0, false}), 0.0);
}

TEST(RoutabilityVerdict, ScaleMarginAndTracksFollowTheFigure)
{
    struct CASE {
        double figure, threshold;
        int tracks;
        double scale, margin;
        bool routes;
        int predicted;
    };
    const double infinity = std::numeric_limits<double>::infinity();
    const CASE cases[] = {
        {0.375, 0.5, 20, 0.75, 1.0 / 3.0, true, 15},           // 20 * 0.75 = 15 tracks exactly
        {0.375, 0.5, 19, 0.75, 1.0 / 3.0, true, 15},           // 14.25 rounds up
        {0.625, 0.5, 20, 1.25, -0.2, false, 25},               // more than the design's 20
        {0.9, 0.9, 7, 1.0, 0.0, true, 7},                      // at the threshold: routes, no margin
        {0.0, 0.9, 12, 0.0, infinity, true, 1},                // no demand: one track
        {2.0, 1.0, NO_TRACKS, 2.0, -0.5, false, 0},            // no track count to predict
        {infinity, 0.5, 12, infinity, -1.0, false, NO_TRACKS}  // demand without supply: no count will do
    };
    for (const CASE& c : cases) {
        const ROUTABILITY r = get_routability(c.figure, c.threshold, c.tracks);
        EXPECT_EQ(r.figure, c.figure);
        EXPECT_DOUBLE_EQ(r.min_supply_scale, c.scale) << c.figure;
        EXPECT_DOUBLE_EQ(r.margin, c.margin) << c.figure;
        EXPECT_EQ(r.routes, c.routes) << c.figure;
        EXPECT_EQ(r.predicted_min_tracks, c.predicted) << c.figure;
    }
}

// The crossing factors as published (Cheng, ICCAD 1994): every count up to
// 10, every fifth up to 50, linear between them and 0.02616 a pin beyond.
TEST(Routability, CrossingFactorFollowsThePublishedTable)
{
    const std::pair<int, double> points[] = {
        {1, 1.0},      {3, 1.0},     {4, 1.0828},   {9, 1.3991},  {10, 1.4493},
        {12, 1.54554}, {15, 1.6899}, {44, 2.63712}, {50, 2.7933}, {51, 2.7933 + 0.02616},
        {150, 5.4093}};
    for (const auto& [pins, factor] : points)
        EXPECT_NEAR(get_crossing_factor(pins), factor, 1e-12) << pins << " pins";
}

// The arrays of a netlist of nets given by their box and pin count (every
// pin at (0, 0): the boxes are read as given).
struct BOX_NETLIST {
    explicit BOX_NETLIST(const std::vector<std::array<int, 5>>& nets)
    {
        net_start.push_back(0);
        for (const auto& net : nets) {
            net_start.push_back(net_start.back() + net[4]);
            boxes.insert(boxes.end(), net.begin(), net.begin() + 4);
        }
        pins.assign(static_cast<std::size_t>(net_start.back()), 0);
        arrays.num_nets = static_cast<int>(nets.size());
        arrays.net_start = net_start.data();
        arrays.pin_x = arrays.pin_y = pins.data();
        arrays.xl = boxes.data();
        arrays.xr = boxes.data() + 1;
        arrays.yb = boxes.data() + 2;
        arrays.yt = boxes.data() + 3;
        arrays.box_stride = 4;
        listed.resize(nets.size());
        std::iota(listed.begin(), listed.end(), 0);
    }
    std::vector<int> net_start, boxes, pins, listed;
    NETLIST_ARRAYS arrays;
};

// Boxes at every edge of a small grid, one tile, one row, one column and an
// empty one: the tables of differences give each tile of a box its share and
// no other tile anything, with the boxes as they are and lengthened.
TEST(Routability, BoxDemandSpreadsEachNetOverItsBoxOnly)
{
    constexpr int NX = 5, NY = 4;
    // xl, xr, yb, yt and the pin count of each net.
    const std::vector<std::array<int, 5>> nets = {
        {0, 4, 0, 3, 12}, {4, 4, 3, 3, 2}, {1, 3, 2, 2, 5}, {2, 2, 0, 3, 60}, {3, 1, 0, 0, 2}};
    const BOX_NETLIST netlist(nets);
    for (const double extent : {0.0, 0.5, 1.0}) {
        const BOX_DEMAND demand(NX, NY, FLAT_NETLIST(netlist.arrays), netlist.listed, extent);
        EXPECT_TRUE(demand.spans_tiles());
        for (int x = 0; x < NX; ++x)
            for (int y = 0; y < NY; ++y) {
                double horizontal = 0.0, vertical = 0.0;
                for (const auto& [xl, xr, yb, yt, count] : nets)
                    if (xl <= x && x <= xr && yb <= y && y <= yt) {
                        const double area = (xr - xl + 1.0) * (yt - yb + 1.0);
                        horizontal += get_crossing_factor(count) * (xr - xl + extent) / area;
                        vertical += get_crossing_factor(count) * (yt - yb + extent) / area;
                    }
                EXPECT_NEAR(demand.get_horizontal(x, y), horizontal, 1e-12) << x << ", " << y << ", " << extent;
                EXPECT_NEAR(demand.get_vertical(x, y), vertical, 1e-12) << x << ", " << y << ", " << extent;
            }
    }
    // The one-tile net alone spans no tiles: its demand is the extent's.
    const BOX_DEMAND one_tile(NX, NY, FLAT_NETLIST(netlist.arrays), {1}, 1.0);
    EXPECT_FALSE(one_tile.spans_tiles());
    EXPECT_EQ(one_tile.get_horizontal(4, 3), 1.0);
}

// Without any wire supply, nets within single tiles route (their demand is
// the lengthening's alone, which the tiles' local tracks carry), while one
// net over two tiles needs wires that are not there; with supply, the
// one-tile nets' demand (the calibrated extent, a tile) counts, against the
// device's threshold.
TEST(RoutabilityVerdict, OneTileNetsNeedNoWireWhereThereIsNone)
{
    const auto everywhere = [](double supply) {
        const TILE_READER reader = [supply](int, int) { return supply; };
        return std::array<TILE_READER, NUM_WIRE_TYPES>{reader, reader, reader, reader};
    };
    const ROUTING_DEVICE device = get_routing_device(DEFAULT_GENERIC_ARCHITECTURE);
    const BOX_NETLIST inside({{0, 0, 0, 0, 2}, {2, 2, 1, 1, 3}});
    const BOX_DEMAND inside_demand(3, 2, FLAT_NETLIST(inside.arrays), inside.listed,
                                   ROUTABILITY_RULE_CALIBRATED.extent);
    const ROUTABILITY local = get_placement_routability(3, 2, inside_demand, everywhere(0.0), 20, device);
    EXPECT_TRUE(local.routes);
    EXPECT_EQ(local.figure, 0.0);
    EXPECT_EQ(local.predicted_min_tracks, 1);
    const BOX_NETLIST spanning({{0, 0, 0, 0, 2}, {1, 2, 1, 1, 2}});
    const BOX_DEMAND spanning_demand(3, 2, FLAT_NETLIST(spanning.arrays), spanning.listed, 1.0);
    const ROUTABILITY wired = get_placement_routability(3, 2, spanning_demand, everywhere(0.0), 20, device);
    EXPECT_FALSE(wired.routes);
    EXPECT_EQ(wired.predicted_min_tracks, NO_TRACKS);

    // One track a direction in every tile: each axis has a supply of 2 a
    // tile and, in the tiles of the one-tile nets, a demand of 1, elsewhere
    // 0. The windows (5 along the wires, 1 across) take a whole row of 3
    // tiles, 1 / (2 x 3), or a whole column of 2, 1 / (2 x 2) or 0; the 95th
    // percentile of the 12 utilizations is the largest, 0.25.
    const ROUTABILITY r = get_placement_routability(3, 2, inside_demand, everywhere(1.0), 1, device);
    EXPECT_DOUBLE_EQ(r.figure, 0.25);
    EXPECT_EQ(r.min_supply_scale, 0.25 / get_routability_threshold(ROUTABILITY_RULE_CALIBRATED, device));
    EXPECT_EQ(r.device.tile_inputs, 17);
}

// The header written for a map reads back with its shape and the values'
// offset, a multiple of 64 bytes; a header that is not one is refused with
// what is wrong. `header(version, dictionary)` is the magic, the version,
// the dictionary's length in two bytes and the dictionary.
TEST(NpyHeader, ReadsItsOwnHeaderAndSaysWhatIsWrongWithOthers)
{
    for (const auto& [nx, ny] : {std::pair{1, 1}, std::pair{34, 34}, std::pair{4096, 3}}) {
        const std::string header = get_npy_header(nx, ny);
        const NPY_HEADER read = parse_npy_header(header + std::string(16, '\0'));
        EXPECT_EQ(read.descr, NPY_FLOAT32);
        EXPECT_FALSE(read.fortran_order);
        EXPECT_EQ(read.shape, (std::vector<long long>{nx, ny}));
        EXPECT_EQ(read.data_offset, header.size());
        EXPECT_EQ(header.size() % 64, 0u) << nx << " x " << ny;
    }
    const auto header = [](char version, const std::string& dictionary) {
        return std::string("\x93NUMPY", 6) + version + '\0' + static_cast<char>(dictionary.size()) + '\0' + dictionary;
    };
    const std::pair<std::string, std::string> cases[] = {
        {"PK\x03\x04 a zip file", "it is not a .npy file"},
        {header('\x04', ""), "its .npy version 4 is unknown"},
        {header('\x01', ""), "its header has no 'descr'"},  // the preamble alone
        {header('\x01', "{'descr': '<f4'").substr(0, 20), "its header is cut short"},
        {header('\x02', ""), "its header is cut short"},  // a longer preamble
        {header('\x01', "{'descr': '<f4', 'fortran_order': Maybe, }"),
         "its header's 'fortran_order' is neither True nor False"},
        {header('\x01', "{'descr': '<f4', 'fortran_order': False, 'shape': (3, x), }"),
         "its header's 'shape' holds something other than whole numbers"},
    };
    for (const auto& [bytes, reason] : cases) {
        try {
            parse_npy_header(bytes);
            ADD_FAILURE() << reason;
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(std::string(error.what()), reason);
        }
    }
}

}  // namespace
