// Heatmap drawing: the layout, the pixel values of each panel, the tiles and
// colour legends written straight into a palette image, titles and axes.
#include "tools/heatmap.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <utility>
#include <vector>

#include <cairo.h>

#include "h/parallel_blocks.h"
#include "front_end/output_file.h"
#include "tools/palette_image.h"

namespace {

constexpr int TARGET_GRID_PIXELS = 480;
constexpr int MIN_CELL = 4;
constexpr int MAX_CELL = 24;
constexpr int MARGIN = 16;
constexpr int FIGURE_TITLE_HEIGHT = 26;
constexpr int PANEL_TITLE_HEIGHT = 22;
// Wide enough for four-digit tick labels (a grid side is at most 4096) and
// the axis's title beside them.
constexpr int Y_AXIS_WIDTH = 64;
constexpr int X_AXIS_HEIGHT = 38;
constexpr int MIN_PANEL_GRID_WIDTH = 300;
constexpr int LEGEND_GAP = 12;
constexpr int LEGEND_BAR_WIDTH = 16;
constexpr int LEGEND_LABEL_WIDTH = 80;
constexpr int PANEL_EXTRA_WIDTH = Y_AXIS_WIDTH + LEGEND_GAP + LEGEND_BAR_WIDTH + LEGEND_LABEL_WIDTH;
constexpr int EXTRA_HEIGHT = MARGIN + FIGURE_TITLE_HEIGHT + PANEL_TITLE_HEIGHT + X_AXIS_HEIGHT + MARGIN;
constexpr int SWATCH_HEIGHT = 10;
constexpr double FONT_SIZE = 12.0;
constexpr double TITLE_FONT_SIZE = 14.0;
constexpr int LEGEND_TICKS = 5;
// Labelled ticks lie at least this far apart, so that four-digit labels
// never touch; unlabelled ticks between them at least MIN_MINOR_SPACING.
constexpr int MIN_TICK_SPACING = 40;
constexpr int MIN_MINOR_SPACING = 5;
constexpr int TICK_LENGTH = 5;
constexpr int MINOR_TICK_LENGTH = 2;
// Between a tick and its label, and between the y axis's labels and title.
constexpr double LABEL_GAP = 3.0;
constexpr double TITLE_GAP = 6.0;
// Tiles over their supply get a red frame of this width when their cell is
// large enough to keep the tile's own colour inside it, else are all red.
constexpr int MIN_FRAMED_CELL = 4;
constexpr int WIDE_FRAME_CELL = 12;
constexpr float OVER_CAPACITY = 1.0f;
// Pixel columns whose tiles a panel's reader reads at once.
constexpr int PIXEL_COLUMNS_PER_READ = 16;

int divide_up(int a, int b) { return (a + b - 1) / b; }

COLOUR_SCALE get_scale(PANEL_KIND kind, double top)
{
    return kind == PANEL_KIND::RANK_DIFFERENCE ? COLOUR_SCALE::get_diverging() : COLOUR_SCALE::get_sequential(top);
}

// Sizes of an image of `panels` panels of an nx by ny grid.
struct LAYOUT {
    int tiles_per_pixel;
    int pixels_x;  // the pixel grid's width and height
    int pixels_y;
    int cell;  // screen pixels per side of a grid pixel
    int grid_width;
    int grid_height;
    int panel_width;
    int width;
    int height;
    int grid_top;

    int get_grid_left(int panel) const { return MARGIN + panel * (panel_width + MARGIN) + Y_AXIS_WIDTH; }
    int get_legend_left(int panel) const
    {
        return get_grid_left(panel) + std::max(grid_width, MIN_PANEL_GRID_WIDTH) + LEGEND_GAP;
    }
};

LAYOUT get_layout(int nx, int ny, int panels)
{
    const int width_budget = (MAX_HEATMAP_SIDE - MARGIN) / panels - PANEL_EXTRA_WIDTH - MARGIN;
    const int height_budget = MAX_HEATMAP_SIDE - EXTRA_HEIGHT;
    LAYOUT layout;
    layout.tiles_per_pixel = std::max({1, divide_up(nx, width_budget), divide_up(ny, height_budget)});
    layout.pixels_x = divide_up(nx, layout.tiles_per_pixel);
    layout.pixels_y = divide_up(ny, layout.tiles_per_pixel);
    const int side = std::max(layout.pixels_x, layout.pixels_y);
    layout.cell = std::clamp(TARGET_GRID_PIXELS / side, MIN_CELL, MAX_CELL);
    layout.cell = std::max(1, std::min({layout.cell, width_budget / layout.pixels_x, height_budget / layout.pixels_y}));
    layout.grid_width = layout.cell * layout.pixels_x;
    layout.grid_height = layout.cell * layout.pixels_y;
    layout.panel_width = std::max(layout.grid_width, MIN_PANEL_GRID_WIDTH) + PANEL_EXTRA_WIDTH;
    layout.width = MARGIN + panels * (layout.panel_width + MARGIN);
    layout.height = EXTRA_HEIGHT + layout.grid_height;
    layout.grid_top = MARGIN + FIGURE_TITLE_HEIGHT + PANEL_TITLE_HEIGHT;
    return layout;
}

void draw_text(cairo_t* cr, double x, double y, const std::string& text, double size)
{
    cairo_set_font_size(cr, size);
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, text.c_str());
}

// Text placed at x by a share of its width: its right end at x with a share
// of 1, its centre with 0.5.
void draw_text_ending_at(cairo_t* cr, double x, double y, const std::string& text, double size, double share = 1.0)
{
    cairo_set_font_size(cr, size);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    draw_text(cr, x - share * extents.x_advance, y, text, size);
}

std::string format_value(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", value);
    return text;
}

// Ticks of one axis: at the multiples of the labelled step, and unlabelled
// ones between them where they fit. `place(tile)` is the screen coordinate
// of the tile's centre along the axis; `mark(at, length, label)` draws one.
template <typename PLACE, typename MARK>
void draw_ticks(int tiles, double pixels_per_tile, const PLACE& place, const MARK& mark)
{
    const int step = get_tick_step(pixels_per_tile, MIN_TICK_SPACING);
    // 1, 2 and 5 times a power of ten: its fifth, half or fifth again.
    int leading = step;
    while (leading >= 10)
        leading /= 10;
    const int minor = leading == 2 ? step / 2 : step / 5;
    if (minor >= 1 && minor * pixels_per_tile >= MIN_MINOR_SPACING)
        for (int tile = minor; tile < tiles; tile += minor)
            if (tile % step != 0)
                mark(place(tile), MINOR_TICK_LENGTH, std::string());
    for (int tile = 0; tile < tiles; tile += step)
        mark(place(tile), TICK_LENGTH, std::to_string(tile));
}

// The axes of one panel: ticks at regular intervals and each axis's name
// with its range.
void draw_axes(cairo_t* cr, const LAYOUT& layout, int left, int nx, int ny)
{
    const int top = layout.grid_top;
    const int bottom = top + layout.grid_height;
    const int k = layout.tiles_per_pixel;
    const double pixels_per_tile = static_cast<double>(layout.cell) / k;
    const auto centre = [&](int tile) { return (tile / k) * layout.cell + layout.cell / 2; };
    draw_ticks(
        nx, pixels_per_tile, [&](int x) { return left + centre(x); },
        [&](int at, int length, const std::string& label) {
            cairo_rectangle(cr, at, bottom, 1, length);
            cairo_fill(cr);
            if (!label.empty())
                draw_text_ending_at(cr, at + 0.5, bottom + TICK_LENGTH + FONT_SIZE, label, FONT_SIZE, 0.5);
        });
    const double labels_right = left - TICK_LENGTH - LABEL_GAP;
    double widest_label = 0.0;
    draw_ticks(
        ny, pixels_per_tile, [&](int y) { return bottom - 1 - centre(y); },
        [&](int at, int length, const std::string& label) {
            cairo_rectangle(cr, left - length, at, length, 1);
            cairo_fill(cr);
            if (label.empty())
                return;
            draw_text_ending_at(cr, labels_right, at + 0.5 + FONT_SIZE * 0.35, label, FONT_SIZE);
            cairo_text_extents_t extents;
            cairo_text_extents(cr, label.c_str(), &extents);
            widest_label = std::max(widest_label, extents.x_advance);
        });
    draw_text_ending_at(cr, left + 0.5 * layout.grid_width, bottom + TICK_LENGTH + 2.0 * FONT_SIZE + 4.0,
                        "x (column, 0 to " + std::to_string(nx - 1) + ")", FONT_SIZE, 0.5);
    // The y axis's title reads upwards, its descent towards the labels: it
    // stands a gap left of the widest of them, whatever their digits.
    cairo_font_extents_t font;
    cairo_set_font_size(cr, FONT_SIZE);
    cairo_font_extents(cr, &font);
    cairo_save(cr);
    cairo_translate(cr, labels_right - widest_label - TITLE_GAP - font.descent, top + 0.5 * layout.grid_height);
    cairo_rotate(cr, -M_PI / 2.0);
    draw_text_ending_at(cr, 0.0, 0.0, "y (row, 0 to " + std::to_string(ny - 1) + ")", FONT_SIZE, 0.5);
    cairo_restore(cr);
}

// The labels of a panel's legend, bottom first.
std::vector<std::string> get_panel_legend_labels(PANEL_KIND kind, double top)
{
    if (kind == PANEL_KIND::RANK_DIFFERENCE)
        return {"-1 too low", "-0.5", "0", "+0.5", "+1 too high"};
    return get_legend_labels(top);
}

// Where a panel's legend lies: the colour bar right of the grid, its labels,
// and below it the swatches of no supply and, for utilization, of a tile
// over its supply.
struct LEGEND {
    PANEL_KIND kind;
    int left;
    int top;
    int height;
    std::vector<std::string> labels;

    int get_label_left() const { return left + LEGEND_BAR_WIDTH + 6; }
    int get_swatch_top(int i) const { return top + height + 6 + i * (SWATCH_HEIGHT + 6); }
};

LEGEND get_legend(const LAYOUT& layout, int panel, PANEL_KIND kind, double top_value)
{
    return {kind, layout.get_legend_left(panel), layout.grid_top, layout.grid_height,
            get_panel_legend_labels(kind, top_value)};
}

void draw_legend_text(cairo_t* cr, const LEGEND& legend)
{
    if (legend.labels.size() == 1) {
        draw_text(cr, legend.get_label_left(), legend.top + legend.height - 1.0, legend.labels[0], FONT_SIZE);
    } else {
        for (std::size_t tick = 0; tick < legend.labels.size(); ++tick) {
            const double fraction = 1.0 - static_cast<double>(tick) / (legend.labels.size() - 1);
            const int y = legend.top + static_cast<int>(std::lround(legend.height * fraction));
            cairo_rectangle(cr, legend.left + LEGEND_BAR_WIDTH, std::min(y, legend.top + legend.height - 1), 4, 1);
            cairo_fill(cr);
            draw_text(cr, legend.get_label_left(), y + FONT_SIZE * 0.35, legend.labels[tick], FONT_SIZE);
        }
    }
    draw_text(cr, legend.get_label_left(), legend.get_swatch_top(0) + SWATCH_HEIGHT, "no supply", FONT_SIZE);
    if (legend.kind == PANEL_KIND::UTILIZATION)
        draw_text(cr, legend.get_label_left(), legend.get_swatch_top(1) + SWATCH_HEIGHT, "over 100 %", FONT_SIZE);
}

// The legend's colours, over the white that compose left there.
void fill_legend(PALETTE_IMAGE& image, const LEGEND& legend)
{
    if (legend.labels.size() == 1) {
        // A map that is 0 everywhere: one swatch of the colour of 0.
        image.fill_rectangle(legend.left, legend.top + legend.height - SWATCH_HEIGHT, LEGEND_BAR_WIDTH, SWATCH_HEIGHT,
                             get_scale(legend.kind, 0.0).get_index(0.0f));
    } else {
        // Row r of the bar, from the bottom, shows the value at its centre.
        const COLOUR_SCALE scale = get_scale(legend.kind, 1.0);
        for (int r = 0; r < legend.height; ++r) {
            const double fraction = (r + 0.5) / legend.height;
            const double value = legend.kind == PANEL_KIND::RANK_DIFFERENCE ? 2.0 * fraction - 1.0 : fraction;
            image.fill_rectangle(legend.left, legend.top + legend.height - 1 - r, LEGEND_BAR_WIDTH, 1,
                                 scale.get_index(static_cast<float>(value)));
        }
    }
    image.fill_rectangle(legend.left, legend.get_swatch_top(0), LEGEND_BAR_WIDTH, SWATCH_HEIGHT, NO_SUPPLY_INDEX);
    if (legend.kind == PANEL_KIND::UTILIZATION)
        image.fill_rectangle(legend.left, legend.get_swatch_top(1), LEGEND_BAR_WIDTH, SWATCH_HEIGHT,
                             OVER_CAPACITY_INDEX);
}

// One screen row of a panel's grid: grid row `row` from the top.
void fill_grid_row(const LAYOUT& layout, PANEL_KIND kind, const std::vector<float>& pixels, const COLOUR_SCALE& scale,
                   int row, std::uint8_t* out)
{
    const int cell = layout.cell;
    const int py = layout.pixels_y - 1 - row / cell;  // row 0 of the device is at the bottom
    const int dy = row % cell;
    const int frame = cell >= WIDE_FRAME_CELL ? 2 : 1;
    const bool frame_row = dy < frame || dy >= cell - frame;
    const float* values = pixels.data() + static_cast<std::size_t>(py) * layout.pixels_x;
    for (int px = 0; px < layout.pixels_x; ++px) {
        const float value = values[px];
        std::uint8_t* at = out + px * cell;
        if (std::isnan(value)) {
            std::fill_n(at, cell, NO_SUPPLY_INDEX);
            continue;
        }
        const std::uint8_t colour = scale.get_index(value);
        if (kind != PANEL_KIND::UTILIZATION || !(value > OVER_CAPACITY)) {
            std::fill_n(at, cell, colour);
        } else if (cell < MIN_FRAMED_CELL || frame_row) {
            std::fill_n(at, cell, OVER_CAPACITY_INDEX);
        } else {
            std::fill_n(at, frame, OVER_CAPACITY_INDEX);
            std::fill_n(at + frame, cell - 2 * frame, colour);
            std::fill_n(at + cell - frame, frame, OVER_CAPACITY_INDEX);
        }
    }
}

}  // namespace

HEATMAP_PANEL get_values_panel(const std::string& title, PANEL_KIND kind, std::vector<float> values, int nx, int ny)
{
    auto held = std::make_shared<const std::vector<float>>(std::move(values));
    return {title, kind, [held, nx, ny](int first_x, int end_x, float* out) {
                fill_tile_columns(ny, first_x, end_x, out,
                                  [&](int x, int y) { return (*held)[static_cast<std::size_t>(y) * nx + x]; });
            }};
}

std::vector<float> get_pixel_values(const HEATMAP_PANEL& panel, int nx, int ny, int tiles_per_pixel)
{
    const int k = tiles_per_pixel;
    const int width = divide_up(nx, k);
    const int height = divide_up(ny, k);
    std::vector<float> pixels(static_cast<std::size_t>(width) * height);
    // Blocks of pixel columns: each reads its tiles' whole columns, as the
    // estimator holds them, and writes its pixels row after row.
    congestion_internal::parallel_loop(divide_up(width, PIXEL_COLUMNS_PER_READ), [&](int block) {
        const int first_px = block * PIXEL_COLUMNS_PER_READ;
        const int end_px = std::min(width, first_px + PIXEL_COLUMNS_PER_READ);
        const int first_x = first_px * k;
        const int end_x = std::min(nx, end_px * k);
        std::vector<float> tiles(static_cast<std::size_t>(end_x - first_x) * ny);
        panel.read_columns(first_x, end_x, tiles.data());
        const int columns = end_px - first_px;
        std::vector<float> block_pixels;
        if (k == 1)
            block_pixels.swap(tiles);
        else
            block_pixels.assign(static_cast<std::size_t>(columns) * height, std::numeric_limits<float>::quiet_NaN());
        for (int x = first_x; k > 1 && x < end_x; ++x) {
            const float* column = tiles.data() + static_cast<std::size_t>(x - first_x) * ny;
            float* pixel_column = block_pixels.data() + static_cast<std::size_t>(x / k - first_px) * height;
            for (int y = 0; y < ny; ++y) {
                float& pixel = pixel_column[y / k];
                if (!std::isnan(column[y]) && (std::isnan(pixel) || column[y] > pixel))
                    pixel = column[y];
            }
        }
        for (int py = 0; py < height; ++py)
            for (int px = first_px; px < end_px; ++px)
                pixels[static_cast<std::size_t>(py) * width + px] =
                    block_pixels[static_cast<std::size_t>(px - first_px) * height + py];
    });
    return pixels;
}

std::vector<double> get_scale_tops(const HEATMAP& heatmap, const std::vector<std::vector<float>>& pixels,
                                   HEATMAP_SCALE scale)
{
    std::vector<double> tops;
    double shared = 0.0;
    for (std::size_t p = 0; p < heatmap.panels.size(); ++p) {
        float largest = heatmap.panels[p].kind == PANEL_KIND::RANK_DIFFERENCE ? 1.0f : 0.0f;
        // NaN compares false: tiles without supply are passed over.
        if (heatmap.panels[p].kind == PANEL_KIND::UTILIZATION)
            for (float value : pixels[p])
                largest = value > largest && value <= std::numeric_limits<float>::max() ? value : largest;
        tops.push_back(largest);
        if (heatmap.panels[p].kind == PANEL_KIND::UTILIZATION)
            shared = std::max(shared, static_cast<double>(largest));
    }
    if (scale == HEATMAP_SCALE::SHARED)
        for (std::size_t p = 0; p < tops.size(); ++p)
            if (heatmap.panels[p].kind == PANEL_KIND::UTILIZATION)
                tops[p] = shared;
    return tops;
}

std::vector<std::string> get_legend_labels(double top)
{
    if (top <= 0.0)
        return {"0 everywhere"};
    std::vector<std::string> labels;
    for (int tick = 0; tick < LEGEND_TICKS; ++tick)
        labels.push_back(format_value(top * tick / (LEGEND_TICKS - 1)));
    return labels;
}

HEATMAP_GRID get_heatmap_grid(int nx, int ny, int panels, int panel)
{
    const LAYOUT layout = get_layout(nx, ny, panels);
    return {layout.get_grid_left(panel), layout.grid_top, layout.cell, layout.tiles_per_pixel, layout.pixels_y};
}

int get_tick_step(double pixels_per_tile, int min_spacing)
{
    for (int power = 1;; power *= 10)
        for (int leading : {1, 2, 5})
            if (leading * power * pixels_per_tile >= min_spacing || power > std::numeric_limits<int>::max() / 100)
                return leading * power;
}

void write_heatmap_png(const std::string& path, int nx, int ny, const HEATMAP& heatmap, HEATMAP_SCALE scale)
{
    const int panels = static_cast<int>(heatmap.panels.size());
    const LAYOUT layout = get_layout(nx, ny, panels);
    std::vector<std::vector<float>> pixels;
    for (const HEATMAP_PANEL& panel : heatmap.panels)
        pixels.push_back(get_pixel_values(panel, nx, ny, layout.tiles_per_pixel));
    const std::vector<double> tops = get_scale_tops(heatmap, pixels, scale);

    PALETTE_IMAGE image(layout.width, layout.height);
    cairo_t* cr = image.get_cairo();
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    draw_text(cr, MARGIN, MARGIN + TITLE_FONT_SIZE, heatmap.title, TITLE_FONT_SIZE);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    for (int p = 0; p < panels; ++p) {
        const int left = layout.get_grid_left(p);
        std::string title = heatmap.panels[p].title;
        if (layout.tiles_per_pixel > 1)
            title += ", largest of " + std::to_string(layout.tiles_per_pixel) + " x " +
                     std::to_string(layout.tiles_per_pixel) + " tiles a pixel";
        draw_text(cr, left, layout.grid_top - 6.0, title, FONT_SIZE);
        draw_axes(cr, layout, left, nx, ny);
    }
    std::vector<LEGEND> legends;
    for (int p = 0; p < panels; ++p) {
        legends.push_back(get_legend(layout, p, heatmap.panels[p].kind, tops[p]));
        draw_legend_text(cr, legends.back());
    }
    const char* failure = image.get_failure();
    if (failure != nullptr)
        throw OUTPUT_ERROR(failure);
    std::vector<COLOUR_SCALE> scales;
    std::vector<int> lefts;
    for (int p = 0; p < panels; ++p) {
        scales.push_back(get_scale(heatmap.panels[p].kind, tops[p]));
        lefts.push_back(layout.get_grid_left(p));
    }
    image.compose(layout.grid_top, layout.grid_height, lefts, layout.grid_width,
                  [&](int p, int row, std::uint8_t* out) {
                      fill_grid_row(layout, heatmap.panels[p].kind, pixels[p], scales[p], row, out);
                  });
    // The legends' colours go over the white that compose left there.
    for (const LEGEND& legend : legends)
        fill_legend(image, legend);
    const std::string written = image.write_png(path);
    if (!written.empty())
        throw OUTPUT_ERROR(written);
}
