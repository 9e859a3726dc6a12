// Host arrays and the queries the module makes of them.
#include <algorithm>
#include <cstring>

#include "session.h"

namespace builtin_host {

void array_deleter::operator()(mxArray *array) const { delete array; }

namespace {

size_t element_count(const std::vector<int> &dims) {
    size_t count = 1;
    for (int size : dims) count *= static_cast<size_t>(size);
    return count;
}

bool has_data(mxClassID class_id) {
    return class_id != mxCELL_CLASS && class_id != mxSTRUCT_CLASS && class_id != mxOBJECT_CLASS &&
           class_id != mxUNKNOWN_CLASS;
}

}  // namespace

array_ptr make_array(mxClassID class_id, std::vector<int> dims, std::vector<double> values) {
    while (dims.size() < 2) dims.push_back(1);
    while (dims.size() > 2 && dims.back() == 1) dims.pop_back();
    array_ptr array(new mxArray);
    array->class_id = class_id;
    array->dims = std::move(dims);
    if (has_data(class_id)) {
        values.resize(element_count(array->dims), 0.0);
        array->real = std::move(values);
    }
    return array;
}

array_ptr make_matrix(int rows, int cols, const std::vector<double> &row_major) {
    std::vector<double> column_major(static_cast<size_t>(rows) * cols, 0.0);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            if (static_cast<size_t>(r) * cols + c < row_major.size())
                column_major[r + static_cast<size_t>(c) * rows] = row_major[r * cols + c];
    return make_array(mxDOUBLE_CLASS, {rows, cols}, column_major);
}

array_ptr make_scalar(double value) { return make_array(mxDOUBLE_CLASS, {1, 1}, {value}); }

array_ptr make_column(const std::vector<double> &values) {
    return make_array(mxDOUBLE_CLASS, {static_cast<int>(values.size()), 1}, values);
}

array_ptr make_row(const std::vector<double> &values) {
    return make_array(mxDOUBLE_CLASS, {1, static_cast<int>(values.size())}, values);
}

array_ptr clone(const mxArray *array) { return array_ptr(new mxArray(*array)); }

// Bitwise, so that NaNs and signed zeros count as unchanged only when they are.
bool same_array(const mxArray *a, const mxArray *b) {
    auto same_bits = [](const std::vector<double> &x, const std::vector<double> &y) {
        return x.size() == y.size() &&
               std::equal(x.begin(), x.end(), y.begin(), [](double u, double v) {
                   return std::memcmp(&u, &v, sizeof u) == 0;
               });
    };
    return a->class_id == b->class_id && a->dims == b->dims && a->sparse == b->sparse &&
           a->logical == b->logical && same_bits(a->real, b->real) && same_bits(a->imag, b->imag);
}

}  // namespace builtin_host

using builtin_host::enter_operation;
using builtin_host::note_misuse;

extern "C" {

int mxGetNumberOfDimensions(const mxArray *array) {
    enter_operation();
    return static_cast<int>(array->dims.size());
}

const int *mxGetDimensions(const mxArray *array) {
    enter_operation();
    return array->dims.data();
}

double *mxGetPr(const mxArray *array) {
    enter_operation();
    // The module reads data only of arrays it has checked to be double.
    if (array->class_id != mxDOUBLE_CLASS || array->sparse) note_misuse();
    return const_cast<double *>(array->real.data());
}

double mxGetScalar(const mxArray *array) {
    enter_operation();
    if (array->real.empty()) {
        note_misuse();
        return 0.0;
    }
    return array->real[0];
}

bool mxIsDouble(const mxArray *array) {
    enter_operation();
    return array->class_id == mxDOUBLE_CLASS;
}

bool mxIsSparse(const mxArray *array) {
    enter_operation();
    return array->sparse;
}

bool mxIsNumeric(const mxArray *array) {
    enter_operation();
    return array->class_id >= mxDOUBLE_CLASS && !array->logical;
}

bool mxIsLogical(const mxArray *array) {
    enter_operation();
    return array->logical;
}

bool mxIsChar(const mxArray *array) {
    enter_operation();
    return array->class_id == mxCHAR_CLASS;
}

mxArray *mxCreateNumericArray(int ndims, const int *dims, mxClassID class_id, mxComplexity complexity) {
    enter_operation();
    if (builtin_host::refuse_next_allocation()) return nullptr;
    std::vector<int> sizes(dims, dims + ndims);
    mxArray *array = builtin_host::make_array(class_id, sizes).release();
    if (complexity == mxCOMPLEX) array->imag.assign(array->real.size(), 0.0);
    builtin_host::current.created_arrays.insert(array);
    return array;
}

}  // extern "C"
