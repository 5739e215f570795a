#include "view/ViewMath.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zerimo {

void IntRect::Normalize() {
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
}

double PositionToZoom(int p) {
    if (p < 30) return double(float(p) / 100.0f);
    if (p < 50) return (p - 10) / 50.0;
    if (p < 70) return (p + 30) / 100.0;
    return p / 10.0 - 6;
}

int ZoomToPosition(double z) {
    // The thresholds are single-precision constants widened, so exactly 0.4 still takes the first row.
    if (z < double(0.4f)) return int(z * 100);
    if (z < double(0.8f)) return 10 + int(z * 50);
    if (z < 1.0) return int(z * 100) - 30;
    return 60 + int(z * 10);
}

bool FitZoom(double w, double h, double cw, double ch, double& zoom) {
    if (w <= 10 || h <= 10 || cw <= 10 || ch <= 10) return false;
    zoom = w * (ch / h) > cw ? cw / w : ch / h;
    return true;
}

void ScrollSizes(bool imageLoaded, uint32_t w, uint32_t h, double zoom, int& totalW, int& totalH) {
    if (!imageLoaded) {
        totalW = totalH = 100;
        return;
    }
    totalW = int(std::min(double(INT32_MAX), std::trunc(w * zoom)));
    totalH = int(std::min(double(INT32_MAX), std::trunc(h * zoom)));
}

std::string ZoomText(double zoom) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%6d%%", int(int16_t(int64_t(zoom * 100))));
    return buf;
}

std::string SizeText(int w, int h) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d \xC3\x97 %d", w, h);
    return buf;
}

PaintGeometry ComputePaintGeometry(uint32_t w, uint32_t h, double zoom, int sx, int sy, int cw, int ch,
                                   bool fullScreen) {
    PaintGeometry g;
    const float SW = float(w * zoom), SH = float(h * zoom);
    g.srcW = float(w), g.srcH = float(h);
    g.dstW = SW, g.dstH = SH;
    if (SW > float(cw)) {
        g.dstW = SW - float(sx);
        g.srcX = float(sx / zoom);
        g.srcW = float(w - sx / zoom);
        g.originX = -float(sx);
    }
    if (SH > float(ch)) {
        g.dstH = SH - float(sy);
        g.srcY = float(sy / zoom);
        g.srcH = float(h - sy / zoom);
        g.originY = -float(sy);
    }
    if (fullScreen && float(cw) > g.dstW) {
        g.dstX = (float(cw) - g.dstW) * 0.5f;
        g.originX += g.dstX;
    }
    return g;
}

void ShadowCorner(int W, int H, int& cornerW, int& cornerH) {
    cornerW = int(std::min(double(W) + 12, W * 1.1));
    cornerH = int(std::min(double(H) + 12, H * 1.1));
}

float ShadowCoverage(float x, float y, int cornerW, int cornerH) {
    const float hw = (cornerW - 4) * 0.5f, hh = (cornerH - 4) * 0.5f;
    if (hw <= 0 || hh <= 0) return 0;
    const float cx = 4 + hw, cy = 4 + hh;
    const float s = std::max(std::fabs(x - cx) / hw, std::fabs(y - cy) / hh);
    if (s >= 1) return 0;
    // Blend stops: 0 at the edge (transparent), the full shadow from a tenth of the way inwards.
    const float t = 1 - s;
    return std::min(1.0f, t / 0.1f);
}

void PrintRectangle(uint32_t imageW, uint32_t imageH, int printableW, int printableH, int& outW, int& outH) {
    outW = outH = 0;
    if (imageW == 0 || imageH == 0 || printableW <= 0 || printableH <= 0) return;
    if (int64_t(imageW) * printableH > int64_t(imageH) * printableW) {
        outW = printableW;
        outH = int(int64_t(imageH) * printableW / imageW);
    } else {
        outH = printableH;
        outW = int(int64_t(imageW) * printableH / imageH);
    }
}

// ---- CViewState ----------------------------------------------------------------------------------

void CViewState::ZoomIn() {
    zoom = std::min(zoom + zoomStep, zoomMax);
}

void CViewState::ZoomOut() {
    zoom = std::max(zoom - zoomStep, zoomMin);
}

bool CViewState::Fit(uint32_t w, uint32_t h, int cw, int ch) {
    return FitZoom(w, h, cw, ch, zoom);
}

int CViewState::PositionForZoom() const {
    // A zoom that came from the slider stands for the position it came from, even where the two
    // maps do not take each other back exactly (29 gives 0.29f, which maps to 28).
    if (appliedPosition >= 0 && zoom == appliedZoom) return appliedPosition;
    return ZoomToPosition(zoom);
}

bool CViewState::SyncSlider(int sliderPosition, int& position) {
    position = PositionForZoom();
    if (position == sliderPosition) return false;
    ClearSelection();
    return true;
}

bool CViewState::FollowSlider(int sliderPosition) {
    if (PositionForZoom() == sliderPosition) return false;
    zoom = PositionToZoom(sliderPosition);
    appliedPosition = sliderPosition;
    appliedZoom = zoom;
    ClearSelection();
    return true;
}

} // namespace zerimo
