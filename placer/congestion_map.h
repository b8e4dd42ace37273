// The congestion maps that steer the pass: refreshed from the placement as
// it stands, then read as sums over boxes in constant time.
//
// Each map gives per tile a horizontal and a vertical value: the
// utilization of the axis (demand over supply) divided by a reference fixed
// when the map is made, the mean of both axes' utilization over the tiles
// with wire supply in the first refresh, less a threshold, and not below 0.
// A utilization of 1 is thus the starting placement's average crowding,
// whichever map gives it, and with a threshold t only crowding above t times
// that average counts.
#ifndef CONGESTION_CONGESTION_MAP_H
#define CONGESTION_CONGESTION_MAP_H

#include <memory>
#include <vector>

#include "fitter/h/congestion_export.h"
#include "front_end/front_end.h"
#include "placer/placement.h"

// Which map steers the pass.
enum class MAP_KIND {
    ESTIMATE,  // the library's estimate: path model, smoothed 3 along the wires and 1 across
    BOXES      // the routability verdict's net boxes: each net's crossing-factor length spread over its box
};

// The threshold the pass uses unless told otherwise.
constexpr double DEFAULT_CONGESTION_THRESHOLD = 0.0;

class CONGESTION_MAP {
 public:
    virtual ~CONGESTION_MAP() = default;
    // Makes the map of the placement's wired nets where they are now.
    virtual void refresh() = 0;
    // Sums of the normalised horizontal and vertical utilization over the
    // tiles of a box inside the grid.
    virtual double get_horizontal_sum(const NET_BOX& box) const = 0;
    virtual double get_vertical_sum(const NET_BOX& box) const = 0;
};

// The map of `kind` over the placement, which must outlive it, with the
// threshold (0 or more), made once (which fixes the reference).
std::unique_ptr<CONGESTION_MAP> make_congestion_map(MAP_KIND kind, const PLACEMENT& placement, double threshold = 0.0);

#endif
