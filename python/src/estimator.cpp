// ESTIMATOR: construction, supply, demand, smoothing and the congestion
// update, each preceded by the checks that keep the engine's fatal checks
// from firing; and the netlist interface's policies.
#include "python/src/estimator.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <string>

#include "python/src/arguments.h"
#include "python/src/numpy_arrays.h"

namespace {

constexpr float NO_VALUE = std::numeric_limits<float>::quiet_NaN();
// Every chunk holds grids of the whole chip, so the count bounds the memory.
constexpr long long MAX_CHUNKS = 4096;
constexpr int NUM_TYPES = CONGESTION::NUM_RESOURCE_TYPES;

// A worker thread that met the GIL for the first time keeps its Python
// thread state: the engine's TBB workers live on, and making and freeing a
// state for every tile would cost more than the call.
thread_local bool s_thread_state_known = false;

// nx or ny: at least one tile, and every grid of the engine, which may be
// one row and column larger, addressable with an int.
int to_grid_side(long long side, const char* name, long long other_side)
{
    const int checked = to_int_in_range(side, name, 1, INT_MAX - 1);
    if (other_side >= 1 && other_side < INT_MAX && (side + 1) * (other_side + 1) > INT_MAX)
        throw py::value_error("a grid of " + std::to_string(side) + " by " + std::to_string(other_side) +
                              " tiles is too large");
    return checked;
}

}  // namespace

float CALLABLE_POLICY::call(float smooth_demand, float smooth_supply, CONGESTION::RESOURCE_TYPE type)
{
    if (failed.load(std::memory_order_relaxed))
        return NO_VALUE;
    const bool new_thread = !s_thread_state_known && PyGILState_GetThisThreadState() == nullptr;
    s_thread_state_known = true;
    py::gil_scoped_acquire gil;
    if (new_thread)
        gil.inc_ref();
    if (error)
        return NO_VALUE;
    try {
        const py::object result = function(smooth_demand, smooth_supply, type_objects[type]);
        return result.cast<float>();
    } catch (const py::error_already_set&) {
        error = std::current_exception();
    } catch (const py::cast_error&) {
        error = std::make_exception_ptr(py::type_error("the congestion policy must return a number"));
    }
    failed.store(true, std::memory_order_relaxed);
    return NO_VALUE;
}

void BINDING_NETLIST::lend(const NETLIST_LOAN& loan)
{
    m_loan = loan;
    NETLIST_ARRAYS arrays = loan.nets != nullptr ? loan.nets->get_arrays() : NETLIST_ARRAYS{};
    if (loan.lab_input != nullptr) {
        arrays.lab_input = loan.lab_input->data();
        arrays.lab_input_x_step = static_cast<std::size_t>(m_ny);
        arrays.lab_input_y_step = 1;
    }
    arrays.policy = loan.policy;
    set_arrays(arrays);
}

float BINDING_NETLIST::compute_congestion(float smooth_demand, float smooth_supply,
                                          CONGESTION::RESOURCE_TYPE type) const
{
    if (m_loan.callable != nullptr)
        return m_loan.callable->call(smooth_demand, smooth_supply, type);
    return FLAT_NETLIST::compute_congestion(smooth_demand, smooth_supply, type);
}

ESTIMATOR::ESTIMATOR(long long nx, long long ny)
    : m_netlist(to_grid_side(ny, "ny", nx)), m_engine(to_grid_side(nx, "nx", ny), static_cast<int>(ny), &m_netlist)
{}

int ESTIMATOR::to_x(long long x) const { return to_int_in_range(x, "x", 0, get_nx() - 1); }
int ESTIMATOR::to_y(long long y) const { return to_int_in_range(y, "y", 0, get_ny() - 1); }

ESTIMATOR::TILE ESTIMATOR::to_tile(long long x, long long y, const py::object& type) const
{
    const CONGESTION::RESOURCE_TYPE t = to_type(type);
    const int cx = to_x(x);
    const int cy = to_y(y);
    return {cx, cy, t};
}

void ESTIMATOR::check_window(long long xmin, long long xmax, long long ymin, long long ymax) const
{
    if (xmin < 0 || xmin > xmax || xmax >= get_nx() || ymin < 0 || ymin > ymax || ymax >= get_ny())
        throw py::value_error("the window x " + std::to_string(xmin) + ".." + std::to_string(xmax) + ", y " +
                              std::to_string(ymin) + ".." + std::to_string(ymax) + " is empty or leaves the " +
                              std::to_string(get_nx()) + " x " + std::to_string(get_ny()) + " grid");
}

void ESTIMATOR::require_smooth_supply(const char* operation) const
{
    bool built = m_engine.get_non_empty_table().get_num_rows() == get_nx();
    const auto& smooth_supply = m_engine.get_grids(CONGESTION_IMPL::GRID_KIND::SMOOTH_SUPPLY);
    const auto& supply_tables = m_engine.get_grids(CONGESTION_IMPL::GRID_KIND::SUPPLY_TABLE);
    for (CONGESTION::RESOURCE_TYPE type : CONGESTION::get_wire_resource_types())
        built =
            built && smooth_supply[type].get_num_rows() == get_nx() && supply_tables[type].get_num_rows() == get_nx();
    if (!built)
        throw py::value_error(std::string(operation) + " needs the smoothed supply: call smooth_supply first");
    if (!m_engine.is_smooth_supply_valid())
        throw py::value_error(std::string(operation) +
                              " needs the smoothed supply: call smooth_supply again after set_supply");
}

void ESTIMATOR::require_smoothed_demand(const char* operation) const
{
    const bool original = CONGESTION_IMPL::uses_original_algorithm();
    if (original && !m_engine.is_smooth_demand_valid())
        throw py::value_error(std::string(operation) +
                              " needs smoothed demand: call smooth_wire_demand first (under the original "
                              "algorithm only the wire smoothing makes smoothed demand readable)");
    if (!original && !m_engine.is_smooth_demand_valid())
        throw py::value_error(std::string(operation) +
                              " needs smoothed demand: call smooth_wire_demand or smooth_type_demand first");
}

void ESTIMATOR::require_demand_smoothing_tables(const char* operation, bool uniform) const
{
    // The new algorithm counts the tiles with supply of every window in the
    // table that smooth_supply builds, unless it smooths uniformly.
    if (!CONGESTION_IMPL::uses_original_algorithm() && !uniform)
        require_smooth_supply(operation);
}

int ESTIMATOR::get_num_chunks() const { return m_engine.get_num_chunks(); }

void ESTIMATOR::set_num_chunks(long long num_chunks)
{
    const int checked = to_int_in_range(num_chunks, "num_chunks", 1, MAX_CHUNKS);
    CHANGING operation(m_operation);
    m_engine.set_num_chunks(checked);
}

unsigned long long ESTIMATOR::get_cookie()
{
    READING operation(m_operation);
    return m_engine.get_cookie();
}

void ESTIMATOR::set_supply(const py::object& supply)
{
    const int nx = get_nx();
    const int ny = get_ny();
    const std::vector<float> values = to_float_array(supply, "supply", {NUM_TYPES, nx, ny}).values;
    CHANGING operation(m_operation);
    // All or nothing: every entry is checked before the first is written.
    std::size_t index = 0;
    for (int t = 0; t < NUM_TYPES; ++t)
        for (int x = 0; x < nx; ++x)
            for (int y = 0; y < ny; ++y, ++index) {
                if (!std::isfinite(values[index]) || values[index] < 0.0f)
                    throw py::value_error("the " +
                                          std::string(get_type_word(static_cast<CONGESTION::RESOURCE_TYPE>(t))) +
                                          " supply of tile (" + std::to_string(x) + ", " + std::to_string(y) + ") is " +
                                          std::to_string(values[index]) + ": a supply must be finite and not negative");
                const float stored = m_engine.get_grids(CONGESTION_IMPL::GRID_KIND::SUPPLY)[t](x, y);
                if (values[index] != 0.0f && stored > 0.0f)
                    throw py::value_error(
                        "the " + std::string(get_type_word(static_cast<CONGESTION::RESOURCE_TYPE>(t))) +
                        " supply of tile (" + std::to_string(x) + ", " + std::to_string(y) + ") is already " +
                        std::to_string(stored) + ": a positive supply is final, set each tile once");
            }
    py::gil_scoped_release release;
    index = 0;
    for (int t = 0; t < NUM_TYPES; ++t)
        for (int x = 0; x < nx; ++x)
            for (int y = 0; y < ny; ++y, ++index)
                if (values[index] != 0.0f)
                    m_engine.set_supply(x, y, static_cast<CONGESTION::RESOURCE_TYPE>(t), values[index]);
}

float ESTIMATOR::get_supply(long long x, long long y, const py::object& type)
{
    const TILE tile = to_tile(x, y, type);
    READING operation(m_operation);
    return m_engine.get_supply(tile.x, tile.y, tile.type);
}

float ESTIMATOR::get_max_supply(const py::object& type)
{
    const CONGESTION::RESOURCE_TYPE t = to_type(type);
    READING operation(m_operation);
    return m_engine.get_max_supply(t);
}

float ESTIMATOR::get_avg_supply(const py::object& type, const py::object& x, const py::object& y,
                                const py::object& window_size)
{
    constexpr int WHOLE_GRID = -1;
    const CONGESTION::RESOURCE_TYPE t = to_type(type);
    if (x.is_none() != y.is_none())
        throw py::value_error("give both x and y for a window average, or neither for the whole grid");
    if (x.is_none() && !window_size.is_none())
        throw py::value_error("window_size needs the window's centre x and y");
    if (!x.is_none() && window_size.is_none())
        throw py::value_error("a window average needs window_size");
    const int cx = x.is_none() ? WHOLE_GRID : to_x(to_integer(x, "x", "an int"));
    const int cy = y.is_none() ? WHOLE_GRID : to_y(to_integer(y, "y", "an int"));
    const int size =
        window_size.is_none() ? WHOLE_GRID : to_window(to_integer(window_size, "window_size", "an int"), "window_size");
    READING operation(m_operation);
    return m_engine.get_avg_supply(t, cx, cy, size);
}

void ESTIMATOR::smooth_supply(long long parallel_dim, long long perpendicular_dim)
{
    const int parallel = to_window(parallel_dim, "parallel_dim");
    const int perpendicular = to_window(perpendicular_dim, "perpendicular_dim");
    CHANGING operation(m_operation);
    py::gil_scoped_release release;
    m_engine.generate_smooth_supply(parallel, perpendicular, CONGESTION::get_wire_resource_types());
}

void ESTIMATOR::clear_demand(const py::object& type)
{
    if (type.is_none()) {
        CHANGING operation(m_operation);
        m_engine.clear_demand();
        m_window_sums_current = false;
        return;
    }
    const CONGESTION::RESOURCE_TYPE t = to_type(type);
    CHANGING operation(m_operation);
    m_engine.clear_demand(t);
    m_window_sums_current = false;
}

void ESTIMATOR::update_demand(const py::object& source, const py::object& model_value, const py::object& nets)
{
    const CONGESTION::NET_MODEL model = to_model(model_value);
    const bool is_netlist = py::isinstance<ARRAY_NETLIST>(source);
    NETLIST_LOAN loan;
    std::vector<int> lab_input;
    std::vector<int> selected;
    bool reads_supply_tables = false;
    if (model == CONGESTION::LAB_INPUT_MODEL) {
        if (is_netlist)
            throw py::value_error("LAB_INPUT_MODEL reads an (nx, ny) integer array of Lab Input demand, not a Netlist");
        if (!nets.is_none())
            throw py::value_error("nets is for the net models; LAB_INPUT_MODEL reads every tile of its array");
        lab_input = to_int_array(source, "the Lab Input demand", {get_nx(), get_ny()}).values;
        const auto negative = std::find_if(lab_input.begin(), lab_input.end(), [](int demand) { return demand < 0; });
        if (negative != lab_input.end()) {
            const auto at = negative - lab_input.begin();
            throw py::value_error("the Lab Input demand holds " + std::to_string(*negative) + " at tile (" +
                                  std::to_string(at / get_ny()) + ", " + std::to_string(at % get_ny()) +
                                  "): a count of load pins cannot be negative");
        }
        loan.lab_input = &lab_input;
    } else {
        if (!is_netlist)
            throw py::value_error("the net models read a Netlist, not " + get_type_name(source));
        const auto& netlist = source.cast<const ARRAY_NETLIST&>();
        selected = netlist.select_nets(nets);
        // The path model writes every tile of a net's pin box unchecked; the
        // box model spreads each net's box by the supply window sums.
        if (model == CONGESTION::PATH_PROBABILITY_MODEL) {
            netlist.check_pins_inside(selected, get_nx(), get_ny());
        } else {
            netlist.check_boxes_inside(selected, get_nx(), get_ny());
            reads_supply_tables = !selected.empty();
        }
        loan.nets = &netlist;
    }
    CHANGING operation(m_operation);
    if (reads_supply_tables)
        require_smooth_supply("update_demand with BOUNDING_BOX_MODEL");
    // Ctrl-C stops the net models, which leave demand as it was when an
    // exception leaves them; Lab Input is one call per tile and runs through.
    INTERRUPT_WATCH interrupt;
    if (model != CONGESTION::LAB_INPUT_MODEL)
        loan.interrupt = &interrupt;
    SCOPED_LOAN lend(m_netlist, loan);
    try {
        py::gil_scoped_release release;
        m_engine.update_demand(selected, model);
    } catch (const INTERRUPTED&) {
        interrupt.raise();
    }
}

void ESTIMATOR::smooth_wire_demand(long long parallel_dim, long long perpendicular_dim, bool uniform)
{
    const int parallel = to_window(parallel_dim, "parallel_dim");
    const int perpendicular = to_window(perpendicular_dim, "perpendicular_dim");
    CHANGING operation(m_operation);
    require_demand_smoothing_tables("smooth_wire_demand", uniform);
    py::gil_scoped_release release;
    m_engine.dispatch_smooth_demand(parallel, perpendicular, uniform, CONGESTION::get_wire_resource_types());
}

void ESTIMATOR::smooth_type_demand(long long parallel_dim, long long perpendicular_dim, const py::object& type)
{
    const int parallel = to_window(parallel_dim, "parallel_dim");
    const int perpendicular = to_window(perpendicular_dim, "perpendicular_dim");
    const std::vector<CONGESTION::RESOURCE_TYPE> resources{to_type(type)};
    CHANGING operation(m_operation);
    require_demand_smoothing_tables("smooth_type_demand", false);
    py::gil_scoped_release release;
    m_engine.dispatch_smooth_demand(parallel, perpendicular, false, resources);
}

void ESTIMATOR::update_congestion(const py::object& policy, bool build_window_sums)
{
    NETLIST_LOAN loan;
    CALLABLE_POLICY callable;
    if (py::isinstance<py::str>(policy)) {
        const std::string name = policy.cast<std::string>();
        if (name != "utilization" && name != "overflow")
            throw py::value_error("policy '" + name + "' is not 'utilization', 'overflow' or a callable");
        loan.policy = name == "utilization" ? CONGESTION_POLICY::RATIO : CONGESTION_POLICY::OVERFLOW;
    } else if (PyCallable_Check(policy.ptr())) {
        loan.callable = &callable;
        callable.function = py::reinterpret_borrow<py::object>(policy);
        for (int t = 0; t < NUM_TYPES; ++t)
            callable.type_objects[t] = py::cast(static_cast<CONGESTION::RESOURCE_TYPE>(t));
    } else {
        throw py::type_error("policy must be 'utilization', 'overflow' or a callable, not " + get_type_name(policy));
    }
    CHANGING operation(m_operation);
    require_smoothed_demand("update_congestion");
    require_smooth_supply("update_congestion");
    {
        SCOPED_LOAN lend(m_netlist, loan);
        py::gil_scoped_release release;
        m_engine.update_congestion(build_window_sums);
    }
    m_window_sums_current = true;
    if (callable.error)
        std::rethrow_exception(callable.error);
}
