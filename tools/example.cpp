// Builds an estimator for a small grid and prints its size, cookie and wire types.
#include <cstdio>

#include "fitter/h/congestion_export.h"

int main()
{
    const CONGESTION estimator(8, 6);
    std::printf("grid %d x %d\n", estimator.get_nx(), estimator.get_ny());
    std::printf("cookie %016llx\n", estimator.get_cookie());
    std::printf("wire types:");
    for (CONGESTION::RESOURCE_TYPE type : CONGESTION::get_wire_resource_types())
        std::printf(" \"%s\"", CONGESTION::get_string_for_resource_type(type));
    std::printf("\n");
    return 0;
}
