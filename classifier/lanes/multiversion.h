// Runtime choice of vector width. One shipped build runs on every x86-64: the
// widest-vector variant of each hot function is compiled for AVX-512 and
// AVX2 besides the SSE2 baseline, and chosen once from what the processor
// reports. Other builds use one variant: SSE2-width vectors where the
// compiler has vector types, scalar code where it has not.
#ifndef VENDRAL_CLASSIFIER_MULTIVERSION_H
#define VENDRAL_CLASSIFIER_MULTIVERSION_H

#if defined(__GNUC__) && defined(__x86_64__) && !defined(VENDRAL_NO_MULTIVERSION)
#define VENDRAL_DISPATCH 1
// Only the features vector_width() checks for: a variant must never meet an
// instruction the processor lacks.
#define VENDRAL_TARGET_AVX512 __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw,avx2,fma")))
#define VENDRAL_TARGET_AVX2 __attribute__((target("avx2,fma")))
#endif

#if defined(__GNUC__)
#define VENDRAL_BASELINE_WIDTH 2
#else
#define VENDRAL_BASELINE_WIDTH 1
#endif

namespace vendral {

// The vector width, in doubles, the hot functions run with here: 8, 4, 2 or
// 1, the widest the processor has, or the widest not above limit when limit
// is above 0 (so that tests can hold each variant to the literal evaluation).
int vector_width(int limit = 0);

}  // namespace vendral

// Defines name##_baseline (and, where the processor may have them,
// name##_avx2 and name##_avx512) running the template `body` at that width
// and returning its `result`, and name##_for_width(width) returning the one
// for a width that vector_width() gave. Callers resolve it once per run, not
// per call.
#if defined(VENDRAL_DISPATCH)
#define VENDRAL_WIDTH_VARIANTS(name, result, signature, arguments, body)                       \
    result name##_baseline signature { return body<VENDRAL_BASELINE_WIDTH> arguments; }      \
    VENDRAL_TARGET_AVX2 result name##_avx2 signature { return body<4> arguments; }           \
    VENDRAL_TARGET_AVX512 result name##_avx512 signature { return body<8> arguments; }       \
    result(*name##_for_width(int width)) signature {                                        \
        return width == 8 ? name##_avx512 : width == 4 ? name##_avx2 : name##_baseline;      \
    }
#else
#define VENDRAL_WIDTH_VARIANTS(name, result, signature, arguments, body)                       \
    result name##_baseline signature { return body<VENDRAL_BASELINE_WIDTH> arguments; }      \
    result(*name##_for_width(int)) signature { return name##_baseline; }
#endif

#endif  // VENDRAL_CLASSIFIER_MULTIVERSION_H
