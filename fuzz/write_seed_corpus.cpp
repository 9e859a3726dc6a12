// Writes the fuzz seed corpus: well-formed calls over every kernel, norm and
// verbosity, each argument check failing in turn, empty and huge shapes, and
// memory refused at each step of a call. Usage: write_seed_corpus DIRECTORY
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "call_encoding.h"

namespace {

using fuzzing::fill_mode;

uint8_t value_byte(double value) {
    const auto &values = fuzzing::edge_values();
    for (size_t i = 0; i < values.size(); ++i)
        if (std::memcmp(&values[i], &value, sizeof value) == 0) return static_cast<uint8_t>(i);
    std::fprintf(stderr, "%g is not an edge value\n", value);
    std::exit(1);
}

constexpr int double_class = 0, int32_class = 11, char_class = 13, cell_class = 14;

struct argument {
    int class_index = double_class;
    std::vector<uint8_t> dims;  // size bytes
    fill_mode mode = fuzzing::each_element;
    std::vector<uint8_t> fill;  // fill bytes
    bool sparse = false, complex = false, logical = false;
};

argument scalar(double value) { return {double_class, {1, 1}, fuzzing::all_same, {value_byte(value)}}; }

// Rows x cols with its elements given row by row.
argument matrix(int rows, int cols, const std::vector<double> &row_major) {
    argument a{double_class, {static_cast<uint8_t>(rows), static_cast<uint8_t>(cols)}, fuzzing::each_element, {}};
    for (int c = 0; c < cols; ++c)
        for (int r = 0; r < rows; ++r) a.fill.push_back(value_byte(row_major[r * cols + c]));
    return a;
}

argument labels(int count, int classes) {
    return {double_class, {static_cast<uint8_t>(count), 1}, fuzzing::small_integers,
            {static_cast<uint8_t>(classes - 1)}};
}

struct call {
    int nlhs = 1;
    int thread_choice = 0;  // 0 one per processor, 1, 2, 3: 1, 2 or 4 threads
    bool literal = false;   // the engine's literal evaluation
    bool raise_returns = false;
    int refuse = 0;  // 1-based allocation to refuse, 0 for none
    std::vector<argument> arguments;
};

std::vector<uint8_t> encode(const call &c) {
    std::vector<uint8_t> bytes;
    bytes.push_back(static_cast<uint8_t>(c.nlhs | (c.raise_returns ? 4 : 0) | c.thread_choice << 4 |
                                         (c.literal ? 0x40 : 0)));
    bytes.push_back(static_cast<uint8_t>(c.refuse == 0 ? 0 : c.refuse + fuzzing::refusal_offset - 1));
    bytes.push_back(static_cast<uint8_t>(c.arguments.size()));
    for (const argument &a : c.arguments) {
        const auto dimension_count = static_cast<uint8_t>(a.dims.size() - 1);
        bytes.push_back(static_cast<uint8_t>(dimension_count | a.class_index << 2 | (a.sparse ? 0x40 : 0) |
                                             (a.complex ? 0x80 : 0)));
        bytes.push_back(static_cast<uint8_t>((a.logical ? 1 : 0) | a.mode << 1));
        bytes.insert(bytes.end(), a.dims.begin(), a.dims.end());
        bytes.insert(bytes.end(), a.fill.begin(), a.fill.end());
        if (a.complex) bytes.insert(bytes.end(), a.fill.begin(), a.fill.end());
    }
    return bytes;
}

call valid_call(int kernel, double p, double h, int oflag) {
    call c;
    c.arguments = {matrix(4, 2, {0, 0, 1, 0.5, 3, 4, 4, 3.9}),
                   labels(4, 2),
                   scalar(kernel),
                   scalar(p),
                   scalar(h),
                   matrix(3, 2, {0, 0.5, 3, 3, 1.5, 2}),
                   scalar(-1),
                   scalar(oflag)};
    return c;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    std::vector<std::pair<std::string, call>> seeds;
    const double inf = INFINITY;
    int n = 0;
    for (int kernel = 0; kernel < 4; ++kernel)
        for (double p : {1.0, 2.0, inf, 3.0}) {
            const double widths[] = {0.5, 1.0, 3.0, 3.9};
            seeds.push_back({"valid_" + std::to_string(n), valid_call(kernel, p, widths[(kernel + n) % 4], n % 4)});
            ++n;
        }

    for (int refuse = 1; refuse <= 16; ++refuse) {
        call c = valid_call(refuse % 4, refuse % 2 ? 1.0 : 2.0, 1.0, 1);
        c.refuse = refuse;
        c.raise_returns = refuse % 3 == 0;
        seeds.push_back({"refuse_" + std::to_string(refuse), c});
    }

    struct change {
        const char *name;
        int position;  // -1: argument count, -2: nlhs
        argument replacement;
    };
    const std::vector<change> changes = {
        {"templates_3d", 0, {double_class, {2, 2, 2}, fuzzing::all_same, {0}}},
        {"templates_int32", 0, {int32_class, {4, 2}, fuzzing::all_same, {4}}},
        {"templates_sparse", 0, [] { argument a = matrix(4, 2, {0, 0, 1, 1, 2, 2, 3, 3}); a.sparse = true; return a; }()},
        {"templates_complex", 0, [] { argument a = matrix(4, 2, {0, 0, 1, 1, 2, 2, 3, 3}); a.complex = true; return a; }()},
        {"labels_3d", 1, {double_class, {4, 1, 2}, fuzzing::all_same, {4}}},
        {"labels_short", 1, labels(3, 2)},
        {"labels_row", 1, {double_class, {1, 4}, fuzzing::small_integers, {2}}},
        {"labels_nan", 1, {double_class, {4, 1}, fuzzing::each_element, {4, 10, 4, 18}}},
        {"labels_big", 1, {double_class, {4, 1}, fuzzing::each_element, {4, 11, 20, 12}}},
        {"labels_fractions", 1, {double_class, {4, 1}, fuzzing::each_element, {4, 23, 23, 3}}},
        {"kernel_matrix", 2, matrix(2, 2, {0, 0, 0, 0})},
        {"kernel_empty", 2, {double_class, {1, 0}, fuzzing::all_same, {0}}},
        {"kernel_4", 2, scalar(4)},
        {"kernel_nan", 2, scalar(NAN)},
        {"kernel_char", 2, {char_class, {1, 1}, fuzzing::all_same, {4}}},
        {"kernel_cell", 2, {cell_class, {1, 1}, fuzzing::all_same, {0}}},
        {"kernel_logical", 2, [] { argument a = scalar(1); a.logical = true; return a; }()},
        {"kernel_minus_half", 2, scalar(-0.5)},
        {"norm_half", 3, scalar(0.5)},
        {"norm_huge", 3, scalar(1e308)},
        {"h_zero", 4, scalar(0)},
        {"h_tiny", 4, scalar(1e-300)},
        {"h_denormal", 4, scalar(std::nextafter(0.0, 1.0))},
        {"h_nan", 4, scalar(NAN)},
        {"patterns_3d", 5, {double_class, {2, 2, 3}, fuzzing::all_same, {0}}},
        {"patterns_columns", 5, matrix(2, 3, {0, 0, 0, 0, 0, 0})},
        {"patterns_empty", 5, {double_class, {0, 2}, fuzzing::all_same, {0}}},
        {"patterns_row", 5, matrix(1, 2, {3.9, -0.5})},
        {"patterns_far", 5, matrix(2, 2, {1e308, -inf, inf, 1e-300})},
        {"unknown_nan", 6, scalar(NAN)},
        {"unknown_big", 6, scalar(2147483648.0)},
        {"unknown_edge", 6, scalar(-2147483648.0)},
        {"oflag_4", 7, scalar(4)},
        {"oflag_row", 7, {double_class, {1, 5}, fuzzing::ramp, {6, 4}}},
    };
    for (const change &ch : changes) {
        call c = valid_call(0, 2.0, 1.0, 2);
        c.arguments[ch.position] = ch.replacement;
        seeds.push_back({ch.name, c});
    }
    for (int count : {0, 1, 7, 9, 10}) {
        call c = valid_call(1, 1.0, 1.0, 0);
        c.arguments.resize(static_cast<size_t>(count), scalar(0));
        seeds.push_back({"arguments_" + std::to_string(count), c});
    }
    for (int nlhs : {0, 2}) {
        call c = valid_call(2, 2.0, 1.0, 0);
        c.nlhs = nlhs;
        c.raise_returns = nlhs == 2;
        seeds.push_back({"nlhs_" + std::to_string(nlhs), c});
    }
    {
        call c = valid_call(0, 2.0, 1.0, 3);
        c.arguments[0] = {double_class, {0, 2}, fuzzing::all_same, {0}};
        c.arguments[1] = {double_class, {0, 1}, fuzzing::all_same, {0}};
        seeds.push_back({"no_templates", c});
        c.arguments[0] = {double_class, {0, fuzzing::huge_dimension_byte}, fuzzing::all_same, {0}};
        c.arguments[5] = {double_class, {0, fuzzing::huge_dimension_byte}, fuzzing::all_same, {0}};
        seeds.push_back({"no_rows_huge_columns", c});
    }
    {
        call c = valid_call(0, 2.0, 0.5, 2);  // mirrored templates: the pattern ties
        c.arguments[0] = matrix(4, 2, {1, 2, 3, 2, 2, 4, 2, 0});
        c.arguments[1] = {double_class, {4, 1}, fuzzing::each_element, {4, 18, 18, 4}};
        c.arguments[5] = matrix(1, 2, {2, 2});
        seeds.push_back({"tie", c});
    }
    {
        call c = valid_call(3, 1.0, 1.0, 2);  // d = 0: every distance is 0
        c.arguments[0] = {double_class, {5, 0}, fuzzing::all_same, {0}};
        c.arguments[1] = labels(5, 3);
        c.arguments[5] = {double_class, {3, 0}, fuzzing::all_same, {0}};
        seeds.push_back({"no_columns", c});
    }

    // Enough patterns for several threads, and templates in blocks with mixed classes.
    for (int choice = 0; choice < 4; ++choice) {
        call c = valid_call(choice, choice % 2 ? 2.0 : 3.0, 1.0, choice == 3 ? 2 : 0);
        c.thread_choice = choice;
        c.arguments[0] = {double_class, {static_cast<uint8_t>(fuzzing::large_size_byte + 20), 3}, fuzzing::ramp,
                          {value_byte(0.5), value_byte(0.5)}};
        c.arguments[1] = {double_class, {static_cast<uint8_t>(fuzzing::large_size_byte + 20), 1},
                          fuzzing::small_integers, {2}};
        c.arguments[5] = {double_class, {static_cast<uint8_t>(fuzzing::large_size_byte + 23), 3}, fuzzing::ramp,
                          {value_byte(-1.0), value_byte(0.5)}};
        seeds.push_back({"threads_" + std::to_string(choice), c});
        c.literal = true;
        c.refuse = choice == 0 ? 0 : 40 + choice;
        seeds.push_back({"literal_" + std::to_string(choice), c});
    }

    for (const auto &seed : seeds) {
        const std::string path = std::string(argv[1]) + "/" + seed.first;
        FILE *file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) {
            std::perror(path.c_str());
            return 1;
        }
        const std::vector<uint8_t> bytes = encode(seed.second);
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    std::printf("%zu seeds written to %s\n", seeds.size(), argv[1]);
    return 0;
}
