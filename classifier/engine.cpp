#include "engine.h"

#include <algorithm>
#include <atomic>
#include <vector>

#if !defined(VENDRAL_SINGLE_THREAD)
#include <thread>
#endif

#include "classifier.h"
#include "fast_distance.h"
#include "host_services.h"
#include "kernel_values.h"
#include "literal.h"

namespace vendral {

namespace {

evaluation selected_evaluation = evaluation::fast;
int requested_threads = 0;

constexpr int32_t patterns_per_chunk = 4;

// Templates regrouped column by column in blocks of block_lanes, so that one
// pattern meets block_lanes templates per vector operation. Lanes past N are 0.
double *pack_templates(const engine_inputs &in) {
    const int64_t blocks = (static_cast<int64_t>(in.N) + block_lanes - 1) / block_lanes;
    const size_t count = static_cast<size_t>(blocks) * block_lanes * static_cast<size_t>(in.d);
    auto *packed = static_cast<double *>(host_calloc(count > 0 ? count : 1, sizeof(double)));
    if (packed == nullptr) return nullptr;
    for (int32_t j = 0; j < in.N; ++j) {
        double *block = packed + static_cast<size_t>(j / block_lanes) * block_lanes * in.d;
        for (int32_t i = 0; i < in.d; ++i) block[i * block_lanes + j % block_lanes] = in.templates[j][i];
    }
    return packed;
}

template <double (*kernel)(double, double)>
void score_fast(const engine_inputs &in, distance_regime regime, const double *packed,
                const double *pattern, double *scores) {
    for (int32_t i = 0; i < in.M; ++i) scores[i] = 0.0;
    double distance[block_lanes];
    uint64_t suspect[block_lanes];
    for (int32_t first = 0; first < in.N; first += block_lanes) {
        const int lanes = static_cast<int>(std::min<int32_t>(block_lanes, in.N - first));
        if (regime != distance_regime::general)
            block_distances(regime, packed + static_cast<size_t>(first) * in.d, pattern, in.d, in.p,
                            distance, suspect);
        for (int l = 0; l < lanes; ++l) {
            const int32_t j = first + l;
            const double x = regime == distance_regime::general || suspect[l] != 0
                                 ? pattern_distance(in.templates[j], pattern, in.d, in.p)
                                 : distance[l];
            scores[in.class_of_template[j]] += kernel(x, in.h);
        }
    }
}

using fast_scorer = void (*)(const engine_inputs &, distance_regime, const double *, const double *,
                             double *);

fast_scorer scorer_for(int kernel_type) {
    static const fast_scorer scorers[kernel_count] = {
        score_fast<gaussian_value>, score_fast<squared_sinc_value>, score_fast<laplacian_value>,
        score_fast<cauchy_value>};
    return scorers[kernel_type];
}

struct shared_work {
    const engine_inputs *in;
    distance_regime regime;
    const double *packed;
    decision *decisions;
    std::atomic<int32_t> next_chunk{0};
};

// Takes chunks of patterns until none are left. Touches no host service.
void work(shared_work *work, double *scores) {
    const engine_inputs &in = *work->in;
    const fast_scorer score = scorer_for(in.kernel_type);
    for (;;) {
        const int32_t first = work->next_chunk.fetch_add(patterns_per_chunk) ;
        if (first >= in.P) return;
        const int32_t end = std::min<int32_t>(in.P, first + patterns_per_chunk);
        for (int32_t n = first; n < end; ++n) {
            score(in, work->regime, work->packed, in.patterns[n], scores);
            work->decisions[n] = decide(scores, in.M);
        }
    }
}

int thread_count_for(int32_t P) {
#if defined(VENDRAL_SINGLE_THREAD)
    (void)P;
    return 1;
#else
    int threads = requested_threads > 0 ? requested_threads
                                        : static_cast<int>(std::thread::hardware_concurrency());
    threads = std::max(threads, 1);
    const int32_t chunks = (P + patterns_per_chunk - 1) / patterns_per_chunk;
    return static_cast<int>(std::min<int64_t>(threads, std::max<int32_t>(chunks, 1)));
#endif
}

bool decide_fast(const engine_inputs &in, decision *decisions) {
    const distance_regime regime = regime_for(in.p);
    const int threads = thread_count_for(in.P);
    double *packed = nullptr;
    if (regime != distance_regime::general) {
        packed = pack_templates(in);
        if (packed == nullptr) return false;
    }
    const size_t stride = static_cast<size_t>(std::max<int32_t>(in.M, 1));
    auto *scores = static_cast<double *>(host_calloc(stride * threads, sizeof(double)));
    if (scores == nullptr) {
        host_free(packed);
        return false;
    }

    shared_work shared;
    shared.in = &in;
    shared.regime = regime;
    shared.packed = packed;
    shared.decisions = decisions;
#if defined(VENDRAL_SINGLE_THREAD)
    work(&shared, scores);
#else
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t) helpers.emplace_back(work, &shared, scores + stride * t);
    work(&shared, scores);
    for (std::thread &helper : helpers) helper.join();
#endif

    // Every template's class is always found, so each pattern calls the
    // kernel N times.
    flop_count += static_cast<uint64_t>(in.N) * static_cast<uint64_t>(in.P) *
                  kernel_table[in.kernel_type].flops_per_call;
    host_free(scores);
    host_free(packed);
    return true;
}

bool decide_literal(const engine_inputs &in, decision *decisions) {
    auto *scores = static_cast<double *>(
        host_calloc(static_cast<size_t>(std::max<int32_t>(in.M, 1)), sizeof(double)));
    if (scores == nullptr) return false;
    for (int32_t n = 0; n < in.P; ++n) {
        score_pattern_literal(in.N, in.d, in.templates, in.class_of_template, in.kernel_type, in.p,
                              in.h, in.patterns[n], in.M, scores);
        decisions[n] = decide(scores, in.M);
    }
    host_free(scores);
    return true;
}

}  // namespace

void set_evaluation(evaluation mode) { selected_evaluation = mode; }

void set_thread_count(int threads) { requested_threads = threads; }

bool decide_patterns(const engine_inputs &in, decision *decisions) {
    return selected_evaluation == evaluation::literal ? decide_literal(in, decisions)
                                                      : decide_fast(in, decisions);
}

}  // namespace vendral
