// The codes take at least one bit of each of up to key_bits columns. The sort
// is a radix sort: a first pass shares the templates out by the codes' top
// digit into buckets that fit in cache, then each bucket is sorted alone, by
// the lower digits from the least significant up, every pass stable. Parts
// take a slice of the templates each in the first passes and whole buckets
// in the last ones.
#include "classifier/tree/code_order.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <type_traits>

#include "classifier/engine/worker_parts.h"

namespace vendral {

namespace {

constexpr int key_bits = 32;
constexpr int digit_bits = 8;
constexpr int digit_values = 1 << digit_bits;
constexpr uint32_t digit_mask = digit_values - 1;
// Passes over a bucket: its codes differ in the bits below the top digit only.
constexpr int most_bucket_passes = (key_bits - digit_bits + digit_bits - 1) / digit_bits;

struct code_layout {
    int32_t columns = 0;
    int bits = 0;  // per column
    uint32_t top = 0;  // the highest cell of a column
    double top_cell = 0.0;  // top, as a double
    double low[key_bits] = {};
    double scale[key_bits] = {};
};

// The bits of a byte spread to the even bits of 16, and of 10 bits to every
// third bit of 30: each code then takes a few lookups in 5 KB (instead of
// five shift-and-mask steps per column).
struct spread_tables {
    uint32_t by_one[256];
    uint32_t by_two[1024];
};

constexpr spread_tables make_spread_tables() {
    spread_tables tables{};
    for (uint32_t x = 0; x < 256; ++x)
        for (int bit = 0; bit < 8; ++bit) tables.by_one[x] |= (x >> bit & 1u) << (2 * bit);
    for (uint32_t x = 0; x < 1024; ++x)
        for (int bit = 0; bit < 10; ++bit) tables.by_two[x] |= (x >> bit & 1u) << (3 * bit);
    return tables;
}

constexpr spread_tables spread = make_spread_tables();

// The low 16 bits of x, spread to the even bits.
uint32_t spread_by_one(uint32_t x) { return spread.by_one[x & 0xffu] | spread.by_one[x >> 8 & 0xffu] << 16; }

// The low 10 bits of x, spread to every third bit.
uint32_t spread_by_two(uint32_t x) { return spread.by_two[x & 0x3ffu]; }

// f(std::integral_constant<int32_t, c>) with c = columns for up to three
// columns, else c = 0 (any number): the loops over the columns of a row are
// then unrolled where they are short, as they are for the columns that pay.
template <typename F>
void with_columns(int32_t columns, F f) {
    switch (columns) {
        case 1: f(std::integral_constant<int32_t, 1>{}); break;
        case 2: f(std::integral_constant<int32_t, 2>{}); break;
        case 3: f(std::integral_constant<int32_t, 3>{}); break;
        default: f(std::integral_constant<int32_t, 0>{}); break;
    }
}

// The cells turned so that their bits, interleaved, give their place along a
// Hilbert curve rather than a Z-order curve (J. Skilling, "Programming the
// Hilbert curve", AIP Conf. Proc. 707, 2004, its axes-to-transpose step).
// Cells next to each other along a Hilbert curve are next to each other in
// space, with none of the Z-order's jumps, so a run of codes fills a compact
// region: the tree's boxes are smaller, and a pattern visits fewer leaves
// (about a third fewer on clustered data). The steps depend on the cells'
// bits, so they are written without branches.
constexpr void turn_to_hilbert(uint32_t *cell, int32_t columns, int bits) {
    for (int level = bits - 1; level > 0; --level) {
        const uint32_t below = (uint32_t{1} << level) - 1;
        for (int32_t i = 0; i < columns; ++i) {
            // The bit at this level of column i set: column 0's bits below
            // it inverted; else those bits of columns 0 and i exchanged.
            const uint32_t set = 0u - (cell[i] >> level & 1u);
            const uint32_t exchanged = (cell[0] ^ cell[i]) & below & ~set;
            cell[0] ^= (below & set) | exchanged;
            cell[i] ^= exchanged;
        }
    }
    // Gray code.
    for (int32_t i = 1; i < columns; ++i) cell[i] ^= cell[i - 1];
    uint32_t flip = 0;
    for (int level = bits - 1; level > 0; --level)
        flip ^= (0u - (cell[columns - 1] >> level & 1u)) & ((uint32_t{1} << level) - 1);
    for (int32_t i = 0; i < columns; ++i) cell[i] ^= flip;
}

// The same code for two and three columns, two levels at a time: the digit a
// level of the code takes depends only on the cells' bits at that level and on
// the curve's orientation there (a state), set by the levels above. The
// states and their steps are found once, at compile time, from the cells'
// turns above: each state stands for a run of top bits that leads to it, and
// a state's steps are the digits the turns give below that run.
constexpr int most_hilbert_states = 48;

template <int32_t columns>
struct hilbert_steps {
    static constexpr int orthants = 1 << columns;
    static constexpr int bits = key_bits / columns;
    // By state and the cells' bits at two levels (the upper level's higher,
    // column 0's highest within a level; the state's entries one after the
    // other): the code's two digits in the low byte, and above it where the
    // entries of the state below them start (a lookup's address is then
    // one addition away from the last).
    uint32_t pair[most_hilbert_states * orthants * orthants] = {};
    bool complete = true;  // every state found and none too deep to follow
};

// The code's digit at `level` for cells with the given top bits (top_levels
// of them, in orthant order from the top) and orthant at the next level.
template <int32_t columns>
constexpr uint32_t hilbert_digit(const uint8_t *top, int top_levels, uint32_t orthant) {
    constexpr int bits = key_bits / columns;
    uint32_t cell[columns] = {};
    for (int k = 0; k <= top_levels; ++k) {
        const uint32_t bits_here = k < top_levels ? top[k] : orthant;
        for (int32_t i = 0; i < columns; ++i) cell[i] |= (bits_here >> (columns - 1 - i) & 1u) << (bits - 1 - k);
    }
    turn_to_hilbert(cell, columns, bits);
    const int level = bits - 1 - top_levels;
    uint32_t digit = 0;
    for (int32_t i = 0; i < columns; ++i) digit = digit << 1 | (cell[i] >> level & 1u);
    return digit;
}

template <int32_t columns>
constexpr hilbert_steps<columns> make_hilbert_steps() {
    constexpr int orthants = 1 << columns;
    constexpr int bits = key_bits / columns;
    hilbert_steps<columns> steps;
    // Each state's run of top bits, and its digits by orthant one level below.
    uint8_t run[most_hilbert_states][bits] = {};
    int run_levels[most_hilbert_states] = {};
    uint8_t digits[most_hilbert_states][orthants] = {};
    uint8_t next[most_hilbert_states][orthants] = {};
    int states = 1;
    for (uint32_t o = 0; o < orthants; ++o) digits[0][o] = static_cast<uint8_t>(hilbert_digit<columns>(run[0], 0, o));
    for (int state = 0; state < states; ++state) {
        if (run_levels[state] + 2 > bits) {
            steps.complete = false;
            return steps;
        }
        for (uint32_t o = 0; o < orthants; ++o) {
            // The state below: the one whose digits the longer run gives.
            uint8_t longer[bits] = {};
            for (int k = 0; k < run_levels[state]; ++k) longer[k] = run[state][k];
            longer[run_levels[state]] = static_cast<uint8_t>(o);
            uint8_t below[orthants] = {};
            for (uint32_t p = 0; p < orthants; ++p)
                below[p] = static_cast<uint8_t>(hilbert_digit<columns>(longer, run_levels[state] + 1, p));
            int found = 0;
            for (; found < states; ++found) {
                bool same = true;
                for (uint32_t p = 0; p < orthants; ++p) same = same && digits[found][p] == below[p];
                if (same) break;
            }
            if (found == states) {
                if (states == most_hilbert_states) {
                    steps.complete = false;
                    return steps;
                }
                for (int k = 0; k <= run_levels[state]; ++k) run[found][k] = longer[k];
                run_levels[found] = run_levels[state] + 1;
                for (uint32_t p = 0; p < orthants; ++p) digits[found][p] = below[p];
                ++states;
            }
            next[state][o] = static_cast<uint8_t>(found);
        }
    }
    for (int state = 0; state < states; ++state)
        for (uint32_t upper = 0; upper < orthants; ++upper)
            for (uint32_t lower = 0; lower < orthants; ++lower) {
                const int middle = next[state][upper];
                steps.pair[(state * orthants + upper) * orthants + lower] =
                    (digits[state][upper] * orthants + digits[middle][lower]) |
                    static_cast<uint32_t>(next[middle][lower] * orthants * orthants) << 8;
            }
    return steps;
}

constexpr hilbert_steps<2> hilbert_two = make_hilbert_steps<2>();
constexpr hilbert_steps<3> hilbert_three = make_hilbert_steps<3>();
static_assert(hilbert_two.complete && hilbert_three.complete, "the Hilbert curve's states were not all found");
static_assert(hilbert_two.bits % 2 == 0 && hilbert_three.bits % 2 == 0, "the steps take two levels at a time");

// Codes are made this many at a time.
constexpr int32_t code_block = 64;

// The Hilbert codes of `count` cells whose bits, interleaved, are in codes: in
// place. Four walks through the steps go side by side (each lookup's address
// waits on the one before only within a walk), in registers.
template <int32_t columns, int count>
void hilbert_codes(const hilbert_steps<columns> &steps, uint32_t *codes) {
    constexpr int pair_bits = 2 * columns;
    constexpr uint32_t pair_mask = (1u << pair_bits) - 1;
    uint32_t code[count] = {}, at[count] = {};
    for (int shift = (hilbert_steps<columns>::bits - 2) * columns; shift >= 0; shift -= pair_bits)
        for (int k = 0; k < count; ++k) {
            const uint32_t step = steps.pair[at[k] + (codes[k] >> shift & pair_mask)];
            code[k] = code[k] << pair_bits | (step & 0xffu);
            at[k] = step >> 8;
        }
    for (int k = 0; k < count; ++k) codes[k] = code[k];
}

template <int32_t columns>
void hilbert_codes(const hilbert_steps<columns> &steps, uint32_t *codes, int32_t n) {
    int32_t k = 0;
    for (; k + 4 <= n; k += 4) hilbert_codes<columns, 4>(steps, codes + k);
    for (; k < n; ++k) hilbert_codes<columns, 1>(steps, codes + k);
}

// The cells' bits, from the top bit down, column 0 first within each bit
// (fixed_columns: layout.columns where it is not 0): the code itself for
// one column and for four or more (along the Hilbert curve), the bits as they
// are for two or three (hilbert_codes turns them into codes).
template <int32_t fixed_columns>
uint32_t interleaved_cells(const code_layout &layout, const double *row) {
    const int32_t columns = fixed_columns > 0 ? fixed_columns : layout.columns;
    uint32_t cell[key_bits];
    for (int32_t i = 0; i < columns; ++i) {
        // Clamped to [0, top]; NaN (an infinite difference times a zero
        // scale) to 0.
        const double at = std::max(0.0, std::min((row[i] - layout.low[i]) * layout.scale[i], layout.top_cell));
        cell[i] = static_cast<uint32_t>(at);
    }
    if (columns == 1) return cell[0];
    if (columns == 2) return spread_by_one(cell[0]) << 1 | spread_by_one(cell[1]);
    if (columns == 3) return spread_by_two(cell[0]) << 2 | spread_by_two(cell[1]) << 1 | spread_by_two(cell[2]);
    turn_to_hilbert(cell, columns, layout.bits);
    uint32_t code = 0;
    for (int bit = layout.bits - 1; bit >= 0; --bit)
        for (int32_t i = 0; i < columns; ++i) code = code << 1 | (cell[i] >> bit & 1u);
    return code;
}

struct slice {
    int32_t begin, end;
};

slice slice_of(int32_t N, int part, int parts) {
    return {static_cast<int32_t>(static_cast<int64_t>(N) * part / parts),
            static_cast<int32_t>(static_cast<int64_t>(N) * (part + 1) / parts)};
}

// Sorts from[0, n) by the digits below top_shift; the result ends in from or
// in other, whichever is returned.
const keyed_template *sort_bucket(keyed_template *from, keyed_template *other, int32_t n, int top_shift) {
    const int passes = (top_shift + digit_bits - 1) / digit_bits;
    int32_t start[most_bucket_passes][digit_values] = {};
    for (int32_t k = 0; k < n; ++k)
        for (int pass = 0; pass < passes; ++pass) ++start[pass][from[k].code >> (pass * digit_bits) & digit_mask];
    for (int pass = 0; pass < passes; ++pass) {
        const int shift = pass * digit_bits;
        int32_t *at = start[pass];
        // One digit for all: the pass would leave the order as it is.
        if (at[from[0].code >> shift & digit_mask] == n) continue;
        int32_t sum = 0;
        for (int b = 0; b < digit_values; ++b) {
            const int32_t count = at[b];
            at[b] = sum;
            sum += count;
        }
        for (int32_t k = 0; k < n; ++k) other[at[from[k].code >> shift & digit_mask]++] = from[k];
        std::swap(from, other);
    }
    return from;
}

// Writes the indices and classes of sorted[begin, end) (sorted[0] at
// position begin) to their segments.
void place(const keyed_template *sorted, int32_t begin, int32_t end, const int32_t *class_of_template,
           const order_segment *segments) {
    const order_segment *segment = segments;
    while (segment->end <= begin) ++segment;
    for (int32_t k = begin; k < end; ++k) {
        while (segment->end <= k) ++segment;
        const int32_t j = sorted[k - begin].index;
        segment->index_at[k] = j;
        segment->class_at[k] = class_of_template[j];
    }
}

}  // namespace

bool order_by_code(const engine_inputs &in, keyed_template *room, const order_segment *segments, int parts) {
    const int32_t N = in.N;
    if (N <= 0) return false;
    parts = std::max(1, std::min({parts, most_sort_parts, static_cast<int>(N)}));
    code_layout layout;
    layout.columns = std::min<int32_t>(in.d, key_bits);
    layout.bits = key_bits / layout.columns;
    layout.top = static_cast<uint32_t>((uint64_t{1} << layout.bits) - 1);  // bits is 32 for one column
    layout.top_cell = layout.top;
    const int top_shift = layout.bits * layout.columns - digit_bits;  // at least 8: 16 or more bits are used

    // The templates' bounding box, each part over its slice.
    // And whether the rows lie one after the other in one block.
    double part_low[most_sort_parts][key_bits], part_high[most_sort_parts][key_bits];
    bool part_in_block[most_sort_parts];
    const double *const first_row = in.templates[0];
    run_parts(parts, [&](int part) {
        const slice s = slice_of(N, part, parts);
        double lo[key_bits], hi[key_bits];
        std::copy_n(in.templates[s.begin], layout.columns, lo);
        std::copy_n(in.templates[s.begin], layout.columns, hi);
        // (As integers: an offset between pointers into separate blocks is undefined.)
        const auto first_address = reinterpret_cast<uintptr_t>(first_row);
        const auto row_bytes = static_cast<uintptr_t>(in.d) * sizeof(double);
        bool in_block = true;
        with_columns(layout.columns, [&](auto fixed) {
            const int32_t columns = decltype(fixed)::value > 0 ? decltype(fixed)::value : layout.columns;
            for (int32_t j = s.begin; j < s.end; ++j) {
                const double *row = in.templates[j];
                in_block &= reinterpret_cast<uintptr_t>(row) == first_address + static_cast<uintptr_t>(j) * row_bytes;
                for (int32_t i = 0; i < columns; ++i) {
                    lo[i] = std::min(lo[i], row[i]);
                    hi[i] = std::max(hi[i], row[i]);
                }
            }
        });
        std::copy_n(lo, layout.columns, part_low[part]);
        std::copy_n(hi, layout.columns, part_high[part]);
        part_in_block[part] = in_block;
    });
    for (int32_t i = 0; i < layout.columns; ++i) {
        double lo = part_low[0][i], hi = part_high[0][i];
        for (int part = 1; part < parts; ++part) {
            lo = std::min(lo, part_low[part][i]);
            hi = std::max(hi, part_high[part][i]);
        }
        layout.low[i] = lo;
        // hi - lo may overflow to +inf: the scale is then 0 and so is the column's part.
        layout.scale[i] = hi > lo ? static_cast<double>(uint64_t{1} << layout.bits) / (hi - lo) : 0.0;
    }

    // Codes, and how many of each part's have each top digit.
    keyed_template *coded = room, *bucketed = room + N;
    int32_t part_start[most_sort_parts][digit_values] = {};
    run_parts(parts, [&](int part) {
        const slice s = slice_of(N, part, parts);
        int32_t *count = part_start[part];
        with_columns(layout.columns, [&](auto fixed) {
            constexpr int32_t columns = decltype(fixed)::value;
            uint32_t codes[code_block];
            for (int32_t first = s.begin; first < s.end; first += code_block) {
                const int32_t n = std::min(code_block, s.end - first);
                for (int32_t k = 0; k < n; ++k) codes[k] = interleaved_cells<columns>(layout, in.templates[first + k]);
                if (columns == 2) hilbert_codes(hilbert_two, codes, n);
                if (columns == 3) hilbert_codes(hilbert_three, codes, n);
                for (int32_t k = 0; k < n; ++k) {
                    coded[first + k] = {codes[k], first + k};
                    ++count[codes[k] >> top_shift & digit_mask];
                }
            }
        });
    });
    // Each bucket holds its templates in their own order: part by part.
    int32_t bucket_start[digit_values + 1];
    int32_t sum = 0;
    for (int b = 0; b < digit_values; ++b) {
        bucket_start[b] = sum;
        for (int part = 0; part < parts; ++part) {
            const int32_t count = part_start[part][b];
            part_start[part][b] = sum;
            sum += count;
        }
    }
    bucket_start[digit_values] = sum;
    run_parts(parts, [&](int part) {
        const slice s = slice_of(N, part, parts);
        int32_t *at = part_start[part];
        for (int32_t j = s.begin; j < s.end; ++j) bucketed[at[coded[j].code >> top_shift & digit_mask]++] = coded[j];
    });

    // Buckets go to whichever part is free: they differ much in size.
    std::atomic<int> next_bucket{0};
    run_parts(parts, [&](int) {
        for (int b; (b = next_bucket.fetch_add(1, std::memory_order_relaxed)) < digit_values;) {
            const int32_t begin = bucket_start[b], end = bucket_start[b + 1];
            if (begin == end) continue;
            const keyed_template *sorted = sort_bucket(bucketed + begin, coded + begin, end - begin, top_shift);
            place(sorted, begin, end, in.class_of_template, segments);
        }
    });
    return std::all_of(part_in_block, part_in_block + parts, [](bool in_block) { return in_block; });
}

}  // namespace vendral
