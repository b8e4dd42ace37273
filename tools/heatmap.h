// PNG heatmaps of per-tile values, row 0 at the bottom, with a colour scale.
#ifndef CONGESTION_HEATMAP_H
#define CONGESTION_HEATMAP_H

#include <string>
#include <vector>

#include "tools/estimate.h"

// Writes the panels of `heatmap` side by side into one PNG at `path` (under a
// temporary name first). Each panel has its own title and colour scale from 0
// to its largest value; NaN values (tiles without supply) are drawn grey.
// Throws OUTPUT_ERROR when the image cannot be made or written.
void write_heatmap_png(const std::string& path, int nx, int ny, const HEATMAP& heatmap);

#endif
