#include "ops/Parallel.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace zerimo {

void ParallelRows(int count, uint64_t work, const std::function<void(int, int)>& body) {
    if (count <= 0) return;
    constexpr uint64_t kMinWorkPerThread = 1 << 18;
    const unsigned cores = std::max(1u, std::min(std::thread::hardware_concurrency(), 16u));
    const int threads =
        int(std::min<uint64_t>({cores, uint64_t(count), std::max<uint64_t>(1, work / kMinWorkPerThread)}));
    if (threads <= 1) {
        body(0, count);
        return;
    }
    std::vector<std::thread> pool;
    pool.reserve(size_t(threads - 1));
    for (int t = 1; t < threads; ++t) {
        const int first = int(int64_t(count) * t / threads), last = int(int64_t(count) * (t + 1) / threads);
        try {
            pool.emplace_back([&body, first, last] { body(first, last); });
        } catch (...) {
            body(first, last); // no thread to be had: this one does the range
        }
    }
    body(0, int(int64_t(count) / threads));
    for (auto& th : pool) th.join();
}

} // namespace zerimo
