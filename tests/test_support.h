// Helpers shared by the unit tests: fatal-report matching, the algorithm
// switch in force, and a configurable in-memory netlist.
#ifndef TEST_SUPPORT_H
#define TEST_SUPPORT_H

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "fitter/h/congestion_export.h"
#include "front_end/front_end.h"

// A regular expression matching exactly `message` as the host reporter
// prints it: after ": " and followed by the end of the line.
inline std::string fatal_message_regex(const std::string& message)
{
    std::string escaped = ": ";
    for (char c : message) {
        if (std::strchr(".[]{}()\\*+?^$|", c) != nullptr)
            escaped += '\\';
        escaped += c;
    }
    return escaped + "\n";
}

// The statement must end the process through the host reporter with exactly
// `message`.
#define EXPECT_FATAL(statement, message) EXPECT_DEATH(statement, fatal_message_regex(message))

// True when this process runs with the original smoothing algorithm (ctest
// sets congestion_use_orig to 0 or 1).
inline bool original_algorithm_in_force()
{
    const char* value = std::getenv("congestion_use_orig");
    return value != nullptr && std::string(value) == "1";
}

// An in-memory netlist: nets[n] lists the pin tiles of net n, driver first.
// Unset weights, wire lengths and Lab Input answer 0 (the bounding-box model
// needs every box); compute_congestion defaults to smoothed demand over
// smoothed supply (0 without supply). Safe for concurrent reads.
class TEST_NETLIST : public CONGESTION::NETLIST_IF {
 public:
    std::vector<std::vector<CONGESTION::LOC>> nets;
    std::vector<std::vector<float>> weights;           // per net and pin; empty means 0
    std::vector<std::pair<float, float>> wirelengths;  // per net; empty means (0, 0)
    std::vector<std::vector<int>> boxes;               // per net {xl, xr, yb, yt}
    std::function<int(int, int)> lab_input = [](int, int) { return 0; };
    std::function<float(float, float, CONGESTION::RESOURCE_TYPE)> congestion = [](float demand, float supply,
                                                                                  CONGESTION::RESOURCE_TYPE) {
        return get_congestion(CONGESTION_POLICY::RATIO, demand, supply);
    };

    int add_net(std::vector<CONGESTION::LOC> pins)
    {
        nets.push_back(std::move(pins));
        return static_cast<int>(nets.size()) - 1;
    }

    CONGESTION::LOC get_pin_loc(int net, int pin) const override { return nets.at(net).at(pin); }
    int get_num_nets() const override { return static_cast<int>(nets.size()); }
    int get_num_pins(int net) const override { return static_cast<int>(nets.at(net).size()); }
    float get_pin_weight(int net, int pin) const override
    {
        if (static_cast<size_t>(net) >= weights.size() || weights[net].empty())
            return 0.0f;
        return weights[net].at(pin);
    }
    int get_lab_input_demand(int x, int y) const override { return lab_input(x, y); }
    float compute_congestion(float smooth_demand, float smooth_supply, CONGESTION::RESOURCE_TYPE type) const override
    {
        return congestion(smooth_demand, smooth_supply, type);
    }
    std::pair<float, float> get_wirelength(int net) const override
    {
        if (static_cast<size_t>(net) >= wirelengths.size())
            return {0.0f, 0.0f};
        return wirelengths[net];
    }
    void get_bounding_box(int net, int* net_xl, int* net_xr, int* net_yb, int* net_yt) const override
    {
        const std::vector<int>& box = boxes.at(net);
        *net_xl = box.at(0);
        *net_xr = box.at(1);
        *net_yb = box.at(2);
        *net_yt = box.at(3);
    }
};

#endif
