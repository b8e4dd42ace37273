// ESTIMATOR, behind the Python class Estimator: one estimator engine, the
// netlist interface it calls, and the checks that turn every input error
// into a ValueError before a fatal check of the engine could end the process.
#ifndef CONGESTION_PYTHON_ESTIMATOR_H
#define CONGESTION_PYTHON_ESTIMATOR_H

#include <array>
#include <atomic>
#include <exception>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "fitter/congestion/congestion_impl.h"
#include "front_end/front_end.h"
#include "python/src/array_netlist.h"
#include "python/src/interrupt.h"

namespace py = pybind11;

// A Python policy during one update_congestion. The engine calls it from its
// worker threads; each call takes the GIL. The first Python error is kept
// and raised once the engine returns; the remaining tiles then get NaN
// without calling Python again.
struct CALLABLE_POLICY {
    py::object function;
    std::array<py::object, CONGESTION::NUM_RESOURCE_TYPES> type_objects;
    std::atomic<bool> failed{false};
    std::exception_ptr error;  // written and read under the GIL

    float call(float smooth_demand, float smooth_supply, CONGESTION::RESOURCE_TYPE type);
};

// What one engine call may read through the netlist interface.
struct NETLIST_LOAN {
    const ARRAY_NETLIST* nets = nullptr;
    const std::vector<int>* lab_input = nullptr;  // nx * ny, x major
    CONGESTION_POLICY policy = CONGESTION_POLICY::RATIO;
    CALLABLE_POLICY* callable = nullptr;   // instead of `policy` when set
    INTERRUPT_WATCH* interrupt = nullptr;  // polled once per net
};

// The engine's netlist interface. It reads what the current call has lent
// it, so one engine serves any Netlist, Lab Input array and policy.
class BINDING_NETLIST : public FLAT_NETLIST {
 public:
    explicit BINDING_NETLIST(int ny) : m_ny(ny) {}
    void lend(const NETLIST_LOAN& loan);

    int get_num_pins(int net) const override
    {
        poll_interrupt();
        return FLAT_NETLIST::get_num_pins(net);
    }
    float compute_congestion(float smooth_demand, float smooth_supply, CONGESTION::RESOURCE_TYPE type) const override;
    void get_bounding_box(int net, int* net_xl, int* net_xr, int* net_yb, int* net_yt) const override
    {
        poll_interrupt();
        FLAT_NETLIST::get_bounding_box(net, net_xl, net_xr, net_yb, net_yt);
    }

 private:
    void poll_interrupt() const
    {
        if (m_loan.interrupt)
            m_loan.interrupt->poll();
    }

    int m_ny;
    NETLIST_LOAN m_loan;
};

// Lends the netlist interface what one engine call reads, until the scope ends.
class SCOPED_LOAN {
 public:
    SCOPED_LOAN(BINDING_NETLIST& netlist, const NETLIST_LOAN& loan) : m_netlist(netlist) { netlist.lend(loan); }
    ~SCOPED_LOAN() { m_netlist.lend(NETLIST_LOAN{}); }
    SCOPED_LOAN(const SCOPED_LOAN&) = delete;
    SCOPED_LOAN& operator=(const SCOPED_LOAN&) = delete;

 private:
    BINDING_NETLIST& m_netlist;
};

// Operations on one engine must not overlap. An overlap (another Python
// thread while this one runs without the GIL, or a Python policy calling
// back) is refused with RuntimeError, since waiting could deadlock on the
// GIL. LOCK is std::unique_lock for an operation that changes the engine,
// std::shared_lock for one that only reads, so that readers may overlap.
template <typename LOCK>
class OPERATION {
 public:
    explicit OPERATION(std::shared_mutex& mutex) : m_lock(mutex, std::try_to_lock)
    {
        if (!m_lock.owns_lock())
            throw std::runtime_error(
                "the Estimator is running another operation (from another thread, or "
                "the congestion policy is calling back)");
    }

 private:
    LOCK m_lock;
};
using CHANGING = OPERATION<std::unique_lock<std::shared_mutex>>;
using READING = OPERATION<std::shared_lock<std::shared_mutex>>;

class ESTIMATOR {
 public:
    ESTIMATOR(long long nx, long long ny);

    int get_nx() const { return m_engine.get_nx(); }
    int get_ny() const { return m_engine.get_ny(); }
    int get_num_chunks() const;
    void set_num_chunks(long long num_chunks);
    unsigned long long get_cookie();

    // --- supply ---
    void set_supply(const py::object& supply);
    float get_supply(long long x, long long y, const py::object& type);
    float get_max_supply(const py::object& type);
    float get_avg_supply(const py::object& type, const py::object& x, const py::object& y,
                         const py::object& window_size);
    void smooth_supply(long long parallel_dim, long long perpendicular_dim);

    // --- demand and smoothing ---
    void clear_demand(const py::object& type);
    void update_demand(const py::object& source, const py::object& model, const py::object& nets);
    void smooth_wire_demand(long long parallel_dim, long long perpendicular_dim, bool uniform);
    void smooth_type_demand(long long parallel_dim, long long perpendicular_dim, const py::object& type);
    void update_congestion(const py::object& policy, bool build_window_sums);

    // --- point queries and whole grids, (5, nx, ny) ---
    float get_demand(long long x, long long y, const py::object& type);
    float get_smooth_demand(long long x, long long y, const py::object& type);
    float get_util(long long x, long long y, const py::object& type);
    float get_overflow(long long x, long long y, const py::object& type);
    py::array_t<float> get_supply_grids();
    py::array_t<float> get_smooth_supply_grids();
    py::array_t<float> get_demand_grids();
    py::array_t<float> get_smooth_demand_grids();
    py::array_t<float> get_util_grids();
    py::array_t<float> get_congestion_grids();
    py::array_t<float> get_overflow_grids();

    // --- totals and metrics ---
    float get_total_demand(const py::object& type);
    float get_total_overflow(const py::object& type);
    py::tuple get_peak_utilization(long long dim, const py::object& type, bool debug);
    float get_avg_chip_utilization(float threshold);
    float get_congestion_in_window(const py::object& type, long long xmin, long long xmax, long long ymin,
                                   long long ymax);
    int get_num_non_empty_in_window(long long xmin, long long xmax, long long ymin, long long ymax);
    // The estimator tool's routability verdict on the box demand of the
    // listed nets against the supply, as a dict, and that box demand
    // (routability.cpp).
    py::dict get_routability(const ARRAY_NETLIST& netlist, const py::object& tracks, const py::object& nets,
                             const py::object& starting_share, const py::object& tile_inputs);
    py::array_t<double> get_box_demand(const ARRAY_NETLIST& netlist, const py::object& nets, double extent) const;

    // --- text dumps ---
    void dump(const py::object& path, const py::object& skip_cols);
    void dump_netlist(const py::object& path, const ARRAY_NETLIST& netlist, const py::object& nets);

 private:
    int to_x(long long x) const;
    // The listed nets (default all), ValueError unless every non-empty box
    // lies in the grid.
    std::vector<int> select_boxes(const ARRAY_NETLIST& netlist, const py::object& nets) const;
    int to_y(long long y) const;
    // A tile and type of a point query, validated in this order: type, x, y.
    struct TILE {
        int x;
        int y;
        CONGESTION::RESOURCE_TYPE type;
    };
    TILE to_tile(long long x, long long y, const py::object& type) const;
    void check_window(long long xmin, long long xmax, long long ymin, long long ymax) const;
    // The smoothed supply, its window sums and the non-empty table, built
    // since the last set_supply that wrote something.
    void require_smooth_supply(const char* operation) const;
    void require_smoothed_demand(const char* operation) const;
    void require_demand_smoothing_tables(const char* operation, bool uniform) const;
    py::array_t<float> copy_grids(const CONGESTION_IMPL::TYPE_GRIDS& grids) const;
    template <typename QUERY>
    py::array_t<float> query_grids(const QUERY& query) const;

    BINDING_NETLIST m_netlist;  // before m_engine, which keeps its address
    CONGESTION_IMPL m_engine;
    std::shared_mutex m_operation;
    // The congestion window sums come from the current congestion grids (or
    // are zero without build_window_sums): set by update_congestion, cleared
    // by clear_demand, which zeroes the grids but leaves the sums.
    bool m_window_sums_current = false;
};

#endif
