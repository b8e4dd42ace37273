// The new (share, summed-area table, gather) smoothing and the smoothed supply.
#include "fitter/congestion/congestion_impl.h"

void CONGESTION_IMPL::generate_smooth_demand_smeared_new(int, int, bool, const std::vector<RESOURCE_TYPE>&)
{
    MSG_INTERNAL_ERROR::report("generate_smooth_demand_smeared_new is not available yet", "CONGESTION", __FILE__, __LINE__);
}

void CONGESTION_IMPL::compute_demand_shares(int, int, const GRID_2D<float>&, GRID_2D<float>&, bool) const
{
    MSG_INTERNAL_ERROR::report("compute_demand_shares is not available yet", "CONGESTION", __FILE__, __LINE__);
}

void CONGESTION_IMPL::gather_from_window(int, int, const GRID_2D<float>&, const GRID_2D<float>&, GRID_2D<float>&, bool, bool) const
{
    MSG_INTERNAL_ERROR::report("gather_from_window is not available yet", "CONGESTION", __FILE__, __LINE__);
}

void CONGESTION_IMPL::generate_smooth_supply(int, int, const std::vector<RESOURCE_TYPE>&)
{
    MSG_INTERNAL_ERROR::report("generate_smooth_supply is not available yet", "CONGESTION", __FILE__, __LINE__);
}
