// The order in which a batch of nets is added to a chunk's grids band by band.
#ifndef BAND_ORDER_H
#define BAND_ORDER_H

#include <algorithm>
#include <cstddef>
#include <vector>

namespace congestion_internal {

// Asks for the cache line that holds `address`, changing nothing.
inline void fetch_ahead(const void* address)
{
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

// Grid rows per band for grid rows of `row_length` tiles when a band holds
// `bytes_per_tile` bytes of each tile: as many as keep a band within
// BAND_BYTES.
inline int band_rows_for(int row_length, size_t bytes_per_tile)
{
    // Half of a second-level cache of 1 MiB per core, which it assumes; the
    // other half holds what a walk reads beside the band (the batch's records
    // and loads or row totals, the column buffers, the supply's window sums).
    // Measured on 1000 x 1000 tiles and 200 000 nets of the benchmarks'
    // netlist, one thread, in a simulated 1 MiB last-level cache (valgrind
    // --tool=callgrind --cache-sim=yes --LL=1048576,16,64): against 512 KiB,
    // bands of 128 KiB cost 9 % (path model) and 5 % (bounding-box model)
    // more instructions for at most 5 % fewer misses; bands of 1 MiB saved
    // 1.5 % and 1 % of the instructions for 5 % and 53 % more misses, and
    // bands of 2 MiB missed 1.4 and 3.2 times as often.
    constexpr size_t BAND_BYTES = size_t{512} << 10;
    const size_t row_bytes = bytes_per_tile * static_cast<size_t>(std::max(row_length, 1));
    return static_cast<int>(std::max<size_t>(1, BAND_BYTES / row_bytes));
}

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
    // rows(i).last. Counted, then placed: a counting sort.
    template <typename ROWS_OF>
    void build(size_t count, int num_rows, int band_rows, const ROWS_OF& rows)
    {
        const size_t num_bands = static_cast<size_t>((num_rows + band_rows - 1) / band_rows);
        start.assign(num_bands + 1, 0);
        for (size_t i = 0; i < count; ++i) {
            const auto span = rows(i);
            for (int band = span.first / band_rows; band <= span.last / band_rows; ++band)
                ++start[static_cast<size_t>(band) + 1];
        }
        for (size_t band = 0; band < num_bands; ++band)
            start[band + 1] += start[band];
        nets.resize(start.back());
        next.assign(start.begin(), start.end() - 1);
        for (size_t i = 0; i < count; ++i) {
            const auto span = rows(i);
            for (int band = span.first / band_rows; band <= span.last / band_rows; ++band)
                nets[next[static_cast<size_t>(band)]++] = static_cast<int>(i);
        }
    }

    int num_bands() const { return start.empty() ? 0 : static_cast<int>(start.size()) - 1; }

    // How far ahead in a band the data of a net is asked for: its record
    // first, then, once the record is there, what the record points to.
    // They assume that visiting one of the many small nets takes a fraction
    // of a miss to main memory, so that a line asked for several visits
    // ahead has arrived when its net comes, and that a record asked for
    // twice as far ahead as its details is in cache when the details'
    // address is read from it. Chosen on 1000 x 1000 tiles and 1 000 000
    // nets of the benchmarks' netlist, one thread, six runs of each on a
    // busy machine (best and median against 8 and 4): nothing asked for
    // ahead took 10 to 11 % longer under the path model and 5 % under the
    // bounding-box model, 4 and 2 took 2 to 4 % and 0 to 2 % longer, 16 and
    // 8 took 6 to 8 % and 3 to 4 % longer.
    static constexpr size_t RECORD_AHEAD = 8;
    static constexpr size_t DETAILS_AHEAD = 4;

    // Calls visit(net, first_row, last_row) for bands begin .. end - 1, band
    // by band, and in each band for each net reaching it in batch order,
    // with the band's rows. A band's nets lie scattered over the batch, so
    // before each visit it calls fetch_record(net) and fetch_details(net)
    // for the nets RECORD_AHEAD and DETAILS_AHEAD places further on, which
    // may ask for their cache lines (they must change nothing).
    template <typename FETCH_RECORD, typename FETCH_DETAILS, typename VISIT>
    void visit(int begin, int end, int band_rows, const FETCH_RECORD& fetch_record, const FETCH_DETAILS& fetch_details,
               const VISIT& visit) const
    {
        for (int band = begin; band < end; ++band) {
            const int first_row = band * band_rows;
            const int last_row = first_row + band_rows - 1;
            const size_t stop = start[static_cast<size_t>(band) + 1];
            for (size_t k = start[static_cast<size_t>(band)]; k < stop; ++k) {
                if (k + RECORD_AHEAD < stop)
                    fetch_record(static_cast<size_t>(nets[k + RECORD_AHEAD]));
                if (k + DETAILS_AHEAD < stop)
                    fetch_details(static_cast<size_t>(nets[k + DETAILS_AHEAD]));
                visit(static_cast<size_t>(nets[k]), first_row, last_row);
            }
        }
    }
};

}  // namespace congestion_internal

#endif
