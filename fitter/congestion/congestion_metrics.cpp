// Chip and window metrics: average utilization, overflow, window sums.
#include "fitter/congestion/congestion_impl.h"

float CONGESTION_IMPL::get_avg_chip_utilization(float) const
{
    MSG_INTERNAL_ERROR::report("get_avg_chip_utilization is not available yet", "CONGESTION", __FILE__, __LINE__);
}

float CONGESTION_IMPL::get_apl_style_congestion(int, int, RESOURCE_TYPE) const
{
    MSG_INTERNAL_ERROR::report("get_apl_style_congestion is not available yet", "CONGESTION", __FILE__, __LINE__);
}

float CONGESTION_IMPL::get_total_apl_style_congestion(RESOURCE_TYPE) const
{
    MSG_INTERNAL_ERROR::report("get_total_apl_style_congestion is not available yet", "CONGESTION", __FILE__, __LINE__);
}

float CONGESTION_IMPL::get_congestion_in_window(RESOURCE_TYPE, int, int, int, int) const
{
    MSG_INTERNAL_ERROR::report("get_congestion_in_window is not available yet", "CONGESTION", __FILE__, __LINE__);
}

int CONGESTION_IMPL::get_num_non_empty_in_window(int, int, int, int) const
{
    MSG_INTERNAL_ERROR::report("get_num_non_empty_in_window is not available yet", "CONGESTION", __FILE__, __LINE__);
}

