// Pairwise nearest-neighbour merging of colour bins in CIELAB, with a merge cost that blends a Lab
// distance with CIEDE2000, saliency-steered dithering and a randomised two-candidate mapping.

#include "quant/BlueNoise.h"
#include "quant/ColorScience.h"
#include "quant/CrtRand.h"
#include "quant/GilbertDither.h"
#include "quant/PixelBridge.h"
#include "quant/PnnCommon.h"
#include "quant/Quantizers.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

namespace zerimo {

using namespace imaging;

namespace {

constexpr float kYuv[3][3] = {
    {0.299f, 0.587f, 0.114f}, {-0.14713f, -0.28886f, 0.436f}, {0.615f, -0.51499f, -0.10001f}};

template <class T> inline T Sqr(T v) {
    return v * v;
}

const double kExp15 = std::exp(1.5);

/// The CIEDE2000 terms in the order the searches add them, each computed only when the search
/// gets that far.
class CiedeTerms {
  public:
    CiedeTerms(const LabColor& l1, const LabColor& l2) : lab1(l1), lab2(l2) {}
    double LightnessTerm() const {
        const double lMean = (lab1.L + lab2.L) / 2;
        const double d = Sqr(lMean - 50);
        const double sL = 1 + 0.015 * d / std::sqrt(20 + d);
        return Sqr((lab2.L - lab1.L) / sL);
    }
    static double Chroma(const LabColor& lab) { return std::sqrt(Sqr(lab.a) + Sqr(lab.b)); }
    double ChromaTerm() { return ChromaTerm(Chroma(lab1), Chroma(lab2)); }
    /// The same with the two unprimed chromas already known.
    double ChromaTerm(double c1, double c2) {
        const double cMean = (c1 + c2) / 2;
        const double c7 = std::pow(cMean, 7);
        const double g = 0.5 * (1 - std::sqrt(c7 / (c7 + 6103515625.0)));
        a1 = (1 + g) * lab1.a;
        a2 = (1 + g) * lab2.a;
        cp1 = std::sqrt(Sqr(a1) + Sqr(lab1.b));
        cp2 = std::sqrt(Sqr(a2) + Sqr(lab2.b));
        const double sC = 1 + 0.045 * ((cp1 + cp2) / 2);
        x = (cp2 - cp1) / sC;
        return Sqr(x);
    }
    double HueTerm() {
        y = HueDifferenceTerm(lab1, lab2, a1, a2, cp1, cp2, cMeanP, hMeanP);
        return Sqr(y);
    }
    double Rotation() const { return RotationTerm(cMeanP, hMeanP, x, y); }

  private:
    const LabColor& lab1;
    const LabColor& lab2;
    double a1 = 0, a2 = 0, cp1 = 0, cp2 = 0, x = 0, y = 0, cMeanP = 0, hMeanP = 0;
};

struct LabRun {
    explicit LabRun(PnnLabState& state) : st(state) {}
    PnnLabState& st;
    FlatMap<LabColor> labCache{1 << 16};
    /// What the mapping has learnt of one colour: its candidate pair, its nearest entry, and the
    /// noise row its pair is to be searched from once it is needed.
    struct Learnt {
        uint64_t pair = 0;
        uint16_t nearest = 0;
        uint8_t flags = 0; // kHasPair, kHasNearest, kPending, kPendingRow1
    };
    static constexpr uint8_t kHasPair = 1, kHasNearest = 2, kPending = 4, kPendingRow1 = 8;
    FlatMap<Learnt> learnt{1 << 16};
    std::vector<MergeBin>* bins = nullptr;
    std::vector<double> chroma; // of each bin's mean, kept up to date through the merges
    void RefreshChroma(size_t i) { chroma[i] = CiedeTerms::Chroma(BinLab((*bins)[i])); }
    // The palette's Lab values, as GetLab would give them, and its channels for the pair search.
    const ColorPalette* paletteLabFor = nullptr;
    std::vector<LabColor> paletteLab;
    std::vector<uint16_t> byLightness;
    std::vector<double> lightness;
    const ColorPalette* channelsFor = nullptr;
    std::vector<int> pr, pg, pb, pa;
    std::vector<double> errs;

    const LabColor& GetLab(ARGB c) {
        if (const LabColor* hit = labCache.Find(c)) return *hit;
        labCache.Insert(c, ArgbToLab(c));
        return *labCache.Find(c);
    }

    static LabColor BinLab(const MergeBin& b) {
        LabColor lab;
        lab.alpha = uint8_t(b.a);
        lab.L = b.r;
        lab.a = b.g;
        lab.b = b.b;
        return lab;
    }

    void FindNearestPair(int i, bool taxicab) const {
        std::vector<MergeBin>& bv = *bins;
        MergeBin& b1 = bv[size_t(i)];
        const LabColor lab1 = BinLab(b1);
        const double c1 = chroma[size_t(i)];
        const double labRatio = st.labRatio;
        const bool semi = st.hasSemiTransparency;
        double best = 1e100;
        int nearest = 0;
        const float wi = b1.weight;
        for (int j = b1.next; j != 0; j = bv[size_t(j)].next) {
            const MergeBin& b2 = bv[size_t(j)];
            const float wj = b2.weight;
            const double h = double(wi * wj / (wi + wj));
            if (h >= best) continue;
            double err = 0;
            if (semi) {
                err = h * Sqr(double(int(uint8_t(b2.a)) - int(uint8_t(b1.a)))) / kExp15;
                if (err >= best) continue;
            }
            const LabColor lab2 = BinLab(b2);
            const double wLab = (1 - labRatio) * h;
            if (taxicab && !semi) {
                err += wLab * std::fabs(lab2.L - lab1.L);
                if (err >= best) continue;
                err += wLab * std::sqrt(Sqr(lab2.a - lab1.a) + Sqr(lab2.b - lab1.b));
                if (err >= best) continue;
            } else {
                err += wLab * Sqr(lab2.L - lab1.L);
                if (err >= best) continue;
                err += wLab * Sqr(lab2.a - lab1.a);
                if (err >= best) continue;
                err += wLab * Sqr(lab2.b - lab1.b);
                if (err >= best) continue;
            }
            const double wDe = labRatio * h;
            CiedeTerms t(lab1, lab2);
            err += wDe * t.LightnessTerm();
            if (err >= best) continue;
            err += wDe * t.ChromaTerm(c1, chroma[size_t(j)]);
            if (err >= best) continue;
            err += wDe * t.HueTerm();
            if (err >= best) continue;
            err += wDe * t.Rotation();
            if (err >= best) continue;
            best = err;
            nearest = j;
        }
        b1.mergeCost = float(best);
        b1.nearest = nearest;
    }

    /// The |dL| + |dab| search of a large palette, walking the entries by lightness: |dL| alone
    /// bounds a sum from below, so each direction stops where it exceeds the best sum. Same answer
    /// as trying every entry in order (smallest sum, the later entry on ties).
    uint16_t NearestByLightness(const LabColor& lab1, uint32_t first) {
        if (byLightness.size() != paletteLab.size()) {
            byLightness.resize(paletteLab.size());
            for (size_t i = 0; i < byLightness.size(); ++i) byLightness[i] = uint16_t(i);
            std::stable_sort(byLightness.begin(), byLightness.end(),
                             [&](uint16_t x, uint16_t y) { return paletteLab[x].L < paletteLab[y].L; });
            lightness.resize(byLightness.size());
            for (size_t i = 0; i < byLightness.size(); ++i) lightness[i] = paletteLab[byLightness[i]].L;
        }
        double best = 2147483647.0;
        int k = -1;
        auto consider = [&](size_t s) {
            const uint16_t idx = byLightness[s];
            if (idx < first) return;
            const LabColor& lab2 = paletteLab[idx];
            double d = std::fabs(lab2.L - lab1.L);
            d += std::sqrt(Sqr(lab2.a - lab1.a) + Sqr(lab2.b - lab1.b));
            if (d < best || (d == best && int(idx) > k)) best = d, k = idx;
        };
        const size_t n = byLightness.size();
        size_t hi = size_t(std::lower_bound(lightness.begin(), lightness.end(), lab1.L) - lightness.begin());
        size_t lo = hi;
        bool up = hi<n, down = lo> 0;
        while (up || down) {
            if (up) {
                if (std::fabs(lightness[hi] - lab1.L) > best) {
                    up = false;
                } else {
                    consider(hi);
                    up = ++hi < n;
                }
            }
            if (down) {
                if (std::fabs(lightness[lo - 1] - lab1.L) > best) {
                    down = false;
                } else {
                    consider(lo - 1);
                    down = --lo > 0;
                }
            }
        }
        return uint16_t(k < 0 ? 0 : k);
    }

    uint16_t NearestColorIndex(const ColorPalette& palette, ARGB c, int64_t) {
        if (const Learnt* hit = learnt.Find(c); hit && (hit->flags & kHasNearest)) return hit->nearest;
        const ARGB key = c;
        if ((c >> 24) < 16) c = st.transparentColor;
        const uint32_t count = palette.Count();
        const uint32_t first = (count > 2 && st.transparentPixelIndex >= 0 && (c >> 24) > 15) ? 1 : 0;
        const LabColor lab1 = GetLab(c);
        if (paletteLabFor != &palette || paletteLab.size() != count) {
            paletteLabFor = &palette;
            paletteLab.clear();
            byLightness.clear();
            for (ARGB e : palette.Entries) paletteLab.push_back(ArgbToLab(e));
        }
        const bool semi = st.hasSemiTransparency;
        if (count > 32 && !semi) {
            const uint16_t k = NearestByLightness(lab1, first);
            Learnt& l = learnt.Get(key);
            l.nearest = k;
            l.flags |= kHasNearest;
            return k;
        }
        double best = 2147483647.0;
        uint16_t k = 0;
        for (uint32_t i = first; i < count; ++i) {
            const ARGB e = palette.Entries[i];
            const LabColor& lab2 = paletteLab[i];
            double d = 0;
            const double da2 = Sqr(double(int(e >> 24) - int(c >> 24)));
            if (semi) {
                d = da2 / kExp15;
                if (d > best) continue;
            }
            if (count <= 4) {
                d += Sqr(double(int((e >> 16) & 0xFF) - int((c >> 16) & 0xFF)));
                if (d > best) continue;
                d += Sqr(double(int((e >> 8) & 0xFF) - int((c >> 8) & 0xFF)));
                if (d > best) continue;
                d += Sqr(double(int(e & 0xFF) - int(c & 0xFF)));
                if (d > best) continue;
                if (semi) {
                    d += da2;
                    if (d > best) continue;
                }
            } else if (semi) {
                d += Sqr(lab2.L - lab1.L);
                if (d > best) continue;
                d += Sqr(lab2.a - lab1.a);
                if (d > best) continue;
                d += Sqr(lab2.b - lab1.b);
                if (d > best) continue;
            } else if (count <= 32) {
                CiedeTerms t(lab1, lab2);
                d += t.LightnessTerm();
                if (d > best) continue;
                d += t.ChromaTerm();
                if (d > best) continue;
                d += t.HueTerm();
                if (d > best) continue;
                d += t.Rotation();
                if (d > best) continue;
            } else {
                d += std::fabs(lab2.L - lab1.L);
                if (d > best) continue;
                d += std::sqrt(Sqr(lab2.a - lab1.a) + Sqr(lab2.b - lab1.b));
                if (d > best) continue;
            }
            best = d;
            k = uint16_t(i);
        }
        Learnt& l = learnt.Get(key);
        l.nearest = k;
        l.flags |= kHasNearest;
        return k;
    }

    /// The best and second entries for c, searched with YUV rows from s on.
    void CandidatePair(const ColorPalette& palette, ARGB c, int s, uint16_t (&idx)[2], uint16_t (&dist)[2]) {
        const double v = 1 - st.labRatio, lr = st.labRatio;
        const int r = int((c >> 16) & 0xFF), g = int((c >> 8) & 0xFF), b = int(c & 0xFF), a = int(c >> 24);
        const bool semi = st.hasSemiTransparency;
        if (semi) s = 1;
        const uint32_t count = palette.Count();
        // With every term non-negative a candidate is abandoned exactly when its full sum
        // reaches the second distance, so the sums can be formed for all entries at once and
        // the entries then taken in order.
        const bool monotone = v >= 0 && lr >= 0 && st.PR >= 0 && st.PG >= 0 && st.PB >= 0 && st.PA >= 0;
        if (monotone) {
            if (channelsFor != &palette || pr.size() != count) {
                channelsFor = &palette;
                pr.resize(count), pg.resize(count), pb.resize(count), pa.resize(count), errs.resize(count);
                for (uint32_t i = 0; i < count; ++i) {
                    const ARGB e = palette.Entries[i];
                    pr[i] = int((e >> 16) & 0xFF), pg[i] = int((e >> 8) & 0xFF), pb[i] = int(e & 0xFF);
                    pa[i] = int(e >> 24);
                }
            }
            const double vr = v * st.PR, vg = v * st.PG, vb = v * st.PB, va = v * st.PA;
            auto sums = [&](auto withAlpha, auto fromRow) {
                for (uint32_t i = 0; i < count; ++i) {
                    const int dr = pr[i] - r, dg = pg[i] - g, db = pb[i] - b;
                    double err = vr * Sqr(dr);
                    err += vg * Sqr(dg);
                    err += vb * Sqr(db);
                    if constexpr (decltype(withAlpha)::value) err += va * Sqr(pa[i] - a);
                    const float fr = float(dr), fg = float(dg), fb = float(db);
                    for (int row = decltype(fromRow)::value; row < 3; ++row) {
                        err += lr * double(Sqr(kYuv[row][0] * fr));
                        err += lr * double(Sqr(kYuv[row][1] * fg));
                        err += lr * double(Sqr(kYuv[row][2] * fb));
                    }
                    errs[i] = err;
                }
            };
            using T = std::true_type;
            using F = std::false_type;
            using R0 = std::integral_constant<int, 0>;
            using R1 = std::integral_constant<int, 1>;
            if (semi)
                sums(T{}, R1{});
            else if (s == 0)
                sums(F{}, R0{});
            else
                sums(F{}, R1{});
            for (uint32_t i = 0; i < count; ++i) {
                const double err = errs[i];
                if (err >= dist[1]) continue;
                const uint16_t e16 = uint16_t(int64_t(err));
                if (err < dist[0]) {
                    dist[1] = dist[0];
                    idx[1] = idx[0];
                    dist[0] = e16;
                    idx[0] = uint16_t(i);
                } else {
                    dist[1] = e16;
                    idx[1] = uint16_t(i);
                }
            }
        }
        for (uint32_t i = 0; !monotone && i < count; ++i) {
            const ARGB e = palette.Entries[i];
            const int dr = int((e >> 16) & 0xFF) - r, dg = int((e >> 8) & 0xFF) - g, db = int(e & 0xFF) - b;
            double err = v * st.PR * Sqr(dr);
            if (err >= dist[1]) continue;
            err += v * st.PG * Sqr(dg);
            if (err >= dist[1]) continue;
            err += v * st.PB * Sqr(db);
            if (err >= dist[1]) continue;
            if (semi) {
                err += v * st.PA * Sqr(int(e >> 24) - a);
                if (err >= dist[1]) continue;
            }
            bool over = false;
            for (int row = s; row < 3 && !over; ++row) {
                err += lr * double(Sqr(kYuv[row][0] * float(dr)));
                if (err >= dist[1]) {
                    over = true;
                    break;
                }
                err += lr * double(Sqr(kYuv[row][1] * float(dg)));
                if (err >= dist[1]) {
                    over = true;
                    break;
                }
                err += lr * double(Sqr(kYuv[row][2] * float(db)));
                if (err >= dist[1]) over = true;
            }
            if (over) continue;
            const uint16_t e16 = uint16_t(int64_t(err));
            if (err < dist[0]) {
                dist[1] = dist[0];
                idx[1] = idx[0];
                dist[0] = e16;
                idx[0] = uint16_t(i);
            } else if (err < dist[1]) {
                dist[1] = e16;
                idx[1] = uint16_t(i);
            }
        }
        if (dist[1] == 0xFFFF) idx[1] = idx[0];
    }

    uint16_t ClosestColorIndex(const ColorPalette& palette, ARGB c, int64_t p) {
        if ((c >> 24) <= 15) return NearestColorIndex(palette, c, p);
        uint16_t idx[2] = {0, 0}, dist[2] = {0xFFFF, 0xFFFF};
        const bool toNearest = st.PG < double(0.587f) && NoiseAt(p) > -88;
        const Learnt* known = learnt.Find(c);
        if (known && (known->flags & kHasPair)) {
            const uint64_t pair = known->pair;
            idx[0] = uint16_t(pair), idx[1] = uint16_t(pair >> 16);
            dist[0] = uint16_t(pair >> 32), dist[1] = uint16_t(pair >> 48);
        } else {
            // The pair is fixed by the first asker's noise; a pixel that goes on to the exhaustive
            // search does not need it yet, so only that noise is kept until one does.
            const bool pending = known && (known->flags & kPending);
            const int s = pending ? ((known->flags & kPendingRow1) ? 1 : 0) : (NoiseAt(p) > -88 ? 1 : 0);
            if (toNearest) {
                if (!pending) learnt.Get(c).flags |= uint8_t(kPending | (s ? kPendingRow1 : 0));
                return NearestColorIndex(palette, c, p);
            }
            CandidatePair(palette, c, s, idx, dist);
            Learnt& l = learnt.Get(c);
            l.pair =
                uint64_t(idx[0]) | uint64_t(idx[1]) << 16 | uint64_t(dist[0]) << 32 | uint64_t(dist[1]) << 48;
            l.flags |= kHasPair;
        }
        uint32_t limit = palette.Count();
        if (st.hasSemiTransparency && palette.Count() > 32 &&
            !(((c >> 16) & 0xFF) > 0xF0 && ((c >> 8) & 0xFF) > 0xF0 && (c & 0xFF) > 0xF0))
            limit = 2 * palette.Count();
        if (toNearest) return NearestColorIndex(palette, c, p);
        int k = 0;
        if (dist[0] != 0) {
            const int r = CrtRand() % (int(dist[0]) + int(dist[1]));
            k = r > int(dist[1]) ? 1 : 0;
        }
        if (dist[k] >= limit) return NearestColorIndex(palette, c, p);
        if (st.transparentPixelIndex >= 0 && idx[k] == 0) return NearestColorIndex(palette, c, p);
        return idx[k];
    }
};

uint32_t LabBinIndex(ARGB c, bool semi, bool argb1555) {
    const uint32_t a = c >> 24, r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
    if (semi) return (a >> 4) << 12 | (r >> 4) << 8 | (g >> 4) << 4 | (b >> 4);
    if (argb1555) return (a >> 7) << 15 | (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3);
    return (r >> 3) << 11 | (g >> 2) << 5 | (b >> 3);
}

/// False when stopped.
bool BuildPalette(LabRun& lr, const std::vector<ARGB>& pixels, ColorPalette& palette, uint32_t& n,
                  QuantRun& run) {
    PnnLabState& st = lr.st;
    std::vector<MergeBin> bins(65536);
    st.saliency.assign(pixels.size(), 0.0f);
    const bool argb1555 = st.transparentPixelIndex >= 0;
    ARGB lastColor = 0;
    LabColor lastLab;
    bool haveLast = false;
    for (size_t i = 0; i < pixels.size(); ++i) {
        ARGB c = pixels[i];
        if ((c >> 24) <= 15) c = st.transparentColor;
        // Neighbours often share a colour: the cached value is the same, only the lookup is saved.
        if (!haveLast || c != lastColor) lastLab = lr.GetLab(c), lastColor = c, haveLast = true;
        const LabColor& lab = lastLab;
        MergeBin& b = bins[LabBinIndex(c, st.hasSemiTransparency, argb1555)];
        b.a = float(double(b.a) + double(lab.alpha));
        b.r = float(double(b.r) + lab.L);
        b.g = float(double(b.g) + lab.a);
        b.b = float(double(b.b) + lab.b);
        b.weight += 1;
        if (lab.alpha > 15) st.saliency[i] = float(lab.L * 0.9f / 100 + 0.1f);
    }
    const int m = CompactBins(bins);

    const double w = double(n) * n / m;
    int q = ((st.transparentPixelIndex >= 0 || st.hasSemiTransparency) && n < 32) ? -1 : 1;
    const double ratio = std::min(0.9, double(n) / m);
    st.ratio = ratio;
    if (ratio > 0.0015 && ratio < 0.002) q = 2;
    if (ratio < 0.04 && st.PG >= double(0.587f) && st.PG < 1) {
        const double k = std::exp(1.75) * ratio;
        st.PG -= k;
        st.PB += k;
        if (n >= 64) q = 0;
    }

    if (lr.labCache.Size() <= n) {
        uint32_t k = 0;
        palette.Entries.assign(lr.labCache.Size(), 0);
        lr.labCache.ForEach([&](uint32_t c, const LabColor&) {
            palette.Entries[k] = c;
            if (k > 0 && (c >> 24) == 0) std::swap(palette.Entries[0], palette.Entries[k]);
            ++k;
        });
        n = k;
        return true;
    }

    float (*transform)(float) = nullptr;
    if (q > 1)
        transform = [](float x) { return float(int(std::pow(x, 0.75))); };
    else if (q == 1)
        transform =
            n < 64 ? [](float x) { return float(int(std::sqrt(x))); } : [](float x) { return std::sqrt(x); };
    LinkBins(bins, m, transform);

    const bool taxicab = w > 0.025;
    if (st.hasSemiTransparency) {
        st.labRatio = 0.5;
    } else if (q != 0 && n < 64) {
        if (w > 0.018 && w < 0.022)
            st.labRatio = std::min(1.0, w + std::exp(3.872) * ratio);
        else if (w > 0.1)
            st.labRatio = std::min(1.0, 1 - ratio);
        else if (w > 0.04)
            st.labRatio = std::min(1.0, std::exp(2.28) * ratio);
        else if (w > 0.03)
            st.labRatio = std::min(1.0, std::exp(3.275) * ratio);
        else
            st.labRatio = std::min(1.0, w + std::exp(1.997) * ratio * ((m & 1) ? 1 : -1));
    } else if (n > 256) {
        st.labRatio = std::min(1.0, 1 - 1 / w);
    } else {
        st.labRatio = std::min(1.0, std::max(0.98, 1 - 0.7 * ratio));
    }
    if (!st.hasSemiTransparency && q < 0) st.labRatio = std::min(1.0, std::exp(1.997) * ratio);

    lr.bins = &bins;
    lr.chroma.resize(size_t(m));
    for (int i = 0; i < m; ++i) lr.RefreshChroma(size_t(i));
    std::vector<int> heap(size_t(m) + 1);
    ParallelFor(run.state.threads, size_t(m), [&](size_t i) {
        if (!run.stop.stop_requested()) lr.FindNearestPair(int(i), taxicab);
    });
    if (run.stop.stop_requested()) return false;
    for (int i = 0; i < m; ++i) HeapInsert(heap, bins, i);

    if (q > 0 && n < 64 && w < 0.1 && (w < 0.023 || w > 0.05))
        st.labRatio = std::min(1.0, w - std::exp(2.347) * ratio);

    const bool recomputeTaxicab = taxicab && w < 1;
    if (!MergeLoop(
            heap, bins, m - int(n), run.stop, [&](int t) { lr.FindNearestPair(t, recomputeTaxicab); },
            [&](MergeBin& t, const MergeBin& u, float w1, float w2) {
                const double d = 1.0 / (w1 + w2);
                t.a = float(double(w2 * u.a + w1 * t.a) * d);
                t.r = float(double(w2 * u.r + w1 * t.r) * d);
                t.g = float(double(w2 * u.g + w1 * t.g) * d);
                t.b = float(double(w2 * u.b + w1 * t.b) * d);
                lr.RefreshChroma(size_t(&t - bins.data()));
            }))
        return false;

    const bool keepAlpha = st.hasSemiTransparency || st.transparentPixelIndex >= 0;
    uint32_t k = 0;
    for (int i = 0;;) {
        const MergeBin& b = bins[size_t(i)];
        LabColor lab;
        lab.alpha = keepAlpha ? uint8_t(std::nearbyint(b.a)) : 255;
        lab.L = b.r;
        lab.a = b.g;
        lab.b = b.b;
        if (k < palette.Entries.size()) palette.Entries[k] = LabToArgb(lab);
        ++k;
        if ((i = b.next) == 0) break;
    }
    if (k < n) {
        n = k;
        palette.Entries.resize(k);
    }
    return true;
}

} // namespace

bool PnnLabQuantize(Image& source, Image& target, uint32_t& n, bool, QuantRun& run) {
    PnnLabState& st = run.state.pnnLab;
    const uint32_t w = source.GetWidth(), h = source.GetHeight();
    const size_t count = size_t(w) * h;
    if (count == 0 || count > MaxFramePixels) return false;
    std::vector<ARGB> pixels(count, 0);
    int semi = 0;
    ReadArgbPixels(source, pixels, semi, st.transparentPixelIndex, st.transparentColor, 15, n);
    st.hasSemiTransparency = semi > 0;
    ColorPalette palette;
    palette.Entries.assign(n, 0);
    if (n > 32) {
        st.PR = double(0.299f), st.PG = double(0.587f), st.PB = double(0.114f);
    } else {
        st.PA = st.PR = st.PG = st.PB = 1;
    }
    LabRun lr(st);
    bool built = false;
    if (n > 2) {
        if (!BuildPalette(lr, pixels, palette, n, run)) return false;
        built = true;
    } else {
        FixedTwoColorPalette(palette, st);
    }
    if (n <= 32) st.PA = st.PR = st.PG = st.PB = 1;
    if (double(semi) / double(count) > 0.099) st.ratio *= 0.01;

    std::vector<uint16_t> indices(count, 0);
    auto map = [&](const ColorPalette& pal, ARGB c, int64_t p) { return lr.ClosestColorIndex(pal, c, p); };
    if (!GilbertCurveDither(int(w), int(h), pixels.data(), palette, map, indices.data(),
                            built ? st.saliency.data() : nullptr, st.ratio, run.stop))
        return false;
    return WriteResult(target, palette, indices, n, st);
}

} // namespace zerimo
