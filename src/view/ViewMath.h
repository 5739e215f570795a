#pragma once
/// The view's arithmetic without any window: the two maps between zoom-slider positions and zoom
/// factors, fitting, scroll sizes, the status texts, where one paint puts the image, the drop
/// shadow's corner and the printed page's rectangle.

#include <cstdint>
#include <string>

namespace zerimo {

/// A rectangle by its edges, as the selection and the tracker are kept.
struct IntRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool IsEmpty() const { return right <= left || bottom <= top; }
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    void SetEmpty() { left = top = right = bottom = 0; }
    /// left <= right and top <= bottom.
    void Normalize();
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    friend bool operator==(const IntRect&, const IntRect&) = default;
};

/// Slider range of the zoom pane.
constexpr int kZoomSliderMin = 10, kZoomSliderMax = 140, kZoomSliderPage = 10, kZoomSliderStart = 70;

/// Slider position to zoom: four linear pieces, the first divided in single precision.
double PositionToZoom(int position);
/// Zoom to slider position, truncating; the thresholds are the single-precision 0.4 and 0.8.
int ZoomToPosition(double zoom);

/// The zoom that fits a w x h image into a cw x ch client; false (zoom untouched) when any of them
/// is 10 or less.
bool FitZoom(double w, double h, double cw, double ch, double& zoom);

/// Total scroll size: trunc(w x zoom) by trunc(h x zoom), or 100 x 100 without an image.
void ScrollSizes(bool imageLoaded, uint32_t w, uint32_t h, double zoom, int& totalW, int& totalH);

/// "%6d%%" of trunc(zoom x 100) taken to 16 bits.
std::string ZoomText(double zoom);
/// "%d × %d".
std::string SizeText(int w, int h);

/// Where one paint draws the image: source rectangle in image pixels, destination in client pixels.
struct PaintGeometry {
    float srcX = 0, srcY = 0, srcW = 0, srcH = 0;
    float dstX = 0, dstY = 0, dstW = 0, dstH = 0;
    /// The client position of image pixel (0, 0) as drawn: the destination moved back by the part
    /// of the image scrolled away.
    float originX = 0, originY = 0;
};

/// The destination and source of the image for scroll position (sx, sy) in a cw x ch client; in
/// full screen a narrower image is centred horizontally (never vertically).
PaintGeometry ComputePaintGeometry(uint32_t w, uint32_t h, double zoom, int sx, int sy, int cw, int ch,
                                   bool fullScreen);

/// The far corner (W', H') of the drop shadow polygon for a W x H zoomed image.
void ShadowCorner(int W, int H, int& cornerW, int& cornerH);
/// Opacity 0..1 of the shadow at (x, y): the path gradient of the rectangle (4, 4)-(W', H') whose
/// edge is transparent and which reaches the shadow colour a tenth of the way to the centre.
float ShadowCoverage(float x, float y, int cornerW, int cornerH);

/// The printed rectangle: the image fitted into the printable area keeping its own proportions.
void PrintRectangle(uint32_t imageW, uint32_t imageH, int printableW, int printableH, int& outW, int& outH);

/// The view's zoom and selection, and the slider bookkeeping that tells a moved slider from one
/// that only shows a zoom it cannot represent exactly.
class CViewState {
  public:
    double zoom = 1.0;
    double zoomStep = 0.1;
    double zoomMax = 8.0;
    double zoomMin = 0.1;
    IntRect selection; // zoomed-image pixels
    IntRect tracker;   // client pixels

    /// One step in or out within the bounds.
    void ZoomIn();
    void ZoomOut();
    /// Fits the image into the client; false when the sizes are too small to fit.
    bool Fit(uint32_t w, uint32_t h, int cw, int ch);

    /// The slider position the current zoom stands for.
    int PositionForZoom() const;
    /// After a zoom change that did not come from the slider: true with the position to send when
    /// the slider shows another one (the selection is then emptied).
    bool SyncSlider(int sliderPosition, int& position);
    /// The idle check of the zoom pane: when the slider shows another position than the zoom
    /// stands for, the zoom follows the slider (selection emptied) and true is returned.
    bool FollowSlider(int sliderPosition);

    void ClearSelection() {
        selection.SetEmpty();
        tracker.SetEmpty();
    }

  private:
    int appliedPosition = -1;
    double appliedZoom = -1;
};

} // namespace zerimo
