// The exported handle: every call forwards unchanged to CONGESTION_IMPL.
#include <memory>

#include "fitter/congestion/congestion_impl.h"

using namespace congestion_internal;

CONGESTION::CONGESTION(int nx, int ny, NETLIST_IF* net_if)
    // unique_ptr frees the allocation if the engine's constructor throws.
    : m_impl(std::make_unique<CONGESTION_IMPL>(nx, ny, net_if).release())
{}

CONGESTION::CONGESTION(CONGESTION&& other) noexcept : m_impl(other.m_impl) { other.m_impl = nullptr; }

CONGESTION& CONGESTION::operator=(CONGESTION&& other) noexcept
{
    if (&other == this)
        return *this;
    CONGESTION_IMPL* previous = m_impl;
    m_impl = other.m_impl;
    other.m_impl = nullptr;
    delete previous;
    return *this;
}

CONGESTION::~CONGESTION() { delete m_impl; }

const std::vector<CONGESTION::RESOURCE_TYPE>& CONGESTION::get_wire_resource_types() { return WIRE_TYPES; }

int CONGESTION::get_nx() const { return m_impl->get_nx(); }
int CONGESTION::get_ny() const { return m_impl->get_ny(); }
void CONGESTION::set_num_chunks(int num_chunks) { m_impl->set_num_chunks(num_chunks); }
unsigned long long CONGESTION::get_cookie() const { return m_impl->get_cookie(); }

void CONGESTION::set_supply(int x, int y, RESOURCE_TYPE type, float supply) { m_impl->set_supply(x, y, type, supply); }
float CONGESTION::get_supply(int x, int y, RESOURCE_TYPE type) const { return m_impl->get_supply(x, y, type); }
float CONGESTION::get_max_supply(RESOURCE_TYPE type) const { return m_impl->get_max_supply(type); }
float CONGESTION::get_avg_supply(RESOURCE_TYPE type, int x, int y, int window_size) const
{
    return m_impl->get_avg_supply(type, x, y, window_size);
}

void CONGESTION::clear_demand() { m_impl->clear_demand(); }
void CONGESTION::clear_demand(RESOURCE_TYPE type) { m_impl->clear_demand(type); }
void CONGESTION::update_demand(const std::vector<int>& nets, NET_MODEL model) { m_impl->update_demand(nets, model); }

void CONGESTION::generate_smooth_demand(int parallel_dim, int perpendicular_dim, RESOURCE_TYPE type)
{
    const std::vector<RESOURCE_TYPE> resources{type};
    m_impl->dispatch_smooth_demand(parallel_dim, perpendicular_dim, false, resources);
}

void CONGESTION::generate_smooth_wire_demand(int parallel_dim, int perpendicular_dim, bool uniform)
{
    m_impl->dispatch_smooth_demand(parallel_dim, perpendicular_dim, uniform, WIRE_TYPES);
}

void CONGESTION::generate_smooth_wire_supply(int parallel_dim, int perpendicular_dim)
{
    m_impl->generate_smooth_supply(parallel_dim, perpendicular_dim, WIRE_TYPES);
}

void CONGESTION::update_congestion(bool build_window_sums) { m_impl->update_congestion(build_window_sums); }

float CONGESTION::get_demand(int x, int y, RESOURCE_TYPE type) const { return m_impl->get_demand(x, y, type); }
float CONGESTION::get_smooth_demand(int x, int y, RESOURCE_TYPE type) const
{
    return m_impl->get_smooth_demand(x, y, type);
}
float CONGESTION::get_util(int x, int y, RESOURCE_TYPE type) const { return m_impl->get_util(x, y, type); }
float CONGESTION::get_total_demand(RESOURCE_TYPE type) const { return m_impl->get_total_demand(type); }

std::pair<float, CONGESTION::LOC> CONGESTION::get_peak_utilization(int dim, RESOURCE_TYPE type, bool debug) const
{
    return m_impl->get_peak_utilization(dim, type, debug);
}

float CONGESTION::get_avg_chip_utilization(float threshold) const
{
    return m_impl->get_avg_chip_utilization(threshold);
}
float CONGESTION::get_apl_style_congestion(int x, int y, RESOURCE_TYPE type) const
{
    return m_impl->get_apl_style_congestion(x, y, type);
}
float CONGESTION::get_total_apl_style_congestion(RESOURCE_TYPE type) const
{
    return m_impl->get_total_apl_style_congestion(type);
}
float CONGESTION::get_congestion_in_window(RESOURCE_TYPE type, int xmin, int xmax, int ymin, int ymax) const
{
    return m_impl->get_congestion_in_window(type, xmin, xmax, ymin, ymax);
}
int CONGESTION::get_num_non_empty_in_window(int xmin, int xmax, int ymin, int ymax) const
{
    return m_impl->get_num_non_empty_in_window(xmin, xmax, ymin, ymax);
}

void CONGESTION::dump(const char* filename, const std::vector<int>& skip_cols) const
{
    m_impl->dump(filename, skip_cols);
}
void CONGESTION::dump_netlist(const std::vector<int>& nets, const char* filename) const
{
    m_impl->dump_netlist(nets, filename);
}

std::ostream& operator<<(std::ostream& os, const CONGESTION::LOC& loc)
{
    return os << "(" << loc.x << "," << loc.y << ")";
}
