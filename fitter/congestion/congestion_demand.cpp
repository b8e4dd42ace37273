// Demand accumulation: net division among chunks, merge, Lab Input demand.
#include "fitter/congestion/congestion_impl.h"

void CONGESTION_IMPL::update_demand(const std::vector<int>&, CONGESTION::NET_MODEL)
{
    MSG_INTERNAL_ERROR::report("update_demand is not available yet", "CONGESTION", __FILE__, __LINE__);
}
