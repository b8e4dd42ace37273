// What the front ends (the estimator tool, the Python module, the benchmarks
// and the tests) share: the resource types' words, the two congestion
// policies and a NETLIST_IF over flat arrays. Not installed: a placer writes
// a NETLIST_IF of its own over its own data.
#ifndef CONGESTION_FRONT_END_H
#define CONGESTION_FRONT_END_H

#include <cstddef>
#include <utility>

#include "fitter/h/congestion_export.h"

// The enumerators' names, in enum order.
inline constexpr const char* RESOURCE_TYPE_WORDS[CONGESTION::NUM_RESOURCE_TYPES] = {
    "HORIZONTAL_LEFT", "HORIZONTAL_RIGHT", "VERTICAL_UP", "VERTICAL_DOWN", "LAB_INPUT"};

// "HORIZONTAL_LEFT", ..., "LAB_INPUT"; `type` must be a resource type.
inline const char* get_type_word(CONGESTION::RESOURCE_TYPE type) { return RESOURCE_TYPE_WORDS[type]; }

// How compute_congestion turns a tile's smoothed demand and smoothed supply
// into its congestion value.
enum class CONGESTION_POLICY {
    RATIO,    // smoothed demand over smoothed supply, 0 without supply
    OVERFLOW  // smoothed demand minus smoothed supply, not below 0
};

inline float get_congestion(CONGESTION_POLICY policy, float smooth_demand, float smooth_supply)
{
    if (policy == CONGESTION_POLICY::OVERFLOW) {
        const float excess = smooth_demand - smooth_supply;
        return excess > 0.0f ? excess : 0.0f;
    }
    return smooth_supply > 0.0f ? smooth_demand / smooth_supply : 0.0f;
}

// A netlist as flat arrays that outlive every FLAT_NETLIST reading them.
// Net n's pins are entries net_start[n] .. net_start[n + 1] - 1 of pin_x and
// pin_y, its driver first.
struct NETLIST_ARRAYS {
    int num_nets = 0;
    const int* net_start = nullptr;  // num_nets + 1 entries
    const int* pin_x = nullptr;
    const int* pin_y = nullptr;
    // A weight per pin, else one per net for each of its pins, else 0.
    const float* pin_weight = nullptr;
    const int* net_weight = nullptr;
    // Net n's inclusive box: xl[n * box_stride], xr[...], yb[...], yt[...].
    const int* xl = nullptr;
    const int* xr = nullptr;
    const int* yb = nullptr;
    const int* yt = nullptr;
    std::size_t box_stride = 1;
    // Net n's horizontal and vertical wire lengths, wirelength[2 n] and
    // wirelength[2 n + 1]; without them, its box's width and height.
    const float* wirelength = nullptr;
    // The Lab Input demand of tile (x, y), lab_input[x * lab_input_x_step +
    // y * lab_input_y_step]; without it, 0.
    const int* lab_input = nullptr;
    std::size_t lab_input_x_step = 0;
    std::size_t lab_input_y_step = 0;
    CONGESTION_POLICY policy = CONGESTION_POLICY::RATIO;
};

// The NETLIST_IF over NETLIST_ARRAYS. It only reads, so any number of
// threads may call it at once.
class FLAT_NETLIST : public CONGESTION::NETLIST_IF {
 public:
    FLAT_NETLIST() = default;
    explicit FLAT_NETLIST(const NETLIST_ARRAYS& arrays) : m_arrays(arrays) {}

    void set_arrays(const NETLIST_ARRAYS& arrays) { m_arrays = arrays; }
    const NETLIST_ARRAYS& get_arrays() const { return m_arrays; }

    CONGESTION::LOC get_pin_loc(int net, int pin) const override
    {
        const int index = m_arrays.net_start[net] + pin;
        return CONGESTION::LOC{m_arrays.pin_x[index], m_arrays.pin_y[index]};
    }
    int get_num_nets() const override { return m_arrays.num_nets; }
    int get_num_pins(int net) const override { return m_arrays.net_start[net + 1] - m_arrays.net_start[net]; }
    float get_pin_weight(int net, int pin) const override
    {
        if (m_arrays.pin_weight != nullptr)
            return m_arrays.pin_weight[m_arrays.net_start[net] + pin];
        return m_arrays.net_weight != nullptr ? static_cast<float>(m_arrays.net_weight[net]) : 0.0f;
    }
    int get_lab_input_demand(int x, int y) const override
    {
        if (m_arrays.lab_input == nullptr)
            return 0;
        return m_arrays.lab_input[static_cast<std::size_t>(x) * m_arrays.lab_input_x_step +
                                  static_cast<std::size_t>(y) * m_arrays.lab_input_y_step];
    }
    float compute_congestion(float smooth_demand, float smooth_supply, CONGESTION::RESOURCE_TYPE) const override
    {
        return get_congestion(m_arrays.policy, smooth_demand, smooth_supply);
    }
    std::pair<float, float> get_wirelength(int net) const override
    {
        const std::size_t n = static_cast<std::size_t>(net);
        if (m_arrays.wirelength != nullptr)
            return {m_arrays.wirelength[2 * n], m_arrays.wirelength[2 * n + 1]};
        const std::size_t box = n * m_arrays.box_stride;
        return {static_cast<float>(m_arrays.xr[box] - m_arrays.xl[box]),
                static_cast<float>(m_arrays.yt[box] - m_arrays.yb[box])};
    }
    void get_bounding_box(int net, int* net_xl, int* net_xr, int* net_yb, int* net_yt) const override
    {
        const std::size_t box = static_cast<std::size_t>(net) * m_arrays.box_stride;
        *net_xl = m_arrays.xl[box];
        *net_xr = m_arrays.xr[box];
        *net_yb = m_arrays.yb[box];
        *net_yt = m_arrays.yt[box];
    }

 private:
    NETLIST_ARRAYS m_arrays;
};

#endif
