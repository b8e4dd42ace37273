// The Netlist class: checked CSR arrays of nets and pins, with boxes, wire
// lengths and weights, read by the estimator through ARRAY_NETLIST.
#include "python/src/array_netlist.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "python/src/bindings.h"
#include "python/src/numpy_arrays.h"

namespace {

constexpr int BOX_FIELDS = 4;
constexpr int WIRELENGTH_FIELDS = 2;
// A load's weight must lie above this: its share of the net is weight + 1.
constexpr float LOWEST_LOAD_WEIGHT = -1.0f;

std::string format_loc(int x, int y) { return "(" + std::to_string(x) + ", " + std::to_string(y) + ")"; }

std::string format_grid(int nx, int ny) { return std::to_string(nx) + " x " + std::to_string(ny) + " grid"; }

// A box xl, xr, yb, yt as "x xl..xr, y yb..yt".
std::string format_box(const int* box)
{
    return "x " + std::to_string(box[0]) + ".." + std::to_string(box[1]) + ", y " + std::to_string(box[2]) + ".." +
           std::to_string(box[3]);
}

// The values of a float array, each a finite number.
std::vector<float> to_finite_array(const py::object& object, const char* name, const std::vector<py::ssize_t>& shape)
{
    std::vector<float> values = to_float_array(object, name, shape).values;
    const auto bad = std::find_if(values.begin(), values.end(), [](float v) { return !std::isfinite(v); });
    if (bad != values.end())
        throw py::value_error(std::string(name) + " holds " + std::to_string(*bad) + " at flat index " +
                              std::to_string(bad - values.begin()) + ": every value must be a finite number");
    return values;
}

}  // namespace

ARRAY_NETLIST::ARRAY_NETLIST(const py::object& net_start, const py::object& pin_x, const py::object& pin_y,
                             const py::object& pin_weight, const py::object& boxes, const py::object& wirelength)
{
    m_net_start = to_int_array(net_start, "net_start", {ANY_LENGTH}).values;
    m_pin_x = to_int_array(pin_x, "pin_x", {ANY_LENGTH}).values;
    const py::ssize_t num_pins = static_cast<py::ssize_t>(m_pin_x.size());
    m_pin_y = to_int_array(pin_y, "pin_y", {num_pins}).values;
    if (m_net_start.empty() || m_net_start.front() != 0)
        throw py::value_error("net_start must start with 0 and hold num_nets + 1 entries");
    for (std::size_t net = 0; net + 1 < m_net_start.size(); ++net)
        if (m_net_start[net + 1] <= m_net_start[net])
            throw py::value_error("net " + std::to_string(net) +
                                  " has no pins: net_start must increase strictly, "
                                  "since pin 0 of every net is its driver");
    if (m_net_start.back() != num_pins)
        throw py::value_error("net_start ends at " + std::to_string(m_net_start.back()) + " but there are " +
                              std::to_string(num_pins) + " pins");

    const py::ssize_t num_nets = get_num_nets();
    m_pin_weight = pin_weight.is_none() ? std::vector<float>(m_pin_x.size(), 0.0f)
                                        : to_finite_array(pin_weight, "pin_weight", {num_pins});
    // A load's share of its net is its weight + 1; a driver's weight is
    // never read.
    for (int net = 0; net < num_nets; ++net)
        for (int pin = m_net_start[net] + 1; pin < m_net_start[net + 1]; ++pin)
            if (!(m_pin_weight[pin] > LOWEST_LOAD_WEIGHT))
                throw py::value_error("pin_weight holds " + std::to_string(m_pin_weight[pin]) + " for pin " +
                                      std::to_string(pin - m_net_start[net]) + " of net " + std::to_string(net) +
                                      " (flat index " + std::to_string(pin) +
                                      "): a load's share is its weight + 1, so a load's weight must be above -1");
    if (boxes.is_none()) {
        m_boxes.reserve(static_cast<std::size_t>(num_nets) * BOX_FIELDS);
        for (int net = 0; net < num_nets; ++net) {
            const auto first = m_net_start[net];
            const auto last = m_net_start[net + 1];
            const auto [xl, xr] = std::minmax_element(m_pin_x.begin() + first, m_pin_x.begin() + last);
            const auto [yb, yt] = std::minmax_element(m_pin_y.begin() + first, m_pin_y.begin() + last);
            m_boxes.insert(m_boxes.end(), {*xl, *xr, *yb, *yt});
        }
    } else {
        m_boxes = to_int_array(boxes, "boxes", {num_nets, BOX_FIELDS}).values;
        check_boxes_hold_pins();
    }
    if (wirelength.is_none()) {
        // Half-perimeter estimate: the box's width and height, in tiles.
        m_wirelength.reserve(static_cast<std::size_t>(num_nets) * WIRELENGTH_FIELDS);
        for (int net = 0; net < num_nets; ++net) {
            const int* box = &m_boxes[static_cast<std::size_t>(net) * BOX_FIELDS];
            m_wirelength.push_back(static_cast<float>(static_cast<long long>(box[1]) - box[0]));
            m_wirelength.push_back(static_cast<float>(static_cast<long long>(box[3]) - box[2]));
        }
    } else {
        m_wirelength = to_finite_array(wirelength, "wirelength", {num_nets, WIRELENGTH_FIELDS});
    }
}

void ARRAY_NETLIST::check_boxes_hold_pins() const
{
    for (int net = 0; net < get_num_nets(); ++net) {
        const int* box = &m_boxes[static_cast<std::size_t>(net) * BOX_FIELDS];
        for (int pin = m_net_start[net]; pin < m_net_start[net + 1]; ++pin) {
            const int x = m_pin_x[pin], y = m_pin_y[pin];
            if (x < box[0] || x > box[1] || y < box[2] || y > box[3])
                throw py::value_error("the box of net " + std::to_string(net) + ", " + format_box(box) +
                                      ", does not hold its pin " + std::to_string(pin - m_net_start[net]) + " at " +
                                      format_loc(x, y));
        }
    }
}

NETLIST_ARRAYS ARRAY_NETLIST::get_arrays() const
{
    NETLIST_ARRAYS arrays;
    arrays.num_nets = get_num_nets();
    arrays.net_start = m_net_start.data();
    arrays.pin_x = m_pin_x.data();
    arrays.pin_y = m_pin_y.data();
    arrays.pin_weight = m_pin_weight.data();
    if (!m_boxes.empty()) {
        arrays.xl = &m_boxes[0];
        arrays.xr = &m_boxes[1];
        arrays.yb = &m_boxes[2];
        arrays.yt = &m_boxes[3];
        arrays.box_stride = BOX_FIELDS;
    }
    arrays.wirelength = m_wirelength.data();
    return arrays;
}

std::vector<int> ARRAY_NETLIST::select_nets(const py::object& nets) const
{
    if (nets.is_none()) {
        std::vector<int> all(static_cast<std::size_t>(get_num_nets()));
        for (std::size_t net = 0; net < all.size(); ++net)
            all[net] = static_cast<int>(net);
        return all;
    }
    std::vector<int> selected = to_int_array(nets, "nets", {ANY_LENGTH}).values;
    // Where each net was first listed: a net listed twice would add its
    // demand twice.
    std::vector<int> listed_at(static_cast<std::size_t>(get_num_nets()), -1);
    for (std::size_t i = 0; i < selected.size(); ++i) {
        const int net = selected[i];
        if (net < 0 || net >= get_num_nets())
            throw py::value_error("nets holds " + std::to_string(net) + ", which is not a net of the netlist (0.." +
                                  std::to_string(get_num_nets() - 1) + ")");
        int& first = listed_at[static_cast<std::size_t>(net)];
        if (first >= 0)
            throw py::value_error("nets holds net " + std::to_string(net) + " twice, at " + std::to_string(first) +
                                  " and " + std::to_string(i) + ": each net is listed once");
        first = static_cast<int>(i);
    }
    return selected;
}

void ARRAY_NETLIST::check_pins_inside(const std::vector<int>& nets, int nx, int ny) const
{
    for (int net : nets)
        for (int index = m_net_start[net]; index < m_net_start[net + 1]; ++index) {
            const int x = m_pin_x[index], y = m_pin_y[index];
            if (x < 0 || x >= nx || y < 0 || y >= ny)
                throw py::value_error("pin " + std::to_string(index - m_net_start[net]) + " of net " +
                                      std::to_string(net) + " at " + format_loc(x, y) + " lies outside the " +
                                      format_grid(nx, ny));
        }
}

void ARRAY_NETLIST::check_boxes_inside(const std::vector<int>& nets, int nx, int ny) const
{
    for (int net : nets) {
        const int* box = &m_boxes[static_cast<std::size_t>(net) * BOX_FIELDS];
        if (box[0] < 0 || box[1] >= nx || box[2] < 0 || box[3] >= ny)
            throw py::value_error("the box of net " + std::to_string(net) + ", " + format_box(box) + ", leaves the " +
                                  format_grid(nx, ny));
    }
}

void bind_netlist(py::module_& module)
{
    py::class_<ARRAY_NETLIST>(module, "Netlist", R"doc(
Nets as CSR arrays: net n's pins are pin_x[net_start[n]:net_start[n+1]] and
pin_y[...], pin 0 of each net being its driver (every net needs one).

net_start   integer (num_nets + 1,), starting at 0, strictly increasing
pin_x/pin_y integer (num_pins,), tile coordinates
pin_weight  float (num_pins,) or None (all 0), finite: the path-probability
            model weighs a load by pin_weight + 1, so a load's weight must
            be above -1
boxes       integer (num_nets, 4) as xl, xr, yb, yt (inclusive) or None (the
            box of the pins), each holding every pin of its net: read by the
            bounding-box model
wirelength  float (num_nets, 2), finite, horizontal and vertical, in tiles,
            or None (the box's width and height): read by the bounding-box
            model

The arrays are copied and checked once; the object is immutable and is read
by the estimator's worker threads without the GIL.)doc")
        .def(py::init<const py::object&, const py::object&, const py::object&, const py::object&, const py::object&,
                      const py::object&>(),
             py::arg("net_start"), py::arg("pin_x"), py::arg("pin_y"), py::arg("pin_weight") = py::none(),
             py::arg("boxes") = py::none(), py::arg("wirelength") = py::none())
        .def_property_readonly("num_nets", py::overload_cast<>(&ARRAY_NETLIST::get_num_nets, py::const_),
                               "The number of nets.")
        .def_property_readonly("num_pins", py::overload_cast<>(&ARRAY_NETLIST::get_num_pins, py::const_),
                               "The number of pins of all nets.")
        .def("__len__", &ARRAY_NETLIST::get_num_nets)
        .def_property_readonly(
            "net_start",
            [](const ARRAY_NETLIST& n) {
                return make_int_array({static_cast<py::ssize_t>(n.get_net_start().size())}, n.get_net_start());
            },
            "Where each net's pins begin, then num_pins (a copy).")
        .def_property_readonly(
            "pin_x", [](const ARRAY_NETLIST& n) { return make_int_array({n.get_num_pins()}, n.get_pin_x()); },
            "Each pin's column (a copy).")
        .def_property_readonly(
            "pin_y", [](const ARRAY_NETLIST& n) { return make_int_array({n.get_num_pins()}, n.get_pin_y()); },
            "Each pin's row (a copy).")
        .def_property_readonly(
            "pin_weight",
            [](const ARRAY_NETLIST& n) { return make_float_array({n.get_num_pins()}, n.get_pin_weights()); },
            "Each pin's weight (a copy).")
        .def_property_readonly(
            "boxes",
            [](const ARRAY_NETLIST& n) {
                return make_int_array({n.get_num_nets(), BOX_FIELDS}, n.get_boxes());
            },
            "Each net's box xl, xr, yb, yt (a copy).")
        .def_property_readonly(
            "wirelength",
            [](const ARRAY_NETLIST& n) {
                return make_float_array({n.get_num_nets(), WIRELENGTH_FIELDS}, n.get_wirelengths());
            },
            "Each net's horizontal and vertical wire length (a copy).")
        .def("__repr__", [](const ARRAY_NETLIST& n) {
            return "<congestion.Netlist: " + std::to_string(n.get_num_nets()) + " nets, " +
                   std::to_string(n.get_num_pins()) + " pins>";
        });
}
