// ARRAY_NETLIST: the nets of the Python Netlist class, held as flat arrays
// that the estimator's worker threads read without calling Python.
#ifndef CONGESTION_PYTHON_ARRAY_NETLIST_H
#define CONGESTION_PYTHON_ARRAY_NETLIST_H

#include <vector>

#include <pybind11/pybind11.h>

#include "fitter/h/congestion_export.h"
#include "front_end/front_end.h"

namespace py = pybind11;

// Net n's pins are entries net_start[n] .. net_start[n + 1] - 1 of the pin
// arrays, the driver first; every net has at least its driver. Immutable
// once built, so any number of threads may read it at once.
class ARRAY_NETLIST {
 public:
    // Checks and copies the arrays: net_start (num_nets + 1,), pin_x, pin_y
    // (num_pins,), and optionally pin_weight (num_pins,), boxes (num_nets, 4)
    // as xl, xr, yb, yt, each holding its net's pins, and wirelength
    // (num_nets, 2). Without boxes, each net's box is that of its pins;
    // without wire lengths, the box's width and height; without weights, 0.
    ARRAY_NETLIST(const py::object& net_start, const py::object& pin_x, const py::object& pin_y,
                  const py::object& pin_weight, const py::object& boxes, const py::object& wirelength);

    int get_num_nets() const { return static_cast<int>(m_net_start.size()) - 1; }
    int get_num_pins() const { return static_cast<int>(m_pin_x.size()); }
    // The arrays as the netlist interface reads them, valid while this
    // object lives: weights per pin, boxes of four fields, wire lengths.
    NETLIST_ARRAYS get_arrays() const;

    // The net indices of `nets` (all nets when it is None), each checked
    // and listed once.
    std::vector<int> select_nets(const py::object& nets) const;
    // ValueError unless every pin of the listed nets lies in the grid.
    void check_pins_inside(const std::vector<int>& nets, int nx, int ny) const;
    // ValueError unless the box of every listed net lies in the grid.
    void check_boxes_inside(const std::vector<int>& nets, int nx, int ny) const;

    const std::vector<int>& get_net_start() const { return m_net_start; }
    const std::vector<int>& get_pin_x() const { return m_pin_x; }
    const std::vector<int>& get_pin_y() const { return m_pin_y; }
    const std::vector<float>& get_pin_weights() const { return m_pin_weight; }
    const std::vector<int>& get_boxes() const { return m_boxes; }
    const std::vector<float>& get_wirelengths() const { return m_wirelength; }

 private:
    // ValueError unless each net's box holds every pin of the net.
    void check_boxes_hold_pins() const;

    std::vector<int> m_net_start;
    std::vector<int> m_pin_x;
    std::vector<int> m_pin_y;
    std::vector<float> m_pin_weight;
    std::vector<int> m_boxes;         // xl, xr, yb, yt per net
    std::vector<float> m_wirelength;  // horizontal, vertical per net
};

#endif
