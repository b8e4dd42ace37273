// Heatmap drawing with Cairo: tiles, titles, axes and a colour legend.
#include "tools/heatmap.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include <cairo.h>
#include <png.h>

#include "tools/output_file.h"

namespace {

constexpr int TARGET_GRID_PIXELS = 480;
constexpr int MIN_CELL = 4;
constexpr int MAX_CELL = 24;
constexpr int MARGIN = 16;
constexpr int FIGURE_TITLE_HEIGHT = 26;
constexpr int PANEL_TITLE_HEIGHT = 22;
constexpr int Y_AXIS_WIDTH = 52;
constexpr int X_AXIS_HEIGHT = 36;
constexpr int MIN_PANEL_GRID_WIDTH = 300;
constexpr int LEGEND_GAP = 12;
constexpr int LEGEND_BAR_WIDTH = 16;
constexpr int LEGEND_LABEL_WIDTH = 72;
constexpr int PANEL_EXTRA_WIDTH = Y_AXIS_WIDTH + LEGEND_GAP + LEGEND_BAR_WIDTH + LEGEND_LABEL_WIDTH;
constexpr int EXTRA_HEIGHT = MARGIN + FIGURE_TITLE_HEIGHT + PANEL_TITLE_HEIGHT + X_AXIS_HEIGHT + MARGIN;
constexpr double FONT_SIZE = 12.0;
constexpr double TITLE_FONT_SIZE = 14.0;
constexpr int LEGEND_TICKS = 5;
constexpr int LEGEND_STEPS = 128;
constexpr double NO_SUPPLY_GREY = 0.82;
constexpr double BYTE_SCALE = 255.0;

struct RGB {
    double r, g, b;
};

// A perceptually ordered dark-blue to yellow scale, sampled at 9 stops.
constexpr std::array<RGB, 9> COLOUR_STOPS = {{{0.267, 0.005, 0.329},
                                              {0.279, 0.175, 0.483},
                                              {0.230, 0.322, 0.546},
                                              {0.173, 0.449, 0.558},
                                              {0.128, 0.567, 0.551},
                                              {0.154, 0.681, 0.504},
                                              {0.360, 0.785, 0.388},
                                              {0.668, 0.862, 0.196},
                                              {0.993, 0.906, 0.144}}};

RGB get_colour(double fraction)
{
    const double position = std::clamp(fraction, 0.0, 1.0) * (COLOUR_STOPS.size() - 1);
    const std::size_t low = std::min(static_cast<std::size_t>(position), COLOUR_STOPS.size() - 2);
    const double t = position - static_cast<double>(low);
    const RGB& a = COLOUR_STOPS[low];
    const RGB& b = COLOUR_STOPS[low + 1];
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

void draw_text(cairo_t* cr, double x, double y, const std::string& text, double size)
{
    cairo_set_font_size(cr, size);
    cairo_set_source_rgb(cr, 0.0, 0.0, 0.0);
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, text.c_str());
}

// Text whose right end (or centre) lies at x.
void draw_text_ending_at(cairo_t* cr, double x, double y, const std::string& text, double size, double part = 1.0)
{
    cairo_set_font_size(cr, size);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    draw_text(cr, x - part * extents.x_advance, y, text, size);
}

std::string format_value(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", value);
    return text;
}

std::uint32_t get_pixel(const RGB& colour)
{
    const auto byte = [](double c) { return static_cast<std::uint32_t>(std::lround(c * BYTE_SCALE)); };
    return byte(colour.r) << 16 | byte(colour.g) << 8 | byte(colour.b);
}

double get_largest(const std::vector<double>& values)
{
    double largest = 0.0;
    for (double value : values)
        if (std::isfinite(value))
            largest = std::max(largest, value);
    return largest;
}

int divide_up(int a, int b) { return (a + b - 1) / b; }

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
    return layout;
}

// Fills the grid of one panel straight into the image's pixels: drawing
// each tile as a Cairo rectangle costs seconds on a large device.
void fill_grid(cairo_surface_t* surface, const LAYOUT& layout, int left, int top, const std::vector<double>& pixels,
               double scale_top)
{
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const std::uint32_t grey = get_pixel({NO_SUPPLY_GREY, NO_SUPPLY_GREY, NO_SUPPLY_GREY});
    const double scale = scale_top > 0.0 ? scale_top : 1.0;
    for (int py = 0; py < layout.pixels_y; ++py)
        for (int px = 0; px < layout.pixels_x; ++px) {
            const double value = pixels[static_cast<std::size_t>(py) * layout.pixels_x + px];
            const std::uint32_t colour = std::isnan(value) ? grey : get_pixel(get_colour(value / scale));
            // Row 0 is the bottom row of the device, so it is drawn last.
            const int row = top + (layout.pixels_y - 1 - py) * layout.cell;
            for (int dy = 0; dy < layout.cell; ++dy) {
                auto* line = reinterpret_cast<std::uint32_t*>(data + static_cast<std::size_t>(row + dy) * stride);
                std::fill_n(line + left + px * layout.cell, layout.cell, colour);
            }
        }
}

// The axes of one panel: the first and last tile of each side and its name.
void draw_axes(cairo_t* cr, const LAYOUT& layout, int left, int top, int nx, int ny)
{
    const double bottom = top + layout.grid_height;
    const double numbers = bottom + FONT_SIZE + 2.0;
    draw_text(cr, left, numbers, "0", FONT_SIZE);
    draw_text_ending_at(cr, left + layout.grid_width, numbers, std::to_string(nx - 1), FONT_SIZE);
    draw_text_ending_at(cr, left + 0.5 * layout.grid_width, numbers + FONT_SIZE + 4.0, "x (column)", FONT_SIZE, 0.5);
    draw_text_ending_at(cr, left - 4.0, bottom, "0", FONT_SIZE);
    draw_text_ending_at(cr, left - 4.0, top + FONT_SIZE, std::to_string(ny - 1), FONT_SIZE);
    cairo_save(cr);
    cairo_translate(cr, left - Y_AXIS_WIDTH + FONT_SIZE + 2.0, top + 0.5 * layout.grid_height);
    cairo_rotate(cr, -M_PI / 2.0);
    draw_text_ending_at(cr, 0.0, 0.0, "y (row)", FONT_SIZE, 0.5);
    cairo_restore(cr);
}

// The colour legend right of a panel's grid, and the grey of no supply.
void draw_legend(cairo_t* cr, const LAYOUT& layout, double bar_left, int top, double scale_top)
{
    const std::vector<std::string> labels = get_legend_labels(scale_top);
    const double label_left = bar_left + LEGEND_BAR_WIDTH + 6.0;
    if (labels.size() == 1) {
        // A map that is 0 everywhere: one swatch of the colour of 0.
        const RGB colour = get_colour(0.0);
        cairo_set_source_rgb(cr, colour.r, colour.g, colour.b);
        cairo_rectangle(cr, bar_left, top + layout.grid_height - FONT_SIZE, LEGEND_BAR_WIDTH, FONT_SIZE);
        cairo_fill(cr);
        draw_text(cr, label_left, top + layout.grid_height - 1.0, labels[0], FONT_SIZE);
    } else {
        const double height = static_cast<double>(layout.grid_height) / LEGEND_STEPS;
        for (int step = 0; step < LEGEND_STEPS; ++step) {
            const RGB colour = get_colour((step + 0.5) / LEGEND_STEPS);
            cairo_set_source_rgb(cr, colour.r, colour.g, colour.b);
            cairo_rectangle(cr, bar_left, top + layout.grid_height - (step + 1) * height, LEGEND_BAR_WIDTH,
                            height + 0.5);
            cairo_fill(cr);
        }
        for (std::size_t tick = 0; tick < labels.size(); ++tick) {
            const double y = top + layout.grid_height * (1.0 - static_cast<double>(tick) / (labels.size() - 1));
            cairo_set_source_rgb(cr, 0.0, 0.0, 0.0);
            cairo_set_line_width(cr, 1.0);
            cairo_move_to(cr, bar_left + LEGEND_BAR_WIDTH, y);
            cairo_line_to(cr, bar_left + LEGEND_BAR_WIDTH + 4.0, y);
            cairo_stroke(cr);
            draw_text(cr, label_left, y + FONT_SIZE * 0.35, labels[tick], FONT_SIZE);
        }
    }
    const double swatch = top + layout.grid_height + FONT_SIZE + 4.0;
    cairo_set_source_rgb(cr, NO_SUPPLY_GREY, NO_SUPPLY_GREY, NO_SUPPLY_GREY);
    cairo_rectangle(cr, bar_left, swatch - FONT_SIZE + 2.0, LEGEND_BAR_WIDTH, FONT_SIZE - 2.0);
    cairo_fill(cr);
    draw_text(cr, label_left, swatch, "no supply", FONT_SIZE);
}

// Writes an RGB24 image as an 8-bit RGB PNG; "" when done, else the reason.
// Cairo's own writer compresses hard, which takes seconds on the noisy maps
// of a large device; the fastest level makes files a little larger instead.
std::string write_png(cairo_surface_t* surface, const std::string& path)
{
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    std::vector<png_byte> row(static_cast<std::size_t>(width) * 3);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return std::strerror(errno);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    // libpng reports its errors by a long jump back here; nothing between
    // this point and the jump owns a resource of its own.
    if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return "the PNG encoder failed";
    }
    png_init_io(png, file);
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
                 PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        const auto* pixels = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<png_byte>(pixels[x] >> 16);
            row[3 * x + 1] = static_cast<png_byte>(pixels[x] >> 8);
            row[3 * x + 2] = static_cast<png_byte>(pixels[x]);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    const bool written = std::ferror(file) == 0;
    if (std::fclose(file) != 0 || !written)
        return std::strerror(errno);
    return "";
}

}  // namespace

std::vector<double> get_pixel_values(const std::vector<double>& values, int nx, int ny, int tiles_per_pixel)
{
    const int k = tiles_per_pixel;
    const int width = divide_up(nx, k);
    const int height = divide_up(ny, k);
    std::vector<double> pixels(static_cast<std::size_t>(width) * height, std::numeric_limits<double>::quiet_NaN());
    for (int y = 0; y < ny; ++y)
        for (int x = 0; x < nx; ++x) {
            const double value = values[static_cast<std::size_t>(y) * nx + x];
            double& pixel = pixels[static_cast<std::size_t>(y / k) * width + x / k];
            if (!std::isnan(value) && (std::isnan(pixel) || value > pixel))
                pixel = value;
        }
    return pixels;
}

std::vector<double> get_scale_tops(const HEATMAP& heatmap, HEATMAP_SCALE scale)
{
    std::vector<double> tops;
    for (const TILE_MAP& panel : heatmap.panels)
        tops.push_back(get_largest(panel.values));
    if (scale == HEATMAP_SCALE::SHARED && !tops.empty())
        tops.assign(tops.size(), *std::max_element(tops.begin(), tops.end()));
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

void write_heatmap_png(const std::string& path, int nx, int ny, const HEATMAP& heatmap, HEATMAP_SCALE scale)
{
    const int panels = static_cast<int>(heatmap.panels.size());
    const LAYOUT layout = get_layout(nx, ny, panels);
    const std::vector<double> tops = get_scale_tops(heatmap, scale);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, layout.width, layout.height);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1.0, 1.0, 1.0);
    cairo_paint(cr);
    cairo_surface_flush(surface);
    const int top = MARGIN + FIGURE_TITLE_HEIGHT + PANEL_TITLE_HEIGHT;
    if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
        for (int p = 0; p < panels; ++p)
            fill_grid(surface, layout, MARGIN + p * (layout.panel_width + MARGIN) + Y_AXIS_WIDTH, top,
                      get_pixel_values(heatmap.panels[p].values, nx, ny, layout.tiles_per_pixel), tops[p]);
        cairo_surface_mark_dirty(surface);
    }
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    draw_text(cr, MARGIN, MARGIN + TITLE_FONT_SIZE, heatmap.title, TITLE_FONT_SIZE);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    for (int p = 0; p < panels; ++p) {
        const int left = MARGIN + p * (layout.panel_width + MARGIN) + Y_AXIS_WIDTH;
        std::string title = heatmap.panels[p].title;
        if (layout.tiles_per_pixel > 1)
            title += ", largest of " + std::to_string(layout.tiles_per_pixel) + " x " +
                     std::to_string(layout.tiles_per_pixel) + " tiles a pixel";
        draw_text(cr, left, top - 6.0, title, FONT_SIZE);
        draw_axes(cr, layout, left, top, nx, ny);
        draw_legend(cr, layout, left + std::max(layout.grid_width, MIN_PANEL_GRID_WIDTH) + LEGEND_GAP, top, tops[p]);
    }
    const cairo_status_t drawn = cairo_status(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const std::string failure =
        drawn == CAIRO_STATUS_SUCCESS ? write_png(surface, path) : cairo_status_to_string(drawn);
    cairo_surface_destroy(surface);
    if (!failure.empty())
        throw OUTPUT_ERROR(failure);
}
