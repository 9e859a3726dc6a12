// The fast evaluation is a floating-point filter, as exact geometric
// predicates use: each pattern's class scores are computed quickly together
// with a proven bound on how far each can be from its literal value
// (fast_distance.cpp, gram_distance.cpp, fast_kernels.cpp). When every
// comparison the decision rule makes is settled by more than the two scores'
// bounds, the literal scores would take the same path through the rule. A
// comparison that is not (near-ties, exact ties, NaN, scores near underflow)
// is made on the literal scores of its two classes (exact_rule.h); a distance
// the bounds do not cover sends the whole pattern to the literal evaluation.
// Either way the decision is the literal one.
//
// Each pattern walks the templates sorted by class (packed_templates.h), and
// the rule takes each class as soon as its sum is complete: nothing per class
// is kept per pattern, so memory does not grow with the number of classes.
#include "classifier/engine/engine.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <new>
#include <vector>

#if !defined(VENDRAL_SINGLE_THREAD)
#include <thread>
#endif

#include "classifier/classifier.h"
#include "classifier/engine/exact_rule.h"
#include "classifier/tiles/fast_distance.h"
#include "classifier/tiles/fast_kernels.h"
#include "classifier/tiles/kernel_values.h"
#include "classifier/engine/literal.h"
#include "classifier/lanes/multiversion.h"
#include "classifier/engine/model_parts.h"
#include "classifier/tiles/norms.h"
#include "classifier/engine/packed_templates.h"
#include "classifier/tree/pruned_scores.h"

namespace vendral {

namespace {

constexpr int32_t patterns_per_chunk = 16;

bool stopped(const std::atomic<bool> *stop) { return stop != nullptr && stop->load(std::memory_order_relaxed); }
constexpr int32_t largest_d_without_dot_products = 3;

struct shared_work {
    const engine_inputs *in;
    std::atomic<uint8_t> *chunk_done;  // one flag per chunk of patterns
    decisions_ready on_ready;
    void *context;
    const std::atomic<bool> *stop;  // set: take no more patterns
    // The norm's and the kernel's functions, resolved once for the run.
    distance_function literal_distance;
    tile_distance_function tile_distances;  // null: every pattern is scored literally
    group_distance_function group_distances;  // the same for group_patterns patterns at once
    gram_distance_function gram;            // when set, the distances come from it instead
    double distance_error;                  // 0 where the distances are the literal ones
    kernel_function kernel_value;
    kernel_tile_function kernel_tile;
    kernel_bound bound;
    const packed_templates *packed = nullptr;  // the model's; null on the pruned path
    const pruned_setup *pruned = nullptr;  // set: the tree serves every pattern
    const int32_t *order = nullptr;        // set: the k-th pattern decided is order[k]
    decision *decisions;
    std::atomic<int32_t> next_chunk{0};
    std::atomic<int64_t> literal_patterns{0};
};

// The literal decision for one pattern, class by class along the sorted
// lanes: each class sum adds the literal terms in template order, as the
// literal evaluation does, without a score per class held anywhere.
decision decide_literally(const shared_work &work, const double *pattern) {
    const engine_inputs &in = *work.in;
    const packed_templates &packed = *work.packed;
    decision_rule rule;
    int32_t lane = 0;
    for (int32_t c = 0; c < in.M; ++c) {
        double score = 0.0;
        for (const int32_t end = lane + packed.class_sizes[c]; lane < end; ++lane) {
            const double *row = in.templates[packed.template_of_lane[lane]];
            score += work.kernel_value(work.literal_distance(row, pattern, in.d, in.p), in.h);
        }
        rule.take(score);
    }
    return rule.outcome;
}

// Class c's literal score: its terms in template order, as the literal
// evaluation adds them.
double literal_class_score(const shared_work &work, const double *pattern, int32_t c) {
    const engine_inputs &in = *work.in;
    const packed_templates &packed = *work.packed;
    double score = 0.0;
    for (int32_t lane = packed.class_ends[c] - packed.class_sizes[c]; lane < packed.class_ends[c]; ++lane) {
        const double *row = in.templates[packed.template_of_lane[lane]];
        score += work.kernel_value(work.literal_distance(row, pattern, in.d, in.p), in.h);
    }
    return score;
}


double literal_score_of(const void *work, const double *pattern, int32_t c) {
    return literal_class_score(*static_cast<const shared_work *>(work), pattern, c);
}

// One pattern's way through the sorted lanes: the sum of the class whose
// lanes are being added (and of their sensitivities), and the rule so far.
// Classes without templates (a label such as 1.5 makes an entry that no
// template adds to) score exactly 0 on both sides.
struct class_stream {
    int32_t open_class = -1;
    double value = 0.0;
    double sensitivity = 0.0;
    exact_rule rule;
    bool usable = true;
    kernel_tile kernels;     // the kernel's output and running lane sums
    double *centred;         // d doubles of the thread's, for distances from dot products
    gram_pattern for_gram;  // the pattern, centred, with its norm
    pruned_scratch *pruned;  // the thread's, when the tree is in use

    void start(const literal_scorer &scorer) {
        open_class = -1;
        rule = exact_rule{};
        rule.literal_score = scorer;
        std::fill_n(kernels.running_value, block_lanes, 0.0);
        std::fill_n(kernels.running_sensitivity, block_lanes, 0.0);
    }

    // Ends the open class (its running lane sums included) and takes the
    // empty classes up to, not including, next.
    void close(const shared_work &work, int32_t next) {
        if (open_class >= 0) {
            for (int l = 0; l < block_lanes; ++l) {
                value += kernels.running_value[l];
                sensitivity += kernels.running_sensitivity[l];
                kernels.running_value[l] = 0.0;
                kernels.running_sensitivity[l] = 0.0;
            }
            rule.take(value,
                      class_score_bound(work.bound, sensitivity, value, work.packed->class_sizes[open_class]));
        }
        while (rule.next_class() < next) rule.take(0.0, 0.0);
        open_class = -1;
    }

    void open(const shared_work &work, int32_t c) {
        close(work, c);
        open_class = c;
        value = 0.0;
        sensitivity = 0.0;
    }

    // A whole tile of classes of one template each, first_class onwards: one
    // class per lane. Usually none of them comes near the best score so far,
    // and the rule only counts them.
    void add_singletons(const shared_work &work, int32_t first_class) {
        close(work, first_class);
        if (all_clear_below(work.bound, rule.literal.best, rule.best_error, kernels)) {
            rule.literal.next_class += tile_lanes;
            rule.literal.outcome.comparisons += tile_lanes;
            return;
        }
        for (int l = 0; l < tile_lanes; ++l)
            rule.take(kernels.value[l], class_score_bound(work.bound, kernels.sensitivity[l], kernels.value[l], 1));
    }

    void add_lane(const shared_work &work, int32_t c, double lane_value, double lane_sensitivity) {
        if (c != open_class) open(work, c);
        value += lane_value;
        sensitivity += lane_sensitivity;
    }
};

// Adds the kernel values at the distances to tile `tile` of the sorted
// lanes to the pattern's stream.
void add_distances(const shared_work &work, int32_t tile, const double *distance, class_stream *stream) {
    const engine_inputs &in = *work.in;
    const packed_templates &packed = *work.packed;
    const int32_t first = tile * tile_lanes;
    const int32_t *kind = packed.block_kind + tile * tile_blocks;
    bool one_class = kind[0] >= 0;
    for (int t = 1; one_class && t < tile_blocks; ++t) one_class = kind[t] == kind[0];
    if (one_class && kind[0] != stream->open_class) stream->open(work, kind[0]);
    work.kernel_tile(distance, in.h, work.distance_error, one_class, &stream->kernels);
    if (one_class) return;
    bool singletons = true;
    for (int t = 0; singletons && t < tile_blocks; ++t) singletons = kind[t] == singleton_block;
    if (singletons) {
        stream->add_singletons(work, packed.class_of_lane[first]);
        return;
    }
    const int valid = static_cast<int>(std::min<int32_t>(tile_lanes, in.N - first));
    for (int l = 0; l < valid; ++l)
        stream->add_lane(work, packed.class_of_lane[first + l], stream->kernels.value[l],
                         stream->kernels.sensitivity[l]);
}

int valid_lanes(const engine_inputs &in, int32_t tile) {
    return static_cast<int>(std::min<int32_t>(tile_lanes, in.N - tile * tile_lanes));
}

// Tiles [begin, end) for up to group_patterns streams at once (rows: their
// patterns), from dot products or through the regime's group function; a
// stream with a lane that could not be bounded stops being usable.
void add_tiles_in_groups(const shared_work &work, int32_t begin, int32_t end, class_stream *streams, int count,
                         const double *const *rows) {
    const engine_inputs &in = *work.in;
    const packed_templates &packed = *work.packed;
    // Calls take group_patterns patterns; the places of missing ones repeat the first.
    gram_pattern centred[group_patterns];
    const double *patterns[group_patterns];
    for (int k = 0; k < group_patterns; ++k) {
        centred[k] = streams[k < count ? k : 0].for_gram;
        patterns[k] = rows[k < count ? k : 0];
    }
    double distances[group_patterns * tile_lanes];
    for (int32_t tile = begin; tile < end; ++tile) {
        const int32_t first = tile * tile_lanes;
        int measured;
        if (work.gram != nullptr) {
            const gram_tile at{packed.columns + static_cast<size_t>(first) * in.d, packed.lane_norms + first,
                               packed.template_of_lane + first, in.templates};
            measured = work.gram(at, centred, in.d, valid_lanes(in, tile), distances);
        } else {
            measured = work.group_distances(packed.columns + static_cast<size_t>(first) * in.d, patterns, in.d,
                                            in.p, valid_lanes(in, tile), distances);
        }
        for (int k = 0; k < count; ++k) {
            if (!streams[k].usable) continue;
            streams[k].usable = (measured >> k & 1) != 0;
            if (streams[k].usable) add_distances(work, tile, distances + k * tile_lanes, &streams[k]);
        }
    }
}

// Templates per pass over a group of patterns: about 256 KiB of them, so that
// they stay in the core's cache while every pattern of the group meets them.
int32_t tiles_per_pass(int32_t d) {
    const int64_t tile_bytes = static_cast<int64_t>(tile_lanes) * std::max<int32_t>(d, 1) * sizeof(double);
    return static_cast<int32_t>(std::max<int64_t>(1, (256 * 1024) / tile_bytes));
}

// Decides patterns [first, end) through the tree (which decides those it
// cannot settle literally); returns how many were decided literally.
int decide_group_pruned(const shared_work &work, int32_t first, int32_t end, pruned_scratch *scratch) {
    int literal = 0;
    for (int32_t k = first; k < end; ++k) {
        const int32_t n = work.order != nullptr ? work.order[k] : k;
        if (!decide_pruned(*work.pruned, work.in->patterns[n], scratch, &work.decisions[n])) ++literal;
    }
    return literal;
}

// Decides patterns [first, end) (at most patterns_per_chunk of them), each
// with its own stream; returns how many were scored literally. Touches no
// host service.
int decide_group(const shared_work &work, int32_t first, int32_t end, class_stream *streams) {
    if (work.pruned != nullptr) return decide_group_pruned(work, first, end, streams[0].pruned);
    const engine_inputs &in = *work.in;
    const int count = end - first;
    for (int k = 0; k < count; ++k) {
        streams[k].start(literal_scorer{literal_score_of, &work, in.patterns[first + k]});
        streams[k].usable = work.tile_distances != nullptr;
        if (work.gram == nullptr) continue;
        const double *pattern = in.patterns[first + k];
        streams[k].for_gram = {streams[k].centred, centre_row(pattern, work.packed->centre, in.d, streams[k].centred, 1),
                               pattern};
    }
    if (work.tile_distances != nullptr) {
        const int32_t tiles = work.packed->blocks / tile_blocks;
        const int32_t pass = tiles_per_pass(in.d);
        for (int32_t begin = 0; begin < tiles; begin += pass) {
            const int32_t end = std::min(tiles, begin + pass);
            for (int k = 0; k < count; k += group_patterns)
                add_tiles_in_groups(work, begin, end, streams + k, std::min(group_patterns, count - k),
                                    in.patterns + first + k);
        }
    }
    int literal = 0;
    for (int k = 0; k < count; ++k) {
        class_stream &stream = streams[k];
        if (stream.usable) {
            stream.close(work, in.M);
            work.decisions[first + k] = stream.rule.literal.outcome;
            literal += stream.rule.literal_classes > 0;
            continue;
        }
        // A distance the bounds do not cover: the literal evaluation decides.
        work.decisions[first + k] = decide_literally(work, in.patterns[first + k]);
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
void work(shared_work *work, class_stream *streams, bool reporting) {
    progress made;
    int64_t literal = 0;
    for (;;) {
        if (stopped(work->stop)) break;
        const int32_t first = work->next_chunk.fetch_add(patterns_per_chunk);
        if (first >= work->in->P) break;
        literal += decide_group(*work, first, std::min<int32_t>(work->in->P, first + patterns_per_chunk), streams);
        work->chunk_done[first / patterns_per_chunk].store(1, std::memory_order_release);
        // Out of order, the decisions are made without a gap only at the end.
        if (reporting && work->order == nullptr) made.report(work);
    }
    work->literal_patterns.fetch_add(literal);
}

int thread_count_for(int requested_threads, int32_t P) {
#if defined(VENDRAL_SINGLE_THREAD)
    (void)requested_threads;
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

// Each thread gets streams_per_thread streams of its own.
void run_workers(shared_work *shared, class_stream *streams, int streams_per_thread, int threads) {
#if defined(VENDRAL_SINGLE_THREAD)
    (void)threads;
    (void)streams_per_thread;
    work(shared, streams, true);
#else
    std::vector<std::thread> helpers;
    // A thread the system refuses only means fewer hands: the chunks are
    // shared out through next_chunk, whoever takes them.
    try {
        for (int t = 1; t < threads; ++t)
            helpers.emplace_back(work, shared, streams + static_cast<size_t>(t) * streams_per_thread, false);
    } catch (const std::exception &) {
    }
    work(shared, streams, true);
    for (std::thread &helper : helpers) helper.join();
#endif
}

classify_status decide_fast(const engine_inputs &in, const engine_run &run, decision *decisions,
                            classify_counts *counts) {
    const allocator &memory = run.memory;
    shared_work shared;
    shared.in = &in;
    shared.on_ready = run.on_ready;
    shared.context = run.context;
    shared.stop = run.options.stop;
    const int width = vector_width(run.options.vector_width);
    const norm_row &norm = norm_for(in.p);
    const kernel_row &kernel = kernel_table[in.kernel_type];
    shared.literal_distance = norm.literal;
    shared.tile_distances = norm.tile_for_width ? norm.tile_for_width(width) : nullptr;
    shared.group_distances = norm.group_for_width ? norm.group_for_width(width) : nullptr;
    shared.distance_error = norm.error_bound(in.d);
    shared.kernel_value = kernel.value;
    shared.kernel_tile = kernel.tile_for_width(width);
    shared.bound = kernel.bound(shared.distance_error);
    // Beyond millions of columns the bounds stop being safe: literal throughout.
    if (!shared.bound.valid) shared.tile_distances = nullptr;
    shared.decisions = decisions;
    const int threads = thread_count_for(run.options.threads, in.P);
    pruned_run pruned;
    const pruned_start start = shared.tile_distances == nullptr
                                   ? pruned_start::declined
                                   : start_pruned_run(in, kernel, norm, run.options.prune, threads, width, run.parts,
                                                      memory, &pruned);
    if (start == pruned_start::out_of_memory) return classify_status::out_of_memory;
    if (start == pruned_start::started) shared.pruned = &pruned.setup;
    // Nearby patterns one after the other: the leaves one visits are in
    // cache for the next (a fifth off the patterns' time on W5).
    int32_t *order = nullptr;
    if (shared.pruned != nullptr && !in.progress_shown) {
        order = static_cast<int32_t *>(memory.zeroed(2 * static_cast<size_t>(std::max<int32_t>(in.P, 1)), sizeof(int32_t)));
        if (order == nullptr) {
            end_pruned_run(&pruned, memory);
            return classify_status::out_of_memory;
        }
        order_patterns_by_leaf(pruned.setup, order, order + in.P);
        shared.order = order;
    }
    // With no templates there is nothing to centre (and d may be anything:
    // the buffers below grow with it). With three columns or fewer the
    // differences themselves are cheaper than dot products and their checks
    // (single thread, d = 1: 1.9 against 3.3 ns per pair with AVX2, 1.4
    // against 2.6 with AVX-512; even at d = 4). The model packs its
    // templates once, the same way for every call.
    const bool centred = shared.tile_distances != nullptr && norm.gram_for_width && in.N > 0 &&
                         in.d > largest_d_without_dot_products;
    shared.gram = centred && shared.pruned == nullptr ? norm.gram_for_width(width) : nullptr;
    // The tree holds its own columns and does without the packed copy; with
    // no patterns nothing is read.
    if (shared.pruned == nullptr && in.P > 0) {
        shared.packed = packed_of(run.parts, in, shared.tile_distances != nullptr, centred, memory);
        if (shared.packed == nullptr) {
            memory.release(order);
            end_pruned_run(&pruned, memory);
            return classify_status::out_of_memory;
        }
    }
    // A stream is larger than a cache line, so threads share none but at
    // their edges.
    // No more streams (each with its centred pattern) than patterns.
    const int streams_per_thread = static_cast<int>(std::min<int32_t>(patterns_per_chunk, std::max<int32_t>(in.P, 1)));
    const size_t stream_count = static_cast<size_t>(streams_per_thread) * threads;
    void *streams = memory.zeroed(stream_count, sizeof(class_stream));
    auto *centred_rows = static_cast<double *>(
        memory.zeroed(shared.gram != nullptr ? stream_count * std::max<int32_t>(in.d, 1) : 1, sizeof(double)));
    const int32_t chunks = (in.P + patterns_per_chunk - 1) / patterns_per_chunk;
    void *flags = memory.zeroed(static_cast<size_t>(std::max<int32_t>(chunks, 1)), sizeof(std::atomic<uint8_t>));
    const bool have_memory = streams != nullptr && centred_rows != nullptr && flags != nullptr;
    if (have_memory) {
        shared.chunk_done = static_cast<std::atomic<uint8_t> *>(flags);
        for (int32_t c = 0; c < chunks; ++c) new (&shared.chunk_done[c]) std::atomic<uint8_t>(0);
        auto *stream = static_cast<class_stream *>(streams);
        for (size_t k = 0; k < stream_count; ++k) {
            new (&stream[k]) class_stream{};
            stream[k].centred = centred_rows + (shared.gram != nullptr ? k * in.d : 0);
            stream[k].pruned = pruned.scratch != nullptr ? pruned.scratch + k / streams_per_thread : nullptr;
        }
        shared.on_ready(0, shared.context);
        run_workers(&shared, stream, streams_per_thread, threads);
        // Stopped before every chunk was taken: the decisions are incomplete.
        if (shared.next_chunk.load() < in.P) {
            memory.release(flags);
            memory.release(order);
            memory.release(centred_rows);
            memory.release(streams);
            end_pruned_run(&pruned, memory);
            return classify_status::stopped;
        }
        shared.on_ready(in.P, shared.context);
        // Every template's class is always found: each pattern calls the
        // kernel N times.
        counts->flops += static_cast<uint64_t>(in.N) * static_cast<uint64_t>(in.P) * kernel.flops_per_call;
        counts->patterns_literal += shared.literal_patterns.load();
    }
    memory.release(flags);
    memory.release(order);
    memory.release(centred_rows);
    memory.release(streams);
    counts->patterns_pruned += end_pruned_run(&pruned, memory);
    return have_memory ? classify_status::classified : classify_status::out_of_memory;
}

classify_status decide_literal(const engine_inputs &in, const engine_run &run, decision *decisions,
                               classify_counts *counts) {
    auto *scores = static_cast<double *>(
        run.memory.zeroed(static_cast<size_t>(std::max<int32_t>(in.M, 1)), sizeof(double)));
    if (scores == nullptr) return classify_status::out_of_memory;
    run.on_ready(0, run.context);
    for (int32_t n = 0; n < in.P; ++n) {
        if (stopped(run.options.stop)) {
            run.memory.release(scores);
            return classify_status::stopped;
        }
        score_pattern_literal(in.N, in.d, in.templates, in.class_of_template, in.kernel_type, in.p, in.h,
                              in.patterns[n], in.M, scores, &counts->flops);
        decisions[n] = decide(scores, in.M);
        run.on_ready(n + 1, run.context);
    }
    counts->patterns_literal += in.P;
    run.memory.release(scores);
    return classify_status::classified;
}

}  // namespace

classify_status decide_patterns(const engine_inputs &in, const engine_run &run, decision *decisions,
                                classify_counts *counts) {
    return run.options.mode == evaluation::literal ? decide_literal(in, run, decisions, counts)
                                                   : decide_fast(in, run, decisions, counts);
}

}  // namespace vendral
