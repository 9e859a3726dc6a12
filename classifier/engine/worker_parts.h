// Work split in parts that run at once, each on a thread of its own (part 0
// on the calling thread). The parts must not call the host's services: those
// belong to the calling thread (host_services.h).
#ifndef VENDRAL_CLASSIFIER_WORKER_PARTS_H
#define VENDRAL_CLASSIFIER_WORKER_PARTS_H

#if !defined(VENDRAL_SINGLE_THREAD)
#include <exception>
#include <thread>
#include <vector>
#endif

namespace vendral {

// The processors this process may run on (1 where it runs one thread only).
inline int processor_count() {
#if defined(VENDRAL_SINGLE_THREAD)
    return 1;
#else
    const unsigned count = std::thread::hardware_concurrency();
    return count > 0 ? static_cast<int>(count) : 1;
#endif
}

// Runs part(0) ... part(parts - 1) and returns when all have ended. A thread
// the system refuses only means its part runs on the calling thread.
template <typename Part>
void run_parts(int parts, const Part &part) {
#if defined(VENDRAL_SINGLE_THREAD)
    for (int t = 0; t < parts; ++t) part(t);
#else
    std::vector<std::thread> helpers;
    int started = 1;
    try {
        helpers.reserve(static_cast<size_t>(parts > 1 ? parts - 1 : 0));
        for (; started < parts; ++started) helpers.emplace_back([&part, started] { part(started); });
    } catch (const std::exception &) {
    }
    part(0);
    for (std::thread &helper : helpers) helper.join();
    for (int t = started; t < parts; ++t) part(t);
#endif
}

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_WORKER_PARTS_H
