// Closed ranges of indices and boxes of tiles, as the kernels pass them on.
#ifndef TILE_RANGES_H
#define TILE_RANGES_H

#include <algorithm>
#include <limits>

namespace congestion_internal {

// Indices first .. last of an axis, both included; empty while first > last,
// as a range made without bounds is. INDEX is long long where a bound may
// lie beyond an int (a window reaching far past the grid).
template <typename INDEX = int>
struct CLOSED_RANGE {
    INDEX first = std::numeric_limits<INDEX>::max();
    INDEX last = std::numeric_limits<INDEX>::min();

    bool empty() const { return first > last; }
    // Widens the range to its hull with from .. to.
    void add(INDEX from, INDEX to)
    {
        first = std::min(first, from);
        last = std::max(last, to);
    }
};

// Columns xl .. xr by rows yb .. yt of the tile grid, all included.
struct TILE_BOX {
    int xl;
    int xr;
    int yb;
    int yt;

    int width() const { return xr - xl + 1; }
    int height() const { return yt - yb + 1; }
    CLOSED_RANGE<> columns() const { return {xl, xr}; }
};

}  // namespace congestion_internal

#endif
