// The decision rule over one pattern's class scores.
#ifndef VENDRAL_CLASSIFIER_DECISION_H
#define VENDRAL_CLASSIFIER_DECISION_H

#include <cstdint>

namespace vendral {

struct decision {
    int32_t winner;        // class index, or -1 when there is none
    bool tie;              // the best score is shared: unclassifiable
    uint32_t comparisons;  // one per class, one more per equality found
    bool nan_score;        // some class score is NaN: unclassifiable
};

// The rule, fed one class score at a time in table order. best starts at
// -1.0, below any kernel sum, so the first class always takes over first. A
// class takes over whenever best >= score is false, which includes a NaN on
// either side; a later strictly higher score clears a tie. A NaN score
// leaves the pattern unclassifiable, whoever the rule picks; the rule still
// runs and counts its comparisons.
struct decision_rule {
    decision outcome{-1, false, 0, false};
    double best = -1.0;
    int32_t next_class = 0;

    void take(double score) {
        ++outcome.comparisons;
        if (score != score) outcome.nan_score = true;
        if (best >= score) {
            if (best == score) {
                outcome.tie = true;
                ++outcome.comparisons;
            }
        } else {
            best = score;
            outcome.winner = next_class;
            outcome.tie = false;
        }
        ++next_class;
    }

    // The step for a score known to be neither equal to best nor NaN (the
    // fast paths settle that by more than both scores' bounds): it is only
    // counted and perhaps takes over. Returns whether it took over.
    bool take_unequal(double score) {
        ++outcome.comparisons;
        ++next_class;
        if (!(best < score)) return false;
        best = score;
        outcome.winner = next_class - 1;
        outcome.tie = false;
        return true;
    }
};

inline decision decide(const double *scores, int32_t M) {
    decision_rule rule;
    for (int32_t i = 0; i < M; ++i) rule.take(scores[i]);
    return rule.outcome;
}

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_DECISION_H
