// The nodes a pattern's traversal has yet to visit, nearest first to within a
// factor of two: one bucket per binary exponent of a node's kernel bound
// (0 and the subnormal bounds share the lowest).
// Taking the nearest is then a bit scan over the buckets rather than a heap's
// sift through a few hundred nodes with a branch at every level; which of
// two nodes within a factor of two goes first changes only the order of the
// visits, never a result (the bounds are checked on everything waiting).
// Each node waits at most once, so the lists are threaded through arrays
// indexed by node.
#ifndef VENDRAL_CLASSIFIER_NODE_QUEUE_H
#define VENDRAL_CLASSIFIER_NODE_QUEUE_H

#include <cstdint>
#include <algorithm>
#include <cstring>

namespace vendral {

struct node_queue {
    static constexpr int32_t buckets = 2048;  // every exponent a double has
    static constexpr int32_t words = buckets / 64;

    double *kernel = nullptr;        // per node: its bound while it waits
    int32_t *next = nullptr;         // per node: the next in its bucket, -1 at the end
    int32_t *head = nullptr;         // per bucket: its first node, -1 when empty
    // Which buckets hold a node: the nearest is a bit scan away, and a walk
    // over every node skips the empty buckets between (the bounds spread
    // over hundreds of exponents).
    uint64_t occupied[words] = {};
    int32_t top_word = 0;  // no word above it has a bit set
    int32_t size = 0;

    // A bound's bucket: its exponent field (the sign dropped; a NaN goes to the top).
    static int32_t bucket_of(double bound) {
        uint64_t bits;
        std::memcpy(&bits, &bound, sizeof bits);
        return static_cast<int32_t>(bits >> 52 & 0x7ff);
    }

    void clear() {
        for_each_bucket([this](int32_t b) { head[b] = -1; });
        std::fill_n(occupied, top_word + 1, 0);
        top_word = 0;
        size = 0;
    }

    void push(int32_t node, double bound) {
        const int32_t b = bucket_of(bound);
        kernel[node] = bound;
        next[node] = head[b];
        head[b] = node;
        occupied[b >> 6] |= uint64_t{1} << (b & 63);
        top_word = std::max(top_word, b >> 6);
        ++size;
    }

    // The bucket the next pop takes from; the queue must not be empty.
    int32_t nearest_bucket() {
        while (occupied[top_word] == 0) --top_word;
        return top_word * 64 + highest_bit(occupied[top_word]);
    }

    // The last node pushed into the nearest bucket; the queue must not be empty.
    int32_t pop() {
        const int32_t b = nearest_bucket();
        const int32_t node = head[b];
        head[b] = next[node];
        if (head[b] < 0) occupied[b >> 6] &= ~(uint64_t{1} << (b & 63));
        --size;
        return node;
    }

    // f(node, bound) for every node waiting, nearest bucket first.
    template <typename Visit>
    void for_each(Visit f) const {
        for_each_bucket([&](int32_t b) {
            for (int32_t node = head[b]; node >= 0; node = next[node]) f(node, kernel[node]);
        });
    }

private:
    static int32_t highest_bit(uint64_t word) {
#if defined(__GNUC__)
        return 63 - __builtin_clzll(word);
#else
        int32_t bit = 0;
        while (word >>= 1) ++bit;
        return bit;
#endif
    }

    // f(bucket) for every bucket holding a node, highest first.
    template <typename Visit>
    void for_each_bucket(Visit f) const {
        for (int32_t word = top_word; word >= 0; --word)
            for (uint64_t bits = occupied[word]; bits != 0;) {
                const int32_t bit = highest_bit(bits);
                bits &= ~(uint64_t{1} << bit);
                f(word * 64 + bit);
            }
    }
};

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_NODE_QUEUE_H
