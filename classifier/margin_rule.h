// The decision rule on fast scores with their bounds, one class at a time:
// while every comparison is settled by more than the two scores' bounds, the
// literal scores take the same path through the rule: same winner, no tie,
// M comparisons.
#ifndef VENDRAL_CLASSIFIER_MARGIN_RULE_H
#define VENDRAL_CLASSIFIER_MARGIN_RULE_H

#include <cmath>
#include <cstdint>

namespace vendral {

struct margin_rule {
    double best = -1.0;
    double best_error = 0.0;
    int32_t winner = -1;
    int32_t next_class = 0;
    bool settled = true;

    void take(double score, double error) {
        if (!(std::fabs(best - score) > best_error + error)) settled = false;
        if (best < score) {
            best = score;
            best_error = error;
            winner = next_class;
        }
        ++next_class;
    }
};

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_MARGIN_RULE_H
