// The plain bounding-box baseline that the estimate is compared against.
#ifndef CONGESTION_BASELINE_H
#define CONGESTION_BASELINE_H

#include <vector>

#include "front_end/design_reader.h"

// Per-tile horizontal and vertical wire demand (index y * nx + x): each net's
// width xr - xl and height yt - yb spread evenly over the tiles of its box,
// with no direction and no supply weighting; and Lab Input demand: every
// pin of the nets on the tile, drivers too.
struct BASELINE {
    std::vector<double> horizontal;
    std::vector<double> vertical;
    std::vector<int> pins;
};

BASELINE compute_baseline(const DESIGN& design, const std::vector<int>& nets);

#endif
