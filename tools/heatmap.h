// PNG heatmaps of per-tile values, row 0 at the bottom, with a colour scale.
#ifndef CONGESTION_HEATMAP_H
#define CONGESTION_HEATMAP_H

#include <string>
#include <vector>

#include "tools/estimate.h"

// Whether the panels of one heatmap share one colour scale (so that equal
// colours mean equal values) or each runs from 0 to its own largest value.
enum class HEATMAP_SCALE { SHARED, SEPARATE };

// Largest width and height of a heatmap image, in pixels. A grid too large
// for it is drawn several tiles to a pixel.
constexpr int MAX_HEATMAP_SIDE = 2048;

// The pixel grid of a map of nx by ny tiles drawn `tiles_per_pixel` tiles to
// a pixel side: ceil(nx / k) by ceil(ny / k) values, index py * width + px.
// A pixel shows the largest value of its tiles, so no hot tile disappears,
// and NaN (no supply) only when none of its tiles has supply.
std::vector<double> get_pixel_values(const std::vector<double>& values, int nx, int ny, int tiles_per_pixel);

// The value at the top of each panel's colour scale: the largest finite
// value of all panels when the scale is shared, else of the panel alone;
// 0 for a map that is 0 (or without supply) everywhere.
std::vector<double> get_scale_tops(const HEATMAP& heatmap, HEATMAP_SCALE scale);

// The labels of a colour legend that runs from 0 to `top`, bottom first; a
// single label for a map that is 0 everywhere.
std::vector<std::string> get_legend_labels(double top);

// Writes the panels of `heatmap` side by side into one PNG at `path`, under
// the heatmap's title, with both axes labelled; NaN values (tiles without
// supply) are drawn grey. The image is at most MAX_HEATMAP_SIDE pixels a
// side. Throws OUTPUT_ERROR when the image cannot be made or written.
void write_heatmap_png(const std::string& path, int nx, int ny, const HEATMAP& heatmap, HEATMAP_SCALE scale);

#endif
