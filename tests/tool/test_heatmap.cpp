// Heatmaps drawn and read back pixel by pixel: the pixel values of a large
// grid, the colours of the scales, the ticks and labels of the axes, and the
// greys of text on the palette image.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <cairo.h>
#include <gtest/gtest.h>

#include "front_end/design_reader.h"
#include "tool_test_support.h"
#include "tools/heatmap.h"
#include "tools/palette_image.h"

namespace {

// The pixel values of a large grid: 5 by 3 tiles, 2 tiles to a pixel side,
// 3 by 2 pixels, each the largest of its tiles.
//   y=2:  NaN NaN  7  NaN  1
//   y=1:   1   2  NaN NaN NaN
//   y=0:   0   3   4   5  NaN
TEST(Heatmap, EachPixelShowsTheLargestOfItsTiles)
{
    const float no_supply = std::numeric_limits<float>::quiet_NaN();
    const HEATMAP_PANEL panel = get_values_panel(
        "tiles", PANEL_KIND::UTILIZATION,
        {0, 3, 4, 5, no_supply, 1, 2, no_supply, no_supply, no_supply, no_supply, no_supply, 7, no_supply, 1}, 5, 3);
    const std::vector<float> pixels = get_pixel_values(panel, 5, 3, 2);
    const std::vector<float> expected = {3.0f, 5.0f, no_supply, no_supply, 7.0f, 1.0f};
    ASSERT_EQ(pixels.size(), expected.size());
    for (size_t i = 0; i < pixels.size(); ++i)
        EXPECT_TRUE(pixels[i] == expected[i] || (std::isnan(pixels[i]) && std::isnan(expected[i]))) << i;
}

// An image read back, and the colour of a pixel.
class PNG_IMAGE {
 public:
    explicit PNG_IMAGE(const std::string& path) : m_image(cairo_image_surface_create_from_png(path.c_str())) {}
    ~PNG_IMAGE() { cairo_surface_destroy(m_image); }
    bool is_read() const { return cairo_surface_status(m_image) == CAIRO_STATUS_SUCCESS; }
    int get_width() const { return cairo_image_surface_get_width(m_image); }
    int get_height() const { return cairo_image_surface_get_height(m_image); }
    uint32_t get_rgb(int x, int y) const
    {
        const unsigned char* row =
            cairo_image_surface_get_data(m_image) + static_cast<size_t>(y) * cairo_image_surface_get_stride(m_image);
        return *reinterpret_cast<const uint32_t*>(row + 4 * x) & 0xffffff;
    }

 private:
    cairo_surface_t* m_image;
};

void expect_colour(uint32_t rgb, double r, double g, double b, const std::string& what)
{
    EXPECT_NEAR(rgb >> 16 & 255, r * 255.0, 1.0) << what;
    EXPECT_NEAR(rgb >> 8 & 255, g * 255.0, 1.0) << what;
    EXPECT_NEAR(rgb & 255, b * 255.0, 1.0) << what;
}

// A 4 by 1 utilization map of 0, 0.5, no supply and 2 (the top) beside a rank
// difference of -1, 0, no supply and 1: the tiles show the ends of their
// scales, near-white for no difference, the grey of no supply, and a red
// frame around the tile over its supply. The widest grid the reader
// accepts, in a pair of panels, is capped in size.
TEST(Heatmap, TilesShowTheEndsOfTheirScalesAndThoseOverSupplyAreFramedInRed)
{
    SCRATCH_DIR dir;
    const std::string path = (dir.get_path() / "map.png").string();
    const float no_supply = std::numeric_limits<float>::quiet_NaN();
    write_heatmap_png(path, 4, 1,
                      {"map",
                       "map",
                       {get_values_panel("utilization", PANEL_KIND::UTILIZATION, {0.0f, 0.5f, no_supply, 2.0f}, 4, 1),
                        get_values_panel("ranks", PANEL_KIND::RANK_DIFFERENCE, {-1.0f, 0.0f, no_supply, 1.0f}, 4, 1)}},
                      HEATMAP_SCALE::SHARED);
    const PNG_IMAGE image(path);
    ASSERT_TRUE(image.is_read());
    // The pixel at (dx, dy) within the cell of tile x of a panel.
    const auto at = [&](int panel, int x, int dx, int dy) {
        const HEATMAP_GRID grid = get_heatmap_grid(4, 1, 2, panel);
        return image.get_rgb(grid.left + x * grid.cell + dx, grid.top + dy);
    };
    const int middle = get_heatmap_grid(4, 1, 2, 0).cell / 2;
    expect_colour(at(0, 0, middle, middle), 0.267, 0.005, 0.329, "0: the low end");
    expect_colour(at(0, 2, middle, middle), 0.82, 0.82, 0.82, "no supply");
    expect_colour(at(0, 3, middle, middle), 0.993, 0.906, 0.144, "2: the top, inside the frame");
    for (const auto& [dx, dy] : {std::pair{0, middle}, std::pair{middle, 0}, std::pair{2 * middle - 1, middle}})
        expect_colour(at(0, 3, dx, dy), 0.894, 0.102, 0.110, "the frame of a tile over its supply");
    expect_colour(at(0, 1, 0, 0), 0.230, 0.322, 0.546, "a quarter of the top (the third of nine stops), unframed");
    expect_colour(at(1, 0, 0, 0), 0.230, 0.299, 0.754, "-1: estimate too low");
    expect_colour(at(1, 1, 0, 0), 0.970, 0.970, 0.970, "no difference");
    expect_colour(at(1, 3, 0, 0), 0.706, 0.016, 0.150, "+1: estimate too high, unframed");
    // Each legend's bar, the first colour right of its panel's tiles, runs
    // from its scale's low end at the bottom to its top at the top: dark
    // blue, teal, yellow for utilization; blue, near-white, red for ranks.
    const auto bar = [&](int panel, double height_share) {
        const HEATMAP_GRID grid = get_heatmap_grid(4, 1, 2, panel);
        const int middle_row = grid.top + grid.cell / 2;
        int x = grid.left + 4 * grid.cell;
        while (x < image.get_width() && image.get_rgb(x, middle_row) == 0xffffff)
            ++x;
        const int row = grid.top + grid.cell - 1 - static_cast<int>(height_share * (grid.cell - 1));
        const uint32_t rgb = image.get_rgb(x + 1, row);
        return std::array<double, 3>{(rgb >> 16 & 255) / 255.0, (rgb >> 8 & 255) / 255.0, (rgb & 255) / 255.0};
    };
    const auto [low_r, low_g, low_b] = bar(0, 0.0);
    EXPECT_TRUE(low_r < 0.35 && low_g < 0.1 && low_b > 0.25) << "utilization 0: dark blue";
    const auto [mid_r, mid_g, mid_b] = bar(0, 0.5);
    EXPECT_TRUE(mid_r < 0.3 && mid_g > 0.4 && mid_b > 0.4) << "utilization half way: teal";
    const auto [top_r, top_g, top_b] = bar(0, 1.0);
    EXPECT_TRUE(top_r > 0.8 && top_g > 0.8 && top_b < 0.3) << "utilization top: yellow";
    const auto [minus_r, minus_g, minus_b] = bar(1, 0.0);
    EXPECT_TRUE(minus_r < 0.4 && minus_b > 0.6) << "rank difference -1: blue";
    const auto [zero_r, zero_g, zero_b] = bar(1, 0.5);
    EXPECT_TRUE(zero_r > 0.85 && zero_g > 0.85 && zero_b > 0.85) << "rank difference 0: near-white";
    const auto [plus_r, plus_g, plus_b] = bar(1, 1.0);
    EXPECT_TRUE(plus_r > 0.6 && plus_b < 0.3) << "rank difference +1: red";
    // A legend's five labels have ticks right of the bar, a quarter of its
    // height apart, the first at its top; the rows between them have none.
    const HEATMAP_GRID grid = get_heatmap_grid(4, 1, 2, 0);
    int tick_x = grid.left + 4 * grid.cell;
    while (image.get_rgb(tick_x, grid.top + 3) == 0xffffff)
        ++tick_x;
    while (image.get_rgb(tick_x, grid.top + 3) != 0xffffff)
        ++tick_x;
    for (int row = 0; row < grid.cell; ++row)
        EXPECT_EQ(image.get_rgb(tick_x, grid.top + row) == 0, row % (grid.cell / 4) == 0 || row == grid.cell - 1)
            << "legend row " << row;

    const int nx = MAX_GRID_SIDE;
    const int ny = 3;
    write_heatmap_png(
        path, nx, ny,
        {"wide",
         "wide: a pair",
         {get_values_panel("estimate", PANEL_KIND::UTILIZATION, std::vector<float>(nx * ny, 1.0f), nx, ny),
          get_values_panel("routed", PANEL_KIND::UTILIZATION, std::vector<float>(nx * ny, 0.5f), nx, ny)}},
        HEATMAP_SCALE::SHARED);
    const PNG_IMAGE wide(path);
    ASSERT_TRUE(wide.is_read());
    EXPECT_LE(wide.get_width(), MAX_HEATMAP_SIDE);
    EXPECT_LE(wide.get_height(), MAX_HEATMAP_SIDE);
}

// Utilization panels share one scale unless told otherwise; a rank
// difference keeps its own; a zero map says so.
TEST(Heatmap, UtilizationPanelsShareOneScaleUnlessToldOtherwiseAndAZeroMapSaysSo)
{
    const float no_supply = std::numeric_limits<float>::quiet_NaN();
    const HEATMAP maps{"maps",
                       "maps",
                       {{"estimate", PANEL_KIND::UTILIZATION, {}},
                        {"routed", PANEL_KIND::UTILIZATION, {}},
                        {"ranks", PANEL_KIND::RANK_DIFFERENCE, {}}}};
    const std::vector<std::vector<float>> pixels = {{0.0f, 2.0f, no_supply}, {1.0f, 0.5f, no_supply}, {-1.0f, 0.5f}};
    EXPECT_EQ(get_scale_tops(maps, pixels, HEATMAP_SCALE::SHARED), (std::vector<double>{2.0, 2.0, 1.0}));
    EXPECT_EQ(get_scale_tops(maps, pixels, HEATMAP_SCALE::SEPARATE), (std::vector<double>{2.0, 1.0, 1.0}));
    EXPECT_EQ(get_legend_labels(2.0), (std::vector<std::string>{"0", "0.5", "1", "1.5", "2"}));
    EXPECT_EQ(get_legend_labels(0.0), std::vector<std::string>{"0 everywhere"});
}

// Labelled ticks lie at multiples of 1, 2 or 5 times a power of ten, the
// smallest such step that keeps them the given distance apart, from a tile
// drawn several pixels wide to several tiles to a pixel.
TEST(Heatmap, AxisTicksLieAtTheSmallestRoundStepThatKeepsThemApart)
{
    const std::vector<int> round = {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000};
    for (double pixels_per_tile : {24.0, 14.0, 4.0, 1.0, 0.5, 1.0 / 3.0, 0.01}) {
        const int step = get_tick_step(pixels_per_tile, 40);
        const auto found = std::find(round.begin(), round.end(), step);
        ASSERT_NE(found, round.end()) << pixels_per_tile;
        EXPECT_GE(step * pixels_per_tile, 40.0) << pixels_per_tile;
        if (found != round.begin()) {
            EXPECT_LT(*(found - 1) * pixels_per_tile, 40.0) << pixels_per_tile;
        }
    }
}

// The sequential scale puts a value v at step round(v / top * 127) of its
// 128, the ends beyond it; the diverging one -1, 0 and 1 at the first,
// middle and last of its 65.
TEST(PaletteImage, ScalesSpreadTheirValuesOverTheirSteps)
{
    for (const double top : {2.0, 0.3}) {
        const COLOUR_SCALE scale = COLOUR_SCALE::get_sequential(top);
        for (const auto& [share, step] :
             {std::pair{0.0, 0}, std::pair{0.25, 32}, std::pair{0.75, 95}, std::pair{1.0, 127}, std::pair{2.0, 127}})
            EXPECT_EQ(scale.get_index(static_cast<float>(share * top)), scale.get_index(0.0f) + step)
                << share << " of " << top;
    }
    const COLOUR_SCALE diverging = COLOUR_SCALE::get_diverging();
    EXPECT_EQ(diverging.get_index(0.0f) - diverging.get_index(-1.0f), 32);
    EXPECT_EQ(diverging.get_index(1.0f) - diverging.get_index(0.0f), 32);
    EXPECT_EQ(diverging.get_index(-1.0f), COLOUR_SCALE::get_sequential(1.0).get_index(1.0f) + 1);
}

}  // namespace
