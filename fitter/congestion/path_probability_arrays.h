// Working arrays of the path-probability model, kept by one worker for one
// update_demand call.
#ifndef PATH_PROBABILITY_ARRAYS_H
#define PATH_PROBABILITY_ARRAYS_H

#include <algorithm>
#include <cstddef>
#include <memory>
#include <utility>
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

// Per-net arrays over the pin box, indexed (x - xl) * height + (y - yb): the
// crossing values of the four directions, the coverage of the two-pin boxes
// and a mark per tile that holds a pin. One set serves one worker from net
// to net. The storage only grows, and without copying, since nothing in it
// outlives a net; its contents are left to the model, which clears only the
// elements it reads before it writes them. Marks are all clear between nets.
class PATH_ARRAYS {
 public:
    float* right = nullptr;
    float* left = nullptr;
    float* up = nullptr;
    float* down = nullptr;
    float* h_cover = nullptr;
    float* v_cover = nullptr;

    // Makes room for `box` and indexes from its corner.
    void prepare(const NET_BOX& box)
    {
        m_height = box.height();
        m_xl = box.xl;
        m_yb = box.yb;
        const size_t area = static_cast<size_t>(box.width()) * static_cast<size_t>(m_height);
        if (area > m_capacity)
            grow(area);
    }

    size_t index(int x, int y) const
    {
        return static_cast<size_t>(x - m_xl) * static_cast<size_t>(m_height) + static_cast<size_t>(y - m_yb);
    }

    // Column x of an array: element j holds row yb + j, so a column is one
    // contiguous run.
    float* column(float* values, int x) const { return values + index(x, m_yb); }
    const float* column(const float* values, int x) const { return values + index(x, m_yb); }

    // Marks the tile (x, y) as holding a pin; false when it already was.
    bool mark_pin(int x, int y)
    {
        const size_t i = index(x, y);
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
    void grow(size_t area)
    {
        m_capacity = std::max(area, 2 * m_capacity);
        for (auto [storage, view] : {std::pair{&m_right, &right},
                                     {&m_left, &left},
                                     {&m_up, &up},
                                     {&m_down, &down},
                                     {&m_h_cover, &h_cover},
                                     {&m_v_cover, &v_cover}}) {
            storage->reset();  // freed first, so that old and new never coexist
            storage->reset(new float[m_capacity]);
            *view = storage->get();
        }
        m_pin_marks.reset();
        m_pin_marks.reset(new unsigned char[m_capacity]());
    }

    std::unique_ptr<float[]> m_right, m_left, m_up, m_down, m_h_cover, m_v_cover;
    std::unique_ptr<unsigned char[]> m_pin_marks;
    std::vector<size_t> m_marked;
    size_t m_capacity = 0;
    int m_height = 0;
    int m_xl = 0;
    int m_yb = 0;
};

}  // namespace congestion_internal

#endif
