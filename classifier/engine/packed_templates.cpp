#include "classifier/engine/packed_templates.h"

#include <algorithm>

#include "classifier/tiles/fast_distance.h"
#include "classifier/tiles/gram_distance.h"

namespace vendral {

void free_packed(packed_templates *packed, const allocator &memory) {
    memory.release(packed->columns);
    memory.release(packed->centre);
    memory.release(packed->lane_norms);
    memory.release(packed->class_of_lane);
    memory.release(packed->template_of_lane);
    memory.release(packed->block_kind);
    memory.release(packed->class_sizes);
    memory.release(packed->class_ends);
    *packed = packed_templates{};
}

namespace {

int32_t kind_of_block(const packed_templates &packed, int32_t first, int32_t N) {
    if (first + block_lanes > N) return mixed_block;
    const int32_t c = packed.class_of_lane[first];
    bool single = true, singletons = true;
    for (int l = 0; l < block_lanes; ++l) {
        single = single && packed.class_of_lane[first + l] == c;
        singletons = singletons && packed.class_sizes[packed.class_of_lane[first + l]] == 1;
    }
    return single ? c : singletons ? singleton_block : mixed_block;
}

// The templates' mean, column by column: any centre keeps the dot-product
// bound; the mean keeps the norms in it small.
void find_centre(const engine_inputs &in, double *centre) {
    for (int32_t j = 0; j < in.N; ++j)
        for (int32_t i = 0; i < in.d; ++i) centre[i] += in.templates[j][i];
    for (int32_t i = 0; i < in.d; ++i) centre[i] /= std::max<int32_t>(in.N, 1);
}

}  // namespace

bool pack_templates(const engine_inputs &in, bool with_columns, bool centred, const allocator &memory,
                    packed_templates *packed) {
    // Whole tiles: the lanes past N hold zeros and are never counted.
    const int64_t tiles = (static_cast<int64_t>(in.N) + tile_lanes - 1) / tile_lanes;
    const auto blocks = static_cast<int32_t>(tiles * tile_blocks);
    const size_t lanes = static_cast<size_t>(blocks) * block_lanes;
    const size_t classes = static_cast<size_t>(std::max<int32_t>(in.M, 1));
    packed->blocks = blocks;
    packed->bytes = (with_columns ? lanes * in.d * sizeof(double) : 0) +
                    (centred ? (in.d + lanes) * sizeof(double) : 0) + 2 * lanes * sizeof(int32_t) +
                    blocks * sizeof(int32_t) + 2 * classes * sizeof(int32_t);
    if (with_columns)
        packed->columns = static_cast<double *>(memory.zeroed(std::max<size_t>(lanes * in.d, 1), sizeof(double)));
    if (centred) {
        packed->centre = static_cast<double *>(memory.zeroed(std::max<int32_t>(in.d, 1), sizeof(double)));
        packed->lane_norms = static_cast<double *>(memory.zeroed(std::max<size_t>(lanes, 1), sizeof(double)));
    }
    packed->class_of_lane = static_cast<int32_t *>(memory.zeroed(std::max<size_t>(lanes, 1), sizeof(int32_t)));
    packed->template_of_lane = static_cast<int32_t *>(memory.zeroed(std::max<size_t>(lanes, 1), sizeof(int32_t)));
    packed->block_kind = static_cast<int32_t *>(memory.zeroed(std::max<int32_t>(blocks, 1), sizeof(int32_t)));
    packed->class_sizes = static_cast<int32_t *>(memory.zeroed(classes, sizeof(int32_t)));
    packed->class_ends = static_cast<int32_t *>(memory.zeroed(classes, sizeof(int32_t)));
    int32_t *next_slot = packed->class_ends;  // each class's next lane, then its end
    if ((with_columns && !packed->columns) || (centred && (!packed->centre || !packed->lane_norms)) ||
        !packed->class_of_lane || !packed->template_of_lane || !packed->block_kind || !packed->class_sizes ||
        !packed->class_ends) {
        free_packed(packed, memory);
        return false;
    }
    if (centred) find_centre(in, packed->centre);
    for (int32_t j = 0; j < in.N; ++j) ++packed->class_sizes[in.class_of_template[j]];
    for (int32_t c = 1; c < in.M; ++c) next_slot[c] = next_slot[c - 1] + packed->class_sizes[c - 1];
    for (int32_t j = 0; j < in.N; ++j) {
        const int32_t c = in.class_of_template[j];
        const int32_t slot = next_slot[c]++;
        packed->class_of_lane[slot] = c;
        packed->template_of_lane[slot] = j;
        if (!with_columns) continue;
        double *column = packed->columns + static_cast<size_t>(slot / block_lanes) * block_lanes * in.d +
                         slot % block_lanes;
        if (centred) {
            packed->lane_norms[slot] = centre_row(in.templates[j], packed->centre, in.d, column, block_lanes);
        } else {
            for (int32_t i = 0; i < in.d; ++i) column[i * block_lanes] = in.templates[j][i];
        }
    }
    for (int32_t b = 0; b < blocks; ++b) packed->block_kind[b] = kind_of_block(*packed, b * block_lanes, in.N);
    return true;
}

}  // namespace vendral
