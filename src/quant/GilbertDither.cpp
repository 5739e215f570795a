#include "quant/GilbertDither.h"

#include <algorithm>

namespace zerimo {

using imaging::ARGB;

ARGB BlueNoisePerturb(ARGB pixel, ARGB reference, float strength, float jitter, int x, int y) {
    const int n = NoiseAtXY(x, y);
    const int parity = (x + y) & 1;
    const float f = ((float(n) + 0.5f) / 127.5f + (float(parity) - 0.5f) * jitter * 0.125f) * strength;
    ARGB out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const float p = float((pixel >> shift) & 0xFF), r = float((reference >> shift) & 0xFF);
        const float v = std::clamp(p + (p - r) * f, 0.0f, 255.0f);
        out |= ARGB(uint32_t(v)) << shift;
    }
    return out;
}

std::vector<float> DitherWeights(int queueLength) {
    std::vector<float> w(static_cast<size_t>(queueLength));
    const float r = std::pow(344.0f, 1.0f / float(queueLength - 1));
    float g = 1;
    for (int i = queueLength - 1; i >= 0; --i) {
        w[size_t(i)] = 1 / g;
        g *= r;
    }
    float sum = 0;
    for (float v : w) sum += v;
    double divided = 0;
    for (float& v : w) {
        v /= sum;
        divided += v;
    }
    w[0] += float(1 - divided);
    return w;
}

} // namespace zerimo
