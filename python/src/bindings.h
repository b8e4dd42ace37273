// The parts of the module `congestion`, each defined in its own file.
#ifndef CONGESTION_PYTHON_BINDINGS_H
#define CONGESTION_PYTHON_BINDINGS_H

#include <pybind11/pybind11.h>

namespace py = pybind11;

// The class Netlist (array_netlist.cpp).
void bind_netlist(py::module_& module);
// The class Estimator (estimator_bindings.cpp); needs the enums defined.
void bind_estimator(py::module_& module);
// The function load_design (design_loader.cpp).
void bind_design_loader(py::module_& module);
// The function load_grids (grids_loader.cpp).
void bind_grids_loader(py::module_& module);

// The routability figure, the baseline's maps and the calibrated rule
// (routability.cpp).
void bind_routability(py::module_& module);

#endif
