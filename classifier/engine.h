// Scores and decides every test pattern. Two evaluations give the same bits:
// the literal one (one pattern at a time, through the counted kernel table)
// and the fast one (exact vectorised distances, patterns spread over threads).
#ifndef VENDRAL_CLASSIFIER_ENGINE_H
#define VENDRAL_CLASSIFIER_ENGINE_H

#include <cstdint>

#include "decision.h"

namespace vendral {

struct engine_inputs {
    int32_t N;
    int32_t d;
    const double *const *templates;
    const int32_t *class_of_template;
    int32_t M;
    int kernel_type;
    double p;
    double h;
    int32_t P;
    const double *const *patterns;
    // Whether decisions are reported as they are made, in pattern order
    // (progress lines are printed from them). When not, the engine may take
    // the patterns in any order, nearby ones together where that is faster,
    // and reports only the start and the end.
    bool progress_shown = true;
};

enum class evaluation { fast, literal };

// Whether the fast evaluation of the gaussian and laplacian kernels visits
// the templates through a tree of bounding boxes, skipping those too far to
// matter
// (pruned_scores.h): automatic (where it applies and the first patterns show
// it pays), always (wherever it applies), eager (always, and visiting as
// little as possible, which leaves most decisions to the bounds on skipped
// nodes and to literal class scores; for tests), never. The outputs do not
// depend on it.
enum class pruning { automatic, always, eager, never };
void set_pruning(pruning mode);

// Which evaluation runs and on how many threads (0: one per processor).
// The outputs do not depend on either; tests and benchmarks compare them.
void set_evaluation(evaluation mode);
void set_thread_count(int threads);

// How many patterns the last run scored literally: all of them in the literal
// evaluation, those too close to call on the fast scores in the fast one.
// For tests and benchmarks; users never see it.
int64_t patterns_scored_literally();

// How many patterns the last run decided on the pruned path.
int64_t patterns_decided_pruned();

// Told, on the calling thread, that decisions[0..ready) are made: first with
// ready == 0 once the run has all its memory, then as ready grows, last with
// ready == P. The run's progress lines are printed from it, in order, while
// later patterns are still being scored.
using decisions_ready = void (*)(int32_t ready, void *context);

// Fills decisions[0..P) and adds the kernels' operation count to flop_count.
// All memory comes from the host, on the calling thread, before any worker
// starts. Returns false, with nothing left allocated and on_ready never
// called, when memory is short.
bool decide_patterns(const engine_inputs &in, decision *decisions, decisions_ready on_ready,
                     void *context);

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_ENGINE_H
