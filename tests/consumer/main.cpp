// Builds an estimator through the installed package and prints what it sees.
#include <cstdio>

#include "fitter/h/congestion_export.h"

int main()
{
    CONGESTION estimator(4, 3);
    CONGESTION moved(std::move(estimator));
    const auto& wires = CONGESTION::get_wire_resource_types();
    std::printf("grid %d x %d, wire types %zu, first %s\n", moved.get_nx(), moved.get_ny(), wires.size(),
                CONGESTION::get_string_for_resource_type(wires.front()));
    return 0;
}
