// GRID_2D: a row-major two-dimensional array of floats or 32-bit counts.
#ifndef VMX_2D_ARRAY_SYS_H
#define VMX_2D_ARRAY_SYS_H

#include <cstddef>
#include <vector>

#include "host/zol_msg.h"

// Rows are indexed by x (the device column) and columns by y (the device row),
// so element (irow, icol) lives at irow * num_cols + icol and a row is one
// contiguous run of memory. Sizes and offsets are computed in
// std::ptrdiff_t, so a grid may hold more than INT_MAX elements.
template <typename T>
class GRID_2D {
 public:
    GRID_2D() = default;

    // Sets the dimensions and makes every element `fill`. The storage keeps
    // its capacity, so clearing a grid to the same size never allocates.
    void resize(int num_rows, int num_cols, const T& fill)
    {
        if (!(num_rows >= 0 && num_cols >= 0))
            MSG_INTERNAL_ERROR::report("num_rows >= 0 && num_cols >= 0", "CONGESTION", __FILE__, __LINE__);
        m_num_rows = num_rows;
        m_num_cols = num_cols;
        m_data.assign(static_cast<size_t>(static_cast<std::ptrdiff_t>(num_rows) * num_cols), fill);
    }

    int get_num_rows() const { return m_num_rows; }
    int get_num_cols() const { return m_num_cols; }

    bool in_bounds(int irow, int icol) const
    {
        return irow >= 0 && irow < m_num_rows && icol >= 0 && icol < m_num_cols;
    }

    // Bounds-checked access: a fatal report for indices outside the grid.
    T& at(int irow, int icol)
    {
        check(irow, icol);
        return (*this)(irow, icol);
    }
    const T& at(int irow, int icol) const
    {
        check(irow, icol);
        return (*this)(irow, icol);
    }

    // Unchecked access, for callers that have tested the indices themselves.
    T& operator()(int irow, int icol) { return m_data[offset(irow, icol)]; }
    const T& operator()(int irow, int icol) const { return m_data[offset(irow, icol)]; }

    T* data() { return m_data.data(); }
    const T* data() const { return m_data.data(); }
    typename std::vector<T>::iterator begin() { return m_data.begin(); }
    typename std::vector<T>::iterator end() { return m_data.end(); }
    typename std::vector<T>::const_iterator begin() const { return m_data.begin(); }
    typename std::vector<T>::const_iterator end() const { return m_data.end(); }

 private:
    std::ptrdiff_t offset(int irow, int icol) const { return static_cast<std::ptrdiff_t>(irow) * m_num_cols + icol; }

    void check(int irow, int icol) const
    {
        if (!in_bounds(irow, icol))
            MSG_INTERNAL_ERROR::report("in_bounds(irow, icol)", "CONGESTION", __FILE__, __LINE__);
    }

    std::vector<T> m_data;
    int m_num_rows = 0;
    int m_num_cols = 0;
};

#endif
