// The distinct class labels of the templates, in order of first occurrence,
// and for every template the index of the class its scores go to.
#ifndef VENDRAL_CLASSIFIER_CLASS_TABLE_H
#define VENDRAL_CLASSIFIER_CLASS_TABLE_H

#include <cstddef>
#include <cstdint>

#include "classifier/model.h"

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
bool build_class_table(int32_t N, const double *labels, const allocator &memory, class_table *table);
void free_class_table(class_table *table, const allocator &memory);

// The next size of a block of elements that grows by doubling (from 16), in
// 64 bits so that it cannot wrap; 0 when the block's bytes would not fit in a
// size_t, which is treated as memory being short.
uint64_t grown_capacity(uint64_t capacity, size_t element_size);

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_CLASS_TABLE_H
