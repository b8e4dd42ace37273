// The extension module `congestion`: enums and constants of the estimator,
// then its classes and the design reader.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>

#include "fitter/congestion/congestion_impl.h"
#include "python/src/arguments.h"
#include "python/src/bindings.h"

PYBIND11_MODULE(congestion, module)
{
    // Every array goes through NumPy: without it the module fails here, with
    // a sentence, rather than at its first call.
    try {
        py::module_::import("numpy");
    } catch (py::error_already_set& error) {
        if (!error.matches(PyExc_ImportError))
            throw;
        throw py::import_error(
            "the module congestion needs NumPy (Debian's python3-numpy), which cannot be imported: " +
            std::string(py::str(error.value())));
    }
    module.doc() = R"doc(
Routing-congestion estimation for placement on NumPy arrays: Estimator wraps
the C++ estimator of a grid of nx by ny tiles, Netlist holds nets as CSR
arrays, load_design reads a design folder, load_grids the maps that
congestion-estimate --grids writes. Results equal those of the C++
library bit for bit.)doc";
    module.attr("__version__") = CONGESTION_VERSION;

    py::enum_<CONGESTION::RESOURCE_TYPE> types(module, "ResourceType", "Routing resource types; 0..3 are wire types.",
                                               py::arithmetic());
    for (int t = 0; t < CONGESTION::NUM_RESOURCE_TYPES; ++t)
        types.value(RESOURCE_TYPE_WORDS[t], static_cast<CONGESTION::RESOURCE_TYPE>(t));
    types.export_values();
    py::enum_<CONGESTION::NET_MODEL>(module, "NetModel", "How update_demand turns its source into demand.",
                                     py::arithmetic())
        .value("PATH_PROBABILITY_MODEL", CONGESTION::PATH_PROBABILITY_MODEL)
        .value("BOUNDING_BOX_MODEL", CONGESTION::BOUNDING_BOX_MODEL)
        .value("LAB_INPUT_MODEL", CONGESTION::LAB_INPUT_MODEL)
        .export_values();
    module.attr("PATH_PROBABILITY") = CONGESTION::PATH_PROBABILITY_MODEL;
    module.attr("BOUNDING_BOX") = CONGESTION::BOUNDING_BOX_MODEL;
    module.attr("NUM_RESOURCE_TYPES") = CONGESTION::NUM_RESOURCE_TYPES;
    module.attr("WIRE_TYPES") = py::tuple(py::cast(CONGESTION::get_wire_resource_types()));
    // The engine reads the switch congestion_use_orig once, when the module loads.
    module.attr("ALGORITHM") = CONGESTION_IMPL::uses_original_algorithm() ? "original" : "new";
    module.def(
        "type_name", [](const py::object& type) { return CONGESTION::get_string_for_resource_type(to_type(type)); },
        py::arg("type"), "Display name of a resource type, e.g. 'Horizontal Left'.");

    bind_netlist(module);
    bind_estimator(module);
    bind_design_loader(module);
    bind_grids_loader(module);
    bind_routability(module);
}
