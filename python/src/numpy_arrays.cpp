// Checked conversions between NumPy arrays and the binding's flat vectors.
#include "python/src/numpy_arrays.h"

#include <cstdint>
#include <limits>

namespace {

constexpr long long INT32_LOW = std::numeric_limits<std::int32_t>::min();
constexpr long long INT32_HIGH = std::numeric_limits<std::int32_t>::max();

std::string join_shape(const py::array& array)
{
    std::vector<py::ssize_t> shape(array.shape(), array.shape() + array.ndim());
    return describe_shape(shape);
}

// The object as an array (lists and other sequences are converted).
py::array as_array(const py::object& object, const char* name)
{
    py::array array;
    try {
        array = py::array::ensure(object);
    } catch (const py::error_already_set&) {
        array = py::array();
    }
    if (!array || array.dtype().kind() == 'O')
        throw py::value_error(std::string(name) + " must be a NumPy array, not " +
                              std::string(py::str(py::type::handle_of(object).attr("__name__"))));
    return array;
}

void require_shape(const py::array& array, const char* name, const std::vector<py::ssize_t>& shape)
{
    bool matches = array.ndim() == static_cast<py::ssize_t>(shape.size());
    for (std::size_t i = 0; matches && i < shape.size(); ++i)
        matches = shape[i] == ANY_LENGTH || array.shape(static_cast<py::ssize_t>(i)) == shape[i];
    if (!matches)
        throw py::value_error(std::string(name) + " must have shape " + describe_shape(shape) + ", got " +
                              join_shape(array));
}

std::string dtype_name(const py::array& array) { return std::string(py::str(array.dtype())); }

template <typename T>
FLAT_ARRAY<T> copy_values(const py::array& array)
{
    const auto converted = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(array);
    FLAT_ARRAY<T> flat;
    flat.values.assign(converted.data(), converted.data() + converted.size());
    flat.shape.assign(array.shape(), array.shape() + array.ndim());
    return flat;
}

}  // namespace

std::string describe_shape(const std::vector<py::ssize_t>& shape)
{
    std::string text = "(";
    for (std::size_t i = 0; i < shape.size(); ++i) {
        text += i == 0 ? "" : ", ";
        text += shape[i] == ANY_LENGTH ? "N" : std::to_string(shape[i]);
    }
    return text + (shape.size() == 1 ? ",)" : ")");
}

FLAT_ARRAY<int> to_int_array(const py::object& object, const char* name, const std::vector<py::ssize_t>& shape)
{
    const py::array array = as_array(object, name);
    const char kind = array.dtype().kind();
    // An empty list comes as float64 and holds nothing to misread.
    if (kind != 'i' && kind != 'u' && array.size() > 0)
        throw py::value_error(std::string(name) + " must be an integer array, got dtype " + dtype_name(array));
    require_shape(array, name, shape);
    if (array.size() > 0) {
        // Python integers compare exactly, whatever the dtype's width.
        const py::int_ low(array.attr("min")());
        const py::int_ high(array.attr("max")());
        if (low < py::int_(INT32_LOW) || high > py::int_(INT32_HIGH))
            throw py::value_error(std::string(name) + " holds values outside the 32-bit integer range");
    }
    return copy_values<int>(array);
}

FLAT_ARRAY<float> to_float_array(const py::object& object, const char* name, const std::vector<py::ssize_t>& shape)
{
    const py::array array = as_array(object, name);
    if (array.dtype().kind() != 'f')
        throw py::value_error(std::string(name) + " must be a floating-point array (float32), got dtype " +
                              dtype_name(array));
    require_shape(array, name, shape);
    return copy_values<float>(array);
}

py::array_t<float> make_float_array(const std::vector<py::ssize_t>& shape, const std::vector<float>& values)
{
    py::array_t<float> array(shape);
    std::copy(values.begin(), values.end(), array.mutable_data());
    return array;
}

py::array_t<int> make_int_array(const std::vector<py::ssize_t>& shape, const std::vector<int>& values)
{
    py::array_t<int> array(shape);
    std::copy(values.begin(), values.end(), array.mutable_data());
    return array;
}

int to_int_in_range(long long value, const char* name, long long minimum, long long maximum)
{
    if (value < minimum || value > maximum)
        throw py::value_error(std::string(name) + " " + std::to_string(value) + " is outside " +
                              std::to_string(minimum) + ".." + std::to_string(maximum));
    return static_cast<int>(value);
}
