#pragma once
/// Blur and Sharpen: a separable Gaussian blur with an integer kernel, an unsharp mask built on
/// it, and GaussBlurEngine, the worker that computes them for the Blur / Sharpen dialog's preview.

#include "imaging/Image.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zerimo {

using ImagePtr = std::shared_ptr<imaging::Image>;

/// Kernels whose centre weight would exceed this are treated as the one-weight kernel: the
/// Gaussian is then far narrower than a pixel (radius 0.1 gives e^50), and every tap product still
/// fits a 32-bit sum.
inline constexpr int32_t MaxCentreWeight = 1 << 23;

/// Integer Gaussian weights for `radius`: odd count, outermost weights 1, centre the largest.
/// False (and nothing set) when the count would exceed `maximumSize`.
bool BuildGaussKernel(float radius, uint32_t maximumSize, std::vector<int32_t>& weights, int32_t& sum);

/// The working format of a blur: 32bppARGB for an image with transparency, else 24bppRGB.
inline imaging::PixelFormat BlurFormat(bool hasAlpha) {
    return hasAlpha ? imaging::PixelFormat32bppARGB : imaging::PixelFormat24bppRGB;
}

/// One pass of `kernel` along rows (`horizontal`) or columns. Channel c (0 blue, 1 green, 2 red,
/// 3 alpha) is filtered when bit c of `mask` is set, else copied (`copyUnfiltered`) or left 0. The
/// result is a new bitmap in BlurFormat(hasAlpha); null when `cancel` was set (read once a line)
/// or the bitmap cannot be made.
ImagePtr BlurPass(imaging::Image& source, const std::vector<int32_t>& kernel, bool hasAlpha, uint32_t mask,
                  bool horizontal, bool copyUnfiltered, const std::atomic<bool>* cancel = nullptr);

/// Horizontal then vertical pass; null when the kernel is too large or the job was cancelled.
ImagePtr BlurImage(imaging::Image& source, float radius, bool hasAlpha, uint32_t mask, bool copyUnfiltered,
                   uint32_t maximumKernelSize = 51, const std::atomic<bool>* cancel = nullptr);

/// source + depth x (source - blurred) on the channels of `mask`; the others are copied.
ImagePtr SharpenImage(imaging::Image& source, float radius, float depth, bool hasAlpha, uint32_t mask,
                      uint32_t maximumKernelSize = 51, const std::atomic<bool>* cancel = nullptr);

/// The blur/sharpen worker of the Blur / Sharpen dialog: one job at a time on its own thread; a new
/// job cancels and waits for the running one. The result is posted through `post` (the host's
/// PostToView) as `resultMessage` and handed to `onResult` on the thread that runs posted work,
/// unless a newer job was started or the engine was closed meanwhile, so a late result never
/// becomes a preview nobody removes.
class GaussBlurEngine {
  public:
    using Post = std::function<void(uint32_t message, std::function<void()> handler)>;
    using OnResult = std::function<void(ImagePtr result)>;

    GaussBlurEngine();
    ~GaussBlurEngine();
    GaussBlurEngine(const GaussBlurEngine&) = delete;
    GaussBlurEngine& operator=(const GaussBlurEngine&) = delete;

    /// Where results go. Set before the first job.
    void SetOwner(Post post, OnResult onResult);

    /// Starts a blur (or sharpen) of `image`: converted first to BlurFormat of its transparency
    /// (the copy is the engine's converted source while the job runs). False when a job could not
    /// start (no image, no thread); the previous job is cancelled in any case.
    bool StartJob(const ImagePtr& image, bool sharpenJob, float radiusValue, float depthValue, uint32_t mask);
    /// Cancels a running job and waits for its thread to end.
    void Stop();
    /// Waits for the running job to finish (its result is posted).
    void Wait();
    /// The dialog closed: stops the job and drops any result still on its way.
    void Close();
    bool Running() const;

    // The engine's fields, as the dialog and the worker use them.
    uint32_t maximumKernelSize = 51;
    bool sharpen = false;
    bool hasAlpha = false;
    std::atomic<bool> cancel{false};
    int32_t kernelSum = 0;
    uint32_t kernelSize = 0;
    uint32_t channelMask = 7;
    uint32_t resultMessage = 0x8008; // WM_BLURREADY
    ImagePtr source;
    ImagePtr convertedSource;
    float radius = 0.7f;
    float depth = 0.8f;
    std::vector<int32_t> kernel;

  private:
    struct Delivery;
    void Worker(uint64_t job);

    std::shared_ptr<Delivery> delivery_;
    std::thread worker_;
    std::atomic<bool> running_{false};
};

} // namespace zerimo
