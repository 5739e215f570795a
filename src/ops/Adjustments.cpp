#include "ops/Adjustments.h"

#include "ops/ColorMatrixOps.h"

#include <algorithm>
#include <cstdio>

namespace zerimo {

using namespace imaging;

const std::vector<SliderSpec>& FilterSliders() {
    static const std::vector<SliderSpec> rows = {
        {IDC_CONTRAST, 1039, 4, 80, 20, 0.05f, 2},   {IDC_BRIGHTNESS, 1041, -20, 20, 0, 0.05f, 2},
        {IDC_SATURATION, 1043, 0, 60, 20, 0.05f, 2}, {IDC_HUE, 1045, -45, 45, 0, 4.0f, 0},
        {IDC_GAMMA, 1048, 4, 80, 20, 0.05f, 2},
    };
    return rows;
}

const std::vector<SliderSpec>& BalanceSliders() {
    static const std::vector<SliderSpec> rows = {
        {IDC_BAL_RED, 1056, -255, 255, 0, 1.0f, 0},
        {IDC_BAL_GREEN, 1058, -255, 255, 0, 1.0f, 0},
        {IDC_BAL_BLUE, 1060, -255, 255, 0, 1.0f, 0},
        {IDC_BAL_ALPHA, 1062, 0, 100, 100, 1.0f, 0},
    };
    return rows;
}

const std::vector<SliderSpec>& BlurSliders() {
    static const std::vector<SliderSpec> rows = {
        {IDC_BLUR_RADIUS, 1068, 0, 80, 7, 0.1f, 2},
        {IDC_BLUR_DEPTH, 1070, 0, 40, 8, 0.1f, 2},
    };
    return rows;
}

SliderSet::SliderSet(const std::vector<SliderSpec>& specs) : specs_(specs) {
    ResetSliders();
}

const SliderSpec* SliderSet::Find(int32_t id) const {
    for (const SliderSpec& s : specs_)
        if (s.sliderId == id) return &s;
    return nullptr;
}

int32_t SliderSet::Position(int32_t id) const {
    for (size_t i = 0; i < specs_.size(); ++i)
        if (specs_[i].sliderId == id) return positions_[i];
    return 0;
}

bool SliderSet::SetPosition(int32_t id, int32_t position) {
    for (size_t i = 0; i < specs_.size(); ++i)
        if (specs_[i].sliderId == id) {
            positions_[i] = std::clamp(position, specs_[i].minimum, specs_[i].maximum);
            return true;
        }
    return false;
}

float SliderSet::Value(int32_t id) const {
    const SliderSpec* s = Find(id);
    return s ? float(Position(id)) * s->scale : 0.0f;
}

std::string SliderSet::Label(int32_t id) const {
    const SliderSpec* s = Find(id);
    if (!s) return {};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%0.*f", int(s->decimals), double(Value(id)));
    return buf;
}

void SliderSet::ResetSliders() {
    positions_.clear();
    for (const SliderSpec& s : specs_) positions_.push_back(s.defaultPosition);
}

bool SliderSet::AnyChanged() const {
    for (size_t i = 0; i < specs_.size(); ++i)
        if (positions_[i] != specs_[i].defaultPosition) return true;
    return false;
}

void CBlurSharpState::SelectMode(int index) {
    selection = index == 1 ? 1 : 0;
    radiusEnabled = true;
    depthEnabled = selection == 1;
    luminanceEnabled = true;
}

void SetFilterAdjustment(const SliderSet& f, PendingAdjustment p) {
    const ColorMatrix m = FilterMatrix(f.Value(IDC_CONTRAST), f.Value(IDC_BRIGHTNESS),
                                       f.Value(IDC_SATURATION), f.Value(IDC_HUE));
    p.displayAttributes.SetColorMatrix(&m, ColorMatrixFlagsDefault, ColorAdjustTypeDefault);
    p.displayAttributes.SetGamma(f.Value(IDC_GAMMA), ColorAdjustTypeDefault);
    p.adjustmentsPending = 1;
}

bool OnFilterChanged(uint32_t w, CAdjustmentState& view, PendingAdjustment p) {
    if (w == 0) {
        p.displayAttributes.Reset(ColorAdjustTypeDefault);
        p.adjustmentsPending = 0;
    }
    if (view.blurWindow) {
        if (w == 0) view.blur.sliders.ResetSliders();
        if (w == IDC_BLUR_MODE || w == IDC_BLUR_LUMINANCE || w == IDC_BLUR_RADIUS || w == IDC_BLUR_DEPTH)
            return true;
    }
    if (view.filterWindow) {
        if (w == 0)
            view.filter.ResetSliders();
        else
            SetFilterAdjustment(view.filter, p);
    }
    return false;
}

bool OnBalanceChanged(uint32_t w, CAdjustmentState& view, PendingAdjustment p) {
    if (!view.balanceWindow) return false;
    const SliderSet& b = view.balance;
    if (w != 0) {
        const ColorMatrix m = BalanceMatrix(b.Position(IDC_BAL_RED), b.Position(IDC_BAL_GREEN),
                                            b.Position(IDC_BAL_BLUE), b.Position(IDC_BAL_ALPHA));
        p.displayAttributes.SetColorMatrix(&m, ColorMatrixFlagsDefault, ColorAdjustTypeDefault);
        if (!p.hasTransparency && b.Position(IDC_BAL_ALPHA) < 100) p.hasTransparency = true;
    } else {
        view.balance.ResetSliders();
        p.displayAttributes.Reset(ColorAdjustTypeDefault);
    }
    p.adjustmentsPending = 1;
    return true;
}

void ToggleNegate(int& negateOn, PendingAdjustment p) {
    const int old = negateOn;
    negateOn = ~old;
    if (old == 0) {
        const ColorMatrix m = NegateMatrix();
        p.displayAttributes.SetColorMatrix(&m, ColorMatrixFlagsDefault, ColorAdjustTypeDefault);
    } else {
        p.displayAttributes.Reset(ColorAdjustTypeDefault);
    }
    p.adjustmentsPending = 1;
}

void SetSepiaAdjustment(PendingAdjustment p) {
    const ColorMatrix m = SepiaMatrix();
    p.displayAttributes.SetColorMatrix(&m, ColorMatrixFlagsDefault, ColorAdjustTypeDefault);
    p.adjustmentsPending = 1;
}

} // namespace zerimo
