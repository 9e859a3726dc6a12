#include "classifier/engine/model_parts.h"

#include "classifier/tree/pruned_scores.h"

namespace vendral {

const packed_templates *packed_of(model_parts &parts, const engine_inputs &in, bool with_columns, bool centred,
                                  const allocator &memory) {
    const packed_templates *ready = parts.packed.load(std::memory_order_acquire);
    if (ready != nullptr) return ready;
    const holding hold(parts.building);
    ready = parts.packed.load(std::memory_order_relaxed);
    if (ready != nullptr) return ready;
    if (!pack_templates(in, with_columns, centred, memory, &parts.packed_storage)) return nullptr;
    parts.packed.store(&parts.packed_storage, std::memory_order_release);
    return &parts.packed_storage;
}

const template_tree *tree_of(model_parts &parts, const engine_inputs &in, int threads, const allocator &memory) {
    const template_tree *ready = parts.tree.load(std::memory_order_acquire);
    if (ready != nullptr) return ready;
    const holding hold(parts.building);
    ready = parts.tree.load(std::memory_order_relaxed);
    if (ready != nullptr) return ready;
    if (!build_template_tree(in, threads, memory, &parts.tree_storage)) return nullptr;
    parts.tree.store(&parts.tree_storage, std::memory_order_release);
    return &parts.tree_storage;
}

const template_tree *keep_tree(model_parts &parts, template_tree *built, const allocator &memory) {
    const holding hold(parts.building);
    if (parts.tree.load(std::memory_order_relaxed) != nullptr) {
        free_template_tree(built, memory);
    } else {
        parts.tree_storage = *built;
        *built = template_tree{};
        parts.tree.store(&parts.tree_storage, std::memory_order_release);
    }
    return &parts.tree_storage;
}

bool finite_templates(model_parts &parts, const engine_inputs &in, int threads) {
    int known = parts.finite.load(std::memory_order_acquire);
    if (known >= 0) return known == 1;
    // Two threads may both check; both find the same.
    known = templates_all_finite(in, threads) ? 1 : 0;
    parts.finite.store(known, std::memory_order_release);
    return known == 1;
}

void release_parts(model_parts &parts, const allocator &memory) {
    if (parts.packed.load() != nullptr) free_packed(&parts.packed_storage, memory);
    if (parts.tree.load() != nullptr) free_template_tree(&parts.tree_storage, memory);
    parts.packed.store(nullptr);
    parts.tree.store(nullptr);
}

size_t parts_bytes(const model_parts &parts) {
    size_t bytes = 0;
    if (const packed_templates *packed = parts.packed.load()) bytes += packed->bytes;
    if (const template_tree *tree = parts.tree.load()) bytes += tree->bytes;
    return bytes;
}

}  // namespace vendral
