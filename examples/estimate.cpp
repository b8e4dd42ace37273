// A whole estimate through the public header: nets kept in arrays, the supply
// of a small device, and the figures a placer reads back.
#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "fitter/h/congestion_export.h"

namespace {

// Net n's pins are entries first_pin[n] .. first_pin[n + 1] - 1 of pin_x and
// pin_y, its driver first. Only read, so concurrent calls are safe.
class ARRAY_NETLIST : public CONGESTION::NETLIST_IF {
 public:
    ARRAY_NETLIST(std::vector<int> first_pin, std::vector<int> pin_x, std::vector<int> pin_y)
        : m_first_pin(std::move(first_pin)), m_pin_x(std::move(pin_x)), m_pin_y(std::move(pin_y))
    {}

    CONGESTION::LOC get_pin_loc(int net, int pin) const override
    {
        const int index = m_first_pin[net] + pin;
        return {m_pin_x[index], m_pin_y[index]};
    }
    int get_num_nets() const override { return static_cast<int>(m_first_pin.size()) - 1; }
    int get_num_pins(int net) const override { return m_first_pin[net + 1] - m_first_pin[net]; }
    float get_pin_weight(int, int) const override { return 0.0f; }
    // One Lab Input per load pin on the tile.
    int get_lab_input_demand(int x, int y) const override
    {
        int loads = 0;
        for (int net = 0; net < get_num_nets(); ++net)
            for (int pin = 1; pin < get_num_pins(net); ++pin) {
                const CONGESTION::LOC loc = get_pin_loc(net, pin);
                loads += loc.x == x && loc.y == y ? 1 : 0;
            }
        return loads;
    }
    // Utilization: smoothed demand over smoothed supply, 0 without supply.
    float compute_congestion(float smooth_demand, float smooth_supply, CONGESTION::RESOURCE_TYPE) const override
    {
        return smooth_supply > 0.0f ? smooth_demand / smooth_supply : 0.0f;
    }
    // The width and height of the pins' box.
    std::pair<float, float> get_wirelength(int net) const override
    {
        int xl, xr, yb, yt;
        get_bounding_box(net, &xl, &xr, &yb, &yt);
        return {static_cast<float>(xr - xl), static_cast<float>(yt - yb)};
    }
    void get_bounding_box(int net, int* xl, int* xr, int* yb, int* yt) const override
    {
        const CONGESTION::LOC driver = get_pin_loc(net, 0);
        *xl = *xr = driver.x;
        *yb = *yt = driver.y;
        for (int pin = 1; pin < get_num_pins(net); ++pin) {
            const CONGESTION::LOC loc = get_pin_loc(net, pin);
            *xl = std::min(*xl, loc.x);
            *xr = std::max(*xr, loc.x);
            *yb = std::min(*yb, loc.y);
            *yt = std::max(*yt, loc.y);
        }
    }

 private:
    std::vector<int> m_first_pin;
    std::vector<int> m_pin_x;
    std::vector<int> m_pin_y;
};

}  // namespace

int main()
{
    constexpr int NX = 8;
    constexpr int NY = 6;
    // Three nets: (0,0) to (3,0); (1,1) to (5,4); (6,5) to (2,2) and (6,1).
    ARRAY_NETLIST netlist({0, 2, 4, 7}, {0, 3, 1, 5, 6, 2, 6}, {0, 0, 1, 4, 5, 2, 1});
    CONGESTION estimator(NX, NY, &netlist);

    // The order of an estimate: supply, smoothed supply, demand, smoothed
    // demand, congestion, then queries.
    for (int x = 0; x < NX; ++x)
        for (int y = 0; y < NY; ++y) {
            for (CONGESTION::RESOURCE_TYPE type : CONGESTION::get_wire_resource_types())
                estimator.set_supply(x, y, type, 4.0f);
            estimator.set_supply(x, y, CONGESTION::LAB_INPUT, 8.0f);
        }
    estimator.generate_smooth_wire_supply(3, 1);
    estimator.update_demand({0, 1, 2}, CONGESTION::PATH_PROBABILITY_MODEL);
    estimator.update_demand({}, CONGESTION::LAB_INPUT_MODEL);
    estimator.generate_smooth_wire_demand(3, 1, false);
    estimator.generate_smooth_demand(1, 1, CONGESTION::LAB_INPUT);
    estimator.update_congestion(true);

    const std::pair<float, CONGESTION::LOC> peak =
        estimator.get_peak_utilization(1, CONGESTION::HORIZONTAL_RIGHT, false);
    std::printf("total demand: right %.4f, left %.4f, lab input %.4f\n",
                estimator.get_total_demand(CONGESTION::HORIZONTAL_RIGHT),
                estimator.get_total_demand(CONGESTION::HORIZONTAL_LEFT),
                estimator.get_total_demand(CONGESTION::LAB_INPUT));
    std::printf("peak right utilization %.4f at (%d, %d)\n", peak.first, peak.second.x, peak.second.y);
    std::printf("right congestion in the lower-left quarter %.4f\n",
                estimator.get_congestion_in_window(CONGESTION::HORIZONTAL_RIGHT, 0, NX / 2 - 1, 0, NY / 2 - 1));
    std::printf("chip utilization %.4f, cookie %016llx\n", estimator.get_avg_chip_utilization(0.0f),
                estimator.get_cookie());
    return 0;
}
