// The nodes a pattern's traversal has yet to visit, nearest first to within a
// factor of two: one bucket per binary exponent of a node's kernel bound
// (0 and the subnormal bounds share the lowest).
// Taking the nearest is then a step down the buckets rather than a heap's
// sift through a few hundred nodes with a branch at every level; which of
// two nodes within a factor of two goes first changes only the order of the
// visits, never a result (the bounds are checked on everything waiting).
// Each node waits at most once, so the lists are threaded through arrays
// indexed by node.
#ifndef VENDRAL_CLASSIFIER_NODE_QUEUE_H
#define VENDRAL_CLASSIFIER_NODE_QUEUE_H

#include <cstdint>
#include <cstring>

namespace vendral {

struct node_queue {
    static constexpr int32_t buckets = 2048;  // every exponent a double has

    double *kernel = nullptr;        // per node: its bound while it waits
    int32_t *next = nullptr;         // per node: the next in its bucket, -1 at the end
    int32_t *head = nullptr;         // per bucket: its first node, -1 when empty
    int32_t top = -1;                // no bucket above it holds a node
    int32_t bottom = buckets;        // ... nor any below it
    int32_t size = 0;

    // A bound's bucket: its exponent field (the sign dropped; a NaN goes to the top).
    static int32_t bucket_of(double bound) {
        uint64_t bits;
        std::memcpy(&bits, &bound, sizeof bits);
        return static_cast<int32_t>(bits >> 52 & 0x7ff);
    }

    void clear() {
        for (int32_t b = bottom; b <= top; ++b) head[b] = -1;
        top = -1;
        bottom = buckets;
        size = 0;
    }

    void push(int32_t node, double bound) {
        const int32_t b = bucket_of(bound);
        kernel[node] = bound;
        next[node] = head[b];
        head[b] = node;
        if (b > top) top = b;
        if (b < bottom) bottom = b;
        ++size;
    }

    // The bucket the next pop takes from; the queue must not be empty.
    int32_t nearest_bucket() {
        while (head[top] < 0) --top;
        return top;
    }

    // The last node pushed into the nearest bucket; the queue must not be empty.
    int32_t pop() {
        const int32_t b = nearest_bucket();
        const int32_t node = head[b];
        head[b] = next[node];
        --size;
        return node;
    }

    // f(node, bound) for every node waiting.
    template <typename Visit>
    void for_each(Visit f) const {
        for (int32_t b = top; b >= bottom; --b)
            for (int32_t node = head[b]; node >= 0; node = next[node]) f(node, kernel[node]);
    }
};

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_NODE_QUEUE_H
