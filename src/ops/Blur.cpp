#include "ops/Blur.h"

#include "ops/Parallel.h"
#include "ops/Simd.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zerimo {

using namespace imaging;

bool BuildGaussKernel(float radius, uint32_t maximumSize, std::vector<int32_t>& weights, int32_t& sum) {
    const double count = std::floor(double(5.0f * radius + 1.0f + 0.5f));
    if (!(count <= double(maximumSize))) return false;
    const uint32_t size = count >= 1 ? (uint32_t(count) | 1u) : 1u;
    const int h = int(size / 2);
    if (h > 0) {
        const float s = (radius + radius) * radius;
        const float m = std::exp(float(h * h) / s);
        const double centre = std::floor(double(m + 0.5f));
        if (centre <= double(MaxCentreWeight)) {
            weights.assign(size, 0);
            weights[size_t(h)] = int32_t(centre);
            for (int i = 1; i <= h; ++i) {
                const int32_t w = int32_t(std::floor(double(m * std::exp(-float(i * i) / s) + 0.5f)));
                weights[size_t(h - i)] = weights[size_t(h + i)] = w;
            }
            sum = 0;
            for (int32_t w : weights) sum += w;
            return true;
        }
    }
    weights.assign(1, 1);
    sum = 1;
    return true;
}

namespace {

constexpr int kChunk = 1024; // sums kept in the first-level cache

// Sums of exact integers are exact in a float below 2^24; the quotient is then corrected to the
// truncating integer division.
ZERIMO_INLINE void DivideStore(const float* __restrict acc, int n, float divisor, uint8_t* __restrict out) {
    const float inv = 1.0f / divisor;
    for (int j = 0; j < n; ++j) {
        const float a = acc[j];
        float q = float(int(a * inv));
        q = q * divisor > a ? q - 1.0f : q;
        q = (q + 1.0f) * divisor <= a ? q + 1.0f : q;
        out[j] = uint8_t(int(q));
    }
}
ZERIMO_INLINE void DivideStore(const int32_t* __restrict acc, int n, int32_t divisor,
                               uint8_t* __restrict out) {
    for (int j = 0; j < n; ++j) out[j] = uint8_t(acc[j] / divisor);
}

/// acc[j] = sum over k of w[k] * src[j + k * step] for j in [0, n), then divided into out.
template <typename T>
ZERIMO_INLINE void ConvolveSpan(const T* __restrict src, int step, const T* __restrict w, int taps, T divisor,
                                int n, uint8_t* __restrict out) {
    alignas(64) T acc[kChunk];
    for (int c0 = 0; c0 < n; c0 += kChunk) {
        const int len = std::min(kChunk, n - c0);
        const T* s = src + c0;
        const T w0 = w[0];
        for (int j = 0; j < len; ++j) acc[j] = w0 * s[j];
        for (int k = 1; k < taps; ++k) {
            const T wk = w[k];
            const T* sk = s + ptrdiff_t(k) * step;
            for (int j = 0; j < len; ++j) acc[j] += wk * sk[j];
        }
        DivideStore(acc, len, divisor, out + c0);
    }
}

/// acc[j] = sum over k of w[k] * rows[k][j], bytes in, for j in [0, n), then divided into out.
template <typename T>
ZERIMO_INLINE void ConvolveRows(const uint8_t* const* rows, const T* __restrict w, int taps, T divisor, int n,
                                uint8_t* __restrict out) {
    alignas(64) T acc[kChunk];
    for (int c0 = 0; c0 < n; c0 += kChunk) {
        const int len = std::min(kChunk, n - c0);
        const uint8_t* __restrict r0 = rows[0] + c0;
        const T w0 = w[0];
        for (int j = 0; j < len; ++j) acc[j] = w0 * T(r0[j]);
        for (int k = 1; k < taps; ++k) {
            const uint8_t* __restrict rk = rows[k] + c0;
            const T wk = w[k];
            for (int j = 0; j < len; ++j) acc[j] += wk * T(rk[j]);
        }
        DivideStore(acc, len, divisor, out + c0);
    }
}

template <typename T> ZERIMO_INLINE void ToSamples(const uint8_t* __restrict in, int n, T* __restrict out) {
    for (int j = 0; j < n; ++j) out[j] = T(in[j]);
}

#if ZERIMO_HAVE_AVX2
template <typename T>
ZERIMO_AVX2 void ConvolveSpanAvx2(const T* src, int step, const T* w, int taps, T divisor, int n,
                                  uint8_t* out) {
    ConvolveSpan(src, step, w, taps, divisor, n, out);
}
template <typename T>
ZERIMO_AVX2 void ConvolveRowsAvx2(const uint8_t* const* rows, const T* w, int taps, T divisor, int n,
                                  uint8_t* out) {
    ConvolveRows(rows, w, taps, divisor, n, out);
}
template <typename T> ZERIMO_AVX2 void ToSamplesAvx2(const uint8_t* in, int n, T* out) {
    ToSamples(in, n, out);
}
#endif
template <typename T>
void ConvolveSpanBase(const T* src, int step, const T* w, int taps, T divisor, int n, uint8_t* out) {
    ConvolveSpan(src, step, w, taps, divisor, n, out);
}
template <typename T>
void ConvolveRowsBase(const uint8_t* const* rows, const T* w, int taps, T divisor, int n, uint8_t* out) {
    ConvolveRows(rows, w, taps, divisor, n, out);
}
template <typename T> void ToSamplesBase(const uint8_t* in, int n, T* out) {
    ToSamples(in, n, out);
}

template <typename T> struct Kernels {
    void (*span)(const T*, int, const T*, int, T, int, uint8_t*) = ConvolveSpanBase<T>;
    void (*rows)(const uint8_t* const*, const T*, int, T, int, uint8_t*) = ConvolveRowsBase<T>;
    void (*samples)(const uint8_t*, int, T*) = ToSamplesBase<T>;
    Kernels() {
#if ZERIMO_HAVE_AVX2
        if (CpuHasAvx2()) span = ConvolveSpanAvx2<T>, rows = ConvolveRowsAvx2<T>, samples = ToSamplesAvx2<T>;
#endif
    }
};

/// The value at position i of a line of n samples `step` bytes apart, with the weights that fall
/// inside the line and their sum as divisor.
uint8_t FilterAt(const uint8_t* line, ptrdiff_t step, int n, int i, const std::vector<int32_t>& k) {
    const int h = int(k.size() / 2);
    int64_t acc = 0, div = 0;
    for (int t = std::max(0, i - h); t <= std::min(n - 1, i + h); ++t) {
        const int32_t w = k[size_t(t - i + h)];
        acc += int64_t(line[ptrdiff_t(t) * step]) * w;
        div += w;
    }
    return uint8_t(acc / div);
}

template <typename T>
bool RunPass(const BitmapData& in, BitmapData& out, int bpp, const std::vector<int32_t>& kernel,
             bool horizontal, const std::atomic<bool>* cancel) {
    static const Kernels<T> kernels;
    const int w = int(in.Width), h = int(in.Height), taps = int(kernel.size()), half = taps / 2;
    std::vector<T> wt(kernel.begin(), kernel.end());
    T sum = 0;
    for (int32_t k : kernel) sum += T(k);
    std::atomic<bool> stopped{false};
    const int rowBytes = w * bpp;
    ParallelRows(h, uint64_t(w) * uint64_t(h) * uint64_t(taps) / 8, [&](int first, int last) {
        std::vector<T> samples(horizontal ? size_t(rowBytes) : 0);
        std::vector<const uint8_t*> rows(static_cast<size_t>(taps));
        for (int y = first; y < last; ++y) {
            if (stopped.load(std::memory_order_relaxed) ||
                (cancel && cancel->load(std::memory_order_relaxed))) {
                stopped = true;
                return;
            }
            const uint8_t* src = static_cast<const uint8_t*>(in.Scan0) + ptrdiff_t(y) * in.Stride;
            uint8_t* dst = static_cast<uint8_t*>(out.Scan0) + ptrdiff_t(y) * out.Stride;
            if (horizontal) {
                const int inner = w - 2 * half; // pixels whose whole kernel lies on the row
                if (inner > 0) {
                    kernels.samples(src, rowBytes, samples.data());
                    kernels.span(samples.data(), bpp, wt.data(), taps, sum, inner * bpp, dst + half * bpp);
                }
                for (int x = 0; x < w; ++x) {
                    if (x == half && inner > 0) x = w - half;
                    if (x >= w) break;
                    for (int c = 0; c < bpp; ++c) dst[x * bpp + c] = FilterAt(src + c, bpp, w, x, kernel);
                }
            } else if (y >= half && y + half < h) {
                for (int k = 0; k < taps; ++k)
                    rows[size_t(k)] =
                        static_cast<const uint8_t*>(in.Scan0) + ptrdiff_t(y - half + k) * in.Stride;
                kernels.rows(rows.data(), wt.data(), taps, sum, rowBytes, dst);
            } else {
                // The top and bottom rows see part of the kernel: its sum over the rows that exist.
                const int t0 = std::max(0, y - half), t1 = std::min(h - 1, y + half);
                T div = 0;
                for (int t = t0; t <= t1; ++t) {
                    rows[size_t(t - t0)] = static_cast<const uint8_t*>(in.Scan0) + ptrdiff_t(t) * in.Stride;
                    div += wt[size_t(t - y + half)];
                }
                kernels.rows(rows.data(), wt.data() + (t0 - y + half), t1 - t0 + 1, div, rowBytes, dst);
            }
        }
    });
    return !stopped;
}

void FixUnfiltered(const BitmapData& in, BitmapData& out, int bpp, uint32_t mask, bool copy) {
    const uint32_t all = (1u << bpp) - 1;
    if ((mask & all) == all) return;
    for (uint32_t y = 0; y < in.Height; ++y) {
        const uint8_t* s = static_cast<const uint8_t*>(in.Scan0) + ptrdiff_t(y) * in.Stride;
        uint8_t* d = static_cast<uint8_t*>(out.Scan0) + ptrdiff_t(y) * out.Stride;
        for (int c = 0; c < bpp; ++c) {
            if (mask >> c & 1) continue;
            for (uint32_t x = 0; x < in.Width; ++x) d[x * bpp + c] = copy ? s[x * bpp + c] : 0;
        }
    }
}

} // namespace

ImagePtr BlurPass(Image& source, const std::vector<int32_t>& kernel, bool hasAlpha, uint32_t mask,
                  bool horizontal, bool copyUnfiltered, const std::atomic<bool>* cancel) {
    const PixelFormat f = BlurFormat(hasAlpha);
    const int32_t w = int32_t(source.GetWidth()), h = int32_t(source.GetHeight());
    if (kernel.size() <= 1) {
        ImagePtr copy = source.Clone(Rect{0, 0, w, h}, f);
        return Image::Usable(copy) ? copy : nullptr;
    }
    ImagePtr dst = Image::CreateBitmap(w, h, f);
    if (!Image::Usable(dst)) return nullptr;
    BitmapData in, out;
    if (source.LockBits(nullptr, ImageLockModeRead, f, &in) != Ok) return nullptr;
    if (dst->LockBits(nullptr, ImageLockModeWrite, f, &out) != Ok) {
        source.UnlockBits(&in);
        return nullptr;
    }
    const int bpp = hasAlpha ? 4 : 3;
    int64_t sum = 0;
    for (int32_t k : kernel) sum += k;
    // Floats hold every partial sum exactly while the largest stays below 2^24.
    const bool ok = sum * 255 < (int64_t(1) << 24)
                        ? RunPass<float>(in, out, bpp, kernel, horizontal, cancel)
                        : RunPass<int32_t>(in, out, bpp, kernel, horizontal, cancel);
    if (ok) FixUnfiltered(in, out, bpp, mask, copyUnfiltered);
    dst->UnlockBits(&out);
    source.UnlockBits(&in);
    return ok ? dst : nullptr;
}

ImagePtr BlurImage(Image& source, float radius, bool hasAlpha, uint32_t mask, bool copyUnfiltered,
                   uint32_t maximumKernelSize, const std::atomic<bool>* cancel) {
    std::vector<int32_t> kernel;
    int32_t sum = 0;
    if (!BuildGaussKernel(radius, maximumKernelSize, kernel, sum)) return nullptr;
    ImagePtr tmp = BlurPass(source, kernel, hasAlpha, mask, true, copyUnfiltered, cancel);
    if (!tmp) return nullptr;
    return BlurPass(*tmp, kernel, hasAlpha, mask, false, copyUnfiltered, cancel);
}

ImagePtr SharpenImage(Image& source, float radius, float depth, bool hasAlpha, uint32_t mask,
                      uint32_t maximumKernelSize, const std::atomic<bool>* cancel) {
    ImagePtr result = BlurImage(source, radius, hasAlpha, mask, false, maximumKernelSize, cancel);
    if (!result) return nullptr;
    const PixelFormat f = BlurFormat(hasAlpha);
    const int32_t D = int32_t(std::floor(double(depth * 10000.0f + 0.5f)));
    BitmapData in, out;
    if (source.LockBits(nullptr, ImageLockModeRead, f, &in) != Ok) return nullptr;
    if (result->LockBits(nullptr, ImageLockModeRead | ImageLockModeWrite, f, &out) != Ok) {
        source.UnlockBits(&in);
        return nullptr;
    }
    const int bpp = hasAlpha ? 4 : 3;
    std::atomic<bool> stopped{false};
    ParallelRows(int(in.Height), uint64_t(in.Width) * in.Height, [&](int first, int last) {
        int32_t keep[4];
        for (int c = 0; c < 4; ++c) keep[c] = (mask >> c & 1) ? 0 : 1;
        for (int y = first; y < last; ++y) {
            if (cancel && cancel->load(std::memory_order_relaxed)) {
                stopped = true;
                return;
            }
            const uint8_t* s = static_cast<const uint8_t*>(in.Scan0) + ptrdiff_t(y) * in.Stride;
            uint8_t* d = static_cast<uint8_t*>(out.Scan0) + ptrdiff_t(y) * out.Stride;
            for (uint32_t x = 0; x < in.Width; ++x)
                for (int c = 0; c < bpp; ++c) {
                    const size_t i = size_t(x) * bpp + c;
                    if (keep[c]) {
                        d[i] = s[i];
                        continue;
                    }
                    const int32_t v = ((D + 10000) * int32_t(s[i]) - D * int32_t(d[i])) / 10000;
                    d[i] = uint8_t(std::clamp(v, 0, 255));
                }
        }
    });
    result->UnlockBits(&out);
    source.UnlockBits(&in);
    if (stopped) return nullptr;
    return result;
}

// ---- the worker ----------------------------------------------------------------------------------

struct GaussBlurEngine::Delivery {
    std::mutex mutex;
    uint64_t current = 0; // the job whose result is still wanted; 0 for none
    Post post;
    OnResult onResult;
};

GaussBlurEngine::GaussBlurEngine() : delivery_(std::make_shared<Delivery>()) {}

GaussBlurEngine::~GaussBlurEngine() {
    Close();
}

void GaussBlurEngine::SetOwner(Post post, OnResult onResult) {
    std::lock_guard<std::mutex> lock(delivery_->mutex);
    delivery_->post = std::move(post);
    delivery_->onResult = std::move(onResult);
}

bool GaussBlurEngine::Running() const {
    return running_.load();
}

void GaussBlurEngine::Stop() {
    if (worker_.joinable()) {
        cancel = true;
        worker_.join();
    }
    cancel = false;
}

void GaussBlurEngine::Wait() {
    if (worker_.joinable()) worker_.join();
}

void GaussBlurEngine::Close() {
    Stop();
    {
        std::lock_guard<std::mutex> lock(delivery_->mutex);
        delivery_->current = 0;
    }
    convertedSource.reset();
    source.reset();
}

bool GaussBlurEngine::StartJob(const ImagePtr& image, bool sharpenJob, float radiusValue, float depthValue,
                               uint32_t mask) {
    Stop();
    if (!image) return false;
    const bool alpha = ImageHasTransparency(*image);
    image->GetLastStatus(); // the test's missing items are no error of the image
    const PixelFormat f = BlurFormat(alpha);
    ImagePtr src = image;
    if (image->GetPixelFormat() != f) {
        convertedSource =
            image->Clone(Rect{0, 0, int32_t(image->GetWidth()), int32_t(image->GetHeight())}, f);
        if (!Image::Usable(convertedSource)) return false;
        src = convertedSource;
    }
    radius = radiusValue;
    depth = depthValue;
    source = src;
    hasAlpha = alpha;
    channelMask = mask;
    sharpen = sharpenJob;
    kernel.clear();
    kernelSum = 0;
    kernelSize = 0;
    if (BuildGaussKernel(radius, maximumKernelSize, kernel, kernelSum)) kernelSize = uint32_t(kernel.size());
    uint64_t job;
    {
        std::lock_guard<std::mutex> lock(delivery_->mutex);
        static std::atomic<uint64_t> counter{0};
        job = delivery_->current = ++counter;
    }
    running_ = true;
    try {
        worker_ = std::thread(&GaussBlurEngine::Worker, this, job);
    } catch (...) {
        running_ = false;
        return false;
    }
    return true;
}

void GaussBlurEngine::Worker(uint64_t job) {
    ImagePtr result;
    if (source)
        result = sharpen
                     ? SharpenImage(*source, radius, depth, hasAlpha, channelMask, maximumKernelSize, &cancel)
                     : BlurImage(*source, radius, hasAlpha, channelMask, true, maximumKernelSize, &cancel);
    running_ = false;
    if (!result) return;
    std::shared_ptr<Delivery> d = delivery_;
    Post post;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (d->current != job) return;
        post = d->post;
    }
    if (!post) return;
    post(resultMessage, [d, job, result] {
        OnResult deliver;
        {
            std::lock_guard<std::mutex> lock(d->mutex);
            if (d->current != job) return; // a newer job, or the dialog closed
            deliver = d->onResult;
        }
        if (deliver) deliver(result);
    });
}

} // namespace zerimo
