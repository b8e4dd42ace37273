// The per-tile maps of an estimate staged as files: NumPy files with an index
// (--grids) and PNG heatmaps (--heatmaps).
#ifndef CONGESTION_GRID_FILES_H
#define CONGESTION_GRID_FILES_H

#include <string>

#include "tools/heatmap.h"

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

// Stages every heatmap of `run` into the folder `dir` (made when missing) as
// FILE_STEM.png, the images drawn and encoded side by side; with a progress
// display, the phase "heatmaps" with a step for each image written.
void stage_heatmaps(OUTPUT_SET& outputs, const std::string& dir, const ESTIMATE_RUN& run, HEATMAP_SCALE scale,
                    PROGRESS* progress = nullptr);

#endif
