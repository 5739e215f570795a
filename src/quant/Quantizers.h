#pragma once
/// The colour-reduction methods. Each reads the source through the pixel bridge and writes into a
/// target bitmap that the front end created in the target format; `n` is the colour count, which a
/// method may lower to the count it produced. False when the target could not be written (or the
/// run was stopped).

#include "imaging/Image.h"
#include "quant/QuantizerState.h"

namespace zerimo {

/// Pairwise nearest-neighbour merging of colour bins in RGB, Gilbert-curve dithering.
bool PnnQuantize(imaging::Image& source, imaging::Image& target, uint32_t& n, bool dither, QuantRun& run);
/// The same scheme in CIELAB with a CIEDE2000 blend, saliency-steered dithering.
bool PnnLabQuantize(imaging::Image& source, imaging::Image& target, uint32_t& n, bool dither, QuantRun& run);
/// Otsu's threshold to black and white, then the ditherer; `target` is 1 bit per pixel.
bool OtsuQuantize(imaging::Image& source, imaging::Image& target, bool dither, QuantRun& run);
/// Spatial colour quantization by multiscale mean-field annealing.
bool SpatialQuantize(imaging::Image& source, imaging::Image& target, uint32_t& n, bool dither, QuantRun& run);
/// The edge-aware spatial quantizer (bilateral kernels, iterated conditional modes).
bool EdgeAwareQuantize(imaging::Image& source, imaging::Image& target, uint32_t& n, bool dither,
                       QuantRun& run);

/// Otsu's threshold of a histogram: the first of thresholds 1..254 with the largest between-class
/// variance, 0 when every variance is 0.
int OtsuThreshold(const uint32_t (&histogram)[256]);

/// The divisive clustering palette: fills entries 0 .. palette.Count() - 1.
void BuildDivisivePalette(const imaging::ARGB* pixels, size_t count, imaging::ColorPalette& palette,
                          FlatMap<LabColor>& labCache);

} // namespace zerimo
