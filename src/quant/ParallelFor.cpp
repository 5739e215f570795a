#include "quant/QuantizerState.h"

#include <algorithm>
#include <thread>

namespace zerimo {

void ParallelFor(int threads, size_t count, const std::function<void(size_t)>& f) {
    size_t n = threads > 0 ? size_t(threads) : std::max(1u, std::thread::hardware_concurrency());
    n = std::min(n, count);
    if (n <= 1) {
        for (size_t i = 0; i < count; ++i) f(i);
        return;
    }
    auto work = [&](size_t t) {
        for (size_t i = t; i < count; i += n) f(i);
    };
    std::vector<std::thread> pool;
    for (size_t t = 1; t < n; ++t) pool.emplace_back(work, t);
    work(0);
    for (auto& th : pool) th.join();
}

} // namespace zerimo
