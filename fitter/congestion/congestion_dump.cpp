// Text dumps of the grids and of the netlist.
#include "fitter/congestion/congestion_impl.h"

void CONGESTION_IMPL::dump(const char*, const std::vector<int>&) const
{
    MSG_INTERNAL_ERROR::report("dump is not available yet", "CONGESTION", __FILE__, __LINE__);
}

void CONGESTION_IMPL::dump_netlist(const std::vector<int>&, const char*) const
{
    MSG_INTERNAL_ERROR::report("dump_netlist is not available yet", "CONGESTION", __FILE__, __LINE__);
}
