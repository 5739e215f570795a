#include "quant/Quantizers.h"
namespace zerimo {
bool EdgeAwareQuantize(imaging::Image&, imaging::Image&, uint32_t&, bool, QuantRun&) {
    return false;
}
} // namespace zerimo
