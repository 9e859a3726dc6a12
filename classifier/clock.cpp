#include <chrono>

#include "classifier/classifier.h"

namespace vendral {

namespace {
// Taken when the module is loaded: the origin of the run's clock.
const std::chrono::steady_clock::time_point load_instant = std::chrono::steady_clock::now();
}  // namespace

int64_t milliseconds_since_load() {
    const auto elapsed = std::chrono::steady_clock::now() - load_instant;
    return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}

// 0.9 s to 1.1 s counts as one second, 1.1 s to 1.9 s as none.
int elapsed_whole_seconds(int64_t start_ms, int64_t end_ms) {
    return static_cast<int>(end_ms / 1000 - start_ms / 1000);
}

}  // namespace vendral
