// Congestion update through the caller's compute_congestion.
#include "fitter/congestion/congestion_impl.h"

void CONGESTION_IMPL::update_congestion(bool)
{
    MSG_INTERNAL_ERROR::report("update_congestion is not available yet", "CONGESTION", __FILE__, __LINE__);
}
