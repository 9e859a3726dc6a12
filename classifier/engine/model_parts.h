// The parts of a model that only some classifications need: the templates
// packed for the vector tiles, the tree of the pruned evaluation, and
// whether every template is finite. Each is made by the first
// classification that needs it, under the model's lock, and then kept and
// shared read-only by every later one, whatever thread it runs on.
#ifndef VENDRAL_CLASSIFIER_MODEL_PARTS_H
#define VENDRAL_CLASSIFIER_MODEL_PARTS_H

#include <atomic>

#if !defined(VENDRAL_SINGLE_THREAD)
#include <mutex>
#endif

#include "classifier/engine/engine.h"
#include "classifier/model.h"
#include "classifier/engine/packed_templates.h"
#include "classifier/tree/template_tree.h"

namespace vendral {

#if defined(VENDRAL_SINGLE_THREAD)
struct build_lock {
    void lock() {}
    void unlock() {}
};
#else
using build_lock = std::mutex;
#endif

// Holds a build_lock for its scope.
class holding {
  public:
    explicit holding(build_lock &lock) : lock_(lock) { lock_.lock(); }
    ~holding() { lock_.unlock(); }
    holding(const holding &) = delete;
    holding &operator=(const holding &) = delete;

  private:
    build_lock &lock_;
};

struct model_parts {
    build_lock building;
    // Set, with release order, once the part behind them is complete.
    std::atomic<const packed_templates *> packed{nullptr};
    std::atomic<const template_tree *> tree{nullptr};
    std::atomic<int> finite{-1};  // -1: not checked yet; then 0 or 1
    std::atomic<bool> tree_declined{false};  // the automatic choice found a tree did not pay
    packed_templates packed_storage;
    template_tree tree_storage;
};

// The packed templates (with their columns when with_columns, centred when
// centred: the same two for every call on one model), made now if need be;
// null when memory is short, the model then as it was.
const packed_templates *packed_of(model_parts &parts, const engine_inputs &in, bool with_columns, bool centred,
                                  const allocator &memory);
// The tree, likewise, built on up to `threads` threads.
const template_tree *tree_of(model_parts &parts, const engine_inputs &in, int threads, const allocator &memory);
// Makes *built the model's tree unless it has one already (the same: a
// tree does not depend on who builds it), which *built then gives back;
// returns the model's tree.
const template_tree *keep_tree(model_parts &parts, template_tree *built, const allocator &memory);
// Whether every template value is finite, checked once on up to `threads` threads.
bool finite_templates(model_parts &parts, const engine_inputs &in, int threads);
// Gives back what was made.
void release_parts(model_parts &parts, const allocator &memory);
// Bytes held by what was made.
size_t parts_bytes(const model_parts &parts);

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_MODEL_PARTS_H
