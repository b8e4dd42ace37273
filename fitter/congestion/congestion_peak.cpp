// Peak utilization search.
#include "fitter/congestion/congestion_impl.h"

std::pair<float, CONGESTION::LOC> CONGESTION_IMPL::get_peak_utilization(int, RESOURCE_TYPE, bool) const
{
    MSG_INTERNAL_ERROR::report("get_peak_utilization is not available yet", "CONGESTION", __FILE__, __LINE__);
}
