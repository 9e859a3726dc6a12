// Scores and decides every test pattern. Two evaluations give the same bits:
// the literal one (one pattern at a time, through the counted kernel table)
// and the fast one (exact vectorised distances, patterns spread over threads).
#ifndef VENDRAL_CLASSIFIER_ENGINE_H
#define VENDRAL_CLASSIFIER_ENGINE_H

#include <cstdint>

#include "classifier/engine/decision.h"
#include "classifier/model.h"

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

struct model_parts;

// One run of the engine: the caller's options, where its memory comes from,
// and the model's parts it may make or use.
struct engine_run {
    const classify_options &options;
    const allocator &memory;
    model_parts &parts;
    // Told as decisions are made (see decisions_ready); in pattern order only
    // when in.progress_shown.
    decisions_ready on_ready;
    void *context;
};

// Fills decisions[0..P) and adds the kernels' operation count to
// counts->flops and the patterns taken literally and on the pruned path to
// theirs. All memory comes from run.memory, on the calling thread, before
// any worker starts. Returns out_of_memory, with nothing left allocated but
// the model's parts and on_ready never called, when memory is short; stopped
// when options.stop was set, the decisions then incomplete.
classify_status decide_patterns(const engine_inputs &in, const engine_run &run, decision *decisions,
                                classify_counts *counts);

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_ENGINE_H
