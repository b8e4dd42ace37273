// Load-time state, construction, demand reset and the state hash.
#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <boost/assert.hpp>

#include "fitter/congestion/congestion_impl.h"
#include "host/zol_cfg_ini.h"
#include "host/zol_mem.h"

namespace congestion_internal {

// Built in this order while the library loads and torn down in reverse when
// it unloads; all of them live in this one file so the order is fixed.
static MEM_INITIALIZER s_mem_initializer_1("CONGESTION");
static MEM_INITIALIZER s_mem_initializer_2("CONGESTION");
bool s_use_orig_algorithm = cfg_is_on(std::string("congestion_use_orig"), false).get_value();
const std::vector<RESOURCE_TYPE> WIRE_TYPES = {CONGESTION::HORIZONTAL_RIGHT, CONGESTION::HORIZONTAL_LEFT,
                                               CONGESTION::VERTICAL_UP, CONGESTION::VERTICAL_DOWN};
static MEM_INITIALIZER s_mem_initializer_3("CONGESTION");

void debug_msg(MSG_D_LEVEL level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    msg_local_vdebug("CONGESTION", level, format, args);
    va_end(args);
}

}  // namespace congestion_internal

using namespace congestion_internal;

CONGESTION_IMPL::CONGESTION_IMPL(int nx, int ny, NETLIST_IF* net_if)
    : m_nx(nx), m_ny(ny), m_num_chunks(16), m_net_if(net_if), m_max_supply{}
{
    for (int type = 0; type < CONGESTION::NUM_RESOURCE_TYPES; ++type)
        m_max_supply[type] = 0.0f;
    // The grids are independent, so they are made side by side: zeroing
    // fresh pages is most of the cost of a new object.
    std::vector<GRID_2D<float>*> grids;
    for (int type = 0; type < CONGESTION::NUM_RESOURCE_TYPES; ++type)
        for (TYPE_GRIDS* kind :
             {&m_supply, &m_demand, &m_smooth_demand_orig, &m_smooth_demand_smeared_new, &m_congestion})
            grids.push_back(&(*kind)[type]);
    parallel_loop(static_cast<int>(grids.size()), [&](int i) { grids[i]->resize(m_nx, m_ny, 0.0f); });
    debug_msg(MSG_D_LEVEL_2, "Using %s congestion algorithm", s_use_orig_algorithm ? "original" : "new");
}

void CONGESTION_IMPL::clear_demand()
{
    parallel_loop(CONGESTION::NUM_RESOURCE_TYPES, [&](int type) { clear_demand(static_cast<RESOURCE_TYPE>(type)); });
}

void CONGESTION_IMPL::clear_demand(RESOURCE_TYPE type)
{
    m_demand[type].resize(m_nx, m_ny, 0.0f);
    m_smooth_demand_orig[type].resize(m_nx, m_ny, 0.0f);
    m_smooth_demand_smeared_new[type].resize(m_nx, m_ny, 0.0f);
    m_congestion[type].resize(m_nx, m_ny, 0.0f);
}

namespace {

// The 64-bit hash_combine mix, written out so that the cookie does not
// change with the Boost release.
void combine(uint64_t& seed, uint64_t value)
{
    const uint64_t mul = 0xc6a4a7935bd1e995ULL;
    uint64_t k = value * mul;
    k ^= k >> 47;
    k *= mul;
    seed ^= k;
    seed *= mul;
    seed += 0xe6546b64ULL;
}

// +0.0 and -0.0 hash alike; every other value, NaNs included, by its bits.
uint64_t hash_value(float value)
{
    if (value == 0.0f)
        return 0;
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}
uint64_t hash_value(unsigned value) { return value; }

template <typename T>
uint64_t hash_grid(const GRID_2D<T>& grid)
{
    uint64_t seed = 0;
    for (const T& value : grid)
        combine(seed, hash_value(value));
    return seed;
}

uint64_t hash_int(int value) { return static_cast<uint64_t>(static_cast<int64_t>(value)); }

}  // namespace

unsigned long long CONGESTION_IMPL::get_cookie() const
{
    // Each grid's hash is a chain of its own from a zero seed, so the grids
    // are hashed side by side; the hashes are then combined in a fixed order,
    // the kinds of grids in the order of this list.
    const std::array<const TYPE_GRIDS*, 7> kinds = {&m_demand,
                                                    &m_congestion,
                                                    &m_congestion_down_left_sum,
                                                    &m_smooth_demand_orig,
                                                    &m_supply,
                                                    &m_supply_down_left_sum,
                                                    &m_smooth_supply};
    const int num_float_grids = static_cast<int>(kinds.size()) * CONGESTION::NUM_RESOURCE_TYPES;
    std::vector<uint64_t> grid_hashes(static_cast<std::size_t>(num_float_grids) + 1);
    parallel_loop(num_float_grids + 1, [&](int i) {
        const int kind = i / CONGESTION::NUM_RESOURCE_TYPES;
        grid_hashes[i] = i == num_float_grids ? hash_grid(m_non_empty_down_left_sum)
                                              : hash_grid((*kinds[kind])[i % CONGESTION::NUM_RESOURCE_TYPES]);
    });
    std::size_t next = 0;
    const auto combine_next_kind = [&](uint64_t& seed) {
        for (int t = 0; t < CONGESTION::NUM_RESOURCE_TYPES; ++t)
            combine(seed, grid_hashes[next++]);
    };

    uint64_t seed = 0;
    combine(seed, hash_int(m_nx));
    combine(seed, hash_int(m_ny));
    combine(seed, hash_int(m_num_chunks));
    combine_next_kind(seed);  // demand
    combine_next_kind(seed);  // congestion
    combine_next_kind(seed);  // congestion window-sum tables
    combine(seed, m_smooth_demand_is_valid ? 1 : 0);
    combine_next_kind(seed);  // smoothed demand of the original algorithm
    combine(seed, m_smooth_supply_is_valid.load(std::memory_order_relaxed) ? 1 : 0);
    combine_next_kind(seed);  // supply
    combine_next_kind(seed);  // supply window-sum tables
    combine(seed, grid_hashes[num_float_grids]);
    combine_next_kind(seed);  // smoothed supply
    uint64_t max_supply_hash = 0;
    for (float value : m_max_supply)
        combine(max_supply_hash, hash_value(value));
    combine(seed, max_supply_hash);
    return seed;
}

const CONGESTION_IMPL::TYPE_GRIDS& CONGESTION_IMPL::get_grids(GRID_KIND kind) const
{
    switch (kind) {
    case GRID_KIND::DEMAND: return m_demand;
    case GRID_KIND::SUPPLY: return m_supply;
    case GRID_KIND::SUPPLY_TABLE: return m_supply_down_left_sum;
    case GRID_KIND::SMOOTH_SUPPLY: return m_smooth_supply;
    case GRID_KIND::SMOOTH_DEMAND: return s_use_orig_algorithm ? m_smooth_demand_orig : m_smooth_demand_smeared_new;
    case GRID_KIND::SMOOTH_DEMAND_ORIG: return m_smooth_demand_orig;
    case GRID_KIND::SMOOTH_DEMAND_NEW: return m_smooth_demand_smeared_new;
    case GRID_KIND::CONGESTION: return m_congestion;
    case GRID_KIND::CONGESTION_TABLE: return m_congestion_down_left_sum;
    }
    return m_demand;
}

bool CONGESTION_IMPL::is_smooth_demand_valid() const
{
    return s_use_orig_algorithm ? m_smooth_demand_is_valid : m_smooth_demand_smeared_new_is_valid;
}

namespace boost {

// Boost containers report their broken assertions through the host reporter.
void assertion_failed(char const* expr, char const* /*function*/, char const* file, long line)
{
    MSG_INTERNAL_ERROR::report(expr, "CONGESTION", file, static_cast<int>(line));
}

void assertion_failed_msg(char const* expr, char const* /*msg*/, char const* /*function*/, char const* file, long line)
{
    MSG_INTERNAL_ERROR::report(expr, "CONGESTION", file, static_cast<int>(line));
}

}  // namespace boost
