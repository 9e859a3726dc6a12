// The distinct class labels of the templates, in order of first occurrence,
// and for every template the index of the class its scores go to.
#ifndef VENDRAL_CLASSIFIER_CLASS_TABLE_H
#define VENDRAL_CLASSIFIER_CLASS_TABLE_H

#include <cstdint>

namespace vendral {

struct class_table {
    int32_t *labels = nullptr;             // count entries
    int32_t count = 0;                     // M
    int32_t *class_of_template = nullptr;  // one entry per template
};

// Builds the table from N labels, each finite with its truncation toward zero
// inside the 32-bit range. A label matches an entry only when it equals the
// entry's label exactly, so each non-integer label appends an entry of its own
// (1.5 appends another 1); every template scores for the first entry carrying
// its truncated label. Returns false when memory is short, leaving nothing
// allocated.
bool build_class_table(int32_t N, const double *labels, class_table *table);
void free_class_table(class_table *table);

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_CLASS_TABLE_H
