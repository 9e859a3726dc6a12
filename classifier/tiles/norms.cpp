#include "classifier/tiles/norms.h"

#include <cmath>

#include "classifier/tiles/fast_distance.h"

namespace vendral {

namespace {

bool is_one(double p) { return p == 1.0; }
bool is_infinite(double p) { return p == HUGE_VAL; }
bool is_two(double p) { return p == 2.0; }
bool is_three(double p) { return p == 3.0; }
bool is_four(double p) { return p == 4.0; }
// p = 2, 3 and 4 are taken by the rows above; beyond general_largest_p the
// general regime's bound grows with p.
bool is_general(double p) { return p > 1.0 && p <= general_largest_p; }
bool any(double) { return true; }

double same_bits(int32_t) { return 0.0; }

}  // namespace

const norm_row norm_table[] = {
    {"min-norm", is_one, sum_of_absolute_differences, absolutes_distances_for_width,
     absolutes_group_distances_for_width, same_bits, nullptr},
    {"max-norm", is_infinite, largest_absolute_difference, largest_distances_for_width,
     largest_group_distances_for_width, same_bits, nullptr},
    {"euclidian-norm", is_two, power_distance, squares_distances_for_width, squares_group_distances_for_width,
     gram_error_bound, gram_distances_for_width},
    {"", is_three, power_distance, cubes_distances_for_width, cubes_group_distances_for_width,
     distance_error_bound, nullptr},
    {"", is_four, power_distance, fourth_powers_distances_for_width, fourth_powers_group_distances_for_width,
     distance_error_bound, nullptr},
    {"", is_general, power_distance, general_powers_distances_for_width, general_powers_group_distances_for_width,
     general_power_error_bound, nullptr},
    {"", any, power_distance, nullptr, nullptr, same_bits, nullptr},
};

const norm_row &norm_for(double p) {
    for (const norm_row &row : norm_table)
        if (row.selects(p)) return row;
    return norm_table[norm_count - 1];  // not reached: the last row selects every p
}

}  // namespace vendral
