// The words of the tool's settings, one table per setting, read both ways:
// the command line's parser finds the value of a word, the text and JSON
// reports the word of a value.
#ifndef CONGESTION_OPTION_WORDS_H
#define CONGESTION_OPTION_WORDS_H

#include <cstddef>

#include "fitter/h/congestion_export.h"
#include "front_end/design_netlist.h"
#include "front_end/front_end.h"
#include "tools/heatmap.h"

template <typename VALUE>
struct OPTION_WORD {
    VALUE value;
    const char* word;
};

inline constexpr OPTION_WORD<CONGESTION::NET_MODEL> MODEL_WORDS[] = {{CONGESTION::PATH_PROBABILITY_MODEL, "path"},
                                                                     {CONGESTION::BOUNDING_BOX_MODEL, "bbox"}};
inline constexpr OPTION_WORD<bool> YES_NO_WORDS[] = {{false, "no"}, {true, "yes"}};
inline constexpr OPTION_WORD<CONGESTION_POLICY> POLICY_WORDS[] = {{CONGESTION_POLICY::RATIO, "ratio"},
                                                                  {CONGESTION_POLICY::OVERFLOW, "overflow"}};
inline constexpr OPTION_WORD<SUPPLY_MAPPING> SUPPLY_WORDS[] = {{SUPPLY_MAPPING::HALF, "half"},
                                                               {SUPPLY_MAPPING::FULL, "full"}};
inline constexpr OPTION_WORD<WIRELENGTH_SOURCE> WIRELENGTH_WORDS[] = {{WIRELENGTH_SOURCE::HALF_PERIMETER, "hpwl"},
                                                                      {WIRELENGTH_SOURCE::ROUTED_ORACLE, "oracle"}};
inline constexpr OPTION_WORD<HEATMAP_SCALE> HEATMAP_SCALE_WORDS[] = {{HEATMAP_SCALE::SHARED, "shared"},
                                                                     {HEATMAP_SCALE::SEPARATE, "separate"}};

// The word of `value`, which the table holds.
template <typename VALUE, std::size_t N>
const char* get_word(const OPTION_WORD<VALUE> (&table)[N], VALUE value)
{
    for (const OPTION_WORD<VALUE>& entry : table)
        if (entry.value == value)
            return entry.word;
    return "";
}

#endif
