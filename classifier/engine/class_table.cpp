#include "classifier/engine/class_table.h"

#include <algorithm>
#include <cstdint>


namespace vendral {

namespace {

// Map from a truncated label to the first entry carrying it. Labels spread
// over at most a few times as many values as there are templates (1..M, say)
// go straight to a table indexed by the label: a million distinct labels
// then cost one pass over memory, where hashing them costs a cache miss
// each. Others go through an open-addressed map that grows with the number
// of classes, not of templates.
struct first_entry_map {
    int32_t *direct = nullptr;  // entry index + 1 for each label from lowest on; 0: none yet
    int64_t lowest = 0;
    int64_t *slots = nullptr;  // label in the high half, entry index + 1 in the low
    uint64_t capacity = 0;     // a power of two, or 0; up to 2^32 for 2^31 labels
    int32_t used = 0;

    // Chooses the direct table where the labels' range allows it; false
    // when memory is short.
    bool start(int32_t N, const double *labels, const allocator &memory) {
        if (N == 0) return true;
        int64_t low = INT32_MAX, high = INT32_MIN;
        for (int32_t j = 0; j < N; ++j) {
            const auto label = static_cast<int64_t>(static_cast<int32_t>(labels[j]));
            low = std::min(low, label);
            high = std::max(high, label);
        }
        if (high - low > 4 * static_cast<int64_t>(N) + 1024) return true;
        direct = static_cast<int32_t *>(memory.zeroed(static_cast<size_t>(high - low + 1), sizeof(int32_t)));
        lowest = low;
        return direct != nullptr;
    }

    void release(const allocator &memory) {
        memory.release(direct);
        memory.release(slots);
    }

    static uint32_t hash(int32_t label) {
        return static_cast<uint32_t>(label) * 2654435761u;
    }

    // Index of label's first entry, or -1.
    int32_t find(int32_t label) const {
        if (direct != nullptr) return direct[label - lowest] - 1;
        if (capacity == 0) return -1;
        for (uint64_t slot = hash(label) & (capacity - 1);; slot = (slot + 1) & (capacity - 1)) {
            const int64_t content = slots[slot];
            if (content == 0) return -1;
            if (static_cast<int32_t>(content >> 32) == label)
                return static_cast<int32_t>(content & 0xffffffff) - 1;
        }
    }

    void place(int32_t label, int32_t entry) {
        uint64_t slot = hash(label) & (capacity - 1);
        while (slots[slot] != 0) slot = (slot + 1) & (capacity - 1);
        slots[slot] = static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(label)) << 32 |
                                           static_cast<uint32_t>(entry + 1));
    }

    // Keeps the load at most one half, so probes stay short and always end.
    bool insert(int32_t label, int32_t entry, const allocator &memory) {
        if (direct != nullptr) {
            direct[label - lowest] = entry + 1;
            return true;
        }
        if (2 * (static_cast<uint64_t>(used) + 1) > capacity) {
            const uint64_t grown = grown_capacity(capacity, sizeof(int64_t));
            if (grown == 0) return false;
            auto *fresh =
                static_cast<int64_t *>(memory.zeroed(static_cast<size_t>(grown), sizeof(int64_t)));
            if (fresh == nullptr) return false;
            int64_t *old = slots;
            const uint64_t old_capacity = capacity;
            slots = fresh;
            capacity = grown;
            for (uint64_t i = 0; i < old_capacity; ++i)
                if (old[i] != 0)
                    place(static_cast<int32_t>(old[i] >> 32),
                          static_cast<int32_t>(old[i] & 0xffffffff) - 1);
            memory.release(old);
        }
        place(label, entry);
        ++used;
        return true;
    }
};

// Appends one entry, growing the block geometrically.
bool append_label(class_table *table, int32_t *reserved, int32_t label, const allocator &memory) {
    if (table->count == *reserved) {
        const uint64_t grown = std::min<uint64_t>(
            grown_capacity(static_cast<uint64_t>(*reserved), sizeof(int32_t)), INT32_MAX);
        if (grown <= static_cast<uint64_t>(*reserved)) return false;
        void *block = memory.resized(table->labels, static_cast<size_t>(grown) * sizeof(int32_t));
        if (block == nullptr) return false;
        table->labels = static_cast<int32_t *>(block);
        *reserved = static_cast<int32_t>(grown);
    }
    table->labels[table->count++] = label;
    return true;
}

}  // namespace

uint64_t grown_capacity(uint64_t capacity, size_t element_size) {
    const uint64_t grown = capacity < 8 ? 16 : capacity * 2;
    // Past what a size_t can count in bytes there is no such block: memory is short.
    return grown > SIZE_MAX / element_size ? 0 : grown;
}

bool build_class_table(int32_t N, const double *labels, const allocator &memory, class_table *table) {
    *table = class_table{};
    table->class_of_template =
        static_cast<int32_t *>(memory.unzeroed(N > 0 ? static_cast<size_t>(N) : 1, sizeof(int32_t)));
    first_entry_map first_entry;
    int32_t reserved = 0;
    bool ok = table->class_of_template != nullptr && first_entry.start(N, labels, memory);
    for (int32_t j = 0; ok && j < N; ++j) {
        const int32_t label = static_cast<int32_t>(labels[j]);
        int32_t entry = first_entry.find(label);
        // Only an exactly equal label joins an existing entry.
        if (entry < 0 || labels[j] != static_cast<double>(label)) {
            ok = append_label(table, &reserved, label, memory);
            if (ok && entry < 0) {
                entry = table->count - 1;
                ok = first_entry.insert(label, entry, memory);
            }
        }
        if (ok) table->class_of_template[j] = entry;
    }
    first_entry.release(memory);
    if (!ok) free_class_table(table, memory);
    return ok;
}

void free_class_table(class_table *table, const allocator &memory) {
    memory.release(table->labels);
    memory.release(table->class_of_template);
    *table = class_table{};
}

}  // namespace vendral
