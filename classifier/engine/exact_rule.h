// The decision rule over fast class scores with proven bounds, which turns
// to a class's literal score only where the bounds cannot settle a
// comparison: its outcome is always the literal rule's.
#ifndef VENDRAL_CLASSIFIER_EXACT_RULE_H
#define VENDRAL_CLASSIFIER_EXACT_RULE_H

#include <cmath>
#include <cstdint>

#include "classifier/engine/decision.h"

namespace vendral {

// Class c's literal score for the pattern being decided.
struct literal_scorer {
    double (*score)(const void *context, const double *pattern, int32_t c);
    const void *context;
    const double *pattern;

    double operator()(int32_t c) const { return score(context, pattern, c); }
};

// The decision rule, one class at a time, on fast scores with their bounds
// where those settle each comparison, and on literal scores where they do
// not. A comparison settled by more than the two scores' bounds goes the way
// the literal scores would: neither equal nor NaN, so the literal rule
// would only count it and perhaps change the best. One too close to call
// (near-ties, exact ties, NaN) takes the literal score of the class and of
// the best so far, and is the literal rule's own step on them (decision.h).
// Either way every step is the literal rule's: the same winner, ties and
// count. The best, once literal, stays exact (bound 0) until a class takes
// over (a fast score whose bound is 0 is its literal score). Only the classes too close to call are scored literally: with
// every template its own class, a near-tie costs two kernel values, not a
// whole literal pass.
struct exact_rule {
    decision_rule literal;  // the rule's state; its best is the fast or the literal score
    double best_error = 0.0;  // 0: the best is its literal score (the start's -1.0 too)
    int32_t literal_classes = 0;
    literal_scorer literal_score;

    int32_t next_class() const { return literal.next_class; }

    void take(double score, double error) {
        if (std::fabs(literal.best - score) > best_error + error) {
            if (literal.take_unequal(score)) best_error = error;
            return;
        }
        if (best_error != 0.0) {
            literal.best = literal_score(literal.outcome.winner);
            best_error = 0.0;
            ++literal_classes;
        }
        ++literal_classes;
        literal.take(literal_score(literal.next_class));
    }
};

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_EXACT_RULE_H
