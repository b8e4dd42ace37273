// An image of one byte a pixel over a fixed palette (the steps of two colour
// scales, the greys of black text on white, and two colours of no scale),
// with text and lines drawn by Cairo beside the blocks the caller fills,
// written as a PNG.
#ifndef CONGESTION_PALETTE_IMAGE_H
#define CONGESTION_PALETTE_IMAGE_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <cairo.h>

// Palette indices of the two colours of no scale.
constexpr std::uint8_t NO_SUPPLY_INDEX = 225;      // light grey
constexpr std::uint8_t OVER_CAPACITY_INDEX = 226;  // red

// The palette indices of a colour scale.
class COLOUR_SCALE {
 public:
    // A perceptually ordered dark-blue to yellow scale from 0 to `top` (0
    // everywhere when top is not positive).
    static COLOUR_SCALE get_sequential(double top);
    // Blue through near-white to red, from -1 to 1.
    static COLOUR_SCALE get_diverging();

    // The index of a finite value; values beyond the ends get the ends.
    std::uint8_t get_index(float value) const
    {
        const float step = value * m_factor + m_offset;
        const float clamped = step < 0.0f ? 0.0f : step > m_last_step ? m_last_step : step;
        return static_cast<std::uint8_t>(m_first + static_cast<int>(clamped + 0.5f));
    }

 private:
    COLOUR_SCALE(int first, int steps, float offset, float factor)
        : m_first(first), m_last_step(static_cast<float>(steps - 1)), m_offset(offset), m_factor(factor)
    {}

    int m_first;
    float m_last_step;
    float m_offset;
    float m_factor;
};

class PALETTE_IMAGE {
 public:
    // Writes the indices of one row of a block: (block, row within the block,
    // first pixel of that row of the block).
    using FILL_BLOCK_ROW = std::function<void(int block, int row, std::uint8_t* out)>;

    PALETTE_IMAGE(int width, int height);
    ~PALETTE_IMAGE();
    PALETTE_IMAGE(const PALETTE_IMAGE&) = delete;
    PALETTE_IMAGE& operator=(const PALETTE_IMAGE&) = delete;

    // Where text and lines are drawn in black, before compose.
    cairo_t* get_cairo() const { return m_cr; }
    // Cairo's failure, or nullptr.
    const char* get_failure() const;

    // Writes every pixel once: blocks of `block_width` pixels starting at
    // block_lefts[i] in the rows band_top .. band_top + band_height - 1 by
    // fill, every other pixel the grey of the text drawn there, white where
    // there is none. Rows run on several threads at once.
    void compose(int band_top, int band_height, const std::vector<int>& block_lefts, int block_width,
                 const FILL_BLOCK_ROW& fill);
    // After compose: a rectangle of one index over what is there.
    void fill_rectangle(int left, int top, int width, int height, std::uint8_t index);

    // Writes the image as an 8-bit palette PNG; "" when done, else the reason.
    std::string write_png(const std::string& path) const;

 private:
    std::uint8_t* get_row(int y) const { return m_pixels.get() + static_cast<std::size_t>(y) * m_width; }

    int m_width;
    int m_height;
    std::unique_ptr<std::uint8_t[]> m_pixels;  // left uninitialised: compose writes each pixel once
    cairo_surface_t* m_text;                   // coverage of the text and lines
    cairo_t* m_cr;
};

#endif
