// Checked conversions of the scalar arguments of the Python API: resource
// types, net models, window sizes and paths.
#ifndef CONGESTION_PYTHON_ARGUMENTS_H
#define CONGESTION_PYTHON_ARGUMENTS_H

#include <string>

#include <pybind11/pybind11.h>

#include "fitter/h/congestion_export.h"
#include "front_end/front_end.h"

namespace py = pybind11;

// The Python type name of the object, for messages.
std::string get_type_name(const py::object& value);

// The value of an int, NumPy integer or enum argument (TypeError for other
// objects); values beyond 64 bits saturate, so every range check refuses them.
long long to_integer(const py::object& value, const char* name, const char* expected);

// A ResourceType or an int 0..4; ValueError outside, TypeError for a NetModel.
CONGESTION::RESOURCE_TYPE to_type(const py::object& value);
// The same, without LAB_INPUT.
CONGESTION::RESOURCE_TYPE to_wire_type(const py::object& value);
// A NetModel or an int 0..2, or the resource type LAB_INPUT for
// LAB_INPUT_MODEL; TypeError for the other resource types.
CONGESTION::NET_MODEL to_model(const py::object& value);
// A window size in tiles, 1..255 as in the estimator tool.
int to_window(long long size, const char* name);
// A str or os.PathLike of str.
std::string to_path(const py::object& path);

#endif
