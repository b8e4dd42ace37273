// Construction of the synthetic chip and netlist used by the benchmarks.
#include "synthetic_chip.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

constexpr float kLogicWireSupply = 43.0f;  // (60 + 26) / 2 per direction
constexpr float kMemoryWireSupply = 30.0f;
constexpr float kLogicLabInput = 35.0f;
constexpr int kMemoryColumnPeriod = 10;
constexpr int kChipWideNetPeriod = 1000;  // one net in a thousand spans the chip

bool is_ring(int x, int y, int nx, int ny) { return x == 0 || y == 0 || x == nx - 1 || y == ny - 1; }

}  // namespace

SYNTHETIC_SUPPLY make_synthetic_supply(int nx, int ny)
{
    SYNTHETIC_SUPPLY chip;
    chip.nx = nx;
    chip.ny = ny;
    for (auto& grid : chip.supply)
        grid.assign(static_cast<size_t>(nx) * ny, 0.0f);
    for (int x = 0; x < nx; ++x) {
        for (int y = 0; y < ny; ++y) {
            if (is_ring(x, y, nx, ny))
                continue;
            const size_t i = static_cast<size_t>(x) * ny + y;
            const bool memory = x % kMemoryColumnPeriod == kMemoryColumnPeriod - 1;
            const float wires = memory ? kMemoryWireSupply : kLogicWireSupply;
            for (CONGESTION::RESOURCE_TYPE type : CONGESTION::get_wire_resource_types())
                chip.supply[type][i] = wires;
            chip.supply[CONGESTION::LAB_INPUT][i] = memory ? 0.0f : kLogicLabInput;
        }
    }
    return chip;
}

void apply_supply(const SYNTHETIC_SUPPLY& chip, CONGESTION& estimator)
{
    for (int type = 0; type < CONGESTION::NUM_RESOURCE_TYPES; ++type)
        for (int x = 0; x < chip.nx; ++x)
            for (int y = 0; y < chip.ny; ++y) {
                const float value = chip.supply[type][static_cast<size_t>(x) * chip.ny + y];
                if (value > 0.0f)
                    estimator.set_supply(x, y, static_cast<CONGESTION::RESOURCE_TYPE>(type), value);
            }
}

SYNTHETIC_NETLIST::SYNTHETIC_NETLIST(int nx, int ny, int num_nets, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> any_x(1, std::max(1, nx - 2));
    std::uniform_int_distribution<int> any_y(1, std::max(1, ny - 2));
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::geometric_distribution<int> small_fanout(0.45);
    std::exponential_distribution<double> local_reach(1.0 / 3.0);

    m_net_start.reserve(static_cast<size_t>(num_nets) + 1);
    m_boxes.reserve(4 * static_cast<size_t>(num_nets));
    m_lab_input.assign(static_cast<size_t>(nx) * ny, 0);
    m_net_start.push_back(0);
    for (int net = 0; net < num_nets; ++net) {
        // Fan-out: 2 to 5 pins for most nets, a Pareto tail up to 2000.
        int pins = 2 + std::min(small_fanout(random), 3);
        if (unit(random) < 0.03)
            pins = std::min(2000, static_cast<int>(6.0 / std::pow(1.0 - unit(random), 1.0 / 1.1)));
        const bool chip_wide = net % kChipWideNetPeriod == kChipWideNetPeriod - 1;
        const int dx = any_x(random);
        const int dy = any_y(random);
        int xl = dx, xr = dx, yb = dy, yt = dy;
        for (int pin = 0; pin < pins; ++pin) {
            int x = dx, y = dy;
            if (pin > 0) {
                if (chip_wide) {
                    x = any_x(random);
                    y = any_y(random);
                } else {
                    const double reach = 1.0 + local_reach(random) * std::sqrt(static_cast<double>(pins));
                    const double angle = unit(random) * 6.283185307179586;
                    x = std::clamp(dx + static_cast<int>(std::lround(reach * std::cos(angle))), 0, nx - 1);
                    y = std::clamp(dy + static_cast<int>(std::lround(reach * std::sin(angle))), 0, ny - 1);
                }
                m_lab_input[static_cast<size_t>(x) * ny + y] += 1;
            }
            m_pin_x.push_back(x);
            m_pin_y.push_back(y);
            xl = std::min(xl, x);
            xr = std::max(xr, x);
            yb = std::min(yb, y);
            yt = std::max(yt, y);
        }
        m_boxes.insert(m_boxes.end(), {xl, xr, yb, yt});
        // Routed wire length runs about a fifth over the half-perimeter.
        m_wirelength.insert(m_wirelength.end(),
                            {1.2f * static_cast<float>(xr - xl), 1.2f * static_cast<float>(yt - yb)});
        m_net_start.push_back(static_cast<int>(m_pin_x.size()));
        m_all_nets.push_back(net);
    }
    NETLIST_ARRAYS arrays;
    arrays.num_nets = num_nets;
    arrays.net_start = m_net_start.data();
    arrays.pin_x = m_pin_x.data();
    arrays.pin_y = m_pin_y.data();
    if (num_nets > 0) {
        arrays.xl = &m_boxes[0];
        arrays.xr = &m_boxes[1];
        arrays.yb = &m_boxes[2];
        arrays.yt = &m_boxes[3];
        arrays.box_stride = 4;
    }
    arrays.wirelength = m_wirelength.data();
    arrays.lab_input = m_lab_input.data();
    arrays.lab_input_x_step = static_cast<size_t>(ny);
    arrays.lab_input_y_step = 1;
    set_arrays(arrays);
}
