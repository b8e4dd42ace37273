// ESTIMATOR's queries, whole-grid read-outs, metrics and text dumps, each
// preceded by the checks that keep the engine's fatal checks from firing.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fstream>
#include <string>

#include "python/src/arguments.h"
#include "python/src/estimator.h"
#include "python/src/numpy_arrays.h"

namespace {

constexpr int NUM_TYPES = CONGESTION::NUM_RESOURCE_TYPES;

// The engine reports nothing when a dump cannot be written, so the binding
// opens the file once first and raises OSError when that fails.
void check_writable(const std::string& path)
{
    errno = 0;
    std::ofstream probe(path, std::ios::app);
    if (!probe) {
        PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
        throw py::error_already_set();
    }
}

}  // namespace

float ESTIMATOR::get_demand(long long x, long long y, const py::object& type)
{
    const TILE tile = to_tile(x, y, type);
    READING operation(m_operation);
    return m_engine.get_demand(tile.x, tile.y, tile.type);
}

float ESTIMATOR::get_smooth_demand(long long x, long long y, const py::object& type)
{
    const TILE tile = to_tile(x, y, type);
    READING operation(m_operation);
    require_smoothed_demand("smooth_demand_at");
    return m_engine.get_smooth_demand(tile.x, tile.y, tile.type);
}

float ESTIMATOR::get_util(long long x, long long y, const py::object& type)
{
    const TILE tile = to_tile(x, y, type);
    READING operation(m_operation);
    return m_engine.get_util(tile.x, tile.y, tile.type);
}

float ESTIMATOR::get_overflow(long long x, long long y, const py::object& type)
{
    const TILE tile = to_tile(x, y, type);
    READING operation(m_operation);
    require_smoothed_demand("overflow_at");
    return m_engine.get_apl_style_congestion(tile.x, tile.y, tile.type);
}

py::array_t<float> ESTIMATOR::copy_grids(const CONGESTION_IMPL::TYPE_GRIDS& grids) const
{
    const int nx = get_nx();
    const int ny = get_ny();
    // A grid may be empty (never built: zeros) or one row and column larger
    // (the original smoothing's): only the chip's nx by ny tiles are copied.
    std::vector<float> values(static_cast<std::size_t>(NUM_TYPES) * nx * ny, 0.0f);
    for (int t = 0; t < NUM_TYPES; ++t)
        if (grids[t].get_num_rows() >= nx && grids[t].get_num_cols() >= ny)
            for (int x = 0; x < nx; ++x)
                std::copy_n(&grids[t](x, 0), ny, &values[(static_cast<std::size_t>(t) * nx + x) * ny]);
    return make_float_array({NUM_TYPES, nx, ny}, values);
}

template <typename QUERY>
py::array_t<float> ESTIMATOR::query_grids(const QUERY& query) const
{
    std::vector<float> values;
    values.reserve(static_cast<std::size_t>(NUM_TYPES) * get_nx() * get_ny());
    for (int t = 0; t < NUM_TYPES; ++t)
        for (int x = 0; x < get_nx(); ++x)
            for (int y = 0; y < get_ny(); ++y)
                values.push_back(query(x, y, static_cast<CONGESTION::RESOURCE_TYPE>(t)));
    return make_float_array({NUM_TYPES, get_nx(), get_ny()}, values);
}

py::array_t<float> ESTIMATOR::get_supply_grids()
{
    READING operation(m_operation);
    return copy_grids(m_engine.get_grids(CONGESTION_IMPL::GRID_KIND::SUPPLY));
}

py::array_t<float> ESTIMATOR::get_smooth_supply_grids()
{
    READING operation(m_operation);
    require_smooth_supply("smoothed_supply");
    return copy_grids(m_engine.get_grids(CONGESTION_IMPL::GRID_KIND::SMOOTH_SUPPLY));
}

py::array_t<float> ESTIMATOR::get_demand_grids()
{
    READING operation(m_operation);
    return copy_grids(m_engine.get_grids(CONGESTION_IMPL::GRID_KIND::DEMAND));
}

py::array_t<float> ESTIMATOR::get_smooth_demand_grids()
{
    READING operation(m_operation);
    require_smoothed_demand("smooth_demand");
    return copy_grids(m_engine.get_grids(CONGESTION_IMPL::GRID_KIND::SMOOTH_DEMAND));
}

py::array_t<float> ESTIMATOR::get_util_grids()
{
    READING operation(m_operation);
    return query_grids([this](int x, int y, CONGESTION::RESOURCE_TYPE t) { return m_engine.get_util(x, y, t); });
}

py::array_t<float> ESTIMATOR::get_congestion_grids()
{
    READING operation(m_operation);
    return copy_grids(m_engine.get_grids(CONGESTION_IMPL::GRID_KIND::CONGESTION));
}

py::array_t<float> ESTIMATOR::get_overflow_grids()
{
    READING operation(m_operation);
    require_smoothed_demand("overflow");
    return query_grids(
        [this](int x, int y, CONGESTION::RESOURCE_TYPE t) { return m_engine.get_apl_style_congestion(x, y, t); });
}

float ESTIMATOR::get_total_demand(const py::object& type)
{
    const CONGESTION::RESOURCE_TYPE t = to_type(type);
    READING operation(m_operation);
    return m_engine.get_total_demand(t);
}

float ESTIMATOR::get_total_overflow(const py::object& type)
{
    const CONGESTION::RESOURCE_TYPE t = to_type(type);
    READING operation(m_operation);
    require_smoothed_demand("total_overflow");
    return m_engine.get_total_apl_style_congestion(t);
}

py::tuple ESTIMATOR::get_peak_utilization(long long dim, const py::object& type, bool debug)
{
    const int size = to_window(dim, "dim");
    const CONGESTION::RESOURCE_TYPE t = to_type(type);
    READING operation(m_operation);
    std::pair<float, CONGESTION::LOC> peak;
    {
        py::gil_scoped_release release;
        peak = m_engine.get_peak_utilization(size, t, debug);
    }
    return py::make_tuple(peak.first, py::make_tuple(peak.second.x, peak.second.y));
}

float ESTIMATOR::get_avg_chip_utilization(float threshold)
{
    if (!std::isfinite(threshold))
        throw py::value_error("threshold " + std::to_string(threshold) + " is not a finite number");
    READING operation(m_operation);
    return m_engine.get_avg_chip_utilization(threshold);
}

float ESTIMATOR::get_congestion_in_window(const py::object& type, long long xmin, long long xmax, long long ymin,
                                          long long ymax)
{
    const CONGESTION::RESOURCE_TYPE t = to_wire_type(type);
    check_window(xmin, xmax, ymin, ymax);
    READING operation(m_operation);
    if (!m_window_sums_current)
        throw py::value_error(
            "congestion_in_window needs the window sums of the current congestion: call "
            "update_congestion first");
    return m_engine.get_congestion_in_window(t, static_cast<int>(xmin), static_cast<int>(xmax), static_cast<int>(ymin),
                                             static_cast<int>(ymax));
}

int ESTIMATOR::get_num_non_empty_in_window(long long xmin, long long xmax, long long ymin, long long ymax)
{
    check_window(xmin, xmax, ymin, ymax);
    READING operation(m_operation);
    require_smooth_supply("num_non_empty_in_window");
    return m_engine.get_num_non_empty_in_window(static_cast<int>(xmin), static_cast<int>(xmax), static_cast<int>(ymin),
                                                static_cast<int>(ymax));
}

void ESTIMATOR::dump(const py::object& path, const py::object& skip_cols)
{
    const std::string file = to_path(path);
    const std::vector<int> skipped = to_int_array(skip_cols, "skip_cols", {ANY_LENGTH}).values;
    std::vector<int> sorted = skipped;
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
        throw py::value_error("skip_cols names a column twice");
    for (int x : sorted)
        to_int_in_range(x, "skip_cols entry", 0, get_nx() - 1);
    READING operation(m_operation);
    check_writable(file);
    py::gil_scoped_release release;
    m_engine.dump(file.c_str(), skipped);
}

void ESTIMATOR::dump_netlist(const py::object& path, const ARRAY_NETLIST& netlist, const py::object& nets)
{
    const std::string file = to_path(path);
    const std::vector<int> selected = netlist.select_nets(nets);
    // The dump asks nothing but the lent netlist, yet lending changes the
    // interface, so no other operation may run meanwhile.
    CHANGING operation(m_operation);
    check_writable(file);
    NETLIST_LOAN loan;
    loan.nets = &netlist;
    SCOPED_LOAN lend(m_netlist, loan);
    py::gil_scoped_release release;
    m_engine.dump_netlist(selected, file.c_str());
}
