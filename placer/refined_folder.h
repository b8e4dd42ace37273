// The design folder the pass writes: the placed design of FOLDER with the
// refined placement, in the form congestion-import writes a placed generic
// design, so that `congestion-import --reroute` routes it and the estimate
// tool reads it.
#ifndef CONGESTION_REFINED_FOLDER_H
#define CONGESTION_REFINED_FOLDER_H

#include <string>

#include "front_end/output_file.h"
#include "placer/placement.h"

// nets.txt of the placement: FOLDER's nets with the pins where the cells
// now are and the boxes of the pins, placed and not routed (routed lengths
// unknown, flag 4 cleared).
std::string get_nets_text(const PLACEMENT& placement);

// placement.txt: every cell on its bel now, in FOLDER's order.
std::string get_placement_text(const PLACEMENT& placement);

// meta.txt: FOLDER's, with the keys of a placed design that was not routed,
// without the times of FOLDER's import, and with `entries` (e.g.
// refined_from and the pass's settings) set in place or added at the end.
std::string get_meta_text(const PLACED_DESIGN& placed, const std::string& design_name, const META& entries);

// Stages the whole folder `out` into `outputs`: the files above and FOLDER's
// tiles.txt, netnames.txt, pins.txt, synth.json and (when there) yosys.log,
// copied; the files of a design folder that `out` may hold from an earlier
// import or pass and that this one does not write (an earlier routing's,
// which would not describe the new placement) go when the outputs are put
// in place.
void stage_refined_folder(OUTPUT_SET& outputs, const std::string& out, const PLACEMENT& placement, const META& entries);

#endif
