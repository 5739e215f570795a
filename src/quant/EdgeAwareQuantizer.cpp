// The edge-aware spatial quantizer: hard assignments improved pixel by pixel over a five-level
// pyramid, with per-pixel interaction kernels built from bilateral filters and a lightness
// saliency map; the first palette is the divisive one.

#include "quant/CrtRand.h"
#include "quant/PixelBridge.h"
#include "quant/Quantizers.h"
#include "quant/SpatialCommon.h"

#include <algorithm>
#include <numeric>
#include <random>

namespace zerimo {

using namespace imaging;

namespace {

using F4 = std::array<float, 4>;

const double kExp15 = std::exp(1.5);

/// Per-pixel kernels of one level: g x g floats each, centred.
struct Kernels {
    int g = 0, r = 0;
    std::vector<float> v;
    float* Of(size_t i) { return v.data() + i * size_t(g) * g; }
    const float* Of(size_t i) const { return v.data() + i * size_t(g) * g; }
};

std::vector<int> Order(int count) {
    std::vector<int> order(size_t(std::max(0, count)));
    std::iota(order.begin(), order.end(), 0);
    std::mt19937 gen(5489u);
    for (int i = count - 1; i > 0; --i) {
        std::uniform_int_distribution<int> pick(0, i);
        std::swap(order[size_t(i)], order[size_t(pick(gen))]);
    }
    return order;
}

double LabDistance(const F4& p, const F4& q, bool semi) {
    const double dL = double(p[0]) - q[0], da = double(p[1]) - q[1], db = double(p[2]) - q[2];
    if (semi) return dL * dL + da * da + db * db + (double(p[3]) - q[3]) * (double(p[3]) - q[3]) / kExp15;
    return std::fabs(dL) + std::sqrt(da * da + db * db);
}

} // namespace

bool EdgeAwareQuantize(Image& source, Image& target, uint32_t& n, bool, QuantRun& run) {
    TransparencyState& st = run.state.edgeAware;
    const int w = int(source.GetWidth()), h = int(source.GetHeight());
    const size_t count = size_t(w) * size_t(h);
    if (count == 0 || count > MaxFramePixels) return false;
    // Per pixel: colour, saliency, Lab value, filter, kernel, a value and assignment.
    if (uint64_t(count) * (4 + 4 + 16 + 36 + 100 + 16 + 1) * 4 / 3 > kSpatialMemoryBudget) return false;
    st.transparentPixelIndex = -1;
    std::vector<ARGB> pixels(count, 0);
    int semi = 0;
    ReadArgbPixels(source, pixels, semi, st.transparentPixelIndex, st.transparentColor, uint8_t(n), 2);
    st.hasSemiTransparency = semi > 0;
    const bool hasSemi = st.hasSemiTransparency;
    const int c = hasSemi ? 4 : 3;
    FlatMap<LabColor> labCache(1 << 16);
    auto lab = [&](ARGB px) {
        const LabColor* hit = labCache.Find(px);
        if (!hit) {
            labCache.Insert(px, ArgbToLab(px));
            hit = labCache.Find(px);
        }
        return *hit;
    };
    std::vector<float> saliency(count);
    for (size_t i = 0; i < count; ++i) saliency[i] = float(lab(pixels[i]).L * 0.9f / 100 + 0.1f);
    if (n > 256) n = 256;
    const int N = int(n);

    ColorPalette divisive;
    divisive.Entries.assign(n, 0);
    BuildDivisivePalette(pixels.data(), count, divisive, run.state.divisiveLab);
    std::vector<F4> palette(n);
    // Beside a fully transparent pixel but without an alpha channel the fourth component stays 0,
    // as in the image's colour vectors: the entries' alpha bytes there (255 or 0) would outweigh
    // the colours and send every pixel to the transparent entry.
    const float ax = hasSemi ? 255.0f : 1.0f;
    const bool alphaTerm = c == 4 || st.transparentPixelIndex < 0;
    for (int v = 0; v < N; ++v) {
        const ARGB e = divisive.Entries[size_t(v)];
        palette[size_t(v)] = F4{float((e >> 16) & 0xFF) / 255.0f, float((e >> 8) & 0xFF) / 255.0f,
                                float(e & 0xFF) / 255.0f, alphaTerm ? float(e >> 24) / ax : 0.0f};
    }
    if (run.stop.stop_requested()) return false;

    // Bilateral filters on the Lab values.
    std::vector<F4> labv(count);
    for (size_t i = 0; i < count; ++i) {
        const LabColor l = lab(pixels[i]);
        labv[i] = F4{float(l.L), float(l.a), float(l.b), float(l.alpha)};
    }
    std::vector<float> filters(count * 9, 0.0f);
    for (int y = 0; y < h && !run.stop.stop_requested(); ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * w + x;
            float* f = &filters[i * 9];
            float sum = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int xx = x + dx, yy = y + dy;
                    if (xx < 0 || xx >= w || yy < 0 || yy >= h) continue;
                    const double d = LabDistance(labv[i], labv[size_t(yy) * w + xx], hasSemi);
                    const float wt = float(std::exp(-(dx * dx + dy * dy) / 2.0 - d / 8.0));
                    f[(dy + 1) * 3 + dx + 1] = wt;
                    sum += wt;
                }
            for (int k = 0; k < 9; ++k) f[k] /= sum;
        }

    // Level 0 kernels and a image.
    const int levels = 5;
    std::vector<Kernels> kern(levels);
    std::vector<std::vector<F4>> a(levels);
    std::vector<int> lw(levels), lh(levels);
    for (int l = 0; l < levels; ++l) lw[size_t(l)] = w >> l, lh[size_t(l)] = h >> l;
    kern[0].g = 5, kern[0].r = 2;
    kern[0].v.assign(count * 25, 0.0f);
    for (int y = 0; y < h && !run.stop.stop_requested(); ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * w + x;
            float* k = kern[0].Of(i);
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx) {
                    const int jx = x + dx, jy = y + dy;
                    if (jx < 0 || jx >= w || jy < 0 || jy >= h) continue;
                    const size_t j = size_t(jy) * w + jx;
                    float sum = 0;
                    for (int my = std::max(y, jy) - 1; my <= std::min(y, jy) + 1; ++my)
                        for (int mx = std::max(x, jx) - 1; mx <= std::min(x, jx) + 1; ++mx) {
                            if (mx < 0 || mx >= w || my < 0 || my >= h) continue;
                            const float fi = filters[i * 9 + size_t((my - y + 1) * 3 + mx - x + 1)];
                            const float fj = filters[j * 9 + size_t((my - jy + 1) * 3 + mx - jx + 1)];
                            sum += fi * saliency[size_t(my) * w + mx] * fj;
                        }
                    k[(dy + 2) * 5 + dx + 2] = sum == 0 ? 1e-10f : sum;
                }
        }
    ColorVectors colors{labCache, n >= 3, c};
    NeighbourColors nb{n, st.transparentColor};
    a[0].assign(count, F4{0, 0, 0, 0});
    for (int y = 0; y < h && !run.stop.stop_requested(); ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * w + x;
            const float* k = kern[0].Of(i);
            F4 acc{0, 0, 0, 0};
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx) {
                    const int jx = x + dx, jy = y + dy;
                    if (jx < 0 || jx >= w || jy < 0 || jy >= h) continue;
                    const float wt = k[(dy + 2) * 5 + dx + 2];
                    if (wt == 0) continue;
                    const size_t j = size_t(jy) * w + jx;
                    const Vec4 col = colors.Of(nb.Pick(pixels[i], pixels[j], int64_t(j)));
                    for (int q = 0; q < 4; ++q) acc[size_t(q)] += wt * float(col[size_t(q)]);
                }
            for (int q = 0; q < 4; ++q) a[0][i][size_t(q)] = -2 * acc[size_t(q)];
        }
    for (int l = 1; l < levels; ++l) {
        const Kernels& fine = kern[size_t(l) - 1];
        Kernels& coarse = kern[size_t(l)];
        coarse.g = std::max(c, fine.g - 2);
        coarse.r = (coarse.g - 1) / 2;
        const int cw = lw[size_t(l)], ch = lh[size_t(l)], fw = lw[size_t(l) - 1], fh = lh[size_t(l) - 1];
        coarse.v.assign(size_t(cw) * ch * coarse.g * coarse.g, 0.0f);
        a[size_t(l)].assign(size_t(cw) * ch, F4{0, 0, 0, 0});
        for (int Y = 0; Y < ch && !run.stop.stop_requested(); ++Y)
            for (int X = 0; X < cw; ++X) {
                float* k = coarse.Of(size_t(Y) * cw + X);
                for (int oy = -coarse.r; oy < coarse.g - coarse.r; ++oy)
                    for (int ox = -coarse.r; ox < coarse.g - coarse.r; ++ox) {
                        const int JX = X + ox, JY = Y + oy;
                        if (JX < 0 || JX >= cw || JY < 0 || JY >= ch) continue;
                        float sum = 0;
                        for (int iy = 2 * Y; iy < std::min(fh, 2 * Y + 2); ++iy)
                            for (int ix = 2 * X; ix < std::min(fw, 2 * X + 2); ++ix)
                                for (int jy = 2 * JY; jy < std::min(fh, 2 * JY + 2); ++jy)
                                    for (int jx = 2 * JX; jx < std::min(fw, 2 * JX + 2); ++jx) {
                                        const int dx = jx - ix, dy = jy - iy;
                                        if (std::abs(dx) > fine.r || std::abs(dy) > fine.r) {
                                            sum += 1e-10f;
                                            continue;
                                        }
                                        sum += fine.Of(size_t(iy) * fw +
                                                       ix)[(dy + fine.r) * fine.g + dx + fine.r];
                                    }
                        k[(oy + coarse.r) * coarse.g + ox + coarse.r] = sum == 0 ? 1e-10f : sum;
                    }
                F4& out = a[size_t(l)][size_t(Y) * cw + X];
                for (int yy = 2 * Y; yy < std::min(fh, 2 * Y + 2); ++yy)
                    for (int xx = 2 * X; xx < std::min(fw, 2 * X + 2); ++xx)
                        for (int q = 0; q < 4; ++q)
                            out[size_t(q)] += a[size_t(l) - 1][size_t(yy) * fw + xx][size_t(q)];
            }
    }
    if (run.stop.stop_requested()) return false;

    std::vector<uint8_t> assign(size_t(lw[4]) * lh[4]);
    for (auto& cell : assign) cell = uint8_t(CrtRand() % N);
    double q = 2 / std::log(double(n));
    const double t = hasSemi ? 4 : 1;
    const double P4 = double(lw[4]) * lh[4];
    for (int level = levels - 1; level >= 0; --level) {
        const int W = lw[size_t(level)], H = lh[size_t(level)];
        const Kernels& K = kern[size_t(level)];
        const std::vector<F4>& A = a[size_t(level)];
        std::vector<std::vector<int>> sorted(n);
        for (int v = 0; v < N; ++v) {
            std::vector<std::pair<double, int>> d;
            for (int u = 0; u < N; ++u)
                d.push_back({LabDistance(palette[size_t(v)], palette[size_t(u)], hasSemi), u});
            std::stable_sort(d.begin(), d.end(), [](auto& l, auto& r) { return l.first < r.first; });
            for (auto& e : d) sorted[size_t(v)].push_back(e.second);
        }
        const int candidates = level == 0 ? std::min(10, N) : N;
        for (int pass = 0;; ++pass) {
            for (int sweep = 0;; ++sweep) {
                if (run.stop.stop_requested()) return false;
                q += 0.001;
                int changed = 0;
                const std::vector<int> order = Order(W * H);
                const size_t kernelFloats = size_t(K.g) * size_t(K.g);
                for (size_t oi = 0; oi < order.size(); ++oi) {
                    if (oi % size_t(W) == 0 && run.stop.stop_requested()) return false;
                    // The order is random: fetch the kernel, the a value and the assignments of
                    // a pixel a few visits ahead while this one is worked on.
                    if (oi + 8 < order.size()) {
                        const size_t ahead = size_t(order[oi + 8]);
                        const char* kp = reinterpret_cast<const char*>(K.Of(ahead));
                        for (size_t off = 0; off < kernelFloats * sizeof(float); off += 64)
                            __builtin_prefetch(kp + off);
                        __builtin_prefetch(&A[ahead]);
                        const int ay = int(ahead) / W;
                        for (int oy = -K.r; oy < K.g - K.r; ++oy)
                            if (ay + oy >= 0 && ay + oy < H)
                                __builtin_prefetch(&assign[size_t(ay + oy) * W + size_t(int(ahead) % W)]);
                    }
                    const int i = order[oi];
                    const int x = i % W, y = i / W;
                    const int Q = assign[size_t(i)];
                    const float* k = K.Of(size_t(i));
                    F4 p{0, 0, 0, 0};
                    for (int oy = -K.r; oy < K.g - K.r; ++oy)
                        for (int ox = -K.r; ox < K.g - K.r; ++ox) {
                            if (ox == 0 && oy == 0) continue;
                            const int jx = x + ox, jy = y + oy;
                            if (jx < 0 || jx >= W || jy < 0 || jy >= H) continue;
                            const float wt = k[(oy + K.r) * K.g + ox + K.r];
                            const F4& pj = palette[assign[size_t(jy) * W + jx]];
                            for (int z = 0; z < 4; ++z) p[size_t(z)] += wt * pj[size_t(z)];
                        }
                    for (int z = 0; z < 4; ++z) p[size_t(z)] = 2 * p[size_t(z)] + A[size_t(i)][size_t(z)];
                    const float k0 = K.r < K.g ? k[K.r * K.g + K.r] : 1e-10f;
                    int best = -1;
                    float bestErr = 0;
                    for (int ci = 0; ci < candidates; ++ci) {
                        const int v = level == 0 ? sorted[size_t(Q)][size_t(ci)] : ci;
                        const F4& pv = palette[size_t(v)];
                        float e = 0;
                        for (int z = 0; z < 4; ++z) e += pv[size_t(z)] * (p[size_t(z)] + k0 * pv[size_t(z)]);
                        if (best < 0 || e < bestErr) best = v, bestErr = e;
                    }
                    if (c == 4 && palette[size_t(best)][3] < 16) palette[size_t(best)][3] = 16;
                    assign[size_t(i)] = uint8_t(best);
                    float moved = 0;
                    for (int z = 0; z < 4; ++z) {
                        const float d = palette[size_t(best)][size_t(z)] - palette[size_t(Q)][size_t(z)];
                        moved += d * d;
                    }
                    if (moved >= t) ++changed;
                }
                if (!(changed > q * 0.0001 * P4)) break;
            }
            // S from the assignments, then the palette by least squares.
            std::vector<double> S(size_t(n) * n, 0.0);
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    const int i = y * W + x;
                    const int v = assign[size_t(i)];
                    const float* k = K.Of(size_t(i));
                    for (int oy = -K.r; oy < K.g - K.r; ++oy)
                        for (int ox = -K.r; ox < K.g - K.r; ++ox) {
                            const int jx = x + ox, jy = y + oy;
                            if (jx < 0 || jx >= W || jy < 0 || jy >= H) continue;
                            const float wt = k[(oy + K.r) * K.g + ox + K.r];
                            if (ox == 0 && oy == 0) {
                                S[size_t(v) * n + v] += wt;
                                continue;
                            }
                            const int u = assign[size_t(jy) * W + jx];
                            if (v <= u) S[size_t(v) * n + u] += wt;
                        }
                }
            for (int v = 0; v < N; ++v)
                for (int u = 0; u < v; ++u) S[size_t(v) * n + u] = S[size_t(u) * n + v];
            std::vector<Vec4> R(n, Vec4{0, 0, 0, 0});
            for (int i = 0; i < W * H; ++i)
                for (int z = 0; z < 4; ++z) R[assign[size_t(i)]][size_t(z)] += A[size_t(i)][size_t(z)];
            int changedValues = 0;
            const double limit = hasSemi ? 1.0 / n : 0.015625;
            for (int z = 0; z < c; ++z) {
                std::vector<double> mat(size_t(n) * n);
                for (size_t e = 0; e < mat.size(); ++e) mat[e] = -2 * S[e];
                InvertMatrix(mat, N);
                for (int v = 0; v < N; ++v) {
                    double val = 0;
                    for (int u = 0; u < N; ++u) val += mat[size_t(v) * n + u] * R[size_t(u)][size_t(z)];
                    val = ClampChannel(val, z, n);
                    if (std::fabs(val - palette[size_t(v)][size_t(z)]) > limit) ++changedValues;
                    palette[size_t(v)][size_t(z)] = float(val);
                }
            }
            if (pass >= 0 && !(changedValues > n * 0.1 * q)) break;
        }
        if (level == 0) break;
        const int fw = lw[size_t(level) - 1], fh = lh[size_t(level) - 1];
        std::vector<uint8_t> finer(size_t(fw) * fh, 0);
        for (int y = 0; y < fh; ++y)
            for (int x = 0; x < fw; ++x)
                if (x / 2 < W && y / 2 < H) finer[size_t(y) * fw + x] = assign[size_t(y / 2) * W + x / 2];
        assign.swap(finer);
    }

    std::vector<uint16_t> indices(assign.begin(), assign.end());
    std::vector<Vec4> vecs(n);
    for (int v = 0; v < N; ++v)
        for (int z = 0; z < 4; ++z) vecs[size_t(v)][size_t(z)] = palette[size_t(v)][size_t(z)];
    ColorPalette pal;
    VectorsToPalette(vecs, pal, st, c);
    if (n < 3)
        TwoColorFixUp(pal, indices, pixels, st);
    else if (st.transparentPixelIndex >= 0)
        TransparentFixUp(pal, indices, pixels, st);
    return WriteIndexedImage(target, pal, indices, st.transparentPixelIndex >= 0);
}

} // namespace zerimo
