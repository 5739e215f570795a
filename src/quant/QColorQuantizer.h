#pragma once
/// The colour-reduction service of a document: one worker thread running one job at a time (a
/// quantizer, or a Soften filter), and ConvertImage, which both the worker and the synchronous
/// conversions call. The quantizers' state lives here, for as long as the service.

#include "imaging/Image.h"
#include "quant/QuantizerState.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace zerimo {

/// Job types of the worker.
enum QuantJob : int {
    JobPnnRgb = 0,
    JobPnnLab = 1,
    JobEdgeAware = 2,
    JobSpatial = 3,
    JobOtsu = 4,
    JobSoftenSmall = 5,
    JobSoftenMedium = 6,
    JobSoftenLarge = 7,
};

/// What one conversion gave: the new bitmap (none when it failed or was stopped), and the colour
/// count as the method left it.
struct ConvertResult {
    std::shared_ptr<imaging::Image> image;
    bool failed = false;
    uint32_t colors = 0;
};

/// "Failed to convert to %d colors" with the count filled in.
std::string ConvertFailedMessage(uint32_t colors);

class QColorQuantizer {
  public:
    using ImagePtr = std::shared_ptr<imaging::Image>;
    /// Hands a finished job to the user-interface thread; `job` identifies it for IsCurrent.
    using Completion = std::function<void(ConvertResult result, uint64_t job)>;

    QColorQuantizer();
    virtual ~QColorQuantizer();
    QColorQuantizer(const QColorQuantizer&) = delete;
    QColorQuantizer& operator=(const QColorQuantizer&) = delete;

    /// Stops any running job, then runs the stored job (source, type, format) on a new worker; its
    /// result goes to `completion` unless the job is stopped first.
    void Start();
    /// Ends a running job cooperatively and waits for it; a stopped job never completes.
    void Stop();
    bool Running() const { return running.load(); }
    /// True while `job` is the latest job started and not stopped.
    bool IsCurrent(uint64_t job) const { return generation->load() == job; }
    /// Lets a completion tell whether the service still exists when it runs.
    std::weak_ptr<std::atomic<uint64_t>> Generation() const { return generation; }

    /// Runs one conversion on the calling thread; `report` (when set) receives the failure message.
    ConvertResult ConvertImage(const ImagePtr& source, int type, imaging::PixelFormat format, bool dither,
                               std::stop_token stop = {});
    /// The same, reporting a failure through `report` and giving just the bitmap.
    ImagePtr ConvertImage(const ImagePtr& source, int type, imaging::PixelFormat format, bool dither,
                          const std::function<void(const std::string&)>& report);

    // The job, as set up before Start.
    bool dither = true;
    ImagePtr source;
    int jobType = JobPnnRgb;
    imaging::PixelFormat targetFormat = imaging::PixelFormat8bppIndexed;
    Completion completion;

    QuantizerState state;

  private:
    std::jthread worker;
    std::atomic<bool> running{false};
    std::shared_ptr<std::atomic<uint64_t>> generation = std::make_shared<std::atomic<uint64_t>>(0);
};

} // namespace zerimo
