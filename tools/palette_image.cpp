// The palette, the composition of text and blocks, and the PNG encoding.
#include "tools/palette_image.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <png.h>
#include <zlib.h>

#include "h/parallel_blocks.h"

namespace {

constexpr int BYTE_MAX = 255;

struct RGB {
    double r, g, b;
};

// A perceptually ordered dark-blue to yellow scale, sampled at 9 stops.
constexpr std::array<RGB, 9> SEQUENTIAL_STOPS = {{{0.267, 0.005, 0.329},
                                                  {0.279, 0.175, 0.483},
                                                  {0.230, 0.322, 0.546},
                                                  {0.173, 0.449, 0.558},
                                                  {0.128, 0.567, 0.551},
                                                  {0.154, 0.681, 0.504},
                                                  {0.360, 0.785, 0.388},
                                                  {0.668, 0.862, 0.196},
                                                  {0.993, 0.906, 0.144}}};
// Blue through near-white to red, for differences around 0.
constexpr std::array<RGB, 5> DIVERGING_STOPS = {{{0.230, 0.299, 0.754},
                                                 {0.552, 0.690, 0.996},
                                                 {0.970, 0.970, 0.970},
                                                 {0.958, 0.604, 0.482},
                                                 {0.706, 0.016, 0.150}}};
constexpr RGB NO_SUPPLY_GREY = {0.82, 0.82, 0.82};
constexpr RGB OVER_CAPACITY_RED = {0.894, 0.102, 0.110};

// One byte a pixel is a third of the bytes of RGB for the compressor; the
// scales' steps are finer than the eye separates.
constexpr int SEQUENTIAL_STEPS = 128;
constexpr int DIVERGING_STEPS = 65;  // odd: 0 has a step of its own
constexpr int GREY_LEVELS = 32;
constexpr int SEQUENTIAL_FIRST = 0;
constexpr int DIVERGING_FIRST = SEQUENTIAL_FIRST + SEQUENTIAL_STEPS;
constexpr int GREY_FIRST = DIVERGING_FIRST + DIVERGING_STEPS;  // white first, black last
static_assert(NO_SUPPLY_INDEX == GREY_FIRST + GREY_LEVELS && OVER_CAPACITY_INDEX == NO_SUPPLY_INDEX + 1,
              "the colours of no scale follow the greys");
constexpr int PALETTE_SIZE = OVER_CAPACITY_INDEX + 1;
static_assert(PALETTE_SIZE <= 256, "a PNG palette holds at most 256 colours");

template <std::size_t N>
RGB get_colour(const std::array<RGB, N>& stops, double fraction)
{
    const double position = std::clamp(fraction, 0.0, 1.0) * (N - 1);
    const std::size_t low = std::min(static_cast<std::size_t>(position), N - 2);
    const double t = position - static_cast<double>(low);
    const RGB& a = stops[low];
    const RGB& b = stops[low + 1];
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

png_color get_png_colour(const RGB& colour)
{
    const auto byte = [](double c) { return static_cast<png_byte>(std::lround(c * BYTE_MAX)); };
    return {byte(colour.r), byte(colour.g), byte(colour.b)};
}

const std::array<png_color, PALETTE_SIZE>& get_palette()
{
    static const std::array<png_color, PALETTE_SIZE> palette = [] {
        std::array<png_color, PALETTE_SIZE> colours{};
        for (int i = 0; i < SEQUENTIAL_STEPS; ++i)
            colours[SEQUENTIAL_FIRST + i] =
                get_png_colour(get_colour(SEQUENTIAL_STOPS, static_cast<double>(i) / (SEQUENTIAL_STEPS - 1)));
        for (int i = 0; i < DIVERGING_STEPS; ++i)
            colours[DIVERGING_FIRST + i] =
                get_png_colour(get_colour(DIVERGING_STOPS, static_cast<double>(i) / (DIVERGING_STEPS - 1)));
        for (int i = 0; i < GREY_LEVELS; ++i) {
            const double level = 1.0 - static_cast<double>(i) / (GREY_LEVELS - 1);
            colours[GREY_FIRST + i] = get_png_colour({level, level, level});
        }
        colours[NO_SUPPLY_INDEX] = get_png_colour(NO_SUPPLY_GREY);
        colours[OVER_CAPACITY_INDEX] = get_png_colour(OVER_CAPACITY_RED);
        return colours;
    }();
    return palette;
}

}  // namespace

COLOUR_SCALE COLOUR_SCALE::get_sequential(double top)
{
    const float factor = top > 0.0 ? static_cast<float>((SEQUENTIAL_STEPS - 1) / top) : 0.0f;
    return COLOUR_SCALE(SEQUENTIAL_FIRST, SEQUENTIAL_STEPS, 0.0f, factor);
}

COLOUR_SCALE COLOUR_SCALE::get_diverging()
{
    // -1 .. 1 onto steps 0 .. DIVERGING_STEPS - 1.
    constexpr float HALF_SPAN = (DIVERGING_STEPS - 1) / 2.0f;
    return COLOUR_SCALE(DIVERGING_FIRST, DIVERGING_STEPS, HALF_SPAN, HALF_SPAN);
}

PALETTE_IMAGE::PALETTE_IMAGE(int width, int height)
    : m_width(width),
      m_height(height),
      m_pixels(new std::uint8_t[static_cast<std::size_t>(width) * height]),
      m_text(cairo_image_surface_create(CAIRO_FORMAT_A8, width, height)),
      m_cr(cairo_create(m_text))
{
    cairo_set_source_rgba(m_cr, 0.0, 0.0, 0.0, 1.0);
}

PALETTE_IMAGE::~PALETTE_IMAGE()
{
    cairo_destroy(m_cr);
    cairo_surface_destroy(m_text);
}

const char* PALETTE_IMAGE::get_failure() const
{
    const cairo_status_t status = cairo_status(m_cr);
    return status == CAIRO_STATUS_SUCCESS ? nullptr : cairo_status_to_string(status);
}

void PALETTE_IMAGE::compose(int band_top, int band_height, const std::vector<int>& block_lefts, int block_width,
                            const FILL_BLOCK_ROW& fill)
{
    cairo_surface_flush(m_text);
    const unsigned char* text = cairo_image_surface_get_data(m_text);
    const int stride = cairo_image_surface_get_stride(m_text);
    // Coverage to the grey of black text of that coverage on white.
    std::array<std::uint8_t, BYTE_MAX + 1> greys;
    for (int alpha = 0; alpha <= BYTE_MAX; ++alpha)
        greys[alpha] = static_cast<std::uint8_t>(GREY_FIRST + (alpha * (GREY_LEVELS - 1) + BYTE_MAX / 2) / BYTE_MAX);
    congestion_internal::parallel_blocks(m_height, [&](int first_y, int end_y) {
        for (int y = first_y; y != end_y; ++y) {
            std::uint8_t* row = get_row(y);
            const unsigned char* coverage = text + static_cast<std::size_t>(y) * stride;
            const auto copy_text = [&](int from, int to) {
                for (int x = from; x < to; ++x)
                    row[x] = greys[coverage[x]];
            };
            int x = 0;
            if (y >= band_top && y < band_top + band_height)
                for (std::size_t block = 0; block < block_lefts.size(); ++block) {
                    copy_text(x, block_lefts[block]);
                    fill(static_cast<int>(block), y - band_top, row + block_lefts[block]);
                    x = block_lefts[block] + block_width;
                }
            copy_text(x, m_width);
        }
    });
}

void PALETTE_IMAGE::fill_rectangle(int left, int top, int width, int height, std::uint8_t index)
{
    for (int y = top; y < top + height; ++y)
        std::fill_n(get_row(y) + left, width, index);
}

// The fastest compression with run-length matches only: a heatmap of a
// large device is noise to deflate, and a somewhat larger file costs less
// than seconds of searching for matches.
std::string PALETTE_IMAGE::write_png(const std::string& path) const
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return std::strerror(errno);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    // libpng reports its errors by a long jump back here; nothing between
    // this point and the jump owns a resource of its own.
    if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return "the PNG encoder failed";
    }
    png_init_io(png, file);
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_RLE);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_IHDR(png, info, m_width, m_height, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
                 PNG_FILTER_TYPE_BASE);
    png_set_PLTE(png, info, get_palette().data(), PALETTE_SIZE);
    png_write_info(png, info);
    for (int y = 0; y < m_height; ++y)
        png_write_row(png, get_row(y));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    const bool written = std::ferror(file) == 0;
    if (std::fclose(file) != 0 || !written)
        return std::strerror(errno);
    return "";
}
