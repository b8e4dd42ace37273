// A synthetic FPGA-like chip and netlist for the benchmarks, built from a fixed seed.
#ifndef SYNTHETIC_CHIP_H
#define SYNTHETIC_CHIP_H

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "fitter/h/congestion_export.h"

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

// A netlist in flat arrays behind CONGESTION::NETLIST_IF. Most nets have 2
// to 5 pins with loads near the driver; a heavy tail reaches thousands of
// pins, and about one net in a thousand spans the whole chip.
class SYNTHETIC_NETLIST : public CONGESTION::NETLIST_IF {
 public:
    SYNTHETIC_NETLIST(int nx, int ny, int num_nets, uint32_t seed);

    CONGESTION::LOC get_pin_loc(int net, int pin) const override;
    int get_num_nets() const override { return static_cast<int>(m_net_start.size()) - 1; }
    int get_num_pins(int net) const override { return m_net_start[net + 1] - m_net_start[net]; }
    float get_pin_weight(int, int) const override { return 0.0f; }
    int get_lab_input_demand(int x, int y) const override { return m_lab_input[static_cast<size_t>(x) * m_ny + y]; }
    float compute_congestion(float smooth_demand, float smooth_supply, CONGESTION::RESOURCE_TYPE) const override
    {
        return smooth_supply > 0.0f ? smooth_demand / smooth_supply : 0.0f;
    }
    std::pair<float, float> get_wirelength(int net) const override;
    void get_bounding_box(int net, int* net_xl, int* net_xr, int* net_yb, int* net_yt) const override;

    // Indices 0 .. num_nets - 1.
    const std::vector<int>& get_all_nets() const { return m_all_nets; }
    size_t get_num_pins_total() const { return m_pin_x.size(); }

 private:
    int m_ny;
    std::vector<int> m_net_start;
    std::vector<int> m_pin_x;
    std::vector<int> m_pin_y;
    std::vector<std::array<int, 4>> m_box;
    std::vector<int> m_lab_input;
    std::vector<int> m_all_nets;
};

#endif
