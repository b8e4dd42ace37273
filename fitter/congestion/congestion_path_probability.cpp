// The path-probability net model.
#include "fitter/congestion/congestion_impl.h"

void add_path_probability_demand(const std::vector<int>&, int, int, TYPE_GRIDS&, const NETLIST_IF*)
{
    MSG_INTERNAL_ERROR::report("add_path_probability_demand is not available yet", "CONGESTION", __FILE__, __LINE__);
}
