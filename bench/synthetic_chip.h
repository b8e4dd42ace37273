// A synthetic FPGA-like chip and netlist for the benchmarks, built from a fixed seed.
#ifndef SYNTHETIC_CHIP_H
#define SYNTHETIC_CHIP_H

#include <array>
#include <cstdint>
#include <vector>

#include "fitter/h/congestion_export.h"
#include "front_end/front_end.h"

// Supply per tile and type, x-major (index x * ny + y): an empty ring of I/O
// tiles without wire supply, a column of memory tiles every tenth column
// (wire supply but no Lab Input), logic tiles everywhere else.
struct SYNTHETIC_SUPPLY {
    int nx = 0;
    int ny = 0;
    std::array<std::vector<float>, CONGESTION::NUM_RESOURCE_TYPES> supply;
};
SYNTHETIC_SUPPLY make_synthetic_supply(int nx, int ny);

// Sets every positive supply value of `chip` on `estimator`.
void apply_supply(const SYNTHETIC_SUPPLY& chip, CONGESTION& estimator);

// A netlist in flat arrays read through FLAT_NETLIST, under the ratio
// policy. Most nets have 2 to 5 pins with loads near the driver; a heavy
// tail reaches thousands of pins, and about one net in a thousand spans the
// whole chip.
class SYNTHETIC_NETLIST : public FLAT_NETLIST {
 public:
    SYNTHETIC_NETLIST(int nx, int ny, int num_nets, uint32_t seed);
    // The arrays it points into stay where they are.
    SYNTHETIC_NETLIST(const SYNTHETIC_NETLIST&) = delete;
    SYNTHETIC_NETLIST& operator=(const SYNTHETIC_NETLIST&) = delete;

    // Indices 0 .. num_nets - 1.
    const std::vector<int>& get_all_nets() const { return m_all_nets; }
    size_t get_num_pins_total() const { return m_pin_x.size(); }

 private:
    std::vector<int> m_net_start;
    std::vector<int> m_pin_x;
    std::vector<int> m_pin_y;
    std::vector<int> m_boxes;  // xl, xr, yb, yt per net
    std::vector<float> m_wirelength;
    std::vector<int> m_lab_input;
    std::vector<int> m_all_nets;
};

#endif
