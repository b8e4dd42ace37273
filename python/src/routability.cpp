// The routability verdict in Python, from the estimator tool's own code: the
// Estimator's verdict on a netlist, the box demand it reads, the figure of
// any demand and supply maps, and the plain baseline's maps of a design
// folder.
#include <cmath>
#include <string>
#include <vector>

#include <pybind11/stl.h>

#include "front_end/baseline.h"
#include "front_end/routability.h"
#include "python/src/arguments.h"
#include "python/src/array_netlist.h"
#include "python/src/bindings.h"
#include "python/src/estimator.h"
#include "python/src/numpy_arrays.h"

namespace {

// The routability object's values in Python: an empty number as None, the
// rule as a dict of its fields.
struct ROUTABILITY_PY_VALUE {
    template <typename T>
    py::object operator()(const T& value) const
    {
        return py::cast(value);
    }
    py::object operator()(const RULE_IN_FORCE& rule) const
    {
        py::dict fields;
        visit_rule_fields(rule, [&](const char* name, const auto& value) { fields[name] = (*this)(value); });
        return std::move(fields);
    }
};

// The verdict as a dict with the names of the tool's JSON routability object.
py::dict get_routability_dict(const ROUTABILITY& r, int tracks)
{
    py::dict result;
    visit_routability_fields(
        r, tracks, [&result](const char* name, const auto& value) { result[name] = ROUTABILITY_PY_VALUE()(value); });
    return result;
}

// Smoothed demand may hold values a rounding below 0; supply is an input.
void check_map_values(const std::vector<float>& values, const char* name, bool negative_allowed)
{
    for (float value : values)
        if (!std::isfinite(value) || (value < 0.0f && !negative_allowed))
            throw py::value_error(
                std::string(name) + " holds " + std::to_string(value) +
                (negative_allowed ? ": demand must be finite" : ": supply must be finite and not negative"));
}

// An odd window side of at least 1.
int to_window_side(long long side, const char* name)
{
    const int checked = to_window(side, name);
    if (checked % 2 == 0)
        throw py::value_error(std::string(name) + " " + std::to_string(checked) +
                              " is even: the window is centred on a tile");
    return checked;
}

double get_figure(const py::object& demand, const py::object& supply, long long window, double quantile,
                  const py::object& across, const py::object& vertical, bool mean_above)
{
    const FLAT_ARRAY<float> d = to_float_array(demand, "demand", {ANY_LENGTH, ANY_LENGTH, ANY_LENGTH});
    const FLAT_ARRAY<float> s = to_float_array(supply, "supply", d.shape);
    check_map_values(d.values, "demand", true);
    check_map_values(s.values, "supply", false);
    ROUTABILITY_FIGURE figure;
    figure.along = to_window_side(window, "window");
    figure.across =
        across.is_none() ? figure.along : to_window_side(to_integer(across, "across", "an int or None"), "across");
    figure.quantile = quantile;
    figure.mean_above = mean_above;
    if (!(quantile > 0.0 && quantile <= 1.0))
        throw py::value_error("quantile " + std::to_string(quantile) + " is outside (0, 1]");
    const auto [num_maps, nx, ny] = std::array<py::ssize_t, 3>{d.shape[0], d.shape[1], d.shape[2]};
    if (nx == 0 || ny == 0)
        throw py::value_error("demand and supply have no tiles");
    std::vector<bool> is_vertical(static_cast<std::size_t>(num_maps), false);
    if (!vertical.is_none()) {
        const py::sequence flags = vertical.cast<py::sequence>();
        if (static_cast<py::ssize_t>(flags.size()) != num_maps)
            throw py::value_error("vertical has " + std::to_string(flags.size()) + " flags for " +
                                  std::to_string(num_maps) + " maps");
        for (py::ssize_t m = 0; m < num_maps; ++m)
            is_vertical[static_cast<std::size_t>(m)] = py::bool_(flags[static_cast<std::size_t>(m)]);
    }
    // Map m of the (k, nx, ny) arrays, read at (x, y).
    const auto reader = [ny = ny, nx = nx](const std::vector<float>& values, py::ssize_t m) {
        return TILE_READER([&values, first = m * nx * ny, ny](int x, int y) {
            return values[static_cast<std::size_t>(first + x * ny + y)];
        });
    };
    std::vector<DEMAND_AND_SUPPLY> maps;
    for (py::ssize_t m = 0; m < num_maps; ++m)
        maps.push_back({{reader(d.values, m)}, {reader(s.values, m)}, is_vertical[static_cast<std::size_t>(m)]});
    py::gil_scoped_release release;
    return get_routability_figure(static_cast<int>(nx), static_cast<int>(ny), maps, figure);
}

py::array_t<float> load_baseline(const py::object& path)
{
    const std::string folder = to_path(path);
    DESIGN design;
    BASELINE baseline;
    try {
        py::gil_scoped_release release;
        design = read_design(folder);
        std::vector<int> nets;
        for (int net = 0; net < design.get_num_nets(); ++net)
            if (design.is_routed_net(net))
                nets.push_back(net);
        baseline = compute_baseline(design, nets);
    } catch (const DESIGN_ERROR& error) {
        throw py::value_error(error.what());
    }
    std::vector<float> values;
    values.reserve(2 * design.get_num_tiles());
    for (const std::vector<double>* map : {&baseline.horizontal, &baseline.vertical})
        for (int x = 0; x < design.nx; ++x)
            for (int y = 0; y < design.ny; ++y)
                values.push_back(static_cast<float>((*map)[design.get_tile_index(x, y)]));
    return make_float_array({2, design.nx, design.ny}, values);
}

// The device of a verdict: the caller's starting share and tile inputs,
// given together, or the default generic device's, marked assumed.
ROUTING_DEVICE to_routing_device(const py::object& starting_share, const py::object& tile_inputs)
{
    if (starting_share.is_none() != tile_inputs.is_none())
        throw py::value_error("starting_share and tile_inputs describe the device together: give both or neither");
    if (starting_share.is_none())
        return get_design_device(DESIGN());
    if (!py::isinstance<py::float_>(starting_share) && !py::isinstance<py::int_>(starting_share))
        throw py::type_error("starting_share must be a float, not " + get_type_name(starting_share));
    ROUTING_DEVICE device;
    device.starting_share = starting_share.cast<double>();
    if (!(device.starting_share > 0.0 && device.starting_share <= 1.0))
        throw py::value_error("starting_share " + std::to_string(device.starting_share) +
                              " is outside (0, 1]: it is a share of the tracks");
    device.tile_inputs =
        to_int_in_range(to_integer(tile_inputs, "tile_inputs", "an int or None"), "tile_inputs", 1, MAX_TILE_COUNT);
    return device;
}

}  // namespace

py::dict ESTIMATOR::get_routability(const ARRAY_NETLIST& netlist, const py::object& tracks, const py::object& nets,
                                    const py::object& starting_share, const py::object& tile_inputs)
{
    const int track_count = tracks.is_none()
                                ? NO_TRACKS
                                : to_int_in_range(to_integer(tracks, "tracks", "an int or None"), "tracks", 1, 1 << 24);
    const ROUTING_DEVICE device = to_routing_device(starting_share, tile_inputs);
    const std::vector<int> selected = select_boxes(netlist, nets);
    READING operation(m_operation);
    require_smooth_supply("routability");
    // Read in place, as the tool reads it.
    const std::array<TILE_READER, NUM_WIRE_TYPES> supply = get_supply_readers(m_engine);
    ROUTABILITY routability;
    {
        py::gil_scoped_release release;
        const BOX_DEMAND demand(get_nx(), get_ny(), FLAT_NETLIST(netlist.get_arrays()), selected,
                                ROUTABILITY_RULE_CALIBRATED.extent);
        routability = get_placement_routability(get_nx(), get_ny(), demand, supply, track_count, device);
    }
    return get_routability_dict(routability, track_count);
}

std::vector<int> ESTIMATOR::select_boxes(const ARRAY_NETLIST& netlist, const py::object& nets) const
{
    std::vector<int> selected = netlist.select_nets(nets);
    netlist.check_boxes_inside(selected, get_nx(), get_ny());
    return selected;
}

py::array_t<double> ESTIMATOR::get_box_demand(const ARRAY_NETLIST& netlist, const py::object& nets, double extent) const
{
    if (!(extent >= 0.0 && std::isfinite(extent)))
        throw py::value_error("extent " + std::to_string(extent) + " is not a finite number of at least 0");
    const std::vector<int> selected = select_boxes(netlist, nets);
    py::array_t<double> maps({py::ssize_t{2}, py::ssize_t{get_nx()}, py::ssize_t{get_ny()}});
    auto out = maps.mutable_unchecked<3>();
    py::gil_scoped_release release;
    const BOX_DEMAND demand(get_nx(), get_ny(), FLAT_NETLIST(netlist.get_arrays()), selected, extent);
    for (int x = 0; x < get_nx(); ++x)
        for (int y = 0; y < get_ny(); ++y) {
            out(0, x, y) = demand.get_horizontal(x, y);
            out(1, x, y) = demand.get_vertical(x, y);
        }
    return maps;
}

void bind_routability(py::module_& module)
{
    module.attr("ROUTABILITY_RULE") =
        ROUTABILITY_PY_VALUE()(RULE_IN_FORCE{ROUTABILITY_RULE_CALIBRATED, get_design_device(DESIGN())});
    module.def("routability_figure", &get_figure, py::arg("demand"), py::arg("supply"), py::arg("window"),
               py::arg("quantile"), py::arg("across") = py::none(), py::arg("vertical") = py::none(),
               py::arg("mean_above") = false, R"doc(
The routability figure of maps of demand and supply, float arrays of one
shape (k, nx, ny): map i is demand[i] against supply[i], its wires
horizontal, or vertical where vertical[i] is true. For every tile where a
map has supply, its window utilization is the demand summed over a window
centred on it (cut at the grid's edge), `window` tiles along the map's wires
and `across` (default `window`) across them, over the supply summed there;
the figure is the value at rank ceil(quantile * n) of the n window
utilizations, smallest first, or with mean_above the mean of the values from
that rank up. Without supply anywhere it is infinite when some tile has
demand, else 0. Estimator.routability uses this figure with the calibrated
ROUTABILITY_RULE on the maps 'net boxes': Estimator.box_demand's two axes, each
against the supply of both directions of its axis. ROUTABILITY_RULE holds the
rule on the default generic device; a verdict's 'rule' holds it on the
verdict's device.
)doc");
    module.def("load_baseline", &load_baseline, py::arg("path"), R"doc(
The plain bounding-box baseline of a design folder, as the estimator tool
computes it: (2, nx, ny) float32, [0] the horizontal and [1] the vertical
wire demand per tile (each routed net's width and height spread evenly over
its box).
)doc");
}
