// Checked conversions between NumPy arrays and the flat vectors of the
// binding: every shape, dtype or range fault is a ValueError naming the
// argument.
#ifndef CONGESTION_PYTHON_NUMPY_ARRAYS_H
#define CONGESTION_PYTHON_NUMPY_ARRAYS_H

#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

namespace py = pybind11;

// A dimension of an expected shape that may have any length.
constexpr py::ssize_t ANY_LENGTH = -1;

// The values of an array in C (row-major) order, with its shape.
template <typename T>
struct FLAT_ARRAY {
    std::vector<T> values;
    std::vector<py::ssize_t> shape;
};

// "(5, 34, 34)"; ANY_LENGTH shows as "N".
std::string describe_shape(const std::vector<py::ssize_t>& shape);

// The object (an array, or a nested sequence NumPy can convert) as an array
// of `shape` with an integer dtype whose values all fit a 32-bit int.
FLAT_ARRAY<int> to_int_array(const py::object& object, const char* name, const std::vector<py::ssize_t>& shape);

// The same for a floating-point dtype, converted to float32.
FLAT_ARRAY<float> to_float_array(const py::object& object, const char* name, const std::vector<py::ssize_t>& shape);

// A new C-order array of the shape, filled from row-major `values`.
py::array_t<float> make_float_array(const std::vector<py::ssize_t>& shape, const std::vector<float>& values);
py::array_t<int> make_int_array(const std::vector<py::ssize_t>& shape, const std::vector<int>& values);

// A Python integer argument checked against [minimum, maximum].
int to_int_in_range(long long value, const char* name, long long minimum, long long maximum);

#endif
