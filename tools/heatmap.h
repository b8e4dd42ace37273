// PNG heatmaps of per-tile maps, row 0 at the bottom, with axes and a colour
// scale.
#ifndef CONGESTION_HEATMAP_H
#define CONGESTION_HEATMAP_H

#include <functional>
#include <string>
#include <vector>

// Whether the utilization panels of one heatmap share one colour scale (so
// that equal colours mean equal values) or each runs from 0 to its own
// largest value.
enum class HEATMAP_SCALE { SHARED, SEPARATE };

// What a panel's values are, which chooses its colours.
enum class PANEL_KIND {
    // A share of supply, 0 and up: a sequential scale from 0 to the panel's
    // top. A tile over 1 (over 100 % of its supply) is marked in red, a
    // colour that no scale uses, so that it stands out whatever the top.
    UTILIZATION,
    // A difference of percentile ranks, -1 to 1, on a fixed diverging scale:
    // red where the estimate ranks a tile above routing (estimate too high),
    // blue where below, white where they agree.
    RANK_DIFFERENCE,
};

// Writes the values of the tile columns first_x .. end_x - 1 into `out`,
// column after column (out[(x - first_x) * ny + y]), NaN for a tile without
// supply: the order in which the estimator holds its grids. Called from
// several threads at once.
using TILE_COLUMNS = std::function<void(int first_x, int end_x, float* out)>;

// Writes get(x, y) of the tile columns first_x .. end_x - 1 into `out` as
// TILE_COLUMNS does.
template <typename GET>
void fill_tile_columns(int ny, int first_x, int end_x, float* out, const GET& get)
{
    for (int x = first_x; x < end_x; ++x)
        for (int y = 0; y < ny; ++y)
            *out++ = static_cast<float>(get(x, y));
}

struct HEATMAP_PANEL {
    std::string title;
    PANEL_KIND kind = PANEL_KIND::UTILIZATION;
    TILE_COLUMNS read_columns;
};

// One image: its panels side by side under a title naming the design and map.
struct HEATMAP {
    std::string file_stem;
    std::string title;
    std::vector<HEATMAP_PANEL> panels;
};

// A panel over values held in memory, index y * nx + x.
HEATMAP_PANEL get_values_panel(const std::string& title, PANEL_KIND kind, std::vector<float> values, int nx, int ny);

// Largest width and height of a heatmap image, in pixels. A grid too large
// for it is drawn several tiles to a pixel.
constexpr int MAX_HEATMAP_SIDE = 2048;

// The pixel grid of a panel of nx by ny tiles drawn `tiles_per_pixel` tiles
// to a pixel side: ceil(nx / k) by ceil(ny / k) values, index py * width +
// px. A pixel shows the largest value of its tiles, so no hot tile
// disappears, and NaN (no supply) only when none of its tiles has supply.
std::vector<float> get_pixel_values(const HEATMAP_PANEL& panel, int nx, int ny, int tiles_per_pixel);

// The value at the top of each panel's colour scale, from the panels' pixel
// values: for a utilization panel the largest finite value of every
// utilization panel when the scale is shared, else of the panel alone (0 for
// a map that is 0 or without supply everywhere); 1 for a rank difference.
std::vector<double> get_scale_tops(const HEATMAP& heatmap, const std::vector<std::vector<float>>& pixels,
                                   HEATMAP_SCALE scale);

// The labels of a utilization legend that runs from 0 to `top`, bottom
// first; a single label for a map that is 0 everywhere.
std::vector<std::string> get_legend_labels(double top);

// The distance in tiles between labelled ticks of an axis drawn
// `pixels_per_tile` screen pixels to a tile: the smallest of 1, 2 and 5 times
// a power of ten whose ticks lie at least `min_spacing` pixels apart.
int get_tick_step(double pixels_per_tile, int min_spacing);

// Where the grid of panel `panel` lies in the image of a heatmap of `panels`
// panels: its top left corner, and the screen pixels of a grid pixel's side
// and the tiles of a grid pixel's side. Tile (x, y) is drawn in the square
// at left + (x / tiles_per_pixel) * cell, top + (pixels_y - 1 - y /
// tiles_per_pixel) * cell.
struct HEATMAP_GRID {
    int left;
    int top;
    int cell;
    int tiles_per_pixel;
    int pixels_y;
};
HEATMAP_GRID get_heatmap_grid(int nx, int ny, int panels, int panel);

// Writes the panels of `heatmap` side by side into one palette PNG at
// `path`, under the heatmap's title, with ticks along both axes; NaN values
// (tiles without supply) are drawn grey. The image is at most
// MAX_HEATMAP_SIDE pixels a side. Throws OUTPUT_ERROR when the image cannot
// be made or written.
void write_heatmap_png(const std::string& path, int nx, int ny, const HEATMAP& heatmap, HEATMAP_SCALE scale);

#endif
