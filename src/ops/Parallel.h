#pragma once
/// Row ranges of one image operation spread over the machine's cores. Each range is handled by one
/// thread; results never depend on how the rows were split.

#include <cstdint>
#include <functional>

namespace zerimo {

/// Calls `body(first, last)` over [0, count) in contiguous ranges, on up to the machine's core count
/// of threads when `work` (pixels, say) makes that worth it; returns when every range is done.
void ParallelRows(int count, uint64_t work, const std::function<void(int first, int last)>& body);

} // namespace zerimo
