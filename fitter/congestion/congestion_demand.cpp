// Demand accumulation: net division among chunks, merge, Lab Input demand.
#include <algorithm>
#include <cstddef>

#include <tbb/enumerable_thread_specific.h>

#include "fitter/congestion/congestion_impl.h"
#include "fitter/congestion/path_probability_arrays.h"
#include "host/zol_gen.h"

using namespace congestion_internal;

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
    CONGESTION_CHECK(model_value == CONGESTION::PATH_PROBABILITY_MODEL ||
                         model_value == CONGESTION::BOUNDING_BOX_MODEL,
                     "Unknown congestion net model");

    // A negative count makes the vector constructor throw std::length_error
    // before anything has changed.
    const int num_chunks = m_num_chunks;
    std::vector<TYPE_GRIDS> chunk_grids(static_cast<size_t>(num_chunks));
    // Chunk c owns the nets at positions c, c + K, ... and its own grids, so
    // a net always lands in the same chunk whatever the thread count. Only
    // the chunks that own a net, a prefix of them, get grids, and only for
    // the four wire types that the net models write. Leaving out the merge
    // of the other grids' zeros changes no bit: demand only ever holds +0.0
    // from a clear, whole numbers from the Lab Input model and sums made
    // from +0.0 in round-to-nearest, none of them -0.0 or a signalling NaN,
    // and for every other value x, +0.0 + x is x.
    const int chunks_with_nets = static_cast<int>(std::min(nets.size(), chunk_grids.size()));
    tbb::enumerable_thread_specific<PATH_ARRAYS> path_arrays;
    parallel_loop(num_chunks, [&](int chunk) {
        TYPE_GRIDS& grids = chunk_grids[chunk];
        if (chunk < chunks_with_nets)
            for (RESOURCE_TYPE type : WIRE_TYPES)
                grids[type].resize(m_nx, m_ny, 0.0f);
        if (model_value == CONGESTION::PATH_PROBABILITY_MODEL)
            add_path_probability_demand(nets, chunk, num_chunks, grids, m_net_if, &path_arrays.local());
        else
            add_bounding_box_demand(m_supply, m_supply_down_left_sum, nets, chunk, num_chunks, grids, m_net_if);
    });

    // Each element receives the chunks' values one at a time, chunk 0 first.
    for (RESOURCE_TYPE type : WIRE_TYPES)
        merge_chunks(
            chunks_with_nets, [&](int c) -> const GRID_2D<float>& { return chunk_grids[c][type]; }, m_nx, m_ny,
            m_demand[type]);
}
