// The vector functions of lane_math.h over plain arrays, at the vector width
// the engine runs with: for their tests, which hold every width to its claim.
#include "classifier/lanes/lane_math.h"

#include "classifier/lanes/multiversion.h"

namespace vendral {

namespace {

// The function is a template argument, not a lambda: a lambda is compiled
// for the baseline target even inside a wider function, and would take its
// vectors the baseline's way.
template <int W, typename simd<W>::value (*function)(typename simd<W>::value)>
VENDRAL_LANE_INLINE void over_lanes(const double *in, double *out, int32_t count) {
    for (int32_t i = 0; i + W <= count; i += W) simd<W>::store(out + i, function(simd<W>::load(in + i)));
}

template <int W>
VENDRAL_LANE_INLINE void cube_roots_body(const double *in, double *out, int32_t count) {
    over_lanes<W, cube_root_of_sum<W>>(in, out, count);
}

template <int W>
VENDRAL_LANE_INLINE void fourth_roots_body(const double *in, double *out, int32_t count) {
    over_lanes<W, fourth_root_of_sum<W>>(in, out, count);
}

template <int W>
VENDRAL_LANE_INLINE void sines_body(const double *in, double *out, int32_t count) {
    over_lanes<W, sine<W>>(in, out, count);
}

template <int W>
VENDRAL_LANE_INLINE void natural_logs_body(const double *in, double *out, int32_t count) {
    over_lanes<W, natural_log<W>>(in, out, count);
}

VENDRAL_WIDTH_VARIANTS(natural_logs_lanes, void, (const double *in, double *out, int32_t count), (in, out, count),
                       natural_logs_body)
VENDRAL_WIDTH_VARIANTS(cube_roots_lanes, void, (const double *in, double *out, int32_t count), (in, out, count),
                       cube_roots_body)
VENDRAL_WIDTH_VARIANTS(fourth_roots_lanes, void, (const double *in, double *out, int32_t count), (in, out, count),
                       fourth_roots_body)
VENDRAL_WIDTH_VARIANTS(sines_lanes, void, (const double *in, double *out, int32_t count), (in, out, count),
                       sines_body)

}  // namespace

void cube_roots_of_sums(const double *in, double *out, int32_t count, int width) {
    cube_roots_lanes_for_width(width)(in, out, count);
}

void fourth_roots_of_sums(const double *in, double *out, int32_t count, int width) {
    fourth_roots_lanes_for_width(width)(in, out, count);
}

void sines(const double *in, double *out, int32_t count, int width) { sines_lanes_for_width(width)(in, out, count); }

void natural_logs(const double *in, double *out, int32_t count, int width) {
    natural_logs_lanes_for_width(width)(in, out, count);
}

}  // namespace vendral
