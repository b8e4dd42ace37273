// load_design: the tools' design reader, its flat arrays handed to Python as
// NumPy arrays, per-tile ones indexed [x, y] like the estimator's grids.
#include <string>
#include <vector>

#include "front_end/design_reader.h"
#include "front_end/routability.h"
#include "python/src/arguments.h"
#include "python/src/bindings.h"
#include "python/src/numpy_arrays.h"

namespace {

constexpr py::ssize_t BOX_FIELDS = 4;

// The reader keeps tiles y-major (y * nx + x); the estimator's grids and
// arrays are x-major, [x, y].
py::array_t<int> get_tile_array(const DESIGN& design, const std::vector<int>& by_row)
{
    std::vector<int> by_column(by_row.size());
    for (int x = 0; x < design.nx; ++x)
        for (int y = 0; y < design.ny; ++y)
            by_column[static_cast<std::size_t>(x) * design.ny + y] = by_row[design.get_tile_index(x, y)];
    return make_int_array({design.nx, design.ny}, by_column);
}

py::array_t<int> get_net_array(const std::vector<int>& values)
{
    return make_int_array({static_cast<py::ssize_t>(values.size())}, values);
}

py::object get_tile_kinds(const DESIGN& design)
{
    py::list kinds;
    for (int x = 0; x < design.nx; ++x)
        for (int y = 0; y < design.ny; ++y)
            kinds.append(TILE_KIND_NAMES[design.tile_kind[design.get_tile_index(x, y)]]);
    return py::module_::import("numpy").attr("array")(kinds).attr("reshape")(design.nx, design.ny);
}

py::object get_design_object(const DESIGN& design)
{
    const int num_nets = design.get_num_nets();
    std::vector<int> boxes;
    boxes.reserve(static_cast<std::size_t>(num_nets) * BOX_FIELDS);
    for (int net = 0; net < num_nets; ++net)
        boxes.insert(boxes.end(), {design.xl[net], design.xr[net], design.yb[net], design.yt[net]});
    py::object routed = py::none();
    if (design.has_routed) {
        py::dict columns;
        const std::vector<const char*> names = get_routed_column_names(design.form);
        for (std::size_t c = 0; c < names.size(); ++c)
            columns[names[c]] = get_tile_array(design, design.routed[c]);
        routed = columns;
    }
    py::dict fields;
    fields["name"] = design.name;
    fields["nx"] = design.nx;
    fields["ny"] = design.ny;
    fields["form"] = design.form == DESIGN_FORM::DIRECTIONAL ? DIRECTIONAL_WORD : "undirected";
    fields["tile_kind"] = get_tile_kinds(design);
    if (design.form == DESIGN_FORM::DIRECTIONAL) {
        for (int c = 0; c < NUM_DIRECTIONS; ++c)
            fields[DIRECTIONAL_COLUMN_NAMES[c]] = get_tile_array(design, design.direction_supply[c]);
    } else {
        fields["h4"] = get_tile_array(design, design.h4);
        fields["h12"] = get_tile_array(design, design.h12);
        fields["v4"] = get_tile_array(design, design.v4);
        fields["v12"] = get_tile_array(design, design.v12);
    }
    fields["lab_in"] = get_tile_array(design, design.lab_in);
    const int tracks = get_design_tracks(design);
    fields["tracks"] = tracks != NO_TRACKS ? py::object(py::int_(tracks)) : py::none();
    // The device's figures when meta.txt describes the device, as the tool reads them.
    const ROUTING_DEVICE device = get_design_device(design);
    fields["starting_share"] = device.assumed ? py::none() : py::object(py::float_(device.starting_share));
    fields["tile_inputs"] = device.assumed ? py::none() : py::object(py::int_(device.tile_inputs));
    fields["num_nets"] = num_nets;
    fields["net_start"] = get_net_array(design.net_start);
    fields["pin_x"] = get_net_array(design.pin_x);
    fields["pin_y"] = get_net_array(design.pin_y);
    fields["flags"] = get_net_array(design.flags);
    fields["weight"] = get_net_array(design.weight);
    fields["boxes"] = make_int_array({num_nets, BOX_FIELDS}, boxes);
    fields["routed_x"] = get_net_array(design.routed_x);
    fields["routed_y"] = get_net_array(design.routed_y);
    fields["n_wires"] = get_net_array(design.n_wires);
    fields["routed"] = routed;
    return py::module_::import("types").attr("SimpleNamespace")(**fields);
}

py::object load_design(const py::object& path)
{
    const std::string folder = to_path(path);
    DESIGN design;
    try {
        py::gil_scoped_release release;
        design = read_design(folder);
    } catch (const DESIGN_ERROR& error) {
        throw py::value_error(error.what());
    }
    return get_design_object(design);
}

}  // namespace

void bind_design_loader(py::module_& module)
{
    module.def("load_design", &load_design, py::arg("path"), R"doc(
Reads a placed-and-routed design folder (tiles.txt, nets.txt, optional
routed.txt and meta.txt; format in data/FORMAT.md) of either form with the
estimator tool's reader. Any fault raises ValueError naming the file and the
line.

Returns a namespace of:
  name, nx, ny, num_nets
  form                       "undirected" or "directional"
  tile_kind                  (nx, ny) str
  h4, h12, v4, v12           (nx, ny) int32 wire counts per tile (undirected)
  right, left, up, down      (nx, ny) int32 wires per direction (directional;
                             the supply of HORIZONTAL_RIGHT, ... as it is)
  lab_in                     (nx, ny) int32 Lab Input count per tile
  tracks                     the channel's tracks per direction (directional;
                             None for an undirected design): pass it to
                             Estimator.routability
  starting_share, tile_inputs  the device's figures that the routability
                             threshold follows, from meta.txt of a generic
                             import (None when it does not describe the
                             device): pass them to Estimator.routability
  net_start, pin_x, pin_y    CSR pins, driver first (Netlist's arrays)
  flags, weight              (num_nets,) flag bits (1 global, 2 constant,
                             4 no span wire) and weight
  boxes                      (num_nets, 4) xl, xr, yb, yt of the pins
  routed_x, routed_y, n_wires  (num_nets,) routed lengths and wire counts,
                             -1 in a design placed and not routed
  routed                     dict of routed.txt columns of the form, (nx, ny)
                             int32 each, or None without routed.txt
)doc");
}
