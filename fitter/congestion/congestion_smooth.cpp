// Smoothing dispatch and the original (scatter) smoothing algorithm.
#include "fitter/congestion/congestion_impl.h"

void CONGESTION_IMPL::dispatch_smooth_demand(int, int, bool, const std::vector<RESOURCE_TYPE>&)
{
    MSG_INTERNAL_ERROR::report("dispatch_smooth_demand is not available yet", "CONGESTION", __FILE__, __LINE__);
}

void CONGESTION_IMPL::generate_smooth_demand(int, int, RESOURCE_TYPE)
{
    MSG_INTERNAL_ERROR::report("generate_smooth_demand is not available yet", "CONGESTION", __FILE__, __LINE__);
}

void CONGESTION_IMPL::generate_smooth_wire_demand(int, int, bool)
{
    MSG_INTERNAL_ERROR::report("generate_smooth_wire_demand is not available yet", "CONGESTION", __FILE__, __LINE__);
}

void spread_demand_by_supply(int, int, int, int, int, int, int, const GRID_2D<float>&, const GRID_2D<float>&, GRID_2D<float>&)
{
    MSG_INTERNAL_ERROR::report("spread_demand_by_supply is not available yet", "CONGESTION", __FILE__, __LINE__);
}

void smear_demand_uniformly(int, int, int, int, int, int, int, const GRID_2D<float>&, GRID_2D<float>&)
{
    MSG_INTERNAL_ERROR::report("smear_demand_uniformly is not available yet", "CONGESTION", __FILE__, __LINE__);
}
