// The bounding-box net model.
#include "fitter/congestion/congestion_impl.h"

void add_bounding_box_demand(const CONGESTION_IMPL&, const std::vector<int>&, int, int, TYPE_GRIDS&, const NETLIST_IF*)
{
    MSG_INTERNAL_ERROR::report("add_bounding_box_demand is not available yet", "CONGESTION", __FILE__, __LINE__);
}
