#include "classifier/lanes/multiversion.h"

namespace vendral {

namespace {

int detect_vector_width() {
#if defined(VENDRAL_DISPATCH)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw"))
        return 8;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return 4;
#endif
    return VENDRAL_BASELINE_WIDTH;
}

}  // namespace

int vector_width(int limit) {
    // Detected once, by whichever thread comes first; constant after.
    static const int detected = detect_vector_width();
    if (limit <= 0 || limit >= detected) return detected;
    // Only widths with a variant: 8, 4, the baseline's, 1.
    return limit >= 4 ? 4 : limit >= VENDRAL_BASELINE_WIDTH ? VENDRAL_BASELINE_WIDTH : 1;
}

}  // namespace vendral
