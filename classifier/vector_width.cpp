#include "multiversion.h"

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

int width_limit = 0;

}  // namespace

int vector_width() {
    static const int detected = detect_vector_width();
    return width_limit > 0 && width_limit < detected ? width_limit : detected;
}

void limit_vector_width(int width) { width_limit = width; }

}  // namespace vendral
