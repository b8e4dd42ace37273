// Working storage of the bounding-box model, kept by one worker for one
// update_demand call.
#ifndef BOUNDING_BOX_BATCH_H
#define BOUNDING_BOX_BATCH_H

#include <cstddef>
#include <vector>

#include "fitter/congestion/band_order.h"
#include "fitter/congestion/tile_ranges.h"

namespace congestion_internal {

// What the model needs of one net once its netlist queries are made: the
// box, the driver's tile clamped into it, the amounts, and where the
// supply of each of its rows lies in the batch's row totals.
struct NET_PLAN : TILE_BOX {
    int cx;
    int cy;
    float ex;
    float h_base;
    float with_base;
    float no_base;
    size_t rows;  // the up totals of rows yb..yt, then the down totals
};

// A chunk's nets are planned in order into a batch, and a full batch is
// added to the chunk's grids band of grid rows by band. The storage only
// grows from batch to batch.
struct BOX_BATCH {
    // A batch is added to the grids once it holds this many nets or row
    // totals: enough that each band of the grids is brought into cache for
    // many nets, few enough that the batch stays a few megabytes.
    static constexpr size_t DEFAULT_MAX_NETS = size_t{1} << 16;
    static constexpr size_t DEFAULT_MAX_ROWS = size_t{1} << 20;

    std::vector<NET_PLAN> plans;
    std::vector<float> row_totals;
    BAND_ORDER bands;

    // Grid rows per band; 0 chooses them from the grid's row length.
    int band_rows = 0;
    size_t max_nets = DEFAULT_MAX_NETS;
    size_t max_rows = DEFAULT_MAX_ROWS;
};

}  // namespace congestion_internal

#endif
