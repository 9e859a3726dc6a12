#include "arrays.h"

#include <cstddef>
#include <cstdint>

#include "large_blocks.h"

namespace vendral {

namespace {

// Zero-sized blocks are asked for as one element: a host may answer a
// zero-byte request with null, which would read as out of memory. Every
// block here is written whole.
void *allocate(int64_t count, size_t size) {
    const size_t elements = count > 0 ? static_cast<size_t>(count) : 1;
    if (elements > SIZE_MAX / size) return nullptr;  // (a 32-bit host's size_t)
    void *block = host_block_to_write(elements * size);
    prepare_to_write_whole(block, elements * size);
    return block;
}

bool fits_int32(int64_t value) { return value >= 0 && value <= INT32_MAX; }

// Up to this many columns a matrix is copied row by row.
constexpr int32_t few_columns = 16;

}  // namespace

int64_t host_dimension(const mxArray *array, int which) {
    return static_cast<int64_t>(mxGetDimensions(array)[which]);
}

double **mxArray2D_to_cArray2D(int32_t *rows_out, int32_t *cols_out, const mxArray *array) {
    const bool two_dimensional = mxGetNumberOfDimensions(array) == 2;
    if (!two_dimensional || !fits_int32(host_dimension(array, 0)) ||
        !fits_int32(host_dimension(array, 1))) {
        *rows_out = 0;
        *cols_out = 0;
        mexWarnMsgTxt("mxArray2D_to_cArray2D: mxArray argument passed was not appropriate!");
        return nullptr;
    }
    const auto rows = static_cast<int32_t>(host_dimension(array, 0));
    const auto cols = static_cast<int32_t>(host_dimension(array, 1));
    *rows_out = rows;
    *cols_out = cols;

    // The rows share one block: a block per row would cost the host its
    // bookkeeping once per row, more than the rows themselves for narrow data.
    const uint64_t elements = static_cast<uint64_t>(rows) * static_cast<uint64_t>(cols);
    if (elements > SIZE_MAX / sizeof(double)) return nullptr;
    auto **table = static_cast<double **>(allocate(rows, sizeof(double *)));
    if (table == nullptr) return nullptr;
    auto *cells = static_cast<double *>(allocate(static_cast<int64_t>(elements), sizeof(double)));
    if (cells == nullptr) return nullptr;  // the host reclaims the table
    for (int32_t r = 0; r < rows; ++r) table[r] = cells + static_cast<size_t>(r) * static_cast<size_t>(cols);
    // With no rows there is nothing to copy, however many columns: a 0 x 2^31-1
    // matrix must not cost 2^31 empty passes.
    if (rows == 0) return table;
    const double *data = mxGetPr(array);
    const auto stride = static_cast<size_t>(rows);
    if (cols <= few_columns) {
        // Row by row: each row written once, its columns read from a few
        // streams at once (column by column would pass over the copy cols times).
        for (int32_t r = 0; r < rows; ++r) {
            double *row = cells + static_cast<size_t>(r) * static_cast<size_t>(cols);
            for (int32_t c = 0; c < cols; ++c) row[c] = data[r + static_cast<size_t>(c) * stride];
        }
        return table;
    }
    for (int32_t c = 0; c < cols; ++c)
        for (int32_t r = 0; r < rows; ++r) table[r][c] = data[r + static_cast<size_t>(c) * stride];
    return table;
}

double *mxArray1D_to_cArray1D(int32_t *length_out, const mxArray *array) {
    if (mxGetNumberOfDimensions(array) != 2) {
        *length_out = 0;
        mexWarnMsgTxt("mxArray1D_to_cArray1D: Argument passed was not appropriate!");
        return nullptr;
    }
    const int64_t rows = host_dimension(array, 0);
    const int64_t cols = host_dimension(array, 1);
    const int64_t length = rows == 1 ? cols : (cols == 1 ? rows : -1);
    if (!fits_int32(length)) {
        *length_out = 0;
        mexWarnMsgTxt("mxArray1D_to_cArray1D: mxArray argument passed was not appropriate!");
        return nullptr;
    }
    *length_out = static_cast<int32_t>(length);

    auto *vector = static_cast<double *>(allocate(length, sizeof(double)));
    if (vector == nullptr) return nullptr;
    const double *data = mxGetPr(array);
    for (int64_t i = 0; i < length; ++i) vector[i] = data[i];
    return vector;
}

mxArray *cArray1D_to_mxArray(int32_t length, double *buffer) {
    const host_size dims[2] = {static_cast<host_size>(length), 1};
    mxArray *array = mxCreateNumericArray(2, dims, mxDOUBLE_CLASS, mxREAL);
    if (array == nullptr) return nullptr;
    double *data = mxGetPr(array);
    for (int32_t i = 0; i < length; ++i) data[i] = buffer[i];
    mxFree(buffer);
    return array;
}

}  // namespace vendral
