// The per-tile maps of an estimate as NumPy files with an index (--grids).
#ifndef CONGESTION_GRID_FILES_H
#define CONGESTION_GRID_FILES_H

#include <string>

class ESTIMATE_RUN;
class OUTPUT_SET;
class PROGRESS;

// Stages into the folder `dir` (made when missing) every per-tile map of
// `run`, each as NAME.npy (see front_end/npy_file.h): per resource type its
// supply, demand, smoothed demand, utilization, smoothed utilization and
// overflow; every column of routed.txt when the design has one; the
// baseline. Then the index grids.json (GRIDS_INDEX): its format version, the
// design, nx, ny, and for each map its name, file, dtype, shape [nx, ny],
// axes ["x", "y"] and what it holds. With a progress display, the phase
// "grids" with a step for each file written.
void stage_grids(OUTPUT_SET& outputs, const std::string& dir, const ESTIMATE_RUN& run, PROGRESS* progress = nullptr);

#endif
