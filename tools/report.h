// The estimate's report as text for a terminal and as JSON.
#ifndef CONGESTION_REPORT_H
#define CONGESTION_REPORT_H

#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "tools/estimate.h"

// Option words shared by the command line, the text report and the JSON,
// from the tables of tools/option_words.h.
const char* get_model_word(CONGESTION::NET_MODEL model);
const char* get_policy_word(CONGESTION_POLICY policy);
const char* get_supply_word(SUPPLY_MAPPING mapping);
const char* get_wirelength_word(WIRELENGTH_SOURCE source);

// Writes the report as aligned text tables. Without timings the phase times
// and the worker-thread count, which describe the run rather than the
// estimate, are left out, so that the reports of two runs compare byte for
// byte.
void print_report(std::ostream& os, const REPORT& report, bool with_timings = true);

// The version of the JSON report's form, its field "format_version": raised
// whenever a field changes its meaning; a field is never taken away.
constexpr int REPORT_FORMAT_VERSION = 1;

// The whole report as JSON; a figure that is not a number becomes null. The
// cookie is a string of 16 hexadecimal digits, since many JSON readers hold
// numbers as doubles. Each resource has both peaks, labelled:
// peak_utilization (demand before smoothing) and smoothed_peak_utilization.
// Without timings as for print_report.
nlohmann::json get_report_json(const REPORT& report, bool with_timings = true);

// The verdict's members of the JSON's routability object: verdict,
// min_supply_scale, margin (null when infinite), predicted_min_tracks and
// tracks (null without a track count), figure and the rule's constants.
nlohmann::json get_routability_json(const ROUTABILITY& routability, int tracks);

// The cookie as 16 hexadecimal digits.
std::string format_cookie(unsigned long long cookie);

#endif
