// Conversions between host arrays (column-major) and the module's working
// arrays: a working matrix is a table of row pointers, each row d contiguous
// doubles (all rows in one block). All memory comes from the host's
// call-scoped allocator.
#ifndef VENDRAL_HOST_ARRAYS_H
#define VENDRAL_HOST_ARRAYS_H

#include <cstdint>

#include "host_api.h"

namespace vendral {

// Size of dimension `which` (0 rows, 1 columns) in the host's own size type,
// widened so it can be compared without wrapping.
int64_t host_dimension(const mxArray *array, int which);

// Row-major copy of a two-dimensional array, with its counts written out;
// null (with a host warning when the array is not two-dimensional) otherwise.
double **mxArray2D_to_cArray2D(int32_t *rows_out, int32_t *cols_out, const mxArray *array);

// Copy of a 1xN or Nx1 array, with its length written out; null otherwise.
double *mxArray1D_to_cArray1D(int32_t *length_out, const mxArray *array);

// New length x 1 double array holding buffer, which it then frees; null
// (buffer untouched) when the host cannot create the array.
mxArray *cArray1D_to_mxArray(int32_t length, double *buffer);

}  // namespace vendral

#endif  // VENDRAL_HOST_ARRAYS_H
