// A palette by divisive clustering in (alpha, L, a, b): the cluster with the largest squared error
// is cut at its mean along its axis of largest variance, then refined by ten passes of two-means.

#include "quant/Quantizers.h"

#include <cfloat>
#include <cmath>
#include <cstdio>

namespace zerimo {

using namespace imaging;

namespace {

using P4 = std::array<double, 4>;

struct Cluster {
    P4 mean{0, 0, 0, 0};
    P4 variance{0, 0, 0, 0};
    double weight = 0;
    int size = 0;
    double sse = 0;
};

/// Sums x * f(p) over the listed points in runs of at most 65535, each run's total added in turn.
template <class F> P4 RunSums(const std::vector<int>& list, F&& f) {
    P4 total{0, 0, 0, 0};
    for (size_t start = 0; start < list.size(); start += 65535) {
        P4 part{0, 0, 0, 0};
        const size_t end = std::min(list.size(), start + 65535);
        for (size_t i = start; i < end; ++i) {
            const P4 v = f(list[i]);
            for (int k = 0; k < 4; ++k) part[k] += v[k];
        }
        for (int k = 0; k < 4; ++k) total[k] += part[k];
    }
    return total;
}

double Dot(const P4& a, const P4& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
}

} // namespace

void BuildDivisivePalette(const ARGB* pixels, size_t count, ColorPalette& palette,
                          FlatMap<LabColor>& labCache) {
    const int colors = int(palette.Count());
    if (count == 0 || colors == 0) return;
    std::vector<P4> points(count);
    for (size_t i = 0; i < count; ++i) {
        const LabColor* lab = labCache.Find(pixels[i]);
        if (!lab) {
            labCache.Insert(pixels[i], ArgbToLab(pixels[i]));
            lab = labCache.Find(pixels[i]);
        }
        points[i] = P4{double(pixels[i] >> 24), lab->L, lab->a, lab->b};
    }
    const double x = 1.0 / double(count);
    std::vector<Cluster> clusters(size_t(std::max(colors, 1)));
    std::vector<uint8_t> member(count, 0);
    std::vector<int> list(count);
    for (size_t i = 0; i < count; ++i) list[i] = int(i);

    auto weighted = [&](int i) {
        P4 v = points[size_t(i)];
        for (double& c : v) c *= x;
        return v;
    };
    auto squares = [&](int i) {
        P4 v = points[size_t(i)];
        for (double& c : v) c = c * c * x;
        return v;
    };
    Cluster& first = clusters[0];
    first.weight = 1;
    first.size = int(count);
    first.mean = RunSums(list, weighted);
    const P4 sq0 = RunSums(list, squares);
    for (int k = 0; k < 4; ++k) first.variance[k] = sq0[k] - first.mean[k] * first.mean[k];

    int s = 0;
    for (int k = 1; k < colors; ++k) {
        Cluster parent = clusters[size_t(s)];
        Cluster& cs = clusters[size_t(s)];
        Cluster& ck = clusters[size_t(k)];
        int axis = 0;
        for (int a = 1; a < 4; ++a)
            if (parent.variance[a] > parent.variance[axis]) axis = a;
        const double cut = parent.mean[axis];

        std::vector<int> inK;
        for (int i : list)
            if (points[size_t(i)][axis] > cut) inK.push_back(i);
        auto settle = [&](const std::vector<int>& pts) {
            ck.weight = double(pts.size()) * x;
            ck.mean = P4{0, 0, 0, 0};
            if (ck.weight > 0) {
                const P4 sum = RunSums(pts, weighted);
                for (int a = 0; a < 4; ++a) ck.mean[a] = sum[a] / ck.weight;
            }
            // An empty new cluster leaves the parent's mean as it was.
            if (parent.weight - ck.weight != 0)
                for (int a = 0; a < 4; ++a)
                    cs.mean[a] = (parent.weight * parent.mean[a] - ck.weight * ck.mean[a]) /
                                 (parent.weight - ck.weight);
        };
        settle(inK);
        P4 sqK{0, 0, 0, 0};
        for (int pass = 0; pass < 10; ++pass) {
            P4 diff;
            for (int a = 0; a < 4; ++a) diff[a] = cs.mean[a] - ck.mean[a];
            const double bound = (Dot(cs.mean, cs.mean) - Dot(ck.mean, ck.mean)) / 2;
            inK.clear();
            for (int i : list) {
                const bool stays = Dot(points[size_t(i)], diff) > bound;
                if (!stays) inK.push_back(i);
                if (pass == 9) member[size_t(i)] = uint8_t(stays ? s : k);
            }
            settle(inK);
            if (pass == 9) sqK = RunSums(inK, squares);
        }
        ck.size = int(inK.size());
        cs.size = parent.size - ck.size;
        if (k == colors - 1) break;

        for (int a = 0; a < 4; ++a)
            ck.variance[a] = ck.weight > 0 ? sqK[a] / ck.weight - ck.mean[a] * ck.mean[a] : 0;
        cs.weight = parent.weight - ck.weight;
        for (int a = 0; a < 4; ++a) {
            const double dk = ck.mean[a] - parent.mean[a], ds = cs.mean[a] - parent.mean[a];
            cs.variance[a] =
                cs.weight > 0
                    ? (parent.variance[a] * parent.weight - (dk * dk + ck.variance[a]) * ck.weight) /
                              cs.weight -
                          ds * ds
                    : 0;
        }
        cs.sse = (cs.variance[0] + cs.variance[1] + cs.variance[2] + cs.variance[3]) * cs.weight;
        ck.sse = (ck.variance[0] + ck.variance[1] + ck.variance[2] + ck.variance[3]) * ck.weight;

        int next = -1;
        double bestSse = 0;
        for (int c = 0; c <= k; ++c) {
            const double v = clusters[size_t(c)].sse;
            if (v > DBL_MIN && (next < 0 || v > bestSse)) next = c, bestSse = v;
        }
        if (next >= 0) s = next;
        list.clear();
        for (size_t i = 0; i < count; ++i)
            if (member[i] == s) list.push_back(int(i));
        if (int(list.size()) != clusters[size_t(s)].size) {
            std::fprintf(stderr, "Cluster to be split is expected to be of size %d not %d !\n",
                         clusters[size_t(s)].size, int(list.size()));
            return;
        }
    }
    int out = 0, empty = 0;
    for (int c = 0; c < colors; ++c) {
        const Cluster& cl = clusters[size_t(c)];
        if (cl.size < 1) {
            ++empty;
            continue;
        }
        LabColor lab;
        lab.alpha = uint8_t(std::min(255.0, std::max(0.0, std::nearbyint(cl.mean[0]))));
        lab.L = cl.mean[1], lab.a = cl.mean[2], lab.b = cl.mean[3];
        palette.Entries[size_t(out++)] = LabToArgb(lab);
    }
    if (empty) std::fprintf(stderr, "# empty clusters: %d\n", empty);
}

} // namespace zerimo
