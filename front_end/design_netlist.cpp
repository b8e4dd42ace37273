// Supply mapping and the NETLIST_IF over a design read from files.
#include "front_end/design_netlist.h"

#include <algorithm>

namespace {

constexpr float HALF = 0.5f;

// The column of a directional design that holds a wire type's direction.
DIRECTIONAL_COLUMN get_directional_column(CONGESTION::RESOURCE_TYPE type)
{
    switch (type) {
    case CONGESTION::HORIZONTAL_RIGHT: return DIRECTIONAL_RIGHT;
    case CONGESTION::HORIZONTAL_LEFT: return DIRECTIONAL_LEFT;
    case CONGESTION::VERTICAL_UP: return DIRECTIONAL_UP;
    case CONGESTION::VERTICAL_DOWN: return DIRECTIONAL_DOWN;
    default: return DIRECTIONAL_LAB_IN;
    }
}

}  // namespace

float get_design_supply(const DESIGN& design, int x, int y, CONGESTION::RESOURCE_TYPE type, SUPPLY_MAPPING mapping)
{
    const std::size_t tile = design.get_tile_index(x, y);
    if (type == CONGESTION::LAB_INPUT)
        return static_cast<float>(design.lab_in[tile]);
    if (design.form == DESIGN_FORM::DIRECTIONAL)
        return static_cast<float>(design.direction_supply[get_directional_column(type)][tile]);
    const float share = mapping == SUPPLY_MAPPING::HALF ? HALF : 1.0f;
    switch (type) {
    case CONGESTION::HORIZONTAL_LEFT:
    case CONGESTION::HORIZONTAL_RIGHT: return static_cast<float>(design.h4[tile] + design.h12[tile]) * share;
    case CONGESTION::VERTICAL_UP:
    case CONGESTION::VERTICAL_DOWN: return static_cast<float>(design.v4[tile] + design.v12[tile]) * share;
    default: return 0.0f;
    }
}

ROUTED_TRUTH get_routed_truth(DESIGN_FORM form, const std::vector<CONGESTION::RESOURCE_TYPE>& types)
{
    const auto has = [&](CONGESTION::RESOURCE_TYPE type) {
        return std::find(types.begin(), types.end(), type) != types.end();
    };
    ROUTED_TRUTH truth;
    if (form == DESIGN_FORM::DIRECTIONAL) {
        for (CONGESTION::RESOURCE_TYPE type : types)
            truth.columns.push_back(get_directional_column(type));
    } else {
        struct AXIS {
            CONGESTION::RESOURCE_TYPE first, second;
            ROUTED_COLUMN first_column, second_column, both_columns;
        };
        const AXIS axes[] = {
            {CONGESTION::HORIZONTAL_LEFT, CONGESTION::HORIZONTAL_RIGHT, ROUTED_H_LEFT, ROUTED_H_RIGHT, ROUTED_H_ALL},
            {CONGESTION::VERTICAL_UP, CONGESTION::VERTICAL_DOWN, ROUTED_V_UP, ROUTED_V_DOWN, ROUTED_V_ALL}};
        for (const AXIS& axis : axes) {
            if (has(axis.first) && has(axis.second))
                truth.columns.push_back(axis.both_columns);
            else if (has(axis.first))
                truth.columns.push_back(axis.first_column);
            else if (has(axis.second))
                truth.columns.push_back(axis.second_column);
        }
        if (has(CONGESTION::LAB_INPUT))
            truth.columns.push_back(ROUTED_LAB_IN);
    }
    std::sort(truth.columns.begin(), truth.columns.end());
    const std::vector<const char*> names = get_routed_column_names(form);
    for (int column : truth.columns)
        truth.name += (truth.name.empty() ? "" : "+") + std::string(names[column]);
    return truth;
}

double get_routed_usage(const DESIGN& design, const ROUTED_TRUTH& truth, std::size_t tile)
{
    double usage = 0.0;
    for (int column : truth.columns)
        usage += design.routed[column][tile];
    return usage;
}

void set_design_supply(CONGESTION& estimator, const DESIGN& design, SUPPLY_MAPPING mapping)
{
    for (int x = 0; x < design.nx; ++x)
        for (int y = 0; y < design.ny; ++y)
            for (int t = 0; t < CONGESTION::NUM_RESOURCE_TYPES; ++t) {
                const auto type = static_cast<CONGESTION::RESOURCE_TYPE>(t);
                const float supply = get_design_supply(design, x, y, type, mapping);
                // A positive supply is final in the estimator; zero is its default.
                if (supply > 0.0f)
                    estimator.set_supply(x, y, type, supply);
            }
}

std::vector<int> get_estimated_nets(const DESIGN& design)
{
    std::vector<int> nets;
    for (int net = 0; net < design.get_num_nets(); ++net)
        if (design.is_routed_net(net))
            nets.push_back(net);
    return nets;
}

std::vector<int> count_load_pins(const DESIGN& design, const std::vector<int>& nets)
{
    std::vector<int> count(design.get_num_tiles(), 0);
    for (int net : nets)
        for (int pin = design.net_start[net] + 1; pin < design.net_start[net + 1]; ++pin)
            ++count[design.get_tile_index(design.pin_x[pin], design.pin_y[pin])];
    return count;
}

DESIGN_NETLIST::DESIGN_NETLIST(const DESIGN& design, CONGESTION_POLICY policy, WIRELENGTH_SOURCE wirelength)
    : m_load_pins(count_load_pins(design, get_estimated_nets(design)))
{
    NETLIST_ARRAYS arrays;
    arrays.num_nets = design.get_num_nets();
    arrays.net_start = design.net_start.data();
    arrays.pin_x = design.pin_x.data();
    arrays.pin_y = design.pin_y.data();
    arrays.net_weight = design.weight.data();
    arrays.xl = design.xl.data();
    arrays.xr = design.xr.data();
    arrays.yb = design.yb.data();
    arrays.yt = design.yt.data();
    if (wirelength == WIRELENGTH_SOURCE::ROUTED_ORACLE) {
        m_routed_lengths.reserve(2 * design.routed_x.size());
        for (std::size_t net = 0; net < design.routed_x.size(); ++net)
            m_routed_lengths.insert(m_routed_lengths.end(), {static_cast<float>(design.routed_x[net]),
                                                             static_cast<float>(design.routed_y[net])});
        arrays.wirelength = m_routed_lengths.data();
    }
    arrays.lab_input = m_load_pins.data();
    arrays.lab_input_x_step = 1;
    arrays.lab_input_y_step = static_cast<std::size_t>(design.nx);
    arrays.policy = policy;
    set_arrays(arrays);
}
