// Line-checked reader of tiles.txt, nets.txt, routed.txt, placement.txt and
// pins.txt, and of a design folder as a whole.
#include "front_end/design_reader.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <unordered_map>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "front_end/design_meta.h"

const std::array<const char*, NUM_ROUTED_COLUMNS> ROUTED_COLUMN_NAMES = {
    "h_all", "h_left", "h_right", "h_drv", "v_all", "v_up",   "v_down", "v_drv",
    "h4",    "h12",    "v4",      "v12",   "local", "lab_in", "sw"};

const std::array<const char*, NUM_TILE_KINDS> TILE_KIND_NAMES = {"logic", "ramb", "ramt", "io",    "dsp0",
                                                                 "dsp1",  "dsp2", "dsp3", "ipcon", "empty"};

const std::array<const char*, NUM_DIRECTIONAL_COLUMNS> DIRECTIONAL_COLUMN_NAMES = {"right", "left", "up", "down",
                                                                                   "lab_in"};

std::vector<const char*> get_routed_column_names(DESIGN_FORM form)
{
    if (form == DESIGN_FORM::DIRECTIONAL)
        return {DIRECTIONAL_COLUMN_NAMES.begin(), DIRECTIONAL_COLUMN_NAMES.end()};
    return {ROUTED_COLUMN_NAMES.begin(), ROUTED_COLUMN_NAMES.end()};
}

DESIGN_ERROR::DESIGN_ERROR(const std::string& file, int line, const std::string& what)
    : std::runtime_error(line > 0 ? file + ", line " + std::to_string(line) + ": " + what + "."
                                  : file + ": " + what + "."),
      m_file(file),
      m_line(line)
{}

namespace {

constexpr int NUM_TILE_FIELDS = 8;
constexpr int NUM_NET_FIXED_FIELDS = 11;
constexpr int MAX_NET_FLAGS = NET_FLAG_GLOBAL | NET_FLAG_CONSTANT | NET_FLAG_NO_SPAN_WIRE;
// The shortest text a record can have, a character and a separator per field
// ("0 0 a 0 0 0 0 0\n" for a tile): a header count is never trusted for more
// entries than the file can hold.
constexpr std::size_t MIN_BYTES_PER_FIELD = 2;
constexpr std::size_t MIN_TILE_RECORD_BYTES = MIN_BYTES_PER_FIELD * NUM_TILE_FIELDS;
constexpr std::size_t MIN_NET_RECORD_BYTES = MIN_BYTES_PER_FIELD * (NUM_NET_FIXED_FIELDS + 2);
// Longest part of a field that a message quotes.
constexpr std::size_t MAX_QUOTED_FIELD = 40;

std::string format_loc(int x, int y) { return "(" + std::to_string(x) + ", " + std::to_string(y) + ")"; }

// A field as a message quotes it: bytes outside printable ASCII as \xNN and
// a long field cut short, so that the message stays one short printable
// line whatever the file holds.
std::string quote(std::string_view field)
{
    std::string quoted = "'";
    for (std::size_t i = 0; i < field.size() && i < MAX_QUOTED_FIELD; ++i) {
        const auto c = static_cast<unsigned char>(field[i]);
        if (c >= ' ' && c <= '~') {
            quoted += static_cast<char>(c);
        } else {
            char escaped[sizeof "\\xff"];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            quoted += escaped;
        }
    }
    return quoted + (field.size() > MAX_QUOTED_FIELD ? "...'" : "'");
}

// What a message calls a value: a fixed name, or a function that makes one,
// called only when a message needs it, so that a record's many values cost
// no text while they are fine.
std::string get_name(const char* name) { return name; }
const std::string& get_name(const std::string& name) { return name; }
template <typename MAKE, typename = std::enable_if_t<std::is_invocable_v<const MAKE&>>>
std::string get_name(const MAKE& make)
{
    return make();
}

// Reads one file line by line, in large blocks, and splits lines into space-
// or tab-separated fields; every fault becomes a DESIGN_ERROR naming the file
// and the current line. Only one block of the file is held at a time (more
// only for a line longer than a block). A line ends at '\n' (a '\r' before
// it is dropped) or at the end of the file.
class LINE_READER {
 public:
    explicit LINE_READER(const std::string& path) : m_path(path)
    {
        std::error_code error;
        if (std::filesystem::is_directory(path, error))
            throw DESIGN_ERROR(path, 0, "is a directory, not a file");
        m_descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_descriptor < 0)
            throw DESIGN_ERROR(path, 0, "cannot be opened for reading");
        struct stat status {};
        if (::fstat(m_descriptor, &status) == 0 && S_ISREG(status.st_mode)) {
            m_file_size = static_cast<std::size_t>(status.st_size);
            ::posix_fadvise(m_descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
        }
        m_buffer.resize(std::min(BLOCK_BYTES, m_file_size + 1));
    }
    ~LINE_READER() { ::close(m_descriptor); }
    LINE_READER(const LINE_READER&) = delete;
    LINE_READER& operator=(const LINE_READER&) = delete;

    // Reads the next line into the fields; false at the end of the file.
    bool next()
    {
        // The unread bytes before `scanned` hold no '\n'.
        std::size_t scanned = m_begin;
        const char* newline = nullptr;
        while ((newline = static_cast<const char*>(std::memchr(m_buffer.data() + scanned, '\n', m_end - scanned))) ==
               nullptr) {
            if (m_at_end) {
                if (m_begin == m_end)
                    return false;
                break;
            }
            scanned = m_end - m_begin;
            refill();
        }
        const char* begin = m_buffer.data() + m_begin;
        const char* end = newline != nullptr ? newline : m_buffer.data() + m_end;
        m_begin = newline != nullptr ? static_cast<std::size_t>(newline - m_buffer.data()) + 1 : m_end;
        ++m_line_number;
        if (end != begin && end[-1] == '\r')
            --end;
        m_line = std::string_view(begin, static_cast<std::size_t>(end - begin));
        // Each field is read as a number where it starts: a whole number
        // ends where the field does and its value is kept, so that most
        // bytes are looked at once; anything else is kept as text and
        // parsed again, for its message, only when it is asked for.
        m_fields.clear();
        for (const char* at = begin;;) {
            while (at != end && is_separator(*at))
                ++at;
            if (at == end)
                break;
            // Written member by member in place: a field assembled aside and
            // copied in costs a stalled load on every field.
            FIELD& field = m_fields.emplace_back();
            field.text = at;
            const auto [number_end, error] = std::from_chars(at, end, field.value);
            at = number_end;
            field.is_number = error == std::errc() && (at == end || is_separator(*at));
            while (at != end && !is_separator(*at))
                ++at;
            field.length = static_cast<std::size_t>(at - field.text);
        }
        return true;
    }

    // Reads the next line, which must exist; `missing` says what was expected.
    template <typename NAME>
    void require_next(const NAME& missing)
    {
        if (!next())
            throw DESIGN_ERROR(m_path, m_line_number + 1, "the file ends where " + get_name(missing) + " was expected");
    }

    [[noreturn]] void fail(const std::string& what) const { throw DESIGN_ERROR(m_path, m_line_number, what); }

    std::size_t get_num_fields() const { return m_fields.size(); }
    std::string_view get_field(std::size_t i) const { return m_fields[i].get_text(); }

    void require_fields(std::size_t count, const char* record) const
    {
        if (m_fields.size() != count)
            fail("a " + std::string(record) + " needs " + std::to_string(count) + " fields but the line has " +
                 std::to_string(m_fields.size()));
    }

    // The field as a whole decimal integer; `name` says which value it is.
    template <typename NAME>
    int get_int(std::size_t i, const NAME& name) const
    {
        if (m_fields[i].is_number)
            return m_fields[i].value;
        const std::string_view text = m_fields[i].get_text();
        int value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size())
            fail_number(get_name(name), text, error);
        return value;
    }

    template <typename NAME>
    int get_int_at_least(std::size_t i, const NAME& name, int minimum) const
    {
        const int value = get_int(i, name);
        if (value < minimum)
            fail(get_name(name) + " " + std::to_string(value) + " is below " + std::to_string(minimum));
        return value;
    }

    // A per-tile count, 0 to MAX_TILE_COUNT.
    int get_count(std::size_t i, const char* name) const
    {
        const int value = get_int_at_least(i, name, 0);
        if (value > MAX_TILE_COUNT)
            fail(std::string(name) + " " + std::to_string(value) + " is above " + std::to_string(MAX_TILE_COUNT));
        return value;
    }

    // Header line: the keyword, then one integer per name and, with `form`,
    // the word that marks the directional form, which sets *form. The column
    // line is read by require_column_line once the numbers have been checked.
    std::vector<int> read_header(const char* keyword, const std::vector<std::string>& names,
                                 DESIGN_FORM* form = nullptr)
    {
        require_next("the header line");
        if (m_fields.empty() || m_fields[0].get_text() != keyword)
            fail("the header must start with '" + std::string(keyword) + "'");
        const bool marked = form != nullptr && m_fields.size() == names.size() + 2;
        if (marked && m_fields.back().get_text() != DIRECTIONAL_WORD)
            fail("the header's last word " + quote(m_fields.back().get_text()) + " is not '" + DIRECTIONAL_WORD + "'");
        if (form != nullptr)
            *form = marked ? DESIGN_FORM::DIRECTIONAL : DESIGN_FORM::UNDIRECTED;
        require_fields(names.size() + (marked ? 2 : 1), "header");
        std::vector<int> values;
        for (std::size_t i = 0; i < names.size(); ++i)
            values.push_back(get_int_at_least(i + 1, "the header's " + names[i], 0));
        return values;
    }

    void require_column_line()
    {
        require_next("the column line");
        if (m_line.empty() || m_line[0] != '#')
            fail("the second line must be the column line starting with '#'");
    }

    // After the last record only blank lines may follow.
    void require_end(const char* record)
    {
        while (next())
            if (!m_fields.empty())
                fail("a line follows the last " + std::string(record) + " the header announces");
    }

    // The file's size in bytes, 0 when it is not a regular file; the bytes of
    // the lines read so far (at least 1).
    std::size_t get_file_size() const { return m_file_size; }
    std::size_t get_bytes_read() const { return std::max<std::size_t>(m_bytes_before_buffer + m_begin, 1); }

    // How many entries may be reserved for `count` records of at least
    // `min_bytes` each: never more than the file can hold.
    std::size_t get_reserve(std::size_t count, std::size_t min_bytes) const
    {
        return std::min(count, m_file_size / min_bytes + 1);
    }

 private:
    // Bytes read at a time.
    static constexpr std::size_t BLOCK_BYTES = std::size_t{1} << 20;

    // Fields are separated by spaces and tabs; every byte above the space
    // belongs to a field, which one comparison tells for almost all bytes.
    static bool is_separator(char c) { return static_cast<unsigned char>(c) <= ' ' && (c == ' ' || c == '\t'); }

    [[noreturn]] void fail_number(const std::string& name, std::string_view text, std::errc error) const
    {
        if (error == std::errc::result_out_of_range)
            fail(name + " " + quote(text) + " is out of range");
        fail(name + " " + quote(text) + " is not a whole number");
    }

    // Moves the unread bytes to the front of the buffer, doubles a buffer
    // that one line fills, and reads what fits after them.
    void refill()
    {
        std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
        m_bytes_before_buffer += m_begin;
        m_end -= m_begin;
        m_begin = 0;
        if (m_end == m_buffer.size())
            m_buffer.resize(std::max(BLOCK_BYTES, 2 * m_buffer.size()));
        ssize_t count = 0;
        do
            count = ::read(m_descriptor, m_buffer.data() + m_end, m_buffer.size() - m_end);
        while (count < 0 && errno == EINTR);
        if (count < 0)
            throw DESIGN_ERROR(m_path, 0, std::string("cannot be read: ") + std::strerror(errno));
        m_at_end = count == 0;
        m_end += static_cast<std::size_t>(count);
    }

    std::string m_path;
    int m_descriptor = -1;
    std::size_t m_file_size = 0;
    std::vector<char> m_buffer;
    std::size_t m_bytes_before_buffer = 0;  // the file's bytes before the buffer's first
    std::size_t m_begin = 0;                // the unread bytes of the buffer: [m_begin, m_end)
    std::size_t m_end = 0;
    bool m_at_end = false;
    std::string_view m_line;
    int m_line_number = 0;
    struct FIELD {
        const char* text = nullptr;
        std::size_t length = 0;
        bool is_number = false;  // a whole number that fits an int: value
        int value = 0;
        std::string_view get_text() const { return {text, length}; }
    };
    std::vector<FIELD> m_fields;
};

// The index of a tile kind in TILE_KIND_NAMES, or -1.
int find_tile_kind(std::string_view text)
{
    for (int kind = 0; kind < NUM_TILE_KINDS; ++kind)
        if (text == TILE_KIND_NAMES[kind])
            return kind;
    return -1;
}

void check_grid_header(LINE_READER& reader, const DESIGN& design, int nx, int ny)
{
    if (nx != design.nx || ny != design.ny)
        reader.fail("the header's grid " + std::to_string(nx) + " x " + std::to_string(ny) + " differs from the " +
                    std::to_string(design.nx) + " x " + std::to_string(design.ny) + " grid of tiles.txt");
}

// Records of a grid file come y-major: y = 0 first, x increasing in a row.
void check_tile_position(const LINE_READER& reader, int x, int y, int expected_x, int expected_y)
{
    if (x != expected_x || y != expected_y)
        reader.fail("the tile " + format_loc(x, y) + " is out of order, " + format_loc(expected_x, expected_y) +
                    " was expected");
}

// nets.txt does not count its pins. Their arrays start with one pin per net,
// the least there can be; when they fill, they are sized for the pins per
// byte read so far, projected over the whole file with a margin: a file of
// like nets throughout sizes them twice.
void reserve_pins(const LINE_READER& reader, DESIGN& design, std::size_t npins)
{
    constexpr double MARGIN = 1.05;
    const std::size_t needed = design.pin_x.size() + npins;
    const double pins_per_byte = static_cast<double>(needed) / static_cast<double>(reader.get_bytes_read());
    const auto projected =
        static_cast<std::size_t>(pins_per_byte * static_cast<double>(reader.get_file_size()) * MARGIN);
    const std::size_t capacity = design.pin_x.capacity();
    const std::size_t size = std::max({needed, projected, capacity + capacity / 2});
    design.pin_x.reserve(size);
    design.pin_y.reserve(size);
}

void read_net_record(LINE_READER& reader, int expected_id, DESIGN& design)
{
    if (reader.get_num_fields() < NUM_NET_FIXED_FIELDS)
        reader.fail("a net needs at least " + std::to_string(NUM_NET_FIXED_FIELDS) + " fields but the line has " +
                    std::to_string(reader.get_num_fields()));
    const int id = reader.get_int(0, "the net id");
    if (id != expected_id)
        reader.fail("the net id " + std::to_string(id) + " is out of order, " + std::to_string(expected_id) +
                    " was expected");
    const int npins = reader.get_int_at_least(1, "the pin count", 1);
    const std::size_t expected_fields = NUM_NET_FIXED_FIELDS + 2 * static_cast<std::size_t>(npins);
    if (reader.get_num_fields() != expected_fields)
        reader.fail("a net of " + std::to_string(npins) + " pins needs " + std::to_string(expected_fields) +
                    " fields but the line has " + std::to_string(reader.get_num_fields()));
    if (design.pin_x.size() + npins > design.pin_x.capacity())
        reserve_pins(reader, design, static_cast<std::size_t>(npins));
    const int flags = reader.get_int_at_least(2, "the flags", 0);
    if (flags > MAX_NET_FLAGS)
        reader.fail("the flags " + std::to_string(flags) + " hold bits other than 1, 2 and 4");
    const int weight = reader.get_int(3, "the weight");
    const int box[4] = {reader.get_int(4, "xl"), reader.get_int(5, "xr"), reader.get_int(6, "yb"),
                        reader.get_int(7, "yt")};
    if (box[0] < 0 || box[1] >= design.nx || box[2] < 0 || box[3] >= design.ny || box[0] > box[1] || box[2] > box[3])
        reader.fail("the box x " + std::to_string(box[0]) + ".." + std::to_string(box[1]) + ", y " +
                    std::to_string(box[2]) + ".." + std::to_string(box[3]) + " is empty or leaves the " +
                    std::to_string(design.nx) + " x " + std::to_string(design.ny) + " grid");
    int pin_box[4] = {design.nx, -1, design.ny, -1};
    for (int p = 0; p < npins; ++p) {
        const int x = reader.get_int(NUM_NET_FIXED_FIELDS + 2 * p, [p] { return "the x of pin " + std::to_string(p); });
        const int y =
            reader.get_int(NUM_NET_FIXED_FIELDS + 2 * p + 1, [p] { return "the y of pin " + std::to_string(p); });
        if (x < 0 || x >= design.nx || y < 0 || y >= design.ny)
            reader.fail("pin " + std::to_string(p) + " at " + format_loc(x, y) + " lies outside the " +
                        std::to_string(design.nx) + " x " + std::to_string(design.ny) + " grid");
        pin_box[0] = std::min(pin_box[0], x);
        pin_box[1] = std::max(pin_box[1], x);
        pin_box[2] = std::min(pin_box[2], y);
        pin_box[3] = std::max(pin_box[3], y);
        design.pin_x.push_back(x);
        design.pin_y.push_back(y);
    }
    if (!std::equal(pin_box, pin_box + 4, box))
        reader.fail("the box x " + std::to_string(box[0]) + ".." + std::to_string(box[1]) + ", y " +
                    std::to_string(box[2]) + ".." + std::to_string(box[3]) + " is not the box of the pins, x " +
                    std::to_string(pin_box[0]) + ".." + std::to_string(pin_box[1]) + ", y " +
                    std::to_string(pin_box[2]) + ".." + std::to_string(pin_box[3]));
    design.flags.push_back(flags);
    design.weight.push_back(weight);
    design.xl.push_back(box[0]);
    design.xr.push_back(box[1]);
    design.yb.push_back(box[2]);
    design.yt.push_back(box[3]);
    const int routed_x = reader.get_int_at_least(8, "routed_x", ROUTING_UNKNOWN);
    const int routed_y = reader.get_int_at_least(9, "routed_y", ROUTING_UNKNOWN);
    const int n_wires = reader.get_int_at_least(10, "n_wires", ROUTING_UNKNOWN);
    // A placed design that was not routed has all three unknown, on every
    // net, and cannot claim that a net uses no span wire.
    const bool known = routed_x != ROUTING_UNKNOWN;
    if ((routed_y != ROUTING_UNKNOWN) != known || (n_wires != ROUTING_UNKNOWN) != known)
        reader.fail("routed_x, routed_y and n_wires must be all known or all -1 (unknown)");
    if (expected_id == 0)
        design.has_routed_lengths = known;
    else if (known != design.has_routed_lengths)
        reader.fail(std::string("the routed lengths are ") + (known ? "known" : "unknown (-1)") +
                    " while those of the nets before are " + (known ? "unknown" : "known"));
    if (!known && (flags & NET_FLAG_NO_SPAN_WIRE) != 0)
        reader.fail("flag 4 (no span wire used) is set on a net that was not routed");
    design.routed_x.push_back(routed_x);
    design.routed_y.push_back(routed_y);
    design.n_wires.push_back(n_wires);
    design.net_start.push_back(static_cast<int>(design.pin_x.size()));
}

// The word that names a form in messages.
const char* get_form_word(DESIGN_FORM form) { return form == DESIGN_FORM::DIRECTIONAL ? "directional" : "undirected"; }

// A routed count above the tile's supply of the same name.
void check_within_supply(const LINE_READER& reader, const char* name, int used, int supply)
{
    if (used > supply)
        reader.fail(std::string("the routed ") + name + " " + std::to_string(used) + " exceeds the tile's supply of " +
                    std::to_string(supply));
}

// The sums that an undirected routed.txt promises: all = the three direction
// columns = the two length columns, and no length column above the tile's
// supply.
void check_routed_sums(const LINE_READER& reader, const DESIGN& design, std::size_t tile)
{
    const auto& r = design.routed;
    const auto check_sum = [&](ROUTED_COLUMN all, int sum, const char* parts) {
        if (r[all][tile] != sum)
            reader.fail(std::string(ROUTED_COLUMN_NAMES[all]) + " " + std::to_string(r[all][tile]) + " differs from " +
                        parts + " = " + std::to_string(sum));
    };
    check_sum(ROUTED_H_ALL, r[ROUTED_H_LEFT][tile] + r[ROUTED_H_RIGHT][tile] + r[ROUTED_H_DRV][tile],
              "h_left + h_right + h_drv");
    check_sum(ROUTED_H_ALL, r[ROUTED_H4][tile] + r[ROUTED_H12][tile], "h4 + h12");
    check_sum(ROUTED_V_ALL, r[ROUTED_V_UP][tile] + r[ROUTED_V_DOWN][tile] + r[ROUTED_V_DRV][tile],
              "v_up + v_down + v_drv");
    check_sum(ROUTED_V_ALL, r[ROUTED_V4][tile] + r[ROUTED_V12][tile], "v4 + v12");
    const std::pair<ROUTED_COLUMN, const std::vector<int>*> bounded[] = {{ROUTED_H4, &design.h4},
                                                                         {ROUTED_H12, &design.h12},
                                                                         {ROUTED_V4, &design.v4},
                                                                         {ROUTED_V12, &design.v12},
                                                                         {ROUTED_LAB_IN, &design.lab_in}};
    for (const auto& [column, supply] : bounded)
        check_within_supply(reader, ROUTED_COLUMN_NAMES[column], r[column][tile], (*supply)[tile]);
}

// A directional routed.txt promises each column at most the tile's supply of
// the same name.
void check_directional_usage(const LINE_READER& reader, const DESIGN& design, std::size_t tile)
{
    for (int c = 0; c < NUM_DIRECTIONAL_COLUMNS; ++c) {
        const int supply = c == DIRECTIONAL_LAB_IN ? design.lab_in[tile] : design.direction_supply[c][tile];
        check_within_supply(reader, DIRECTIONAL_COLUMN_NAMES[c], design.routed[c][tile], supply);
    }
}

}  // namespace

void read_tiles(const std::string& path, DESIGN& design)
{
    LINE_READER reader(path);
    const std::vector<int> header = reader.read_header("tiles", {"NX", "NY"}, &design.form);
    for (int side : header)
        if (side < 1 || side > MAX_GRID_SIDE)
            reader.fail("the header's grid side " + std::to_string(side) + " is not between 1 and " +
                        std::to_string(MAX_GRID_SIDE));
    design.nx = header[0];
    design.ny = header[1];
    reader.require_column_line();
    // The four wire columns of the form, then lab_in, in file order.
    std::array<std::vector<int>*, NUM_DIRECTIONAL_COLUMNS> columns = {&design.h4, &design.h12, &design.v4, &design.v12,
                                                                      &design.lab_in};
    std::array<const char*, NUM_DIRECTIONAL_COLUMNS> names = {"h4", "h12", "v4", "v12", "lab_in"};
    if (design.form == DESIGN_FORM::DIRECTIONAL)
        for (int c = 0; c < NUM_DIRECTIONS; ++c) {
            columns[c] = &design.direction_supply[c];
            names[c] = DIRECTIONAL_COLUMN_NAMES[c];
        }
    const std::size_t reserve = reader.get_reserve(design.get_num_tiles(), MIN_TILE_RECORD_BYTES);
    for (std::vector<int>* column : columns)
        column->reserve(reserve);
    design.tile_kind.reserve(reserve);
    for (int y = 0; y < design.ny; ++y)
        for (int x = 0; x < design.nx; ++x) {
            reader.require_next([x, y] { return "the tile " + format_loc(x, y); });
            reader.require_fields(NUM_TILE_FIELDS, "tile");
            check_tile_position(reader, reader.get_int(0, "x"), reader.get_int(1, "y"), x, y);
            const int kind = find_tile_kind(reader.get_field(2));
            if (kind < 0)
                reader.fail("the tile kind " + quote(reader.get_field(2)) +
                            " is unknown (logic, ramb, ramt, io, dsp0 to dsp3, ipcon or empty)");
            design.tile_kind.push_back(static_cast<std::uint8_t>(kind));
            for (int c = 0; c < NUM_DIRECTIONAL_COLUMNS; ++c)
                columns[c]->push_back(reader.get_count(3 + c, names[c]));
        }
    reader.require_end("tile");
}

void read_nets(const std::string& path, DESIGN& design)
{
    LINE_READER reader(path);
    const std::vector<int> header = reader.read_header("nets", {"N", "NX", "NY"});
    check_grid_header(reader, design, header[1], header[2]);
    reader.require_column_line();
    const int num_nets = header[0];
    const std::size_t reserve = reader.get_reserve(static_cast<std::size_t>(num_nets), MIN_NET_RECORD_BYTES);
    for (std::vector<int>* column : {&design.flags, &design.weight, &design.xl, &design.xr, &design.yb, &design.yt,
                                     &design.routed_x, &design.routed_y, &design.n_wires})
        column->reserve(reserve);
    design.net_start.reserve(reserve + 1);
    design.net_start.assign(1, 0);
    design.pin_x.reserve(reserve);
    design.pin_y.reserve(reserve);
    for (int net = 0; net < num_nets; ++net) {
        reader.require_next([net, num_nets] {
            return "net " + std::to_string(net) + " of the " + std::to_string(num_nets) + " the header announces";
        });
        read_net_record(reader, net, design);
    }
    reader.require_end("net");
}

void read_routed(const std::string& path, DESIGN& design)
{
    LINE_READER reader(path);
    DESIGN_FORM form = DESIGN_FORM::UNDIRECTED;
    const std::vector<int> header = reader.read_header("routed", {"NX", "NY"}, &form);
    check_grid_header(reader, design, header[0], header[1]);
    if (form != design.form)
        reader.fail(std::string("the header marks the ") + get_form_word(form) + " form but tiles.txt has the " +
                    get_form_word(design.form) + " one, and a design folder holds one form");
    reader.require_column_line();
    const std::vector<const char*> names = get_routed_column_names(form);
    const std::size_t num_fields = 2 + names.size();
    const std::size_t reserve = reader.get_reserve(design.get_num_tiles(), MIN_BYTES_PER_FIELD * num_fields);
    design.routed.assign(names.size(), {});
    for (std::vector<int>& column : design.routed)
        column.reserve(reserve);
    for (int y = 0; y < design.ny; ++y)
        for (int x = 0; x < design.nx; ++x) {
            reader.require_next([x, y] { return "the routed usage of tile " + format_loc(x, y); });
            reader.require_fields(num_fields, "routed tile");
            check_tile_position(reader, reader.get_int(0, "x"), reader.get_int(1, "y"), x, y);
            for (std::size_t c = 0; c < names.size(); ++c)
                design.routed[c].push_back(reader.get_count(2 + c, names[c]));
            if (form == DESIGN_FORM::DIRECTIONAL)
                check_directional_usage(reader, design, design.get_tile_index(x, y));
            else
                check_routed_sums(reader, design, design.get_tile_index(x, y));
        }
    reader.require_end("routed tile");
    design.has_routed = true;
}

void read_placement(const std::string& path, CELL_PLACEMENT& placement)
{
    LINE_READER reader(path);
    std::unordered_map<std::string, int> cells;
    std::unordered_map<std::string, int> bels;
    while (reader.next()) {
        if (reader.get_num_fields() == 0)
            continue;
        reader.require_fields(2, "placed cell");
        const std::string cell(reader.get_field(0));
        const std::string bel(reader.get_field(1));
        const int index = placement.get_num_cells();
        if (const auto [at, added] = cells.emplace(cell, index); !added)
            reader.fail("the cell " + quote(cell) + " is placed a second time");
        if (const auto [at, added] = bels.emplace(bel, index); !added)
            reader.fail("the bel " + quote(bel) + " already holds the cell " +
                        quote(placement.cell_names[static_cast<std::size_t>(at->second)]));
        placement.cell_names.push_back(cell);
        placement.bel_names.push_back(bel);
    }
}

void read_pins(const std::string& path, const DESIGN& design, CELL_PLACEMENT& placement)
{
    LINE_READER reader(path);
    const std::vector<int> header = reader.read_header("pins", {"N", "CELLS"});
    if (header[0] != design.get_num_nets())
        reader.fail("the header announces " + std::to_string(header[0]) + " nets, nets.txt has " +
                    std::to_string(design.get_num_nets()));
    if (header[1] != placement.get_num_cells())
        reader.fail("the header announces " + std::to_string(header[1]) + " cells, placement.txt places " +
                    std::to_string(placement.get_num_cells()));
    reader.require_column_line();
    placement.pin_cell.clear();
    placement.pin_port.clear();
    placement.pin_cell.reserve(design.pin_x.size());
    placement.pin_port.reserve(design.pin_x.size());
    for (int net = 0; net < design.get_num_nets(); ++net) {
        reader.require_next([net] { return "the pins of net " + std::to_string(net); });
        if (reader.get_num_fields() < 2)
            reader.fail("a net's pins need its id and pin count");
        const int id = reader.get_int(0, "the net id");
        if (id != net)
            reader.fail("the net id " + std::to_string(id) + " is out of order, " + std::to_string(net) +
                        " was expected");
        const int npins = reader.get_int(1, "the pin count");
        if (npins != design.get_num_pins(net))
            reader.fail("the pin count " + std::to_string(npins) + " differs from the " +
                        std::to_string(design.get_num_pins(net)) + " pins of the net in nets.txt");
        reader.require_fields(2 + 2 * static_cast<std::size_t>(npins), "net's pins");
        for (int p = 0; p < npins; ++p) {
            const int cell = reader.get_int(2 + 2 * p, [p] { return "the cell of pin " + std::to_string(p); });
            if (cell < 0 || cell >= placement.get_num_cells())
                reader.fail("the cell " + std::to_string(cell) + " of pin " + std::to_string(p) +
                            " is not a line of placement.txt (0 to " + std::to_string(placement.get_num_cells() - 1) +
                            ")");
            placement.pin_cell.push_back(cell);
            placement.pin_port.emplace_back(reader.get_field(3 + 2 * p));
        }
    }
    reader.require_end("net");
}

DESIGN read_design(const std::string& dir)
{
    std::error_code error;
    if (!std::filesystem::is_directory(dir, error))
        throw DESIGN_ERROR(dir, 0,
                           std::filesystem::exists(dir, error)
                               ? "is a file, not a design folder (a folder holding tiles.txt and nets.txt)"
                               : "is not a design folder (no such directory)");
    const std::filesystem::path folder(dir);
    DESIGN design;
    design.name = std::filesystem::absolute(folder, error).lexically_normal().filename().string();
    if (design.name.empty())
        design.name = std::filesystem::absolute(folder, error).lexically_normal().parent_path().filename().string();
    read_tiles((folder / "tiles.txt").string(), design);
    read_nets((folder / "nets.txt").string(), design);
    const std::filesystem::path routed = folder / "routed.txt";
    if (std::filesystem::exists(routed, error))
        read_routed(routed.string(), design);
    read_design_meta(dir, design);
    return design;
}
