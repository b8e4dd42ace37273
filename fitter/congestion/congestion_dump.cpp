// Text dumps of the grids and of the netlist.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <ostream>

#include <boost/container/flat_set.hpp>

#include "fitter/congestion/congestion_impl.h"
#include "host/zol_fio.h"

using namespace congestion_internal;

namespace {

// Digits after the decimal point of every table but the supply tables, and
// of the supply tables.
constexpr int VALUE_PRECISION = 4;
constexpr int SUPPLY_PRECISION = 1;

using SKIP_SET = boost::container::flat_set<int>;

// Output file stream of the dumps: the name goes through the host's path
// service and the file is truncated. A file that cannot be opened leaves the
// stream failed, so every later write is silently dropped.
class DUMP_OFSTREAM : public std::basic_ofstream<char> {
 public:
    explicit DUMP_OFSTREAM(const char* filename) { open(filename); }

    void open(const char* filename)
    {
        if (is_open())
            return;
        const std::filesystem::path full_path(fio_get_unc_full_path(filename));
        std::basic_ofstream<char>::open(full_path, std::ios_base::out);
        if (is_open())
            clear();
        else
            setstate(std::ios_base::failbit);
    }
};

bool is_skipped(const SKIP_SET& skip_set, int x) { return skip_set.find(x) != skip_set.end(); }

// A tab and the label of every text column, numbered from 0.
void write_header(std::ostream& out, int unscaled_nx)
{
    for (int i = 0; i < unscaled_nx; ++i)
        out << "\t" << i;
    out << "\n";
}

// One table per type whose supply grid has rows, in enum order: the title
// with the type's name, the header, and per y a line of value(x, y, type)
// for every x that is not skipped. The value's own type (float or double)
// decides how it is written.
template <typename VALUE>
void write_type_tables(std::ostream& out, const char* title, const TYPE_GRIDS& supply, int nx, int ny,
                       const SKIP_SET& skip_set, int unscaled_nx, const VALUE& value)
{
    for (int index = 0; index < CONGESTION::NUM_RESOURCE_TYPES; ++index) {
        const auto type = static_cast<RESOURCE_TYPE>(index);
        if (supply[type].get_num_rows() < 1)
            continue;
        out << title << CONGESTION::get_string_for_resource_type(type) << "):\n\n";
        write_header(out, unscaled_nx);
        for (int y = 0; y < ny; ++y) {
            out << y;
            for (int x = 0; x < nx; ++x) {
                if (!is_skipped(skip_set, x))
                    out << "\t" << value(x, y, type);
            }
            out << "\n";
        }
        out << "\n\n";
    }
}

}  // namespace

void CONGESTION_IMPL::dump(const char* filename, const std::vector<int>& skip_cols) const
{
    DUMP_OFSTREAM out(filename);
    out << std::fixed << std::setprecision(VALUE_PRECISION);
    const SKIP_SET skip_set(skip_cols.begin(), skip_cols.end());
    // Duplicates are counted here but not in the set, which the line checks
    // below catch.
    const int unscaled_nx = m_nx - static_cast<int>(skip_cols.size());

    out << "TOTAL UTILIZATION VALUES for H and V\n\n";
    write_header(out, unscaled_nx);
    for (int y = 0; y < m_ny; ++y) {
        out << y;
        int x_count = 0;
        std::size_t x_skip_count = 0;
        for (int x = 0; x < m_nx; ++x) {
            if (is_skipped(skip_set, x)) {
                ++x_skip_count;
                continue;
            }
            float supply_sum = 0.0f;
            float demand_sum = 0.0f;
            for (RESOURCE_TYPE type : WIRE_TYPES)
                supply_sum = supply_sum + m_supply[type](x, y);
            for (RESOURCE_TYPE type : WIRE_TYPES)
                demand_sum = demand_sum + m_demand[type](x, y);
            const float percent = supply_sum > 0.0f ? demand_sum / supply_sum * 100.0f : 0.0f;
            out << "\t" << percent;
            ++x_count;
        }
        out << "\n";
        CONGESTION_CHECK(x_count == unscaled_nx, "x_count == unscaled_nx");
        CONGESTION_CHECK(x_skip_count == skip_cols.size(), "x_skip_count == skip_cols.size()");
    }
    out << "\n\n";

    write_type_tables(
        out, "Utilization values (", m_supply, m_nx, m_ny, skip_set, unscaled_nx,
        [this](int x, int y, RESOURCE_TYPE type) { return static_cast<double>(get_util(x, y, type)) * 100.0; });
    write_type_tables(out, "Demand values (", m_supply, m_nx, m_ny, skip_set, unscaled_nx,
                      [this](int x, int y, RESOURCE_TYPE type) { return m_demand[type](x, y); });
    // The original algorithm's grid, whichever algorithm is in force.
    write_type_tables(out, "Smooth demand values (", m_supply, m_nx, m_ny, skip_set, unscaled_nx,
                      [this](int x, int y, RESOURCE_TYPE type) { return m_smooth_demand_orig[type](x, y); });
    out << std::setprecision(SUPPLY_PRECISION);
    write_type_tables(out, "Supply values (", m_supply, m_nx, m_ny, skip_set, unscaled_nx,
                      [this](int x, int y, RESOURCE_TYPE type) { return m_supply[type](x, y); });
    out.close();
}

void CONGESTION_IMPL::dump_netlist(const std::vector<int>& nets, const char* filename) const
{
    CONGESTION_CHECK(m_net_if != nullptr, "m_net_if != nullptr");
    DUMP_OFSTREAM out(filename);
    out << std::fixed << std::setprecision(VALUE_PRECISION);
    out << static_cast<std::uint64_t>(nets.size()) << "\n";
    // The interface is asked for every net and pin even when the file did
    // not open; the writes then fall through the failed stream.
    for (int net : nets) {
        out << net << " ";
        const int num_pins = m_net_if->get_num_pins(net);
        out << num_pins << " ";
        for (int pin = 0; pin < num_pins; ++pin) {
            const CONGESTION::LOC loc = m_net_if->get_pin_loc(net, pin);
            const float weight = m_net_if->get_pin_weight(net, pin);
            out << loc.x << " " << loc.y << " " << weight << " ";
        }
        out << "\n";
    }
    out.close();
}
