// Heatmap drawing with Cairo: tiles, titles, axes and a colour legend.
#include "tools/heatmap.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include <cairo.h>

#include "tools/output_file.h"

namespace {

constexpr double TARGET_GRID_PIXELS = 480.0;
constexpr double MIN_CELL = 4.0;
constexpr double MAX_CELL = 24.0;
constexpr double MARGIN = 16.0;
constexpr double TITLE_HEIGHT = 28.0;
constexpr double AXIS_HEIGHT = 22.0;
constexpr double LEGEND_GAP = 12.0;
constexpr double LEGEND_BAR_WIDTH = 16.0;
constexpr double LEGEND_LABEL_WIDTH = 64.0;
constexpr double FONT_SIZE = 12.0;
constexpr double TITLE_FONT_SIZE = 13.0;
constexpr int LEGEND_TICKS = 5;
constexpr int LEGEND_STEPS = 128;
constexpr double NO_SUPPLY_GREY = 0.82;

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

std::string format_value(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", value);
    return text;
}

struct LAYOUT {
    double cell;
    double grid_width;
    double grid_height;
    double panel_width;
};

// One panel at horizontal offset `left`: tiles, axes, title and legend.
void draw_panel(cairo_t* cr, const LAYOUT& layout, double left, int nx, int ny, const TILE_MAP& map)
{
    double largest = 0.0;
    for (double value : map.values)
        if (std::isfinite(value))
            largest = std::max(largest, value);
    const double scale = largest > 0.0 ? largest : 1.0;
    const double top = MARGIN + TITLE_HEIGHT;

    draw_text(cr, left, MARGIN + TITLE_FONT_SIZE, map.title, TITLE_FONT_SIZE);
    for (int y = 0; y < ny; ++y)
        for (int x = 0; x < nx; ++x) {
            const double value = map.values[static_cast<std::size_t>(y) * nx + x];
            if (std::isnan(value)) {
                cairo_set_source_rgb(cr, NO_SUPPLY_GREY, NO_SUPPLY_GREY, NO_SUPPLY_GREY);
            } else {
                const RGB colour = get_colour(value / scale);
                cairo_set_source_rgb(cr, colour.r, colour.g, colour.b);
            }
            // Row 0 is the bottom row of the device, so it is drawn last row down.
            cairo_rectangle(cr, left + x * layout.cell, top + (ny - 1 - y) * layout.cell, layout.cell, layout.cell);
            cairo_fill(cr);
        }
    const double axis = top + layout.grid_height + FONT_SIZE + 4.0;
    draw_text(cr, left, axis, "(0,0)", FONT_SIZE);
    draw_text(cr, left + layout.grid_width - 6.0 * FONT_SIZE, axis,
              "x " + std::to_string(nx - 1) + " \xe2\x86\x92", FONT_SIZE);

    const double bar_left = left + layout.grid_width + LEGEND_GAP;
    for (int step = 0; step < LEGEND_STEPS; ++step) {
        const double fraction = (step + 0.5) / LEGEND_STEPS;
        const RGB colour = get_colour(fraction);
        cairo_set_source_rgb(cr, colour.r, colour.g, colour.b);
        const double height = layout.grid_height / LEGEND_STEPS;
        cairo_rectangle(cr, bar_left, top + layout.grid_height - (step + 1) * height, LEGEND_BAR_WIDTH, height + 0.5);
        cairo_fill(cr);
    }
    for (int tick = 0; tick < LEGEND_TICKS; ++tick) {
        const double fraction = static_cast<double>(tick) / (LEGEND_TICKS - 1);
        const double y = top + layout.grid_height * (1.0 - fraction);
        cairo_set_source_rgb(cr, 0.0, 0.0, 0.0);
        cairo_set_line_width(cr, 1.0);
        cairo_move_to(cr, bar_left + LEGEND_BAR_WIDTH, y);
        cairo_line_to(cr, bar_left + LEGEND_BAR_WIDTH + 4.0, y);
        cairo_stroke(cr);
        draw_text(cr, bar_left + LEGEND_BAR_WIDTH + 6.0, y + FONT_SIZE * 0.35, format_value(fraction * largest),
                  FONT_SIZE);
    }
    cairo_set_source_rgb(cr, NO_SUPPLY_GREY, NO_SUPPLY_GREY, NO_SUPPLY_GREY);
    cairo_rectangle(cr, bar_left, axis - FONT_SIZE + 2.0, LEGEND_BAR_WIDTH, FONT_SIZE - 2.0);
    cairo_fill(cr);
    draw_text(cr, bar_left + LEGEND_BAR_WIDTH + 6.0, axis, "no supply", FONT_SIZE);
}

}  // namespace

void write_heatmap_png(const std::string& path, int nx, int ny, const HEATMAP& heatmap)
{
    LAYOUT layout;
    layout.cell = std::clamp(std::floor(TARGET_GRID_PIXELS / std::max(nx, ny)), MIN_CELL, MAX_CELL);
    layout.grid_width = layout.cell * nx;
    layout.grid_height = layout.cell * ny;
    layout.panel_width = std::max(layout.grid_width, 7.0 * TITLE_FONT_SIZE * 4.0) + LEGEND_GAP + LEGEND_BAR_WIDTH +
                         LEGEND_LABEL_WIDTH;
    const int width = static_cast<int>(MARGIN + heatmap.panels.size() * (layout.panel_width + MARGIN));
    const int height = static_cast<int>(MARGIN + TITLE_HEIGHT + layout.grid_height + AXIS_HEIGHT + MARGIN);

    write_file_atomically(path, [&](const std::string& temporary) {
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
        cairo_t* cr = cairo_create(surface);
        cairo_set_source_rgb(cr, 1.0, 1.0, 1.0);
        cairo_paint(cr);
        cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        double left = MARGIN;
        for (const TILE_MAP& panel : heatmap.panels) {
            draw_panel(cr, layout, left, nx, ny, panel);
            left += layout.panel_width + MARGIN;
        }
        const cairo_status_t drawn = cairo_status(cr);
        cairo_destroy(cr);
        const cairo_status_t written =
            drawn == CAIRO_STATUS_SUCCESS ? cairo_surface_write_to_png(surface, temporary.c_str()) : drawn;
        cairo_surface_destroy(surface);
        if (written != CAIRO_STATUS_SUCCESS)
            throw OUTPUT_ERROR("cannot write the heatmap " + path + ": " + cairo_status_to_string(written) + ".");
    });
}
