#pragma once
/// What the quantizers keep from one run to the next: weights, ratios, the transparent colour and
/// the divisive clustering's Lab cache. One object lives as long as the colour-reduction service
/// that owns it; a run reads and updates it as the methods prescribe.

#include "imaging/Types.h"
#include "quant/ColorScience.h"
#include "quant/FlatMap.h"

#include <functional>
#include <mutex>
#include <stop_token>
#include <vector>

namespace zerimo {

/// Shared by the methods that read pixels through the bridge.
struct TransparencyState {
    imaging::ARGB transparentColor = 0x00FFFFFF;
    int transparentPixelIndex = -1;
    bool hasSemiTransparency = false;
};

struct PnnState : TransparencyState {
    double PA = 0.3333, PR = 0.299, PG = 0.587, PB = 0.114;
};

struct PnnLabState : PnnState {
    double ratio = 1.0;
    double labRatio = 1.0;
    std::vector<float> saliency; // of the last palette build
};

struct QuantizerState {
    PnnState pnn;
    PnnLabState pnnLab;
    TransparencyState otsu;
    TransparencyState spatial;
    TransparencyState edgeAware;
    FlatMap<LabColor> divisiveLab{4096}; // never emptied
    /// Helper threads for the work that does not depend on order (0: one per core, 1: none).
    int threads = 0;
    /// Held for the whole of a run: the state above admits one run at a time.
    std::mutex runMutex;
};

/// What every run is given besides its images.
struct QuantRun {
    QuantizerState& state;
    std::stop_token stop;
};

/// Runs f(i) for i in [0, count) on `threads` threads (0: one per core), interleaved so that uneven
/// work spreads; f must not depend on the order.
void ParallelFor(int threads, size_t count, const std::function<void(size_t)>& f);

} // namespace zerimo
