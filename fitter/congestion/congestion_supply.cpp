// Supply: write-once tile capacities, maxima and window averages.
#include "fitter/congestion/congestion_impl.h"

void CONGESTION_IMPL::set_supply(int, int, RESOURCE_TYPE, float)
{
    MSG_INTERNAL_ERROR::report("set_supply is not available yet", "CONGESTION", __FILE__, __LINE__);
}

float CONGESTION_IMPL::get_supply(int, int, RESOURCE_TYPE) const
{
    MSG_INTERNAL_ERROR::report("get_supply is not available yet", "CONGESTION", __FILE__, __LINE__);
}

float CONGESTION_IMPL::get_max_supply(RESOURCE_TYPE) const
{
    MSG_INTERNAL_ERROR::report("get_max_supply is not available yet", "CONGESTION", __FILE__, __LINE__);
}

float CONGESTION_IMPL::get_avg_supply(RESOURCE_TYPE, int, int, int) const
{
    MSG_INTERNAL_ERROR::report("get_avg_supply is not available yet", "CONGESTION", __FILE__, __LINE__);
}
