#include "roofline.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

#include "classifier/lanes/lane_math.h"
#include "classifier/lanes/lanes.h"
#include "classifier/lanes/multiversion.h"

namespace roofline {

namespace {

using vendral::simd;
using vendral::vector_width;

// Independent chains per probe: enough to cover each operation's latency.
constexpr int chains = 12;

// Makes the optimiser forget what v holds, so that work on it cannot be
// hoisted out of the loop; costs no instruction.
template <int W>
VENDRAL_LANE_INLINE void forget(typename simd<W>::value &v) {
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
    __asm__ volatile("" : "+v"(v));
#else
    // Clang checks the register constraint before inlining, outside the
    // wider target: through memory instead (the sanitizer build only).
    __asm__ volatile("" : "+m"(v));
#endif
}

template <int W>
VENDRAL_LANE_INLINE void keep(const typename simd<W>::value *sums, double *sink) {
    typename simd<W>::value total = sums[0];
    for (int c = 1; c < chains; ++c) total += sums[c];
    double lanes[W];
    simd<W>::store(lanes, total);
    for (int l = 0; l < W; ++l) *sink += lanes[l];
}

// The column terms: s += term(b, a), one pattern value b against a chain's
// template vector a.
template <int W>
VENDRAL_LANE_INLINE typename simd<W>::value product(typename simd<W>::value b, typename simd<W>::value a) {
    return a * b;
}

template <int W>
VENDRAL_LANE_INLINE typename simd<W>::value absolute_difference(typename simd<W>::value b,
                                                                typename simd<W>::value a) {
    return vendral::absolute<W>(b - a);
}

template <int W>
VENDRAL_LANE_INLINE typename simd<W>::value cubed_difference(typename simd<W>::value b, typename simd<W>::value a) {
    const typename simd<W>::value x = vendral::absolute<W>(b - a);
    return x * x * x;
}

template <int W, typename simd<W>::value (*term)(typename simd<W>::value, typename simd<W>::value)>
VENDRAL_LANE_INLINE void column_sums(int64_t rounds, double *sink) {
    using S = simd<W>;
    typename S::value sum[chains], a[chains];
    for (int c = 0; c < chains; ++c) sum[c] = S::broadcast(0), a[c] = S::broadcast(1.0 + c * 1e-3);
    typename S::value b = S::broadcast(0.5);
    for (int64_t r = 0; r < rounds; ++r) {
        forget<W>(b);
        for (int c = 0; c < chains; ++c) sum[c] = sum[c] + term(b, a[c]);
    }
    keep<W>(sum, sink);
}

template <int W>
VENDRAL_LANE_INLINE void fused_body(int64_t rounds, double *sink) {
    column_sums<W, product<W>>(rounds, sink);
}

template <int W>
VENDRAL_LANE_INLINE void absolute_body(int64_t rounds, double *sink) {
    column_sums<W, absolute_difference<W>>(rounds, sink);
}

template <int W>
VENDRAL_LANE_INLINE void cube_body(int64_t rounds, double *sink) {
    column_sums<W, cubed_difference<W>>(rounds, sink);
}

// The unary operations: one value per chain and round, summed. (The
// operation is a template argument, not a lambda: lambdas are compiled for
// the baseline target, see classifier/lane_math.cpp.)
template <int W, typename simd<W>::value (*apply)(typename simd<W>::value)>
VENDRAL_LANE_INLINE void unary_body(int64_t rounds, double *sink) {
    using S = simd<W>;
    typename S::value sum[chains], a[chains];
    for (int c = 0; c < chains; ++c) sum[c] = S::broadcast(0), a[c] = S::broadcast(-1.0 - c * 1e-3);
    for (int64_t r = 0; r < rounds; ++r) {
        for (int c = 0; c < chains; ++c) {
            forget<W>(a[c]);
            sum[c] = sum[c] + apply(a[c]);
        }
    }
    keep<W>(sum, sink);
}

template <int W>
VENDRAL_LANE_INLINE typename simd<W>::value cube_root_of(typename simd<W>::value a) {
    return vendral::cube_root_of_sum<W>(-a);
}

template <int W>
VENDRAL_LANE_INLINE typename simd<W>::value cauchy_of(typename simd<W>::value q) {
    return 1.0 / (q * q + 1.0);
}

template <int W>
VENDRAL_LANE_INLINE typename simd<W>::value sine_of(typename simd<W>::value a) {
    return vendral::sine<W>(-a);
}

template <int W>
VENDRAL_LANE_INLINE void exponential_body(int64_t rounds, double *sink) {
    unary_body<W, vendral::approximate_exp_lanes<W>>(rounds, sink);
}

template <int W>
VENDRAL_LANE_INLINE void cube_root_body(int64_t rounds, double *sink) {
    unary_body<W, cube_root_of<W>>(rounds, sink);
}

template <int W>
VENDRAL_LANE_INLINE void reciprocal_body(int64_t rounds, double *sink) {
    unary_body<W, cauchy_of<W>>(rounds, sink);
}

template <int W>
VENDRAL_LANE_INLINE void sine_body(int64_t rounds, double *sink) {
    unary_body<W, sine_of<W>>(rounds, sink);
}

VENDRAL_WIDTH_VARIANTS(fused_probe, void, (int64_t rounds, double *sink), (rounds, sink), fused_body)
VENDRAL_WIDTH_VARIANTS(absolute_probe, void, (int64_t rounds, double *sink), (rounds, sink), absolute_body)
VENDRAL_WIDTH_VARIANTS(cube_probe, void, (int64_t rounds, double *sink), (rounds, sink), cube_body)
VENDRAL_WIDTH_VARIANTS(exponential_probe, void, (int64_t rounds, double *sink), (rounds, sink), exponential_body)
VENDRAL_WIDTH_VARIANTS(cube_root_probe, void, (int64_t rounds, double *sink), (rounds, sink), cube_root_body)
VENDRAL_WIDTH_VARIANTS(reciprocal_probe, void, (int64_t rounds, double *sink), (rounds, sink), reciprocal_body)
VENDRAL_WIDTH_VARIANTS(sine_probe, void, (int64_t rounds, double *sink), (rounds, sink), sine_body)

using probe = void (*)(int64_t rounds, double *sink);

// Lanes per second with every core running the probe: rounds doubled until
// a run lasts long enough to time, then the best of three.
double lanes_per_second(probe run, double seconds, int width) {
    const int threads = std::max(1u, std::thread::hardware_concurrency());
    auto timed = [&](int64_t rounds) {
        std::vector<double> sinks(static_cast<size_t>(threads) * 8);
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) workers.emplace_back(run, rounds, &sinks[t * 8]);
        for (auto &worker : workers) worker.join();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    int64_t rounds = 1024;
    while (timed(rounds) < seconds / 4) rounds *= 2;
    double best = 1e300;
    for (int repeat = 0; repeat < 3; ++repeat) best = std::min(best, timed(rounds));
    return static_cast<double>(rounds) * chains * width * threads / best;
}

}  // namespace

rates measure(double seconds_per_probe, int width) {
    return {lanes_per_second(fused_probe_for_width(width), seconds_per_probe, width),
            lanes_per_second(absolute_probe_for_width(width), seconds_per_probe, width),
            lanes_per_second(cube_probe_for_width(width), seconds_per_probe, width),
            lanes_per_second(exponential_probe_for_width(width), seconds_per_probe, width),
            lanes_per_second(cube_root_probe_for_width(width), seconds_per_probe, width),
            lanes_per_second(reciprocal_probe_for_width(width), seconds_per_probe, width),
            lanes_per_second(sine_probe_for_width(width), seconds_per_probe, width)};
}

// p = +inf terms (a maximum instead of a sum) are counted as p = 1 terms,
// p = 4 terms and roots as p = 3 ones, other p as p = 2: the same number of
// operations.
double pairs_per_second(const rates &peak, int d, int kernel_type, double p) {
    const bool absolute = p == 1.0 || p == HUGE_VAL, cubic = p == 3.0 || p == 4.0;
    const double term_rate = absolute ? peak.absolute_terms : cubic ? peak.cube_terms : peak.fused_terms;
    double seconds_per_pair = d / term_rate;
    if (cubic) seconds_per_pair += 1.0 / peak.cube_roots;
    const double kernel_rates[] = {peak.exponentials, peak.sines, peak.exponentials, peak.reciprocals};
    seconds_per_pair += 1.0 / kernel_rates[kernel_type];
    return 1.0 / seconds_per_pair;
}

}  // namespace roofline
