// Figures of the tool that must agree with each other: the smoothed peaks and
// the heatmaps, the thread count and the machine, and heatmaps that keep their
// size, their hot tiles and a scale shared between panels.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <cairo.h>
#include <gtest/gtest.h>
#include <tbb/global_control.h>
#include <tbb/task_arena.h>

#include "tool_test_support.h"
#include "tools/design_reader.h"
#include "tools/estimate.h"
#include "tools/heatmap.h"

namespace {

constexpr double NO_SUPPLY = std::numeric_limits<double>::quiet_NaN();
// The heatmaps divide in double, the report's peaks in float.
constexpr double DIVISION_PRECISION = 1e-6;
constexpr int MANY_THREADS = 4096;

TEST(EstimateFigures, SmoothedPeaksAreTheHeatmapsLargestAndThreadsAreThoseThatCouldRun)
{
    const DESIGN design = read_design(SAMPLE_DESIGN);
    ESTIMATE_RUN run(design, ESTIMATE_OPTIONS(), 0.0);
    {
        const tbb::global_control limit(tbb::global_control::max_allowed_parallelism, MANY_THREADS);
        run.run();
    }
    const REPORT& report = run.get_report();
    EXPECT_EQ(report.threads, tbb::this_task_arena::max_concurrency());

    // The single-type heatmaps, in the order of the resource types.
    const std::vector<HEATMAP> heatmaps = run.get_heatmaps();
    const std::string stems[] = {"horizontal_left", "horizontal_right", "vertical_up", "vertical_down", "lab_input"};
    for (const TYPE_FIGURES& figures : report.types) {
        const auto heatmap = std::find_if(heatmaps.begin(), heatmaps.end(),
                                          [&](const HEATMAP& h) { return h.file_stem == stems[figures.type]; });
        ASSERT_NE(heatmap, heatmaps.end());
        const std::vector<double>& values = heatmap->panels[0].values;
        double largest = 0.0;
        for (double value : values)
            largest = std::isnan(value) ? largest : std::max(largest, value);
        const double tolerance = largest * DIVISION_PRECISION;
        EXPECT_NEAR(figures.smoothed_peak_utilization, largest, tolerance) << stems[figures.type];
        const CONGESTION::LOC tile = figures.smoothed_peak_tile;
        EXPECT_NEAR(values[design.get_tile_index(tile.x, tile.y)], largest, tolerance) << stems[figures.type];
    }
}

TEST(Heatmap, ALargeGridIsCappedAndEachPixelShowsTheLargestOfItsTiles)
{
    // 5 by 3 tiles, 2 tiles to a pixel side: 3 by 2 pixels.
    //   y=2:  NaN NaN  7  NaN  1
    //   y=1:   1   2  NaN NaN NaN
    //   y=0:   0   3   4   5  NaN
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

    // The widest grid the reader accepts, in a pair of panels.
    const int nx = MAX_GRID_SIDE;
    const int ny = 3;
    HEATMAP pair{"wide",
                 "wide: a pair",
                 {{"estimate", std::vector<double>(nx * ny, 1.0)}, {"routed", std::vector<double>(nx * ny, 0.5)}}};
    SCRATCH_DIR dir;
    const std::string path = (dir.get_path() / "wide.png").string();
    write_heatmap_png(path, nx, ny, pair, HEATMAP_SCALE::SHARED);
    cairo_surface_t* image = cairo_image_surface_create_from_png(path.c_str());
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

}  // namespace
