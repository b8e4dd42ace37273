// Working storage of the path-probability model, kept by one worker for one
// update_demand call.
#ifndef PATH_PROBABILITY_ARRAYS_H
#define PATH_PROBABILITY_ARRAYS_H

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

namespace congestion_internal {

// Inclusive pin box of a net, and the driver's tile.
struct NET_BOX {
    int xl;
    int xr;
    int yb;
    int yt;
    int xd;
    int yd;
    int width() const { return xr - xl + 1; }
    int height() const { return yt - yb + 1; }
};

// The model walks a net's box one column at a time, so it keeps one column
// of each of its arrays: the crossing values of the four directions (the
// horizontal ones for the column's own boundary and for the one before it),
// the coverage of the two-pin boxes, and a mark per tile of the box that
// holds a pin. Element j of a column is row yb + j; each vertical column
// also has a zero element before its first and after its last boundary, so
// that every tile can add the boundary above and the one below it.
// Columns are all zero between uses (the model clears what it wrote), marks
// all clear between nets. The storage only grows, and without copying,
// since nothing in it outlives a net.
class PATH_ARRAYS {
 public:
    float* right = nullptr;
    float* right_before = nullptr;
    float* left = nullptr;
    float* left_before = nullptr;
    float* up = nullptr;
    float* down = nullptr;
    float* h_cover = nullptr;
    float* v_cover = nullptr;

    // Makes room for `box` and indexes the marks from its corner.
    void prepare(const NET_BOX& box)
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
        // Two more elements than rows: the vertical columns' zero ends.
        const size_t length = static_cast<size_t>(m_height) + 2;
        if (length > m_column_length) {
            m_column_length = std::max(length, 2 * m_column_length);
            m_columns.reset();
            m_columns.reset(new float[NUM_COLUMNS * m_column_length]());
            float* next = m_columns.get();
            for (float** column : {&right, &right_before, &left, &left_before, &h_cover, &v_cover, &up, &down}) {
                *column = next;
                next += m_column_length;
            }
            up += 1;
            down += 1;
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
    static constexpr size_t NUM_COLUMNS = 8;

    std::unique_ptr<float[]> m_columns;
    std::unique_ptr<unsigned char[]> m_pin_marks;
    std::vector<size_t> m_marked;
    size_t m_column_length = 0;
    size_t m_mark_capacity = 0;
    int m_height = 0;
    int m_xl = 0;
    int m_yb = 0;
};

}  // namespace congestion_internal

#endif
