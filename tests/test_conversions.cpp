// Host arrays to working arrays and back.
#include <gtest/gtest.h>

#include "builtin_host/builtin_host.h"
#include "host/arrays.h"

using namespace vendral;
using builtin_host::make_array;
using builtin_host::make_matrix;

TEST(Conversions, MatrixBecomesRowMajorRowsWithItsCounts) {
    auto matrix = make_matrix(2, 3, {1, 2, 3, 4, 5, 6});
    const auto outcome = builtin_host::within_call([&] {
        int32_t rows = -1, cols = -1;
        double **table = mxArray2D_to_cArray2D(&rows, &cols, matrix.get());
        ASSERT_NE(table, nullptr);
        EXPECT_EQ(rows, 2);
        EXPECT_EQ(cols, 3);
        EXPECT_EQ(std::vector<double>(table[0], table[0] + 3), (std::vector<double>{1, 2, 3}));
        EXPECT_EQ(std::vector<double>(table[1], table[1] + 3), (std::vector<double>{4, 5, 6}));
    });
    EXPECT_TRUE(outcome.warnings.empty());
    EXPECT_EQ(outcome.allocations, 2u) << "the row table and one block for the rows";
}

// Narrow matrices are copied row by row, wide ones column by column: both
// give every cell its place (in blocks the host fills with other bytes first,
// so that a cell left unwritten would show).
TEST(Conversions, NarrowAndWideMatricesKeepEveryCell) {
    builtin_host::call_options dirty;
    dirty.unzeroed_fill = 0xa5;
    for (const int cols : {1, 16, 17, 40}) {
        const int rows = 7;
        std::vector<double> row_major(static_cast<size_t>(rows) * cols);
        for (size_t k = 0; k < row_major.size(); ++k) row_major[k] = static_cast<double>(k) + 0.5;
        auto matrix = make_matrix(rows, cols, row_major);
        builtin_host::within_call([&] {
            int32_t got_rows = -1, got_cols = -1;
            double **table = mxArray2D_to_cArray2D(&got_rows, &got_cols, matrix.get());
            ASSERT_NE(table, nullptr);
            ASSERT_EQ(got_cols, cols);
            for (int r = 0; r < rows; ++r)
                for (int c = 0; c < cols; ++c)
                    EXPECT_EQ(table[r][c], row_major[static_cast<size_t>(r) * cols + c]) << cols << " columns";
        }, dirty);
    }
}

TEST(Conversions, VectorKeepsEveryElement) {
    builtin_host::call_options dirty;
    dirty.unzeroed_fill = 0xa5;
    auto vector = make_matrix(5, 1, {1.5, -2, 0, 4e300, 7});
    builtin_host::within_call([&] {
        int32_t length = -1;
        const double *copy = mxArray1D_to_cArray1D(&length, vector.get());
        ASSERT_NE(copy, nullptr);
        ASSERT_EQ(length, 5);
        EXPECT_EQ(std::vector<double>(copy, copy + 5), (std::vector<double>{1.5, -2, 0, 4e300, 7}));
    }, dirty);
}

TEST(Conversions, MisuseWarnsAndGivesNull) {
    auto cube = make_array(mxDOUBLE_CLASS, {2, 2, 2});
    auto square = make_matrix(2, 2, {});
    const auto outcome = builtin_host::within_call([&] {
        int32_t rows = 5, cols = 5, length = 5;
        EXPECT_EQ(mxArray2D_to_cArray2D(&rows, &cols, cube.get()), nullptr);
        EXPECT_EQ(rows, 0);
        EXPECT_EQ(cols, 0);
        EXPECT_EQ(mxArray1D_to_cArray1D(&length, cube.get()), nullptr);
        EXPECT_EQ(length, 0);
        length = 5;
        EXPECT_EQ(mxArray1D_to_cArray1D(&length, square.get()), nullptr);
        EXPECT_EQ(length, 0);
    });
    EXPECT_EQ(outcome.warnings,
              (std::vector<std::string>{
                  "mxArray2D_to_cArray2D: mxArray argument passed was not appropriate!",
                  "mxArray1D_to_cArray1D: Argument passed was not appropriate!",
                  "mxArray1D_to_cArray1D: mxArray argument passed was not appropriate!"}));
}

TEST(Conversions, VectorsEitherWayRound) {
    auto row = builtin_host::make_row({4, 5, 6});
    auto column = builtin_host::make_column({7, 8});
    builtin_host::within_call([&] {
        int32_t length = 0;
        double *values = mxArray1D_to_cArray1D(&length, row.get());
        ASSERT_EQ(length, 3);
        EXPECT_EQ(std::vector<double>(values, values + 3), (std::vector<double>{4, 5, 6}));
        values = mxArray1D_to_cArray1D(&length, column.get());
        ASSERT_EQ(length, 2);
        EXPECT_EQ(std::vector<double>(values, values + 2), (std::vector<double>{7, 8}));
    });
}

TEST(Conversions, ResultArrayTakesAndFreesTheBuffer) {
    mxArray *array = nullptr;
    const auto outcome = builtin_host::within_call([&] {
        auto *buffer = static_cast<double *>(mxCalloc(3, sizeof(double)));
        buffer[0] = 1;
        buffer[1] = -2;
        buffer[2] = 3.5;
        array = cArray1D_to_mxArray(3, buffer);
        ASSERT_NE(array, nullptr);
        EXPECT_EQ(array->dims, (std::vector<int>{3, 1}));
        EXPECT_EQ(array->real, (std::vector<double>{1, -2, 3.5}));
        EXPECT_EQ(array->class_id, mxDOUBLE_CLASS);
        EXPECT_TRUE(array->imag.empty());
    });
    EXPECT_EQ(outcome.blocks_left, 0u) << "the buffer was freed";
    EXPECT_EQ(outcome.misuses, 0);
}

TEST(Conversions, RefusedResultArrayLeavesTheBuffer) {
    const auto outcome = builtin_host::within_call(
        [&] {
            auto *buffer = static_cast<double *>(mxCalloc(2, sizeof(double)));
            EXPECT_EQ(cArray1D_to_mxArray(2, buffer), nullptr);
            mxFree(buffer);  // still ours: freeing it again would be a misuse
        },
        builtin_host::call_options{2, false, false});
    EXPECT_EQ(outcome.misuses, 0);
    EXPECT_EQ(outcome.blocks_left, 0u);
}
