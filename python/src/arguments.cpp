// Checked conversions of the scalar arguments of the Python API.
#include "python/src/arguments.h"

#include <climits>

#include "python/src/numpy_arrays.h"

namespace {

// The estimator tool's range: 0 would act as 1, and wider windows than this
// smooth a device's congestion into noise.
constexpr long long MIN_WINDOW_SIZE = 1;
constexpr long long MAX_WINDOW_SIZE = 255;

}  // namespace

std::string get_type_name(const py::object& value) { return py::str(py::type::handle_of(value).attr("__name__")); }

long long to_integer(const py::object& value, const char* name, const char* expected)
{
    if (py::isinstance<py::bool_>(value) || !PyIndex_Check(value.ptr()))
        throw py::type_error(std::string(name) + " must be " + expected + ", not " + get_type_name(value));
    const auto index = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
    if (!index)
        throw py::error_already_set();
    int overflow = 0;
    const long long result = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    return overflow > 0 ? LLONG_MAX : overflow < 0 ? LLONG_MIN : result;
}

CONGESTION::RESOURCE_TYPE to_type(const py::object& value)
{
    if (py::isinstance(value, py::type::of<CONGESTION::NET_MODEL>()))
        throw py::type_error("type must be a ResourceType, not the net model " + std::string(py::str(value)));
    const long long type = to_integer(value, "type", "a ResourceType or an int");
    if (type < 0 || type >= CONGESTION::NUM_RESOURCE_TYPES)
        throw py::value_error("type " + std::to_string(type) + " is not a resource type (0..4)");
    return static_cast<CONGESTION::RESOURCE_TYPE>(type);
}

CONGESTION::RESOURCE_TYPE to_wire_type(const py::object& value)
{
    const CONGESTION::RESOURCE_TYPE type = to_type(value);
    if (type == CONGESTION::LAB_INPUT)
        throw py::value_error("type must be a wire type: LAB_INPUT has no congestion");
    return type;
}

CONGESTION::NET_MODEL to_model(const py::object& value)
{
    if (py::isinstance(value, py::type::of<CONGESTION::RESOURCE_TYPE>())) {
        // update_demand(lab_input, LAB_INPUT) reads as what it means.
        if (value.cast<CONGESTION::RESOURCE_TYPE>() == CONGESTION::LAB_INPUT)
            return CONGESTION::LAB_INPUT_MODEL;
        throw py::type_error("model must be a NetModel, not the resource type " + std::string(py::str(value)));
    }
    const long long model = to_integer(value, "model", "a NetModel or an int");
    if (model < CONGESTION::PATH_PROBABILITY_MODEL || model > CONGESTION::LAB_INPUT_MODEL)
        throw py::value_error("model " + std::to_string(model) + " is not a net model (0..2)");
    return static_cast<CONGESTION::NET_MODEL>(model);
}

int to_window(long long size, const char* name)
{
    return to_int_in_range(size, name, MIN_WINDOW_SIZE, MAX_WINDOW_SIZE);
}

std::string to_path(const py::object& path)
{
    const py::object text = py::module_::import("os").attr("fspath")(path);
    if (!py::isinstance<py::str>(text))
        throw py::type_error("path must be a str or an os.PathLike of str");
    return text.cast<std::string>();
}
