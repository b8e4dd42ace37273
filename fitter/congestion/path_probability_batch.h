// Working storage of the path-probability model, kept by one worker for one
// update_demand call.
#ifndef PATH_PROBABILITY_BATCH_H
#define PATH_PROBABILITY_BATCH_H

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <vector>

#include "fitter/congestion/band_order.h"
#include "fitter/congestion/tile_ranges.h"

namespace congestion_internal {

// The pin box of a net, and the driver's tile.
struct NET_BOX : TILE_BOX {
    int xd;
    int yd;
};

// Two-pin crossing probabilities of the route from the driver A = (ax, ay)
// to a load B = (bx, by) on another tile, over the pair box from (lx, ly).
// Each value is an integer numerator over S = dx + dy, so the entries across
// the pair box add up to 1 at every cut between A and B.
struct TWO_PIN {
    int ax, ay, bx, by;
    int dx, dy, lx, ly;
    float span;

    TWO_PIN(int ax_, int ay_, int bx_, int by_)
        : ax(ax_),
          ay(ay_),
          bx(bx_),
          by(by_),
          dx(std::abs(ax_ - bx_)),
          dy(std::abs(ay_ - by_)),
          lx(std::min(ax_, bx_)),
          ly(std::min(ay_, by_)),
          span(static_cast<float>(dx + dy))
    {}

    // Boundary between columns lx + i and lx + i + 1, in row ly + j. In A's
    // row the boundary next to A gets dx / S and each step away one 1 / S
    // less; B's row mirrors that from B; rows strictly between get 1 / S.
    float horizontal(int i, int j) const
    {
        if (dy == 0)
            return 1.0f;
        int numerator = 1;
        if (j == ay - ly)
            numerator = ax < bx ? dx - i : i + 1;
        else if (j == by - ly)
            numerator = ax < bx ? i + 1 : dx - i;
        return static_cast<float>(numerator) / span;
    }

    // Boundary between rows ly + j and ly + j + 1, in column lx + i.
    float vertical(int i, int j) const
    {
        if (dx == 0)
            return 1.0f;
        int numerator = 1;
        if (i == ax - lx)
            numerator = ay < by ? dy - j : j + 1;
        else if (i == bx - lx)
            numerator = ay < by ? j + 1 : dy - j;
        return static_cast<float>(numerator) / span;
    }
};

// A load of a small net: its pair box with the driver, as columns and as
// element indices of the net's columns, and its weight.
struct LOAD {
    TWO_PIN pair;
    int hx;     // the pair box's last column
    int first;  // the pair box's first and last rows
    int last;
    float w;
    // w times the probability that is the same all along the pair box: on
    // the rows between the end rows horizontally and on the columns between
    // the end columns vertically (1 / S, or 1 where the pair shares a
    // column), formed once per load.
    float w_between_rows;
    float w_between_columns;

    LOAD(const TWO_PIN& pair_, int hx_, int first_, int last_, float w_)
        : pair(pair_),
          hx(hx_),
          first(first_),
          last(last_),
          w(w_),
          w_between_rows(w_ * (1.0f / pair_.span)),
          w_between_columns(pair_.dx == 0 ? w_ * 1.0f : w_ * (1.0f / pair_.span))
    {}
};

// The crossings of a net of many pins: per quadrant around the driver its
// horizontal (h_) and vertical (v_) density, and the crossing of the
// boundaries on the driver's row and column in each direction.
struct LARGE_NET_CROSSINGS {
    float h_ne, h_nw, h_sw, h_se, v_ne, v_nw, v_sw, v_se;
    float right_line, left_line, up_line, down_line;
};

// What the model keeps of a net once its netlist queries are made: the box,
// and either its loads (a small net) or its crossings (a net of many pins).
struct PATH_NET {
    NET_BOX box;
    bool small;
    // A small net with one load, at the corner opposite the driver: the
    // load's pair box is the net's box, and the load's weight is the cover
    // of every boundary in it.
    bool two_tiles;
    size_t first;  // its first load, or its crossings
    size_t count;  // its number of loads
};

// The model walks a net's box one column at a time. For a small net of
// several loads, whose averages vary from tile to tile, it keeps one column
// of each of its arrays: the crossing values of the four directions (the
// horizontal ones for the column's own boundary and for the one before it)
// and the coverage of the two-pin boxes. Element j of a column is row yb + j;
// each vertical column also has a zero element before its first and after
// its last boundary, so that every tile can add the boundary above and the
// one below it. Columns are all zero between nets (ZERO_COLUMNS in
// congestion_path_probability.cpp).
class PATH_COLUMNS {
 public:
    float* right = nullptr;
    float* right_before = nullptr;
    float* left = nullptr;
    float* left_before = nullptr;
    float* up = nullptr;
    float* down = nullptr;
    float* h_cover = nullptr;
    float* v_cover = nullptr;

    // Zeroed columns for boxes of up to `max_height` rows.
    explicit PATH_COLUMNS(int max_height)
    {
        // Two more elements than rows: the vertical columns' zero ends.
        const size_t length = static_cast<size_t>(max_height) + 2;
        m_columns.reset(new float[NUM_COLUMNS * length]());
        float* next = m_columns.get();
        for (float** column : {&right, &right_before, &left, &left_before, &h_cover, &v_cover, &up, &down}) {
            *column = next;
            next += length;
        }
        up += 1;
        down += 1;
    }

 private:
    static constexpr size_t NUM_COLUMNS = 8;
    std::unique_ptr<float[]> m_columns;
};

// The working storage of one worker. A chunk's nets are planned in order
// into a batch (nets, loads, crossings), and a full batch is added to the
// chunk's grids band of grid rows by band (see BAND_ORDER), the bands side
// by side when workers are free, each walk with columns of its own.
// Planning marks the tiles of a net's box that hold a pin; marks are all
// clear between nets. The batch keeps its capacity from batch to batch, and
// the marks grow without copying, since no mark outlives a net.
class PATH_BATCH {
 public:
    // A batch is added to the grids once it holds this many nets or loads:
    // enough that each band of the grids is brought into cache for many
    // nets, few enough that the batch stays a few megabytes.
    static constexpr size_t DEFAULT_MAX_NETS = size_t{1} << 15;
    static constexpr size_t DEFAULT_MAX_LOADS = size_t{1} << 17;

    std::vector<PATH_NET> nets;
    std::vector<LOAD> loads;
    std::vector<LARGE_NET_CROSSINGS> crossings;
    int max_height = 0;  // the rows of the batch's tallest box
    BAND_ORDER bands;

    // Grid rows per band; 0 chooses them from the grid's row length.
    int band_rows = 0;
    size_t max_nets = DEFAULT_MAX_NETS;
    size_t max_loads = DEFAULT_MAX_LOADS;

    // Makes room for the pin marks of `box` and indexes them from its corner.
    void prepare_marks(const NET_BOX& box)
    {
        m_height = box.height();
        m_xl = box.xl;
        m_yb = box.yb;
        const size_t area = static_cast<size_t>(box.width()) * static_cast<size_t>(m_height);
        if (area > m_mark_capacity) {
            m_mark_capacity = std::max(area, 2 * m_mark_capacity);
            m_pin_marks.reset();  // freed first, so that old and new never coexist
            m_pin_marks.reset(new unsigned char[m_mark_capacity]());
        }
    }

    // Marks the tile (x, y) as holding a pin; false when it already was.
    bool mark_pin(int x, int y)
    {
        const size_t i = static_cast<size_t>(x - m_xl) * static_cast<size_t>(m_height) + static_cast<size_t>(y - m_yb);
        if (m_pin_marks[i])
            return false;
        m_pin_marks[i] = 1;
        m_marked.push_back(i);
        return true;
    }

    // Clears the marks of the net just done.
    void clear_pin_marks()
    {
        for (size_t i : m_marked)
            m_pin_marks[i] = 0;
        m_marked.clear();
    }

 private:
    std::unique_ptr<unsigned char[]> m_pin_marks;
    std::vector<size_t> m_marked;
    size_t m_mark_capacity = 0;
    int m_height = 0;
    int m_xl = 0;
    int m_yb = 0;
};

}  // namespace congestion_internal

#endif
