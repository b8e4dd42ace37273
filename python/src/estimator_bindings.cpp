// The Python class Estimator: names, arguments and docstrings of ESTIMATOR.
#include <pybind11/stl.h>

#include "front_end/routability.h"
#include "python/src/bindings.h"
#include "python/src/estimator.h"

namespace {

constexpr const char* CLASS_DOC = R"doc(
The routing-congestion estimator of a grid of nx by ny tiles; x is the column
(0..nx-1), y the row (0..ny-1). Whole-grid arrays are float32 of shape
(5, nx, ny), indexed [type, x, y].

One estimate, in order:
    est.set_supply(supply)                        # once per tile and type
    est.smooth_supply(3, 1)
    est.update_demand(netlist, PATH_PROBABILITY_MODEL)
    est.update_demand(lab_input, LAB_INPUT_MODEL)  # (nx, ny) integers
    est.smooth_wire_demand(3, 1)
    est.update_congestion("utilization")
then queries. Demand accumulates: clear_demand() starts the next estimate.

Every input error (shape, dtype, range, calling order) raises ValueError
before the engine runs. Window sizes (parallel_dim, perpendicular_dim, dim,
window_size) are 1..255 tiles, as in the congestion-estimate tool. Long
operations release the GIL; an operation that would overlap another one on
the same Estimator raises RuntimeError. Ctrl-C stops update_demand with a net
model (KeyboardInterrupt), leaving the demand as it was.
)doc";

}  // namespace

void bind_estimator(py::module_& module)
{
    using E = ESTIMATOR;
    py::class_<E>(module, "Estimator", CLASS_DOC)
        .def(py::init<long long, long long>(), py::arg("nx"), py::arg("ny"))
        .def_property_readonly("nx", &E::get_nx, "Columns of the grid (x is 0..nx-1).")
        .def_property_readonly("ny", &E::get_ny, "Rows of the grid (y is 0..ny-1).")
        .def_property("num_chunks", &E::get_num_chunks, &E::set_num_chunks,
                      "Chunks of the chunked parallel loops (1..4096, default 16). Results do not depend on the "
                      "thread count; they may differ in the last bits between chunk counts.")
        .def_property_readonly("cookie", &E::get_cookie, "64-bit hash of the sizes, grids and flags.")

        .def("set_supply", &E::set_supply, py::arg("supply"),
             "Sets the supply from a float (5, nx, ny) array of finite values, 0 or more; zero entries are left "
             "unset. A positive supply is final: setting a tile that already has one raises ValueError, and "
             "nothing is written. Call smooth_supply (again) afterwards.")
        .def("supply_at", &E::get_supply, py::arg("x"), py::arg("y"), py::arg("type"), "One tile's supply of a type.")
        .def("max_supply", &E::get_max_supply, py::arg("type"), "The largest supply ever set for the type.")
        .def("avg_supply", &E::get_avg_supply, py::arg("type"), py::arg("x") = py::none(), py::arg("y") = py::none(),
             py::arg("window_size") = py::none(),
             "Mean supply over the whole grid, or over a square window of about window_size tiles around "
             "(x, y), moved to stay inside the grid.")
        .def("smooth_supply", &E::smooth_supply, py::arg("parallel_dim"), py::arg("perpendicular_dim"),
             "Builds the smoothed supply and the supply window sums of the wire types; windows are parallel_dim "
             "tiles along each wire direction and perpendicular_dim across. The operations that read them raise "
             "ValueError after a set_supply until it runs again.")

        .def("clear_demand", &E::clear_demand, py::arg("type") = py::none(),
             "Zeroes demand, smoothed demand and congestion of every type, or of one; congestion_in_window then "
             "waits for the next update_congestion.")
        .def("update_demand", &E::update_demand, py::arg("source"),
             py::arg("model") = CONGESTION::PATH_PROBABILITY_MODEL, py::arg("nets") = py::none(),
             "PATH_PROBABILITY_MODEL or BOUNDING_BOX_MODEL: adds the demand of the Netlist `source` (of the "
             "net indices `nets`, default all). LAB_INPUT_MODEL (or LAB_INPUT): replaces the Lab Input demand "
             "with `source`, an (nx, ny) integer array.")
        .def("smooth_wire_demand", &E::smooth_wire_demand, py::arg("parallel_dim"), py::arg("perpendicular_dim"),
             py::arg("uniform") = false,
             "Smooths the demand of the four wire types with the algorithm selected at import (ALGORITHM). "
             "Without uniform, smooth_supply must have run.")
        .def("smooth_type_demand", &E::smooth_type_demand, py::arg("parallel_dim"), py::arg("perpendicular_dim"),
             py::arg("type"), "Smooths the demand of one type (supply-aware; smooth_supply must have run).")
        .def("update_congestion", &E::update_congestion, py::arg("policy") = "utilization",
             py::arg("build_window_sums") = true,
             "Sets every wire tile's congestion from its smoothed demand d and smoothed supply s: "
             "'utilization' (d / s, 0 where s <= 0), 'overflow' (max(d - s, 0)), or a callable "
             "policy(d, s, type) -> float, called for every tile and wire type under the GIL: some 30 to 60 "
             "times slower than the built-in policies (see docs/python.md). build_window_sums prepares "
             "congestion_in_window.")

        .def("demand_at", &E::get_demand, py::arg("x"), py::arg("y"), py::arg("type"),
             "One tile's demand of a type, before smoothing.")
        .def("smooth_demand_at", &E::get_smooth_demand, py::arg("x"), py::arg("y"), py::arg("type"),
             "One tile's smoothed demand of a type, from the algorithm selected at import.")
        .def("utilization_at", &E::get_util, py::arg("x"), py::arg("y"), py::arg("type"),
             "Demand over supply, 0 where the supply is not positive.")
        .def("overflow_at", &E::get_overflow, py::arg("x"), py::arg("y"), py::arg("type"),
             "Smoothed demand minus supply, not below 0.")
        .def_property_readonly("supply", &E::get_supply_grids, "Supply of every type, (5, nx, ny).")
        .def_property_readonly("smoothed_supply", &E::get_smooth_supply_grids,
                               "Smoothed supply of the wire types (Lab Input: zeros).")
        .def_property_readonly("demand", &E::get_demand_grids, "Demand of every type before smoothing, (5, nx, ny).")
        .def_property_readonly("smooth_demand", &E::get_smooth_demand_grids,
                               "Smoothed demand of every type, (5, nx, ny).")
        .def_property_readonly("utilization", &E::get_util_grids,
                               "Demand over supply of every type, 0 where the supply is not positive, (5, nx, ny).")
        .def_property_readonly("congestion", &E::get_congestion_grids,
                               "Congestion of the wire types from the last update_congestion (Lab Input: zeros).")
        .def_property_readonly("overflow", &E::get_overflow_grids,
                               "Smoothed demand minus supply of every type, not below 0, (5, nx, ny).")

        .def("total_demand", &E::get_total_demand, py::arg("type"),
             "The type's demand summed over the grid, x outer, y inner, in float32.")
        .def("total_overflow", &E::get_total_overflow, py::arg("type"),
             "The type's overflow (as overflow_at) summed over the grid, x outer, y inner.")
        .def("peak_utilization", &E::get_peak_utilization, py::arg("dim"), py::arg("type"), py::arg("debug") = false,
             "(utilization, (x, y)) of the most used tile after smoothing the type's demand over dim by dim "
             "tiles, whatever the algorithm; debug writes the search to the process's standard output.")
        .def("avg_chip_utilization", &E::get_avg_chip_utilization, py::arg("threshold"),
             "Demand over supply of the (tile, wire type) pairs whose utilization exceeds threshold, a finite "
             "number.")
        .def("congestion_in_window", &E::get_congestion_in_window, py::arg("type"), py::arg("xmin"), py::arg("xmax"),
             py::arg("ymin"), py::arg("ymax"), "Sum of a wire type's congestion over an inclusive window.")
        .def("num_non_empty_in_window", &E::get_num_non_empty_in_window, py::arg("xmin"), py::arg("xmax"),
             py::arg("ymin"), py::arg("ymax"), "Tiles with wire supply in an inclusive window.")

        .def("routability", &E::get_routability, py::arg("netlist"), py::arg("tracks") = py::none(),
             py::arg("nets") = py::none(), py::arg("starting_share") = py::none(), py::arg("tile_inputs") = py::none(),
             "The estimator tool's routability verdict on the listed nets of the netlist (default all) against "
             "the supply, as a dict with the names of the tool's JSON routability object: verdict ('routes' or "
             "'does not route'), min_supply_scale, margin, predicted_min_tracks and tracks (None without "
             "`tracks`, the channel's tracks per direction), figure and rule. The threshold follows the device: "
             "starting_share (the share of a direction's tracks that start a wire in a tile, in (0, 1]) and "
             "tile_inputs (a logic tile's input pins), both given (load_design's fields of the same names) or "
             "neither, for the default generic device's (0.7 and 17; the rule's device_assumed is then True). "
             "Nets that need wires against no wire supply do not route: margin -1, and figure, min_supply_scale "
             "and predicted_min_tracks None. Needs the smoothed supply.")
        .def("box_demand", &E::get_box_demand, py::arg("netlist"), py::arg("nets") = py::none(),
             py::arg("extent") = ROUTABILITY_RULE_CALIBRATED.extent,
             "The box demand that routability reads, of the listed nets (default all): (2, nx, ny) float64, [0] "
             "horizontal and [1] vertical, each net's box width and height plus `extent` tiles (default the "
             "rule's, 1) times the crossing factor of its pin count (1 up to 3 pins, 1.45 at 10, 2.79 at 50), "
             "spread evenly over the tiles of its box.")
        .def("dump", &E::dump, py::arg("path"), py::arg("skip_cols") = py::tuple(),
             "Writes the grids as text tables, leaving out the x columns skip_cols.")
        .def("dump_netlist", &E::dump_netlist, py::arg("path"), py::arg("netlist"), py::arg("nets") = py::none(),
             "Writes the listed nets of the netlist (default all) as the estimator sees them.")
        .def("__repr__", [](const E& e) {
            return "<congestion.Estimator " + std::to_string(e.get_nx()) + " x " + std::to_string(e.get_ny()) + ">";
        });
}
