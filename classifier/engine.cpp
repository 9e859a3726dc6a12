// The fast evaluation is a floating-point filter, as exact geometric
// predicates use: each pattern's class scores are computed quickly together
// with a proven bound on how far each can be from its literal value
// (fast_distance.cpp, fast_kernels.cpp). When every comparison the decision
// rule makes is settled by more than the two scores' bounds, the literal
// scores would take the same path through the rule: same winner, no tie, M
// comparisons. Otherwise (near-ties, exact ties, NaN, scores near underflow)
// the pattern is scored again literally and decided on those scores. Either
// way the decision is the literal one.
#include "engine.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <new>
#include <vector>

#if !defined(VENDRAL_SINGLE_THREAD)
#include <thread>
#endif

#include "classifier.h"
#include "fast_distance.h"
#include "fast_kernels.h"
#include "host_services.h"
#include "kernel_values.h"
#include "literal.h"
#include "norms.h"

namespace vendral {

namespace {

evaluation selected_evaluation = evaluation::fast;
int requested_threads = 0;
std::atomic<int64_t> literal_patterns{0};

constexpr int32_t patterns_per_chunk = 16;

// The templates sorted by class (stably) and packed column by column in
// blocks of block_lanes, so that one pattern meets block_lanes templates per
// vector step and most blocks add into a single class.
struct packed_templates {
    double *columns = nullptr;        // blocks * d * block_lanes
    int32_t *class_of_lane = nullptr; // sorted order
    int32_t *block_class = nullptr;   // the class of a full single-class block, else -1
    int32_t *class_sizes = nullptr;
    int32_t blocks = 0;
};

void free_packed(packed_templates *packed) {
    host_free(packed->columns);
    host_free(packed->class_of_lane);
    host_free(packed->block_class);
    host_free(packed->class_sizes);
    *packed = packed_templates{};
}

bool pack_templates(const engine_inputs &in, packed_templates *packed) {
    // Whole tiles: the lanes past N hold zeros and are never counted.
    const int64_t tiles = (static_cast<int64_t>(in.N) + tile_lanes - 1) / tile_lanes;
    const auto blocks = static_cast<int32_t>(tiles * tile_blocks);
    const size_t lanes = static_cast<size_t>(blocks) * block_lanes;
    const size_t classes = static_cast<size_t>(std::max<int32_t>(in.M, 1));
    packed->blocks = blocks;
    packed->columns = static_cast<double *>(host_calloc(std::max<size_t>(lanes * in.d, 1), sizeof(double)));
    packed->class_of_lane = static_cast<int32_t *>(host_calloc(std::max<size_t>(lanes, 1), sizeof(int32_t)));
    packed->block_class = static_cast<int32_t *>(host_calloc(std::max<int32_t>(blocks, 1), sizeof(int32_t)));
    packed->class_sizes = static_cast<int32_t *>(host_calloc(classes, sizeof(int32_t)));
    auto *next_slot = static_cast<int32_t *>(host_calloc(classes, sizeof(int32_t)));
    if (!packed->columns || !packed->class_of_lane || !packed->block_class || !packed->class_sizes ||
        !next_slot) {
        host_free(next_slot);
        free_packed(packed);
        return false;
    }
    for (int32_t j = 0; j < in.N; ++j) ++packed->class_sizes[in.class_of_template[j]];
    for (int32_t c = 1; c < in.M; ++c) next_slot[c] = next_slot[c - 1] + packed->class_sizes[c - 1];
    for (int32_t j = 0; j < in.N; ++j) {
        const int32_t c = in.class_of_template[j];
        const int32_t slot = next_slot[c]++;
        double *block = packed->columns + static_cast<size_t>(slot / block_lanes) * block_lanes * in.d;
        for (int32_t i = 0; i < in.d; ++i) block[i * block_lanes + slot % block_lanes] = in.templates[j][i];
        packed->class_of_lane[slot] = c;
    }
    host_free(next_slot);
    for (int32_t b = 0; b < blocks; ++b) {
        const int32_t first = b * block_lanes;
        const int32_t c = packed->class_of_lane[first];
        bool single = first + block_lanes <= in.N;
        if (first >= in.N) {
            packed->block_class[b] = -1;
            continue;
        }
        for (int l = 1; single && l < block_lanes; ++l) single = packed->class_of_lane[first + l] == c;
        packed->block_class[b] = single ? c : -1;
    }
    return true;
}

struct shared_work {
    const engine_inputs *in;
    std::atomic<uint8_t> *chunk_done;  // one flag per chunk of patterns
    decisions_ready on_ready;
    void *context;
    // The norm's and the kernel's functions, resolved once for the run.
    distance_function literal_distance;
    tile_distance_function tile_distances;  // null: every pattern is scored literally
    double distance_error;                  // 0 where the distances are the literal ones
    kernel_function kernel_value;
    kernel_tile_function kernel_tile;
    kernel_bound bound;
    packed_templates packed;
    decision *decisions;
    std::atomic<int32_t> next_chunk{0};
};

// Per-thread scratch: the class scores and their bounds.
struct scratch {
    double *scores;
    double *errors;
};

// The literal scores of one pattern, without the operation accounting (the
// run counts the kernel calls as a whole).
void score_literally(const shared_work &work, const double *pattern, double *scores) {
    const engine_inputs &in = *work.in;
    for (int32_t i = 0; i < in.M; ++i) scores[i] = 0.0;
    for (int32_t j = 0; j < in.N; ++j)
        scores[in.class_of_template[j]] +=
            work.kernel_value(work.literal_distance(in.templates[j], pattern, in.d, in.p), in.h);
}

// Adds the kernel values of tiles [first_tile, end_tile) at their fast
// distances from the pattern, and their bounds, to the class sums; false
// when some lane could not be bounded.
bool add_tiles(const shared_work &work, const double *pattern, int32_t first_tile, int32_t end_tile,
               double *scores, double *sensitivities) {
    const engine_inputs &in = *work.in;
    const packed_templates &packed = work.packed;
    double distance[tile_lanes];
    kernel_tile kernels;
    // The running lane sums belong to running_class; they are folded into its
    // score when a tile of another class comes, and at the end.
    int32_t running_class = -1;
    auto fold_running = [&] {
        if (running_class < 0) return;
        for (int l = 0; l < block_lanes; ++l) {
            scores[running_class] += kernels.running_value[l];
            sensitivities[running_class] += kernels.running_sensitivity[l];
        }
    };
    for (int32_t tile = first_tile; tile < end_tile; ++tile) {
        const int32_t first = tile * tile_lanes;
        const int valid = static_cast<int>(std::min<int32_t>(tile_lanes, in.N - first));
        if (!work.tile_distances(packed.columns + static_cast<size_t>(first) * in.d, pattern, in.d, in.p,
                                 valid, distance))
            return false;
        const int32_t *block_class = packed.block_class + tile * tile_blocks;
        bool one_class = valid == tile_lanes && block_class[0] >= 0;
        for (int t = 1; one_class && t < tile_blocks; ++t) one_class = block_class[t] == block_class[0];
        if (one_class && block_class[0] != running_class) {
            fold_running();
            running_class = block_class[0];
            std::fill_n(kernels.running_value, block_lanes, 0.0);
            std::fill_n(kernels.running_sensitivity, block_lanes, 0.0);
        }
        work.kernel_tile(distance, in.h, work.distance_error, one_class, &kernels);
        if (one_class) continue;
        for (int l = 0; l < valid; ++l) {
            scores[packed.class_of_lane[first + l]] += kernels.value[l];
            sensitivities[packed.class_of_lane[first + l]] += kernels.sensitivity[l];
        }
    }
    fold_running();
    return true;
}

// Turns each class's sum of sensitivities into the bound on its score.
void finish_bounds(const shared_work &work, const double *scores, double *errors) {
    const int32_t *sizes = work.packed.class_sizes;
    for (int32_t c = 0; c < work.in->M; ++c)
        errors[c] = class_score_bound(work.bound, errors[c], scores[c], sizes[c]);
}

// The decision on fast scores, valid for the literal scores too when every
// comparison it makes is settled by more than the two scores' bounds.
bool decide_with_margins(const double *scores, const double *errors, int32_t M, decision *outcome) {
    double best = -1.0, best_error = 0.0;
    *outcome = decision{-1, false, static_cast<uint32_t>(M), false};
    for (int32_t i = 0; i < M; ++i) {
        if (!(std::fabs(best - scores[i]) > best_error + errors[i])) return false;
        if (best < scores[i]) {
            best = scores[i];
            best_error = errors[i];
            outcome->winner = i;
        }
    }
    return true;
}

// Templates per pass over a group of patterns: about 256 KiB of them, so that
// they stay in the core's cache while every pattern of the group meets them.
int32_t tiles_per_pass(int32_t d) {
    const int64_t tile_bytes = static_cast<int64_t>(tile_lanes) * std::max<int32_t>(d, 1) * sizeof(double);
    return static_cast<int32_t>(std::max<int64_t>(1, (256 * 1024) / tile_bytes));
}

// Decides patterns [first, end) (at most patterns_per_chunk of them);
// returns how many were scored literally. Touches no host service.
int decide_group(const shared_work &work, int32_t first, int32_t end, const scratch &buffers,
                  size_t stride) {
    const engine_inputs &in = *work.in;
    const int count = end - first;
    bool usable[patterns_per_chunk];
    for (int k = 0; k < count; ++k) {
        usable[k] = work.tile_distances != nullptr;
        std::fill_n(buffers.scores + k * stride, in.M, 0.0);
        std::fill_n(buffers.errors + k * stride, in.M, 0.0);
    }
    if (work.tile_distances != nullptr) {
        const int32_t tiles = work.packed.blocks / tile_blocks;
        const int32_t pass = tiles_per_pass(in.d);
        for (int32_t tile = 0; tile < tiles; tile += pass)
            for (int k = 0; k < count; ++k)
                if (usable[k])
                    usable[k] = add_tiles(work, in.patterns[first + k], tile, std::min(tiles, tile + pass),
                                          buffers.scores + k * stride, buffers.errors + k * stride);
    }
    int literal = 0;
    for (int k = 0; k < count; ++k) {
        double *scores = buffers.scores + k * stride;
        double *errors = buffers.errors + k * stride;
        decision *outcome = &work.decisions[first + k];
        if (usable[k]) {
            finish_bounds(work, scores, errors);
            if (decide_with_margins(scores, errors, in.M, outcome)) continue;
        }
        // Too close to call on the fast scores: the literal evaluation decides.
        score_literally(work, in.patterns[first + k], scores);
        *outcome = decide(scores, in.M);
        ++literal;
    }
    return literal;
}

// Passes on how far the decisions are made without a gap: chunks are taken
// in order, but finish in any order.
struct progress {
    int32_t chunks_ready = 0;

    void report(shared_work *work) {
        const int32_t chunks = (work->in->P + patterns_per_chunk - 1) / patterns_per_chunk;
        const int32_t before = chunks_ready;
        while (chunks_ready < chunks && work->chunk_done[chunks_ready].load(std::memory_order_acquire) != 0)
            ++chunks_ready;
        if (chunks_ready != before)
            work->on_ready(std::min<int32_t>(work->in->P, chunks_ready * patterns_per_chunk), work->context);
    }
};

// Takes chunks of patterns until none are left. The host's own thread
// (reporting) also passes on the progress; the others touch no host service.
void work(shared_work *work, scratch buffers, size_t stride, bool reporting) {
    progress made;
    int64_t literal = 0;
    for (;;) {
        const int32_t first = work->next_chunk.fetch_add(patterns_per_chunk);
        if (first >= work->in->P) break;
        literal += decide_group(*work, first, std::min<int32_t>(work->in->P, first + patterns_per_chunk),
                                buffers, stride);
        work->chunk_done[first / patterns_per_chunk].store(1, std::memory_order_release);
        if (reporting) made.report(work);
    }
    literal_patterns.fetch_add(literal);
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

// Each thread gets patterns_per_chunk rows of scores and of bounds.
void run_workers(shared_work *shared, double *buffers, size_t stride, int threads) {
    const size_t per_thread = 2 * patterns_per_chunk * stride;
    auto buffers_of = [&](int t) {
        double *mine = buffers + per_thread * t;
        return scratch{mine, mine + patterns_per_chunk * stride};
    };
#if defined(VENDRAL_SINGLE_THREAD)
    (void)threads;
    work(shared, buffers_of(0), stride, true);
#else
    std::vector<std::thread> helpers;
    // A thread the system refuses only means fewer hands: the chunks are
    // shared out through next_chunk, whoever takes them.
    try {
        for (int t = 1; t < threads; ++t) helpers.emplace_back(work, shared, buffers_of(t), stride, false);
    } catch (const std::exception &) {
    }
    work(shared, buffers_of(0), stride, true);
    for (std::thread &helper : helpers) helper.join();
#endif
}

bool decide_fast(const engine_inputs &in, decision *decisions, decisions_ready on_ready, void *context) {
    shared_work shared;
    shared.in = &in;
    shared.on_ready = on_ready;
    shared.context = context;
    const norm_row &norm = norm_for(in.p);
    const kernel_row &kernel = kernel_table[in.kernel_type];
    shared.literal_distance = norm.literal;
    shared.tile_distances = norm.tile_for_width ? norm.tile_for_width() : nullptr;
    shared.distance_error = norm.error_bound(in.d);
    shared.kernel_value = kernel.value;
    shared.kernel_tile = kernel.tile_for_width();
    shared.bound = kernel.bound(shared.distance_error);
    // Beyond millions of columns the bounds stop being safe: literal throughout.
    if (!shared.bound.valid) shared.tile_distances = nullptr;
    shared.decisions = decisions;
    const int threads = thread_count_for(in.P);
    // Each thread's scores and bounds start on a cache line of their own and
    // end a line before the next thread's, so no line is shared.
    const size_t stride = (static_cast<size_t>(std::max<int32_t>(in.M, 1)) + 7) / 8 * 8 + 8;
    if (shared.tile_distances != nullptr && !pack_templates(in, &shared.packed)) return false;
    auto *buffers = static_cast<double *>(
        host_calloc(2 * patterns_per_chunk * stride * threads, sizeof(double)));
    const int32_t chunks = (in.P + patterns_per_chunk - 1) / patterns_per_chunk;
    void *flags = host_calloc(static_cast<size_t>(std::max<int32_t>(chunks, 1)), sizeof(std::atomic<uint8_t>));
    const bool have_memory = buffers != nullptr && flags != nullptr;
    if (have_memory) {
        shared.chunk_done = static_cast<std::atomic<uint8_t> *>(flags);
        for (int32_t c = 0; c < chunks; ++c) new (&shared.chunk_done[c]) std::atomic<uint8_t>(0);
        on_ready(0, context);
        run_workers(&shared, buffers, stride, threads);
        on_ready(in.P, context);
        // Every template's class is always found: each pattern calls the
        // kernel N times.
        flop_count +=
            static_cast<uint64_t>(in.N) * static_cast<uint64_t>(in.P) * kernel.flops_per_call;
    }
    host_free(flags);
    host_free(buffers);
    free_packed(&shared.packed);
    return have_memory;
}

bool decide_literal(const engine_inputs &in, decision *decisions, decisions_ready on_ready,
                    void *context) {
    auto *scores = static_cast<double *>(
        host_calloc(static_cast<size_t>(std::max<int32_t>(in.M, 1)), sizeof(double)));
    if (scores == nullptr) return false;
    on_ready(0, context);
    for (int32_t n = 0; n < in.P; ++n) {
        score_pattern_literal(in.N, in.d, in.templates, in.class_of_template, in.kernel_type, in.p,
                              in.h, in.patterns[n], in.M, scores);
        decisions[n] = decide(scores, in.M);
        on_ready(n + 1, context);
    }
    literal_patterns = in.P;
    host_free(scores);
    return true;
}

}  // namespace

void set_evaluation(evaluation mode) { selected_evaluation = mode; }

void set_thread_count(int threads) { requested_threads = threads; }

int64_t patterns_scored_literally() { return literal_patterns.load(); }

bool decide_patterns(const engine_inputs &in, decision *decisions, decisions_ready on_ready,
                     void *context) {
    literal_patterns = 0;
    return selected_evaluation == evaluation::literal ? decide_literal(in, decisions, on_ready, context)
                                                      : decide_fast(in, decisions, on_ready, context);
}

}  // namespace vendral
