// The templates in the order of their codes: the cells of their first
// columns in the templates' bounding box, placed along a Hilbert curve, so
// that templates near each other in the order are near each other in space
// (and those near in space mostly near in the order). Ties keep the templates' own order, so the order is a function of
// the templates alone, whatever the number of threads.
#ifndef VENDRAL_CLASSIFIER_CODE_ORDER_H
#define VENDRAL_CLASSIFIER_CODE_ORDER_H

#include <cstdint>

#include "classifier/engine/engine.h"

namespace vendral {

struct keyed_template {
    uint32_t code;
    int32_t index;
};

// Where the order goes: the template at position k of the segment (up to,
// not including, end) goes to index_at[k], its class to class_at[k]; a
// segment starts where the one before ends.
struct order_segment {
    int32_t end;
    int32_t *index_at;
    int32_t *class_at;
};

// At most this many parts (threads) share the sort.
constexpr int most_sort_parts = 16;

// Writes the index and class of the k-th template in code order to its
// segment, for every k < in.N. room: 2 * in.N keyed_template of scratch. parts (at
// most most_sort_parts) threads share the work; no host service is called.
// Returns whether the rows lie one after the other in one block (template j
// at in.templates[0] + j * in.d), as seen on the way.
bool order_by_code(const engine_inputs &in, keyed_template *room, const order_segment *segments, int parts);

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_CODE_ORDER_H
