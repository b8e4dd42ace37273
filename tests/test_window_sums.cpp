// Tests of the summed-area tables and the inclusive window query.
#include <random>

#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include "fitter/congestion/congestion_impl.h"
#include "test_support.h"

namespace {

GRID_2D<float> table_of(const GRID_2D<float>& source)
{
    GRID_2D<float> table;
    table.resize(source.get_num_rows(), source.get_num_cols(), 0.0f);
    build_down_left_sum(source, table);
    return table;
}

TEST(WindowSums, AllOnesGiveTheAreaUnderEveryCorner)
{
    GRID_2D<unsigned> ones;
    ones.resize(5, 4, 1u);
    GRID_2D<unsigned> table;
    table.resize(5, 4, 0u);
    build_down_left_sum(ones, table);
    for (int x = 0; x < 5; ++x)
        for (int y = 0; y < 4; ++y)
            EXPECT_EQ(table(x, y), static_cast<unsigned>((x + 1) * (y + 1)));
    EXPECT_EQ(get_window_sum(table, 1, 3, 2, 3), 6u);
    EXPECT_EQ(get_window_sum(table, 0, 4, 0, 3), 20u);
}

// source (x across, y up):     table:
//   y=1 | 4 5 6                y=1 | 5 12 21
//   y=0 | 1 2 3                y=0 | 1  3  6
//        x=0 1 2
TEST(WindowSums, SmallMatrixDrawnAbove)
{
    GRID_2D<float> source;
    source.resize(3, 2, 0.0f);
    source(0, 0) = 1; source(1, 0) = 2; source(2, 0) = 3;
    source(0, 1) = 4; source(1, 1) = 5; source(2, 1) = 6;
    const GRID_2D<float> table = table_of(source);
    EXPECT_EQ(table(0, 0), 1.0f);
    EXPECT_EQ(table(2, 0), 6.0f);
    EXPECT_EQ(table(0, 1), 5.0f);
    EXPECT_EQ(table(1, 1), 12.0f);
    EXPECT_EQ(table(2, 1), 21.0f);
    EXPECT_EQ(get_window_sum(table, 0, 0, 0, 0), 1.0f);   // no subtraction at the origin
    EXPECT_EQ(get_window_sum(table, 1, 1, 1, 1), 5.0f);   // one tile
    EXPECT_EQ(get_window_sum(table, 0, 2, 1, 1), 15.0f);  // touches row 0 only
    EXPECT_EQ(get_window_sum(table, 1, 2, 0, 1), 16.0f);  // touches column 0 only
    EXPECT_EQ(get_window_sum(table, 0, 2, 0, 1), 21.0f);  // the whole grid
}

TEST(WindowSums, FloatTableAddsRowsFirstThenColumns)
{
    // Row sums first: 1e8 + 4 loses the 4 in single precision, and so does
    // the column pass; columns first would keep 8 of it.
    GRID_2D<float> source;
    source.resize(2, 2, 0.0f);
    source(0, 0) = 1e8f;
    source(0, 1) = 4.0f;
    source(1, 0) = 4.0f;
    source(1, 1) = 4.0f;
    const GRID_2D<float> table = table_of(source);
    EXPECT_EQ(table(0, 1), 1e8f);
    EXPECT_EQ(table(1, 0), 1e8f + 4.0f);
    const float row1 = 4.0f + 4.0f;
    EXPECT_EQ(table(1, 1), row1 + table(0, 1));
}

TEST(WindowSums, OneThreadAndManyGiveTheSameTable)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(-3.0f, 10.0f);
    GRID_2D<float> source;
    source.resize(61, 47, 0.0f);
    for (float& v : source)
        v = value(random);
    GRID_2D<float> one;
    {
        tbb::global_control single(tbb::global_control::max_allowed_parallelism, 1);
        one = table_of(source);
    }
    const GRID_2D<float> many = table_of(source);
    EXPECT_TRUE(std::equal(one.begin(), one.end(), many.begin()));
}

// The table against its definition written out plainly: running sums along
// each row, then running sums of those down each column, one entry at a
// time. Sizes cross the row groups and column blocks of the builder.
TEST(WindowSums, MatchTheRowsThenColumnsDefinitionBitForBit)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> value(-1.0f, 100.0f);
    for (const auto& [rows, cols] : {std::pair{19, 530}, {1, 1}, {8, 256}, {9, 257}, {300, 3}}) {
        GRID_2D<float> source;
        source.resize(rows, cols, 0.0f);
        for (float& v : source)
            v = value(random);
        GRID_2D<float> expected;
        expected.resize(rows, cols, 0.0f);
        for (int r = 0; r < rows; ++r) {
            expected(r, 0) = source(r, 0);
            for (int c = 1; c < cols; ++c)
                expected(r, c) = source(r, c) + expected(r, c - 1);
        }
        for (int c = 0; c < cols; ++c)
            for (int r = 1; r < rows; ++r)
                expected(r, c) = expected(r, c) + expected(r - 1, c);
        const GRID_2D<float> table = table_of(source);
        EXPECT_TRUE(std::equal(table.begin(), table.end(), expected.begin())) << rows << " x " << cols;
    }
}

TEST(WindowSums, ChecksComeInTheirOrder)
{
    GRID_2D<float> table;
    table.resize(3, 3, 0.0f);
    EXPECT_FATAL(get_window_sum(table, 0, 3, 0, 3), "down_left_sum.get_num_rows() > xmax");
    EXPECT_FATAL(get_window_sum(table, 0, 2, 0, 3), "down_left_sum.get_num_cols() > ymax");
    EXPECT_FATAL(get_window_sum(table, -1, 2, -1, 2), "xmin >= 0");
    EXPECT_FATAL(get_window_sum(table, 0, 2, -1, 2), "ymin >= 0");
    EXPECT_FATAL(get_window_sum(table, 2, 1, 2, 1), "xmin <= xmax");
    EXPECT_FATAL(get_window_sum(table, 1, 1, 2, 1), "ymin <= ymax");
    const GRID_2D<float> empty;
    EXPECT_FATAL(get_window_sum(empty, 0, 0, 0, 0), "down_left_sum.get_num_rows() > xmax");
}

TEST(WindowSums, BuildNeedsAColumnWhenThereAreRows)
{
    GRID_2D<float> source;
    source.resize(2, 0, 0.0f);
    GRID_2D<float> table;
    table.resize(2, 0, 0.0f);
    EXPECT_FATAL(build_down_left_sum(source, table), "in_bounds(irow, icol)");
}

TEST(WindowSums, BuildNeedsASourceAsLargeAsTheTable)
{
    GRID_2D<float> table;
    table.resize(3, 3, 0.0f);
    GRID_2D<float> short_source;
    short_source.resize(2, 3, 0.0f);
    EXPECT_FATAL(build_down_left_sum(short_source, table), "in_bounds(irow, icol)");
    GRID_2D<float> narrow_source;
    narrow_source.resize(3, 2, 0.0f);
    EXPECT_FATAL(build_down_left_sum(narrow_source, table), "in_bounds(irow, icol)");
}

TEST(WindowExtents, SplitLowAndHigh)
{
    const std::pair<int, int> expected[] = {{0, 0}, {0, 0}, {1, 0}, {1, 1}, {2, 1}, {2, 2}, {3, 2}};
    for (int size = 0; size <= 6; ++size) {
        const WINDOW_EXTENTS extents = split_window(size);
        EXPECT_EQ(extents.low, expected[size].first) << size;
        EXPECT_EQ(extents.high, expected[size].second) << size;
    }
    EXPECT_EQ(split_window(-1).low, -1);
    EXPECT_EQ(split_window(-1).high, -1);
}

TEST(ChunkArithmetic, TenRowsInSixteenChunks)
{
    EXPECT_EQ(get_chunk_size(10, 16), 1);
    EXPECT_EQ(get_chunk_first_row(9, 1), 9);
    EXPECT_EQ(get_chunk_last_row(9, 1, 10), 9);
    EXPECT_GT(get_chunk_first_row(12, 1), get_chunk_last_row(12, 1, 10));  // empty chunk
    EXPECT_EQ(get_chunk_size(100, 16), 7);
    EXPECT_EQ(get_chunk_last_row(15, 7, 100), 99);
    EXPECT_EQ(get_chunk_size(10, 0), 0);
}

}  // namespace
