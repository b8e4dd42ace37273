// The NumPy .npy form of a per-tile map: a header, then float32 values in
// little-endian byte order, shape (nx, ny) in C order, so that value [x, y]
// lies at x * ny + y.
#ifndef CONGESTION_NPY_FILE_H
#define CONGESTION_NPY_FILE_H

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The file name of the index that lists the .npy maps of a folder, beside
// them (congestion-estimate --grids writes it, the Python module reads it).
constexpr const char* GRIDS_INDEX = "grids.json";

// The dtype of the values, as the header names it.
constexpr const char* NPY_FLOAT32 = "<f4";

// The header of version 1.0 for float32 values of shape (nx, ny): the magic
// "\x93NUMPY", the version, the length of the dictionary that follows, and
// the dictionary padded with spaces to a multiple of 64 bytes, ended by a
// newline.
std::string get_npy_header(int nx, int ny);

struct NPY_HEADER {
    std::string descr;
    bool fortran_order = false;
    std::vector<long long> shape;
    std::size_t data_offset = 0;  // where the values begin
};

// The header at the start of `bytes` (versions 1.0 to 3.0). Throws
// std::invalid_argument, whose what() says what is wrong, when it is not
// one.
NPY_HEADER parse_npy_header(std::string_view bytes);

#endif
