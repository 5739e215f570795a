#pragma once
/// Soften: an edge-preserving anisotropic diffusion of a 24- or 32-bit copy of an image. It is the
/// work of the colour-reduction worker's job types 5 to 7 (SoftenSmall/Medium/Large below).

#include "imaging/Image.h"

#include <atomic>
#include <memory>

namespace zerimo {

/// The numbers of one soften strength: diffusion passes, step λ and edge threshold K.
struct SoftenParams {
    int iterations;
    double lambda;
    double K;
};
inline constexpr SoftenParams SoftenSmall{2, 0.003, 4.0};  // job type 5
inline constexpr SoftenParams SoftenMedium{10, 0.02, 4.0}; // job type 6
inline constexpr SoftenParams SoftenLarge{20, 0.05, 3.0};  // job type 7
/// The parameters of colour-reduction job type 5, 6 or 7; null for any other type.
const SoftenParams* SoftenParamsForJob(int jobType);

/// Returns a softened copy of `image` in `format` (24bppRGB or 32bppARGB): `iterations` in-place
/// passes over the inner pixels of the colour channels; border pixels and alpha are unchanged.
/// Returns `image` itself when the copy cannot be made or locked (that is the failure), and also
/// when `cancel` is set while it runs (it is read once per row). Safe to call on a worker thread:
/// it only reads `image`.
std::shared_ptr<imaging::Image> SoftenImage(const std::shared_ptr<imaging::Image>& image,
                                            imaging::PixelFormat format, int iterations, double lambda,
                                            double K, const std::atomic<bool>* cancel = nullptr);

} // namespace zerimo
