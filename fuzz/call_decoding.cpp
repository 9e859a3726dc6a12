#include <cmath>
#include <limits>

#include "call_encoding.h"

namespace fuzzing {

namespace {

class byte_source {
public:
    byte_source(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    uint8_t next() {
        if (size_ == 0) return 0;
        --size_;
        return *data_++;
    }

private:
    const uint8_t *data_;
    size_t size_;
};

double edge(uint8_t byte) { return edge_values()[byte % edge_values().size()]; }

std::vector<double> fill(byte_source *bytes, fill_mode mode, size_t count) {
    std::vector<double> values(count);
    switch (mode) {
        case each_element:
            for (double &value : values) value = edge(bytes->next());
            break;
        case all_same: {
            const double value = edge(bytes->next());
            for (double &element : values) element = value;
            break;
        }
        case small_integers: {
            const size_t classes = bytes->next() % 8 + 1;
            for (size_t i = 0; i < count; ++i) values[i] = static_cast<double>(1 + i % classes);
            break;
        }
        case ramp: {
            const double start = edge(bytes->next());
            const double step = edge(bytes->next());
            for (size_t i = 0; i < count; ++i) values[i] = start + static_cast<double>(i) * step;
            break;
        }
    }
    return values;
}

builtin_host::array_ptr decode_argument(byte_source *bytes) {
    const uint8_t shape = bytes->next();
    const uint8_t flags = bytes->next();
    const int dimension_count = (shape & 3) + 1;
    const mxClassID class_id = element_classes[(shape >> 2) & 15];

    std::vector<int> dims;
    for (int i = 0; i < dimension_count; ++i) {
        const uint8_t byte = bytes->next();
        dims.push_back(byte == huge_dimension_byte ? huge_dimension
                       : byte >= large_size_byte ? size_modulus + (byte - large_size_byte)
                                                 : byte % size_modulus);
    }
    // Too many elements: the dimensions shrink until the array is small.
    auto element_count = [&dims] {
        uint64_t count = 1;
        for (int size : dims) count *= static_cast<uint64_t>(size);
        return count;
    };
    for (size_t i = 0; element_count() > max_elements; i = (i + 1) % dims.size())
        if (dims[i] > 1) dims[i] = dims[i] == huge_dimension ? 1 : dims[i] / 2;
    const size_t count = static_cast<size_t>(element_count());

    const auto mode = static_cast<fill_mode>((flags >> 1) & 3);
    builtin_host::array_ptr array = builtin_host::make_array(class_id, dims, fill(bytes, mode, count));
    // Only combinations a real host makes: logical and complex numbers,
    // sparse doubles.
    const bool numeric = class_id >= mxDOUBLE_CLASS;
    array->sparse = (shape & 0x40) != 0 && class_id == mxDOUBLE_CLASS;
    array->logical = (flags & 1) != 0 && numeric;
    if ((shape & 0x80) != 0 && numeric && !array->logical && !array->real.empty())
        array->imag = fill(bytes, mode, array->real.size());
    return array;
}

}  // namespace

const std::vector<double> &edge_values() {
    static const std::vector<double> values = {
        0.0,
        -0.0,
        0.5,
        -0.5,
        1.0,
        3.0,
        3.9,
        4.0,
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(),
        2147483648.0,   // 2^31
        -2147483648.0,  // -2^31
        9007199254740992.0,  // 2^53
        1e-300,
        1e308,
        std::numeric_limits<double>::denorm_min(),
        -std::numeric_limits<double>::min() / 4,  // a negative denormal
        2.0,
        -1.0,
        2147483647.0,
        -2147483649.0,
        -3.9,
        1.5,
    };
    return values;
}

decoded_call decode_call(const uint8_t *data, size_t size) {
    byte_source bytes(data, size);
    decoded_call call;
    const uint8_t header = bytes.next();
    call.nlhs = header % 3;
    call.options.raise_returns = (header & 4) != 0;
    call.options.null_for_zero_bytes = (header & 8) != 0;
    static const int thread_counts[] = {0, 1, 2, 4};
    call.engine_threads = thread_counts[(header >> 4) & 3];
    call.literal_evaluation = (header & 0x40) != 0;
    const uint8_t refusal = bytes.next();
    call.options.fail_allocation = refusal < refusal_offset ? 0 : refusal - refusal_offset + 1;
    const int argument_count = bytes.next() % (max_arguments + 1);
    for (int i = 0; i < argument_count; ++i) call.arguments.push_back(decode_argument(&bytes));

    if (call.arguments.size() > 5) {
        const mxArray *patterns = call.arguments[5].get();
        call.too_large = patterns->dims.size() == 2 && patterns->dims[0] > 4096;
    }
    return call;
}

}  // namespace fuzzing
