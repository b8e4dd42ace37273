// The order in which a batch of nets is added to a chunk's grids band by band.
#ifndef BAND_ORDER_H
#define BAND_ORDER_H

#include <cstddef>
#include <vector>

namespace congestion_internal {

// A net model adds a batch of nets to the chunk's grids one band of grid
// rows at a time: the band's part of the grids stays in cache while every
// net of the batch that reaches it adds its rows there. Within a band the
// nets keep their batch order, so each tile still receives the nets'
// additions in net order. Bands hold different grid rows, so they may be
// walked side by side. The storage only grows from batch to batch.
struct BAND_ORDER {
    std::vector<size_t> start;  // per band, its first entry in nets
    std::vector<size_t> next;
    std::vector<int> nets;  // batch positions, band by band

    // Lists the `count` nets of a batch per band of `band_rows` grid rows
    // out of `num_rows`; net i spans the grid rows rows(i).first ..
    // rows(i).second. Counted, then placed: a counting sort.
    template <typename ROWS_OF>
    void build(size_t count, int num_rows, int band_rows, const ROWS_OF& rows)
    {
        const size_t num_bands = static_cast<size_t>((num_rows + band_rows - 1) / band_rows);
        start.assign(num_bands + 1, 0);
        for (size_t i = 0; i < count; ++i) {
            const auto span = rows(i);
            for (int band = span.first / band_rows; band <= span.second / band_rows; ++band)
                ++start[static_cast<size_t>(band) + 1];
        }
        for (size_t band = 0; band < num_bands; ++band)
            start[band + 1] += start[band];
        nets.resize(start.back());
        next.assign(start.begin(), start.end() - 1);
        for (size_t i = 0; i < count; ++i) {
            const auto span = rows(i);
            for (int band = span.first / band_rows; band <= span.second / band_rows; ++band)
                nets[next[static_cast<size_t>(band)]++] = static_cast<int>(i);
        }
    }

    int num_bands() const { return start.empty() ? 0 : static_cast<int>(start.size()) - 1; }

    // Calls visit(net, first_row, last_row) for bands begin .. end - 1, band
    // by band, and in each band for each net reaching it in batch order,
    // with the band's rows.
    template <typename VISIT>
    void visit(int begin, int end, int band_rows, const VISIT& visit) const
    {
        for (int band = begin; band < end; ++band) {
            const int first_row = band * band_rows;
            const int last_row = first_row + band_rows - 1;
            for (size_t k = start[static_cast<size_t>(band)]; k < start[static_cast<size_t>(band) + 1]; ++k)
                visit(static_cast<size_t>(nets[k]), first_row, last_row);
        }
    }
};

}  // namespace congestion_internal

#endif
