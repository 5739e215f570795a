#pragma once
// What the two pairwise-merge quantizers share: the bins, their list and heap, the merge loop, the
// two-colour palette and the final write.

#include "imaging/Image.h"
#include "quant/PixelBridge.h"
#include "quant/QuantizerState.h"

#include <stop_token>
#include <vector>

namespace zerimo {

struct MergeBin {
    float a = 0, r = 0, g = 0, b = 0; // (alpha, L, a, b) in the CIELAB quantizer
    float mergeCost = 0;
    float weight = 0;
    int nearest = 0;
    int next = 0, prev = 0;
    int searchedAt = 0;
    int mergedAt = 0;
};

constexpr int kAbsorbed = 0xFFFF;

/// Moves the occupied bins to the front as means; returns their number.
inline int CompactBins(std::vector<MergeBin>& bins) {
    int m = 0;
    for (size_t i = 0; i < bins.size(); ++i) {
        MergeBin& b = bins[i];
        if (!(b.weight > 0)) continue;
        const float d = 1.0f / b.weight;
        b.a *= d;
        b.r *= d;
        b.g *= d;
        b.b *= d;
        bins[size_t(m++)] = b;
    }
    return m;
}

/// Links the first m bins in order and replaces each weight by its transformed value.
inline void LinkBins(std::vector<MergeBin>& bins, int m, float (*transform)(float)) {
    for (int i = 0; i < m; ++i) {
        MergeBin& b = bins[size_t(i)];
        if (transform) b.weight = transform(b.weight);
        b.next = i + 1 < m ? i + 1 : 0;
        if (i + 1 < m) bins[size_t(i) + 1].prev = i;
    }
}

/// 1-based min-heap on mergeCost; heap[0] holds the size.
inline void HeapInsert(std::vector<int>& heap, const std::vector<MergeBin>& bins, int i) {
    int l = ++heap[0];
    const float cost = bins[size_t(i)].mergeCost;
    while (l > 1 && bins[size_t(heap[size_t(l / 2)])].mergeCost > cost) {
        heap[size_t(l)] = heap[size_t(l / 2)];
        l /= 2;
    }
    heap[size_t(l)] = i;
}

/// Merges until `merges` merges are done. find(t) recomputes the partner of bin t; merge(t, u, w1,
/// w2) sets t's channels. False when stopped.
template <class Find, class Merge>
bool MergeLoop(std::vector<int>& heap, std::vector<MergeBin>& bins, int merges, std::stop_token stop,
               Find&& find, Merge&& merge) {
    for (int i = 0; i < merges;) {
        if ((i & 255) == 0 && stop.stop_requested()) return false;
        int t;
        for (;;) {
            t = heap[1];
            MergeBin& tb = bins[size_t(t)];
            const MergeBin& ub = bins[size_t(tb.nearest)];
            if (tb.searchedAt >= tb.mergedAt && ub.mergedAt <= tb.searchedAt) break;
            if (tb.mergedAt == kAbsorbed) {
                t = heap[1] = heap[size_t(heap[0]--)];
            } else {
                find(t);
                tb.searchedAt = i;
            }
            const float err = bins[size_t(t)].mergeCost;
            int l = 1;
            for (int l2; (l2 = l + l) <= heap[0]; l = l2) {
                if (l2 < heap[0] &&
                    bins[size_t(heap[size_t(l2)])].mergeCost > bins[size_t(heap[size_t(l2) + 1])].mergeCost)
                    ++l2;
                if (err <= bins[size_t(heap[size_t(l2)])].mergeCost) break;
                heap[size_t(l)] = heap[size_t(l2)];
            }
            heap[size_t(l)] = t;
        }
        MergeBin& tb = bins[size_t(t)];
        MergeBin& ub = bins[size_t(tb.nearest)];
        const float w1 = tb.weight, w2 = ub.weight;
        merge(tb, ub, w1, w2);
        tb.weight = w1 + w2;
        tb.mergedAt = ++i;
        bins[size_t(ub.prev)].next = ub.next;
        bins[size_t(ub.next)].prev = ub.prev;
        ub.mergedAt = kAbsorbed;
    }
    return true;
}

/// Black and white, or the transparent colour and black.
inline void FixedTwoColorPalette(imaging::ColorPalette& palette, const TransparencyState& st) {
    if (palette.Entries.size() < 2) palette.Entries.resize(2);
    if (st.transparentPixelIndex < 0) {
        palette.Entries[0] = 0xFF000000;
        palette.Entries[1] = 0xFFFFFFFF;
    } else {
        palette.Entries[0] = st.transparentColor;
        palette.Entries[1] = 0xFF000000;
    }
}

/// The transparent fix-up and the write: indices into an indexed target, packed colours into a
/// high-colour one.
inline bool WriteResult(imaging::Image& target, imaging::ColorPalette& palette,
                        const std::vector<uint16_t>& indices, uint32_t n, const TransparencyState& st) {
    // The target's own depth decides, not a colour count that the palette build lowered: a few
    // colours asked of a high-colour target are still written as high colour.
    if (imaging::IsIndexedPixelFormat(target.GetPixelFormat())) {
        if (st.transparentPixelIndex >= 0) {
            const uint16_t k = indices[size_t(st.transparentPixelIndex)];
            if (n > 2) {
                palette.Entries[k] = st.transparentColor;
            } else if (palette.Entries[k] != st.transparentColor) {
                std::swap(palette.Entries[0], palette.Entries[1]);
            }
        }
        return WriteIndexedImage(target, palette, indices, st.transparentPixelIndex >= 0);
    }
    std::vector<uint32_t> values(indices.size());
    const imaging::ARGB* e = palette.Entries.data();
    for (size_t i = 0; i < indices.size(); ++i) {
        const imaging::ARGB c = e[indices[i]];
        if (st.hasSemiTransparency) {
            values[i] = c;
        } else if (st.transparentPixelIndex >= 0) {
            values[i] = ((c >> 31) << 15) | (((c >> 19) & 0x1F) << 10) | (((c >> 11) & 0x1F) << 5) |
                        ((c >> 3) & 0x1F);
        } else {
            values[i] = (((c >> 19) & 0x1F) << 11) | (((c >> 10) & 0x3F) << 5) | ((c >> 3) & 0x1F);
        }
    }
    return WriteHighColorImage(target, values, st.hasSemiTransparency, st.transparentPixelIndex);
}

} // namespace zerimo
