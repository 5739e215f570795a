// Spatial colour quantization: palette and assignment optimised together so that the image seen
// through a small blur matches the blurred quantized image, by mean-field annealing over a
// multiscale pyramid, with the palette re-solved by least squares after every sweep.

#include "quant/CrtRand.h"
#include "quant/PixelBridge.h"
#include "quant/Quantizers.h"
#include "quant/SpatialCommon.h"

#include <algorithm>
#include <deque>
#include <random>

namespace zerimo {

using namespace imaging;

namespace {

/// An odd-sized grid of channel vectors addressed by offset from its centre; 0 outside.
struct Kernel {
    int w = 0, h = 0, cx = 0, cy = 0;
    std::vector<Vec4> v;
    void Resize(int width, int height) {
        w = width, h = height, cx = (w - 1) / 2, cy = (h - 1) / 2;
        v.assign(size_t(w) * h, Vec4{0, 0, 0, 0});
    }
    bool Has(int dx, int dy) const {
        const int x = cx + dx, y = cy + dy;
        return x >= 0 && x < w && y >= 0 && y < h;
    }
    const Vec4& At(int dx, int dy) const { return v[size_t(cy + dy) * w + size_t(cx + dx)]; }
    Vec4& At(int dx, int dy) { return v[size_t(cy + dy) * w + size_t(cx + dx)]; }
};

/// A visiting order: a uniform shuffle by a generator that starts again at its seed every time.
std::vector<int> RandomOrder(int count) {
    std::vector<int> order(size_t(std::max(0, count)));
    for (int i = 0; i < count; ++i) order[size_t(i)] = i;
    std::mt19937 gen(5489u);
    for (int i = count - 1; i > 0; --i) {
        std::uniform_int_distribution<int> pick(0, i);
        std::swap(order[size_t(i)], order[size_t(pick(gen))]);
    }
    return order;
}

struct Scq {
    int c; // channels
    int n; // palette entries
    std::vector<Vec4>& palette;
    QuantRun& run;

    int lw = 0, lh = 0;        // current level size
    const Kernel* b = nullptr; // current level's interactions
    std::vector<Vec4>* a = nullptr;
    std::vector<double> m; // lw * lh * n
    std::vector<Vec4> J;   // lw * lh
    std::vector<Vec4> S;   // n * n

    double& M(int i, int v) { return m[size_t(i) * n + size_t(v)]; }
    Vec4& Sref(int v, int u) { return S[size_t(v) * n + size_t(u)]; }

    void RebuildJ() {
        J.assign(size_t(lw) * lh, Vec4{0, 0, 0, 0});
        for (int i = 0; i < lw * lh; ++i)
            for (int v = 0; v < n; ++v)
                for (int k = 0; k < 4; ++k) J[size_t(i)][k] += M(i, v) * palette[size_t(v)][k];
    }

    // The S updates run over all four lanes: with three channels the kernels' fourth lane is 0, so
    // that lane of S stays 0 and the others are what a three-lane loop gives.
    void RebuildS() {
        S.assign(size_t(n) * n, Vec4{0, 0, 0, 0});
        const Vec4 b0 = b->At(0, 0);
        // Each accumulator S(v, u) sums over pixels, then neighbours, whichever thread owns row v.
        ParallelFor(run.state.threads, size_t(n), [&](size_t vi) {
            const int v = int(vi);
            for (int y = 0; y < lh && !run.stop.stop_requested(); ++y) {
                for (int x = 0; x < lw; ++x) {
                    const int i = y * lw + x;
                    const double miv = M(i, v);
                    for (int dy = -b->cy; dy < b->h - b->cy; ++dy) {
                        const int yy = y + dy;
                        if (yy < 0 || yy >= lh) continue;
                        for (int dx = -b->cx; dx < b->w - b->cx; ++dx) {
                            const int xx = x + dx;
                            if (xx < 0 || xx >= lw || (dx == 0 && dy == 0)) continue;
                            const int j = yy * lw + xx;
                            const Vec4& bb = b->At(dx, dy);
                            for (int u = v; u < n; ++u) {
                                const double s = miv * M(j, u);
                                Vec4& acc = Sref(v, u);
                                for (int k = 0; k < 4; ++k) acc[k] += s * bb[k];
                            }
                        }
                    }
                    Vec4& diag = Sref(v, v);
                    for (int k = 0; k < 4; ++k) diag[k] += miv * b0[k];
                }
            }
        });
    }

    void UpdateS(int x, int y, int alpha, double delta) {
        const int j = y * lw + x;
        for (int dy = -b->cy; dy < b->h - b->cy; ++dy) {
            const int yy = y + dy;
            if (yy < 0 || yy >= lh) continue;
            for (int dx = -b->cx; dx < b->w - b->cx; ++dx) {
                const int xx = x + dx;
                if (xx < 0 || xx >= lw || (dx == 0 && dy == 0)) continue;
                const int i = yy * lw + xx;
                (void)j;
                // b at the offset from i to j.
                if (!b->Has(-dx, -dy)) continue;
                const Vec4& bb = b->At(-dx, -dy);
                Vec4 d;
                for (int k = 0; k < 4; ++k) d[k] = delta * bb[k];
                for (int v = 0; v <= alpha; ++v) {
                    const double miv = M(i, v);
                    Vec4& acc = Sref(v, alpha);
                    for (int k = 0; k < 4; ++k) acc[k] += miv * d[k];
                }
                for (int v = alpha; v < n; ++v) {
                    const double miv = M(i, v);
                    Vec4& acc = Sref(alpha, v);
                    for (int k = 0; k < 4; ++k) acc[k] += miv * d[k];
                }
            }
        }
        const Vec4& b0 = b->At(0, 0);
        Vec4& diag = Sref(alpha, alpha);
        for (int k = 0; k < 4; ++k) diag[k] += delta * b0[k];
    }

    void RefinePalette() {
        for (int v = 0; v < n; ++v)
            for (int u = 0; u < v; ++u) Sref(v, u) = Sref(u, v);
        std::vector<Vec4> r(size_t(n), Vec4{0, 0, 0, 0});
        for (int v = 0; v < n; ++v)
            for (int i = 0; i < lw * lh; ++i)
                for (int k = 0; k < 4; ++k) r[size_t(v)][k] += M(i, v) * (*a)[size_t(i)][k];
        for (int k = 0; k < c; ++k) {
            std::vector<double> mat(size_t(n) * n);
            for (int v = 0; v < n; ++v)
                for (int u = 0; u < n; ++u) mat[size_t(v) * n + u] = -2 * Sref(v, u)[k];
            InvertMatrix(mat, n);
            for (int v = 0; v < n; ++v) {
                double val = 0;
                for (int u = 0; u < n; ++u) val += mat[size_t(v) * n + u] * r[size_t(u)][k];
                palette[size_t(v)][k] = ClampChannel(val, k, uint32_t(n));
            }
        }
    }

    int Best(int i) {
        int best = 0;
        for (int v = 1; v < n; ++v)
            if (M(i, v) > M(i, best)) best = v;
        return best;
    }

    /// One sweep at the current level; false when a mean-field sum vanished or the run was stopped.
    bool Sweep(double T, bool skipMaintenance) {
        std::deque<int> queue;
        auto refill = [&] {
            const std::vector<int> order = RandomOrder(lw * lh);
            queue.assign(order.begin(), order.end());
        };
        refill();
        const Vec4 b0 = b->At(0, 0);
        std::vector<double> logs(static_cast<size_t>(n)), weights(static_cast<size_t>(n));
        int64_t visits = 0;
        while (!queue.empty()) {
            if (double(queue.size()) > 1.1 * lw * lh) refill();
            const int i = queue.front();
            queue.pop_front();
            if (++visits % lw == 0 && run.stop.stop_requested()) return false;
            const int x = i % lw, y = i / lw;
            Vec4 sum{0, 0, 0, 0};
            for (int dy = -b->cy; dy < b->h - b->cy; ++dy) {
                const int yy = y + dy;
                if (yy < 0 || yy >= lh) continue;
                for (int dx = -b->cx; dx < b->w - b->cx; ++dx) {
                    const int xx = x + dx;
                    if (xx < 0 || xx >= lw || (dx == 0 && dy == 0)) continue;
                    const Vec4& bb = b->At(dx, dy);
                    const Vec4& jj = J[size_t(yy) * lw + xx];
                    for (int k = 0; k < 4; ++k) sum[k] += bb[k] * jj[k];
                }
            }
            Vec4 p;
            for (int k = 0; k < 4; ++k) p[k] = 2 * sum[k] + (*a)[size_t(i)][k];
            double maxLog = -std::numeric_limits<double>::infinity();
            for (int v = 0; v < n; ++v) {
                const Vec4& pal = palette[size_t(v)];
                double dot = 0;
                for (int k = 0; k < 4; ++k) dot += pal[k] * (p[k] + b0[k] * pal[k]);
                logs[size_t(v)] = -dot / T;
                maxLog = std::max(maxLog, logs[size_t(v)]);
            }
            double total = 0;
            for (int v = 0; v < n; ++v) {
                // Far below the largest the weight underflows to exactly 0; the library's slow path
                // for that case need not run.
                const double e = logs[size_t(v)] - maxLog + 100;
                weights[size_t(v)] = e < -746 ? 0.0 : std::exp(e);
                total += weights[size_t(v)];
            }
            if (total == 0) return false;
            const int old = Best(i);
            for (int v = 0; v < n; ++v) {
                double nv = weights[size_t(v)] / total;
                if (nv <= 0) nv = 1e-10;
                if (nv >= 1) nv = 0.9999999999;
                const double delta = nv - M(i, v);
                M(i, v) = nv;
                for (int k = 0; k < 4; ++k) J[size_t(i)][k] += delta * palette[size_t(v)][k];
                if (std::fabs(delta) > 0.001 && !skipMaintenance) UpdateS(x, y, v, delta);
            }
            const int best = Best(i);
            if (c == 4 && palette[size_t(best)][3] < 16) palette[size_t(best)][3] = 16;
            double moved = 0;
            for (int k = 0; k < 4; ++k)
                moved += (palette[size_t(best)][k] - palette[size_t(old)][k]) *
                         (palette[size_t(best)][k] - palette[size_t(old)][k]);
            if (moved >= c) {
                const int x0 = std::min(1, b->cx - 1), x1 = std::max(b->w - 1, b->cx + 1);
                const int y0 = std::min(1, b->cy - 1), y1 = std::max(b->h - 1, b->cy + 1);
                for (int yy = y0; yy < y1; ++yy)
                    for (int xx = x0; xx < x1; ++xx) {
                        const int px = x + xx - b->cx, py = y + yy - b->cy;
                        if (px >= 0 && px < lw && py >= 0 && py < lh) queue.push_back(py * lw + px);
                    }
            }
        }
        if (skipMaintenance) RebuildS();
        RefinePalette();
        RebuildJ();
        return true;
    }

    /// The coarse variables enlarged to a level of fw x fh.
    void Zoom(int fw, int fh) {
        const int cw = lw, ch = lh;
        std::vector<double> fine(size_t(fw) * fh * n, 0.0);
        for (int y = 0; y < fh; ++y) {
            const double top = std::max(0.0, (y - 0.1) / 2), bottom = std::min(ch - 0.001, (y + 1.1) / 2);
            const int yt = int(top), yb = int(bottom);
            double wt, wb;
            if (yt == yb)
                wt = bottom - top, wb = 0;
            else
                wt = (yt + 1) - top, wb = bottom - yb;
            for (int x = 0; x < fw; ++x) {
                const double left = std::max(0.0, (x - 0.1) / 2), right = std::min(cw - 0.001, (x + 1.1) / 2);
                const int xl = int(left), xr = int(right);
                double wl, wr;
                if (xl == xr)
                    wl = right - left, wr = 0;
                else
                    wl = (xl + 1) - left, wr = right - xr;
                const double area = (wl + wr) * (wt + wb);
                for (int v = 0; v < n; ++v) {
                    double s = wl * wt * M(yt * cw + xl, v);
                    if (wr > 0) s += wr * wt * M(yt * cw + xr, v);
                    if (wb > 0) s += wl * wb * M(yb * cw + xl, v);
                    if (wr > 0 && wb > 0) s += wr * wb * M(yb * cw + xr, v);
                    fine[(size_t(y) * fw + x) * n + v] = area > 0 ? s / area : 0;
                }
            }
        }
        m.swap(fine);
        lw = fw, lh = fh;
    }
};

} // namespace

bool RunSpatialQuantize(const std::vector<ARGB>& pixels, int width, int height, std::vector<Vec4>& palette,
                        int c, std::vector<uint16_t>& indices, TransparencyState& st, uint32_t n,
                        FlatMap<LabColor>& labCache, QuantRun& run);

bool RunSpatialQuantize(const std::vector<ARGB>& pixels, int width, int height, std::vector<Vec4>& palette,
                        int c, std::vector<uint16_t>& indices, TransparencyState& st, uint32_t n,
                        FlatMap<LabColor>& labCache, QuantRun& run) {
    // The blur filter and its interaction kernel.
    Kernel filter;
    filter.Resize(3, 3);
    double fsum = 0;
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) {
            const double wgt = std::exp(-std::sqrt(double((i - 2) * (i - 2) + (j - 2) * (j - 2))));
            for (int k = 0; k < c; ++k) filter.v[size_t(j) * 3 + i][k] = wgt, fsum += wgt;
        }
    for (auto& f : filter.v)
        for (int k = 0; k < c; ++k) f[k] /= fsum / 3;

    int levels = 0;
    while ((int64_t(width >> levels) * (height >> levels)) > 4000) ++levels;

    Scq q{c, int(n), palette, run, 0, 0, nullptr, nullptr, {}, {}, {}};
    q.lw = width >> levels, q.lh = height >> levels;
    q.m.resize(size_t(q.lw) * q.lh * n);
    for (size_t k = 0; k < q.m.size(); ++k) {
        const int ch = int(k % size_t(c));
        q.m[k] = double(CrtRand() % kRangeMax[ch] + kRangeMin[ch]);
    }

    std::vector<Kernel> b(size_t(levels) + 1);
    b[0].Resize(5, 5);
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
            for (int ky = -1; ky <= 1; ++ky)
                for (int kx = -1; kx <= 1; ++kx) {
                    if (!filter.Has(kx - dx, ky - dy)) continue;
                    const Vec4& f1 = filter.At(kx, ky);
                    const Vec4& f2 = filter.At(kx - dx, ky - dy);
                    for (int k = 0; k < 4; ++k) b[0].At(dx, dy)[k] += f1[k] * f2[k];
                }

    ColorVectors colors{labCache, n >= 3, c};
    std::vector<std::vector<Vec4>> a(size_t(levels) + 1);
    a[0].assign(size_t(width) * height, Vec4{0, 0, 0, 0});
    NeighbourColors nb{n, st.transparentColor};
    for (int y = 0; y < height && !run.stop.stop_requested(); ++y)
        for (int x = 0; x < width; ++x) {
            const int64_t i = int64_t(y) * width + x;
            Vec4 acc{0, 0, 0, 0};
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx) {
                    const int xx = x + dx, yy = y + dy;
                    if (xx < 0 || xx >= width || yy < 0 || yy >= height) continue;
                    const int64_t j = int64_t(yy) * width + xx;
                    const Vec4 col = colors.Of(nb.Pick(pixels[size_t(i)], pixels[size_t(j)], j));
                    const Vec4& bb = b[0].At(dx, dy);
                    for (int k = 0; k < 4; ++k) acc[k] += bb[k] * col[k];
                }
            for (int k = 0; k < 4; ++k) a[0][size_t(i)][k] = -2 * acc[k];
        }
    for (int l = 1; l <= levels; ++l) {
        const Kernel& prev = b[size_t(l) - 1];
        Kernel& cur = b[size_t(l)];
        cur.Resize(std::max(c, prev.w - 2), std::max(c, prev.h - 2));
        for (int Jy = 0; Jy < cur.h; ++Jy)
            for (int Jx = 0; Jx < cur.w; ++Jx) {
                Vec4& out = cur.v[size_t(Jy) * cur.w + Jx];
                for (int iy = 2; iy <= 3; ++iy)
                    for (int ix = 2; ix <= 3; ++ix)
                        for (int jy = 2 * Jy; jy <= 2 * Jy + 1; ++jy)
                            for (int jx = 2 * Jx; jx <= 2 * Jx + 1; ++jx) {
                                const int dx = jx - ix, dy = jy - iy;
                                if (!prev.Has(dx, dy)) continue;
                                const Vec4& pv = prev.At(dx, dy);
                                for (int k = 0; k < 4; ++k) out[k] += pv[k];
                            }
            }
        const int pw = width >> (l - 1), ph = height >> (l - 1), cw = width >> l, chh = height >> l;
        a[size_t(l)].assign(size_t(cw) * chh, Vec4{0, 0, 0, 0});
        for (int y = 0; y < chh; ++y)
            for (int x = 0; x < cw; ++x) {
                Vec4& out = a[size_t(l)][size_t(y) * cw + x];
                for (int yy = 2 * y; yy < std::min(ph, 2 * y + 2); ++yy)
                    for (int xx = 2 * x; xx < std::min(pw, 2 * x + 2); ++xx)
                        for (int k = 0; k < 4; ++k) out[k] += a[size_t(l) - 1][size_t(yy) * pw + xx][k];
            }
    }

    if (run.stop.stop_requested()) return false;
    double T = 1.0;
    const double mu = std::pow(0.001 / 1.0, 1.0 / std::max(c, 3 * levels));
    int level = levels;
    q.b = &b[size_t(level)];
    q.a = &a[size_t(level)];
    q.RebuildS();
    q.RebuildJ();
    int iterations = 0;
    bool skip = false;
    while (level >= 0 || T > 0.001) {
        if (!q.Sweep(T, skip)) return false;
        ++iterations;
        skip = false;
        if ((T <= 0.001 || level > 0) && iterations >= 3) {
            --level;
            if (level < 0) break;
            q.Zoom(width >> level, height >> level);
            q.b = &b[size_t(level)];
            q.a = &a[size_t(level)];
            iterations = 0;
            q.RebuildJ();
            skip = true;
        }
        if (T > 0.001) T *= mu;
    }
    indices.assign(size_t(width) * height, 0);
    for (int i = 0; i < width * height; ++i) indices[size_t(i)] = uint16_t(q.Best(i));
    return true;
}

bool SpatialQuantize(Image& source, Image& target, uint32_t& n, bool, QuantRun& run) {
    TransparencyState& st = run.state.spatial;
    const uint32_t w = source.GetWidth(), h = source.GetHeight();
    const size_t count = size_t(w) * h;
    if (count == 0 || count > MaxFramePixels) return false;
    if (n > 256) n = 256;
    // Per pixel: the colour, the a image and the assignment probabilities of the finest level.
    if (uint64_t(count) * (4 + 32 + 8 * uint64_t(n)) > kSpatialMemoryBudget) return false;
    std::vector<ARGB> pixels(count, 0);
    int semi = 0;
    ReadArgbPixels(source, pixels, semi, st.transparentPixelIndex, st.transparentColor, uint8_t(n), 2);
    st.hasSemiTransparency = semi > 0;
    const int c = st.hasSemiTransparency ? 4 : 3;

    std::vector<Vec4> palette(n, Vec4{0, 0, 0, 0});
    for (auto& e : palette)
        for (int k = 0; k < c; ++k) e[k] = double(CrtRand() % kRangeMax[k] + kRangeMin[k]);
    FlatMap<LabColor> labCache(1 << 16);
    std::vector<uint16_t> indices;
    if (!RunSpatialQuantize(pixels, int(w), int(h), palette, c, indices, st, n, labCache, run)) return false;

    ColorPalette pal;
    VectorsToPalette(palette, pal, st, c);
    if (n < 3)
        TwoColorFixUp(pal, indices, pixels, st);
    else if (st.transparentPixelIndex >= 0)
        TransparentFixUp(pal, indices, pixels, st);
    return WriteIndexedImage(target, pal, indices, st.transparentPixelIndex >= 0);
}

} // namespace zerimo
