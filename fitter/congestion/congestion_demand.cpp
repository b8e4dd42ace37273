// Demand accumulation: net division among chunks, merge, Lab Input demand.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include <tbb/enumerable_thread_specific.h>

#include "fitter/congestion/bounding_box_batch.h"
#include "fitter/congestion/congestion_impl.h"
#include "fitter/congestion/path_probability_batch.h"
#include "host/zol_gen.h"

using namespace congestion_internal;

namespace {

// Adds the chunks' wire grids into the demand as they finish, chunk 0 first,
// and hands each set of grids, zeroed again, to a later chunk: with chunks
// started in order a call holds about one set per worker, not one per chunk,
// and faults in and zeroes only those. Each element still receives the
// chunks' values one at a time in chunk order, whatever the scheduling.
class IN_ORDER_MERGE {
 public:
    IN_ORDER_MERGE(int num_chunks, int nx, int ny, TYPE_GRIDS& demand)
        : m_done(static_cast<size_t>(num_chunks), nullptr), m_nx(nx), m_ny(ny), m_demand(demand)
    {}

    // A set of zeroed wire grids for one chunk.
    TYPE_GRIDS& acquire()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_free.empty()) {
                TYPE_GRIDS* grids = m_free.back();
                m_free.pop_back();
                return *grids;
            }
        }
        auto grids = std::make_unique<TYPE_GRIDS>();
        for (RESOURCE_TYPE type : WIRE_TYPES)
            (*grids)[type].resize(m_nx, m_ny, 0.0f);
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_sets.push_back(std::move(grids));
        return *m_sets.back();
    }

    // Records that `chunk` is done with `grids`, then merges every finished
    // chunk whose predecessors are merged. One caller merges at a time, the
    // others return at once.
    void finish(int chunk, TYPE_GRIDS& grids)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_done[chunk] = &grids;
        if (m_merging)
            return;
        m_merging = true;
        while (m_next < m_done.size() && m_done[m_next] != nullptr) {
            TYPE_GRIDS* next = m_done[m_next];
            lock.unlock();
            add_and_clear(*next);
            lock.lock();
            m_free.push_back(next);
            ++m_next;
        }
        m_merging = false;
    }

 private:
    // demand += grids, then grids = 0, in one pass.
    void add_and_clear(TYPE_GRIDS& grids)
    {
        for (RESOURCE_TYPE type : WIRE_TYPES) {
            float* out = m_demand[type].data();
            float* src = grids[type].data();
            const size_t count = static_cast<size_t>(m_nx) * static_cast<size_t>(m_ny);
            for (size_t i = 0; i < count; ++i) {
                if constexpr (CHECKED_BUILD)
                    CONGESTION_CHECK(src[i] != 0.0f || !std::signbit(src[i]),
                                     "POSITIVE_ZERO: a chunk's demand grid holds -0.0");
                out[i] = src[i] + out[i];
                src[i] = 0.0f;
            }
        }
    }

    std::mutex m_mutex;
    std::vector<std::unique_ptr<TYPE_GRIDS>> m_sets;
    std::vector<TYPE_GRIDS*> m_free;
    std::vector<TYPE_GRIDS*> m_done;  // per chunk, once finished
    size_t m_next = 0;                // the first chunk not merged yet
    bool m_merging = false;
    int m_nx;
    int m_ny;
    TYPE_GRIDS& m_demand;
};

}  // namespace

void CONGESTION_IMPL::update_demand(const std::vector<int>& nets, CONGESTION::NET_MODEL model)
{
    const GEN_PROFILER profiler = profile_operation("CONGESTION_update_demand");

    // Compared as unsigned so that negative values fall into the refusal.
    const unsigned model_value = static_cast<unsigned>(model);
    if (model_value == CONGESTION::LAB_INPUT_MODEL) {
        CONGESTION_CHECK(m_net_if != nullptr, "m_net_if != nullptr");
        GRID_2D<float>& lab_input = m_demand[CONGESTION::LAB_INPUT];
        parallel_loop(m_nx, [&](int x) {
            for (int y = 0; y < m_ny; ++y)
                lab_input(x, y) = static_cast<float>(m_net_if->get_lab_input_demand(x, y));
        });
        return;
    }
    CONGESTION_CHECK(model_value == CONGESTION::PATH_PROBABILITY_MODEL || model_value == CONGESTION::BOUNDING_BOX_MODEL,
                     "Unknown congestion net model");

    // Chunk c owns the nets at positions c, c + K, ... and its own grids, so
    // a net always lands in the same chunk whatever the thread count. Only
    // the chunks that own a net, a prefix of them, run and get grids, and
    // only for the four wire types that the net models write; a chunk
    // without nets would only check the netlist interface, which is done
    // once for all of them. Leaving out the merge
    // of the other grids' zeros changes no bit: demand only ever holds +0.0
    // from a clear, whole numbers from the Lab Input model and sums made
    // from +0.0 in round-to-nearest, none of them -0.0 or a signalling NaN,
    // and for every other value x, +0.0 + x is x. A negative count makes
    // the vector constructor in the merge throw std::length_error before
    // anything has changed.
    const int num_chunks = m_num_chunks;
    const int chunks_with_nets = static_cast<int>(std::min(nets.size(), static_cast<size_t>(num_chunks)));
    if (chunks_with_nets < num_chunks)
        CONGESTION_CHECK(m_net_if != nullptr, "net_if != nullptr");
    // With no chunk owning a net there is nothing to add or to merge.
    if (chunks_with_nets == 0 && num_chunks >= 0)
        return;
    IN_ORDER_MERGE merge(num_chunks, m_nx, m_ny, m_demand);
    // Chunks are merged while later ones still run, so the wire demand is
    // kept until the call succeeds: a chunk that throws (out of memory)
    // leaves the demand as it was.
    TYPE_GRIDS saved;
    parallel_loop(static_cast<int>(WIRE_TYPES.size()), [&](int k) {
        const RESOURCE_TYPE type = WIRE_TYPES[static_cast<size_t>(k)];
        saved[type] = m_demand[type];
    });
    tbb::enumerable_thread_specific<PATH_BATCH> path_batches;
    tbb::enumerable_thread_specific<BOX_BATCH> box_batches;
    try {
        parallel_loop_in_order(chunks_with_nets, [&](int chunk) {
            TYPE_GRIDS& grids = merge.acquire();
            if (model_value == CONGESTION::PATH_PROBABILITY_MODEL)
                add_path_probability_demand(nets, chunk, num_chunks, grids, m_net_if, &path_batches.local());
            else
                add_bounding_box_demand(m_supply, m_supply_down_left_sum, nets, chunk, num_chunks, grids, m_net_if,
                                        &box_batches.local());
            merge.finish(chunk, grids);
        });
    } catch (...) {
        for (RESOURCE_TYPE type : WIRE_TYPES)
            std::swap(m_demand[type], saved[type]);
        throw;
    }
}
