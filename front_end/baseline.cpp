// Bounding-box baseline: each net's half-perimeter spread evenly over its box.
#include "front_end/baseline.h"

BASELINE compute_baseline(const DESIGN& design, const std::vector<int>& nets)
{
    BASELINE baseline;
    baseline.horizontal.assign(design.get_num_tiles(), 0.0);
    baseline.vertical.assign(design.get_num_tiles(), 0.0);
    baseline.pins.assign(design.get_num_tiles(), 0);
    for (int net : nets) {
        const int width = design.xr[net] - design.xl[net];
        const int height = design.yt[net] - design.yb[net];
        const double area = static_cast<double>(width + 1) * static_cast<double>(height + 1);
        const double horizontal = width / area;
        const double vertical = height / area;
        for (int y = design.yb[net]; y <= design.yt[net]; ++y)
            for (int x = design.xl[net]; x <= design.xr[net]; ++x) {
                baseline.horizontal[design.get_tile_index(x, y)] += horizontal;
                baseline.vertical[design.get_tile_index(x, y)] += vertical;
            }
        for (int pin = design.net_start[net]; pin < design.net_start[net + 1]; ++pin)
            ++baseline.pins[design.get_tile_index(design.pin_x[pin], design.pin_y[pin])];
    }
    return baseline;
}
