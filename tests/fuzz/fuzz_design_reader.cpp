// libFuzzer harness of the design reader: the first input byte picks the file
// (tiles.txt, nets.txt, routed.txt, or a routed.txt read against a
// directional grid), the rest is that file's content.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "front_end/design_reader.h"
#include "tests/tool/tool_test_support.h"

namespace {

enum FILE_KIND : int { TILES, NETS, ROUTED, DIRECTIONAL_ROUTED, NUM_FILE_KINDS };
constexpr const char* FILE_NAMES[NUM_FILE_KINDS] = {"tiles.txt", "nets.txt", "routed.txt", "routed.txt"};

// A rejection is one sentence: after "PATH, line N: " at most this many
// characters. The longest sentence of the reader, with every number at its
// widest and a quoted field, stays well below it.
constexpr std::size_t MAX_SENTENCE_LENGTH = 512;
constexpr char FIRST_PRINTABLE = ' ';
constexpr char LAST_PRINTABLE = '~';

// Ends the run; libFuzzer keeps the input that got here as a crash.
[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "fuzz_design_reader: %s\n", what.c_str());
    std::abort();
}

// nets.txt and routed.txt are read against the known-good grid of the
// bundled design.
const DESIGN& get_sample_grid()
{
    static const DESIGN grid = [] {
        DESIGN design;
        read_tiles(std::string(SAMPLE_DESIGN) + "/tiles.txt", design);
        return design;
    }();
    return grid;
}

// The bundled grid in the directional form: each axis's wires in both of its
// directions.
const DESIGN& get_directional_grid()
{
    static const DESIGN grid = [] {
        DESIGN design = get_sample_grid();
        design.form = DESIGN_FORM::DIRECTIONAL;
        for (std::size_t tile = 0; tile < design.get_num_tiles(); ++tile) {
            const int horizontal = design.h4[tile] + design.h12[tile];
            const int vertical = design.v4[tile] + design.v12[tile];
            for (int c = 0; c < NUM_DIRECTIONS; ++c)
                design.direction_supply[c].push_back(c == DIRECTIONAL_RIGHT || c == DIRECTIONAL_LEFT ? horizontal
                                                                                                     : vertical);
        }
        return design;
    }();
    return grid;
}

// Lines as the reader counts them: a last line without '\n' counts too.
std::size_t count_lines(const std::uint8_t* data, std::size_t size)
{
    std::size_t lines = 0;
    for (std::size_t i = 0; i < size; ++i)
        lines += data[i] == '\n' ? 1 : 0;
    return lines + (size > 0 && data[size - 1] != '\n' ? 1 : 0);
}

// The file exists and can be read, so every fault lies on a line: one of
// its lines, or the line after the last where a missing one was expected.
void check_rejection(const DESIGN_ERROR& error, const std::string& path, std::size_t num_lines)
{
    const std::string message = error.what();
    if (error.get_file() != path)
        fail("the error names " + error.get_file() + " instead of " + path + ": " + message);
    if (error.get_line() < 1 || static_cast<std::size_t>(error.get_line()) > num_lines + 1)
        fail("the error's line " + std::to_string(error.get_line()) + " is not a line of the " +
             std::to_string(num_lines) + "-line file: " + message);
    const std::string prefix = path + ", line " + std::to_string(error.get_line()) + ": ";
    if (message.compare(0, prefix.size(), prefix) != 0)
        fail("the message does not start with \"" + prefix + "\": " + message);
    if (message.size() - prefix.size() > MAX_SENTENCE_LENGTH || message.back() != '.')
        fail("the message is not one sentence ending in a full stop: " + message);
    for (char c : message)
        if (c < FIRST_PRINTABLE || c > LAST_PRINTABLE)
            fail("the message holds the unprintable byte " + std::to_string(static_cast<unsigned char>(c)));
}

bool in_grid(const DESIGN& design, int x, int y) { return x >= 0 && x < design.nx && y >= 0 && y < design.ny; }

// What an accepted file promises to its users.
void check_accepted(FILE_KIND kind, const DESIGN& design)
{
    const std::size_t tiles = design.get_num_tiles();
    switch (kind) {
    case TILES: {
        if (design.nx < 1 || design.nx > MAX_GRID_SIDE || design.ny < 1 || design.ny > MAX_GRID_SIDE)
            fail("accepted a grid of " + std::to_string(design.nx) + " x " + std::to_string(design.ny));
        // The wire columns of the file's form hold one value per tile, those
        // of the other form none.
        const std::size_t undirected = design.form == DESIGN_FORM::DIRECTIONAL ? 0 : tiles;
        for (const std::vector<int>* column : {&design.h4, &design.h12, &design.v4, &design.v12})
            if (column->size() != undirected)
                fail("an undirected supply column does not match the form");
        for (const std::vector<int>& column : design.direction_supply)
            if (column.size() != tiles - undirected)
                fail("a directional supply column does not match the form");
        if (design.lab_in.size() != tiles)
            fail("the lab_in column does not hold one value per tile");
        if (design.tile_kind.size() != tiles)
            fail("the tile kinds do not hold one value per tile");
        break;
    }
    case NETS: {
        const int nets = design.get_num_nets();
        if (nets < 0 || design.net_start.front() != 0 || design.flags.size() != static_cast<std::size_t>(nets) ||
            design.xl.size() != design.flags.size() || design.n_wires.size() != design.flags.size() ||
            design.pin_x.size() != static_cast<std::size_t>(design.net_start.back()))
            fail("the net arrays disagree in size");
        for (int net = 0; net < nets; ++net) {
            if (design.get_num_pins(net) < 1)
                fail("accepted a net without pins");
            if (!in_grid(design, design.xl[net], design.yb[net]) || !in_grid(design, design.xr[net], design.yt[net]))
                fail("accepted a box outside the grid");
        }
        for (std::size_t pin = 0; pin < design.pin_x.size(); ++pin)
            if (!in_grid(design, design.pin_x[pin], design.pin_y[pin]))
                fail("accepted a pin outside the grid");
        break;
    }
    case ROUTED:
    case DIRECTIONAL_ROUTED:
        if (!design.has_routed)
            fail("routed.txt was read but has_routed is false");
        if (design.routed.size() != get_routed_column_names(design.form).size())
            fail("the routed columns are not those of the grid's form");
        for (const std::vector<int>& column : design.routed)
            if (column.size() != tiles)
                fail("a routed column does not hold one value per tile");
        break;
    case NUM_FILE_KINDS: break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // A folder of this process for the file under test, removed at exit.
    static const SCRATCH_DIR scratch;
    const auto kind = static_cast<FILE_KIND>(data[0] % NUM_FILE_KINDS);
    const std::string path = (scratch.get_path() / FILE_NAMES[kind]).string();
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
        if (!file)
            fail("cannot write " + path);
    }

    DESIGN design = kind == TILES ? DESIGN() : kind == DIRECTIONAL_ROUTED ? get_directional_grid() : get_sample_grid();
    try {
        if (kind == TILES)
            read_tiles(path, design);
        else if (kind == NETS)
            read_nets(path, design);
        else
            read_routed(path, design);
    } catch (const DESIGN_ERROR& error) {
        // The expected rejection; anything else thrown is a crash.
        check_rejection(error, path, count_lines(data + 1, size - 1));
        return 0;
    }
    check_accepted(kind, design);
    return 0;
}
