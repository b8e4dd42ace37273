// Text and JSON forms of the estimate's report.
#include "tools/report.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <optional>
#include <vector>

#include "tools/option_words.h"

namespace {

// printf-style formatting into a std::string.
std::string format(const char* pattern, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(buffer, sizeof buffer, pattern, args);
    va_end(args);
    return buffer;
}

std::string format_figure(double value) { return std::isfinite(value) ? format("%8.3f", value) : format("%8s", "n/a"); }

// Marks the peak cells of a type that no tile supplies.
constexpr const char* NO_PEAK = "none";
// Spaces between the columns of a table.
constexpr std::size_t COLUMN_GAP = 2;

// Rows of cells under their headers, each column as wide as its widest cell
// and COLUMN_GAP apart: the first left-aligned, the others right-aligned.
void print_table(std::ostream& os, const std::vector<std::string>& headers,
                 const std::vector<std::vector<std::string>>& rows)
{
    std::vector<std::size_t> widths;
    for (const std::string& header : headers)
        widths.push_back(header.size());
    for (const std::vector<std::string>& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    const auto print_row = [&](const std::vector<std::string>& cells) {
        std::string line;
        for (std::size_t c = 0; c < cells.size(); ++c) {
            const std::string padding(widths[c] - cells[c].size(), ' ');
            line += c == 0 ? cells[c] + padding : std::string(COLUMN_GAP, ' ') + padding + cells[c];
        }
        os << line << "\n";
    };
    print_row(headers);
    for (const std::vector<std::string>& row : rows)
        print_row(row);
}

nlohmann::json get_number(double value)
{
    return std::isfinite(value) ? nlohmann::json(value) : nlohmann::json(nullptr);
}

nlohmann::json get_agreement_json(const AGREEMENT& agreement)
{
    return {{"pearson", get_number(agreement.pearson)},
            {"spearman", get_number(agreement.spearman)},
            {"top10_share", get_number(agreement.top_share)}};
}

// The supply setting in force: a directional design's supply is its own.
const char* get_supply_setting(const REPORT& r)
{
    return r.form == DESIGN_FORM::DIRECTIONAL ? DIRECTIONAL_WORD : get_supply_word(r.options.supply);
}

// The verdict line: the rule's verdict and margin, what it predicts of the
// design's channel, which its form tells (a count of tracks per direction,
// or iCE40's fixed channel), and the threshold of the device it assumed or
// read.
std::string format_verdict(const REPORT& r)
{
    const ROUTABILITY& v = r.routability;
    if (!std::isfinite(v.min_supply_scale))
        return "verdict: does not route (no tile has wire supply, and the nets need wires)\n";
    std::string line =
        format("verdict: %s, margin %s (routes with %.1f%% of its wire supply or more", get_verdict_word(v),
               std::isfinite(v.margin) ? format("%.3f", v.margin).c_str() : "n/a", 100.0 * v.min_supply_scale);
    const double threshold = get_routability_threshold(ROUTABILITY_RULE_CALIBRATED, v.device);
    if (r.form == DESIGN_FORM::UNDIRECTED)
        return line + format(
                          "; the rule is calibrated on generic designs, here with the default generic device's "
                          "threshold %.3f, and every iCE40 design routes on its fixed channel)\n",
                          threshold);
    if (r.tracks != NO_TRACKS)
        line += format(": predicted minimum channel %d tracks per direction, this design has %d",
                       v.predicted_min_tracks, r.tracks);
    line += format("; threshold %.3f for %.3f of the tracks starting a wire in a tile and %d inputs a logic tile",
                   threshold, v.device.starting_share, v.device.tile_inputs);
    return line + (v.device.assumed ? ", the default generic device's: meta.txt does not describe the device)\n"
                                    : ", from meta.txt)\n");
}

}  // namespace

const char* get_model_word(CONGESTION::NET_MODEL model) { return get_word(MODEL_WORDS, model); }
const char* get_policy_word(CONGESTION_POLICY policy) { return get_word(POLICY_WORDS, policy); }
const char* get_supply_word(SUPPLY_MAPPING mapping) { return get_word(SUPPLY_WORDS, mapping); }
const char* get_wirelength_word(WIRELENGTH_SOURCE source) { return get_word(WIRELENGTH_WORDS, source); }

std::string format_cookie(unsigned long long cookie) { return format("%016llx", cookie); }

// The routability object's values as JSON: an empty number as null, the rule
// as an object of its fields.
struct ROUTABILITY_JSON_VALUE {
    template <typename T>
    nlohmann::json operator()(const T& value) const
    {
        return value;
    }
    template <typename T>
    nlohmann::json operator()(const std::optional<T>& value) const
    {
        return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
    }
    nlohmann::json operator()(const RULE_IN_FORCE& rule) const
    {
        nlohmann::json object = nlohmann::json::object();
        visit_rule_fields(rule, [&](const char* name, const auto& value) { object[name] = (*this)(value); });
        return object;
    }
};

nlohmann::json get_routability_json(const ROUTABILITY& routability, int tracks)
{
    nlohmann::json object = nlohmann::json::object();
    visit_routability_fields(routability, tracks, [&object](const char* name, const auto& value) {
        object[name] = ROUTABILITY_JSON_VALUE()(value);
    });
    return object;
}

void print_report(std::ostream& os, const REPORT& r, bool with_timings)
{
    const ESTIMATE_OPTIONS& o = r.options;
    os << format("design %s, grid %d x %d tiles\n", r.design.c_str(), r.nx, r.ny);
    os << format("nets %d in the file, %d estimated (global, constant and one-pin nets left out), %d load pins\n",
                 r.num_nets, r.nets_estimated, r.load_pins);
    os << format(
        "settings: model %s, window %d,%d, uniform %s, policy %s, supply %s, wire length %s%s, "
        "peak window %d, chunks %d",
        get_model_word(o.model), o.parallel_dim, o.perpendicular_dim, o.uniform ? "yes" : "no",
        get_policy_word(o.policy), get_supply_setting(r), get_wirelength_word(o.wirelength),
        o.wirelength == WIRELENGTH_SOURCE::ROUTED_ORACLE ? " (uses the routing result)" : "", o.peak_dim, o.num_chunks);
    os << (with_timings ? format(", threads %d\n", r.threads) : std::string("\n"));
    os << format("smoothing algorithm: %s\n", r.algorithm.c_str());
    os << format("estimator cookie: %s\n", format_cookie(r.cookie).c_str());

    if (with_timings) {
        os << format("\n%-26s %10s\n", "phase", "ms");
        for (const auto& [phase, ms] : r.phase_ms)
            os << format("%-26s %10.3f\n", phase.c_str(), ms);
    }

    // A type without supply on any tile has no peak: its four peak cells
    // say so alike.
    std::vector<std::vector<std::string>> rows;
    for (const TYPE_FIGURES& t : r.types) {
        const bool has_peak = t.smoothed_peak_tile.x >= 0;
        const auto peak_cell = [&](const char* pattern, auto... values) {
            return has_peak ? format(pattern, values...) : std::string(NO_PEAK);
        };
        rows.push_back({CONGESTION::get_string_for_resource_type(t.type), format("%.6g", t.total_demand),
                        peak_cell("%.4f", t.peak_utilization), peak_cell("(%d,%d)", t.peak_tile.x, t.peak_tile.y),
                        peak_cell("%.4f", t.smoothed_peak_utilization),
                        peak_cell("(%d,%d)", t.smoothed_peak_tile.x, t.smoothed_peak_tile.y),
                        format("%.6g", t.total_overflow)});
    }
    os << "\n";
    print_table(
        os, {"resource", "total demand", "peak util", "peak tile", "smoothed peak", "smoothed tile", "total overflow"},
        rows);
    os << format(
        "peak util: demand before smoothing over supply in the %d x %d peak window; smoothed peak: the\n"
        "largest smoothed demand over supply of one tile, as in the heatmaps and the routability figures\n",
        o.peak_dim, o.peak_dim);
    os << format("\naverage chip utilization: above 0 %.4f, above 1 %.4f\n", r.avg_chip_utilization_0,
                 r.avg_chip_utilization_1);
    os << "routability (smoothed demand over supply, per tile and wire type):";
    for (std::size_t i = 0; i < ACE_PERCENTS.size(); ++i)
        os << format(" ACE(%g%%) %.4f", ACE_PERCENTS[i], r.ace[i]);
    os << format(", RC %.4f, tiles over 100%% %d\n", r.rc, r.tiles_over_capacity);
    os << format_verdict(r);

    if (!r.has_truth) {
        os << "\nno routed.txt: no accuracy figures\n";
        return;
    }
    os << format(
        "\naccuracy against routed usage over %d tiles with wire supply (top10: share of the 10%% "
        "most-used tiles also in the top 10%%)\n",
        r.tiles_compared);
    os << format("%-34s %-26s   %-26s\n", "", "       estimate", "       baseline");
    os << format("%-34s %8s %8s %8s   %8s %8s %8s\n", "comparison", "pearson", "spearman", "top10", "pearson",
                 "spearman", "top10");
    for (const ACCURACY_ROW& row : r.accuracy) {
        const std::string name = row.estimate + " ~ " + row.truth;
        os << format("%-34s ", name.c_str()) << format_figure(row.estimate_figures.pearson) << ' '
           << format_figure(row.estimate_figures.spearman) << ' ' << format_figure(row.estimate_figures.top_share)
           << "   " << format_figure(row.baseline_figures.pearson) << ' '
           << format_figure(row.baseline_figures.spearman) << ' ' << format_figure(row.baseline_figures.top_share)
           << '\n';
    }
    os << format("\n%-34s %14s %14s %14s\n", "sums over the compared tiles", "estimate", "baseline", "routed");
    for (const ACCURACY_ROW& row : r.accuracy) {
        const std::string name = row.estimate + " ~ " + row.truth;
        os << format("%-34s %14.6g %14.6g %14.6g\n", name.c_str(), row.estimate_sum, row.baseline_sum, row.truth_sum);
    }
}

nlohmann::json get_report_json(const REPORT& r, bool with_timings)
{
    const ESTIMATE_OPTIONS& o = r.options;
    nlohmann::json json;
    json["format_version"] = REPORT_FORMAT_VERSION;
    json["design"] = r.design;
    json["grid"] = {{"nx", r.nx}, {"ny", r.ny}};
    json["nets"] = {{"in_file", r.num_nets}, {"estimated", r.nets_estimated}, {"load_pins", r.load_pins}};
    json["algorithm"] = r.algorithm;
    json["cookie"] = format_cookie(r.cookie);
    json["settings"] = {{"model", get_model_word(o.model)},
                        {"window", {o.parallel_dim, o.perpendicular_dim}},
                        {"uniform", o.uniform},
                        {"policy", get_policy_word(o.policy)},
                        {"supply", get_supply_setting(r)},
                        {"wirelength", get_wirelength_word(o.wirelength)},
                        {"peak_window", o.peak_dim},
                        {"chunks", o.num_chunks}};
    if (with_timings) {
        json["settings"]["threads"] = r.threads;
        nlohmann::json phases = nlohmann::json::array();
        for (const auto& [phase, ms] : r.phase_ms)
            phases.push_back({{"phase", phase}, {"ms", ms}});
        json["phases"] = phases;
    }
    nlohmann::json types = nlohmann::json::array();
    for (const TYPE_FIGURES& t : r.types)
        types.push_back({{"type", get_type_word(t.type)},
                         {"name", CONGESTION::get_string_for_resource_type(t.type)},
                         {"total_demand", get_number(t.total_demand)},
                         {"peak_utilization", get_number(t.peak_utilization)},
                         {"peak_tile", {t.peak_tile.x, t.peak_tile.y}},
                         {"smoothed_peak_utilization", get_number(t.smoothed_peak_utilization)},
                         {"smoothed_peak_tile", {t.smoothed_peak_tile.x, t.smoothed_peak_tile.y}},
                         {"total_overflow", get_number(t.total_overflow)}});
    json["resources"] = types;
    json["avg_chip_utilization"] = {{"above_0", get_number(r.avg_chip_utilization_0)},
                                    {"above_1", get_number(r.avg_chip_utilization_1)}};
    nlohmann::json ace = nlohmann::json::array();
    for (std::size_t i = 0; i < ACE_PERCENTS.size(); ++i)
        ace.push_back({{"percent", ACE_PERCENTS[i]}, {"value", get_number(r.ace[i])}});
    json["routability"] = {{"ace", ace}, {"rc", get_number(r.rc)}, {"tiles_over_100_percent", r.tiles_over_capacity}};
    json["routability"].update(get_routability_json(r.routability, r.tracks));
    if (!r.has_truth) {
        json["accuracy"] = nullptr;
        return json;
    }
    nlohmann::json rows = nlohmann::json::array();
    for (const ACCURACY_ROW& row : r.accuracy)
        rows.push_back(
            {{"estimate", row.estimate},
             {"truth", row.truth},
             {"estimate_figures", get_agreement_json(row.estimate_figures)},
             {"baseline_figures", get_agreement_json(row.baseline_figures)},
             {"sums", {{"estimate", row.estimate_sum}, {"baseline", row.baseline_sum}, {"routed", row.truth_sum}}}});
    json["accuracy"] = {{"tiles", r.tiles_compared}, {"rows", rows}};
    return json;
}
