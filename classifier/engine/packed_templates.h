// The templates as the fast evaluation reads them: sorted by class (stably)
// and packed column by column in blocks of block_lanes, so that one pattern
// meets block_lanes templates per vector step and most blocks add into a
// single class. Sorted by class, each class's templates keep their order, so
// that a class sum taken along the sorted lanes adds the literal terms in the
// literal order; and the classes come in table order, so that the decision
// rule can take each class as soon as its sum is complete.
#ifndef VENDRAL_CLASSIFIER_PACKED_TEMPLATES_H
#define VENDRAL_CLASSIFIER_PACKED_TEMPLATES_H

#include <cstddef>
#include <cstdint>

#include "classifier/engine/engine.h"

namespace vendral {

struct packed_templates {
    double *columns = nullptr;          // blocks * d * block_lanes; null when no tile function
    double *centre = nullptr;           // d: with distances from dot products, the columns less this
    double *lane_norms = nullptr;       // ... and each lane's sum of squares
    int32_t *class_of_lane = nullptr;   // sorted order
    int32_t *template_of_lane = nullptr;
    int32_t *block_kind = nullptr;      // see the constants below
    int32_t *class_sizes = nullptr;
    int32_t *class_ends = nullptr;      // the lane after each class's last: its lanes end there
    int32_t blocks = 0;
    size_t bytes = 0;  // held in all
};

// block_kind: a class index when a full block holds that class only; else
// one of these.
constexpr int32_t mixed_block = -1;
constexpr int32_t singleton_block = -2;  // a full block of classes of one template each

// Packs the templates, with their columns when with_columns (the tile
// functions read them), centred on the templates' mean with each lane's sum
// of squares when centred (the dot-product distances read them). All memory
// from memory; false, with nothing left allocated, when it is short.
bool pack_templates(const engine_inputs &in, bool with_columns, bool centred, const allocator &memory,
                    packed_templates *packed);
void free_packed(packed_templates *packed, const allocator &memory);

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_PACKED_TEMPLATES_H
