#include "ops/Adjustments.h"
#include "imaging/ImageAttributes.h"
#include "ops/ColorMatrixOps.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace imaging;
using namespace zerimo;

/// [r g b a 1] x m for a colour in 0..1.
void Apply(const ColorMatrix& m, const float in[4], float out[4]) {
    for (int j = 0; j < 4; ++j)
        out[j] = in[0] * m.m[0][j] + in[1] * m.m[1][j] + in[2] * m.m[2][j] + in[3] * m.m[3][j] + m.m[4][j];
}

void ExpectNear(const ColorMatrix& a, const ColorMatrix& b, float eps) {
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(a.m[i][j], b.m[i][j], eps) << i << "," << j;
}

TEST(ColorMatrixOps, ProductsKeepTheFifthColumnAndFollowTheOrder) {
    ColorMatrix m, n;
    m.m[0][4] = 7.0f; // column 4 is not computed
    m.m[0][1] = 2.0f;
    n.m[1][0] = 3.0f;
    ColorMatrix append = m, prepend = m;
    ColorMatrixOps::Multiply(append, n, MatrixOrder::Append);   // m x n
    ColorMatrixOps::Multiply(prepend, n, MatrixOrder::Prepend); // n x m
    EXPECT_FLOAT_EQ(append.m[0][0], 1 + 2 * 3.0f);
    EXPECT_FLOAT_EQ(prepend.m[0][0], 1.0f);
    EXPECT_FLOAT_EQ(prepend.m[1][1], 1 + 3 * 2.0f);
    EXPECT_FLOAT_EQ(append.m[0][4], 7.0f);
    EXPECT_FLOAT_EQ(prepend.m[0][4], 7.0f);
    EXPECT_FLOAT_EQ(kPi, float(4.0 * std::atan(1.0)));
}

TEST(ColorMatrixOps, RotationAndShearPlaceTheirTerms) {
    ColorMatrix r;
    ColorMatrixOps::Rotate(r, 90.0f, 0, 2, MatrixOrder::Append);
    EXPECT_NEAR(r.m[0][0], 0.0f, 1e-6);
    EXPECT_FLOAT_EQ(r.m[2][0], 1.0f);  // R[b][a] = sin
    EXPECT_FLOAT_EQ(r.m[0][2], -1.0f); // R[a][b] = -sin
    ColorMatrix s;
    ColorMatrixOps::Shear(s, 0.25f, -0.5f, MatrixOrder::Append);
    EXPECT_FLOAT_EQ(s.m[0][2], 0.25f);
    EXPECT_FLOAT_EQ(s.m[1][2], -0.5f);
}

TEST(FilterMatrix, DefaultsGiveTheIdentity) {
    ExpectNear(FilterMatrix(1.0f, 0.0f, 1.0f, 0.0f), ColorMatrix{}, 1e-5f);
}

TEST(FilterMatrix, ContrastScalesAboutZeroAndBrightnessShifts) {
    const ColorMatrix m = FilterMatrix(2.0f, 0.25f, 1.0f, 0.0f);
    const float in[4] = {0.1f, 0.2f, 0.3f, 0.6f};
    float out[4];
    Apply(m, in, out);
    EXPECT_NEAR(out[0], 0.45f, 1e-5);
    EXPECT_NEAR(out[1], 0.65f, 1e-5);
    EXPECT_NEAR(out[2], 0.85f, 1e-5);
    EXPECT_NEAR(out[3], 0.6f, 1e-6); // alpha is never touched
}

TEST(FilterMatrix, SaturationZeroIsTheWeightedGrey) {
    const ColorMatrix m = FilterMatrix(1.0f, 0.0f, 0.0f, 0.0f);
    const float in[4] = {0.9f, 0.4f, 0.1f, 1.0f};
    float out[4];
    Apply(m, in, out);
    const float grey = 0.3086f * 0.9f + 0.6094f * 0.4f + 0.0820f * 0.1f;
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(out[c], grey, 1e-5) << c;
}

TEST(FilterMatrix, HueAtPlusAndMinus180IsOneRotation) {
    ExpectNear(FilterMatrix(1, 0, 1, 180.0f), FilterMatrix(1, 0, 1, -180.0f), 1e-5f);
    // A turn of the hue moves red towards other hues but keeps alpha.
    const ColorMatrix m = FilterMatrix(1, 0, 1, 120.0f);
    const float red[4] = {1, 0, 0, 0.5f};
    float out[4];
    Apply(m, red, out);
    EXPECT_LT(out[0], 0.5f);
    EXPECT_NEAR(out[3], 0.5f, 1e-6);
}

TEST(Matrices, BalanceSepiaAndNegate) {
    const ColorMatrix b = BalanceMatrix(255, -255, 51, 50);
    EXPECT_FLOAT_EQ(b.m[4][0], 1.0f);
    EXPECT_FLOAT_EQ(b.m[4][1], -1.0f);
    EXPECT_FLOAT_EQ(b.m[4][2], float(51.0 / 255.0));
    EXPECT_FLOAT_EQ(b.m[3][3], 0.5f);
    EXPECT_FLOAT_EQ(b.m[0][0], 1.0f);
    const ColorMatrix s = SepiaMatrix();
    EXPECT_FLOAT_EQ(s.m[1][0], 0.769f);
    EXPECT_FLOAT_EQ(s.m[0][2], 0.272f);
    const ColorMatrix n = NegateMatrix();
    const float in[4] = {0.25f, 0.5f, 1.0f, 0.3f};
    float out[4];
    Apply(n, in, out);
    EXPECT_FLOAT_EQ(out[0], 0.75f);
    EXPECT_FLOAT_EQ(out[1], 0.5f);
    EXPECT_FLOAT_EQ(out[2], 0.0f);
    EXPECT_FLOAT_EQ(out[3], 0.3f);
}

TEST(SliderSet, LabelsValuesAndReset) {
    SliderSet f(FilterSliders());
    const char* defaults[] = {"1.00", "0.00", "1.00", "0", "1.00"};
    const int32_t ids[] = {IDC_CONTRAST, IDC_BRIGHTNESS, IDC_SATURATION, IDC_HUE, IDC_GAMMA};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(f.Label(ids[i]), defaults[i]);
    EXPECT_FALSE(f.AnyChanged());
    f.SetPosition(IDC_BRIGHTNESS, -7);
    EXPECT_EQ(f.Label(IDC_BRIGHTNESS), "-0.35");
    EXPECT_TRUE(f.AnyChanged());
    f.SetPosition(IDC_HUE, -1000); // a track bar holds its range
    EXPECT_EQ(f.Label(IDC_HUE), "-180");
    EXPECT_FLOAT_EQ(f.Value(IDC_HUE), -180.0f);
    f.SetPosition(IDC_HUE, 1);
    EXPECT_FLOAT_EQ(f.Value(IDC_HUE), 4.0f); // steps of 4 degrees
    EXPECT_FLOAT_EQ(f.Value(1234), 0.0f);
    EXPECT_FALSE(f.SetPosition(1234, 3));
    f.ResetSliders();
    EXPECT_FALSE(f.AnyChanged());

    SliderSet b(BalanceSliders());
    EXPECT_EQ(b.Label(IDC_BAL_ALPHA), "100");
    b.SetPosition(IDC_BAL_RED, -255);
    EXPECT_EQ(b.Label(IDC_BAL_RED), "-255");
    SliderSet blur(BlurSliders());
    EXPECT_EQ(blur.Label(IDC_BLUR_RADIUS), "0.70");
    EXPECT_EQ(blur.Label(IDC_BLUR_DEPTH), "0.80");
    EXPECT_TRUE(SliderSet::Notifies(5));
    EXPECT_FALSE(SliderSet::Notifies(TB_THUMBPOSITION));
    EXPECT_FALSE(SliderSet::Notifies(TB_ENDTRACK));
}

TEST(CBlurSharpState, DepthFollowsTheModeAndTheMaskTheCheckBox) {
    CBlurSharpState s;
    EXPECT_FALSE(s.depthEnabled);
    s.SelectMode(1);
    EXPECT_TRUE(s.depthEnabled);
    s.SelectMode(0);
    EXPECT_FALSE(s.depthEnabled);
    EXPECT_EQ(s.Mask(), 7u);
    s.luminanceOnly = true;
    EXPECT_EQ(s.Mask(), 2u);
    EXPECT_FALSE(s.CancelEnabled());
    s.sliders.SetPosition(IDC_BLUR_RADIUS, 9);
    EXPECT_TRUE(s.CancelEnabled());
}

struct Pending {
    ImageAttributes attributes;
    int pending = 0;
    bool transparency = false;
    PendingAdjustment Get() { return {attributes, pending, transparency}; }
};

TEST(ViewHandlers, FilterChangesSetResetAndAskForBlurJobs) {
    CAdjustmentState v;
    Pending p;
    // No Filter window: nothing is set, but the pending flag is not cleared either.
    EXPECT_FALSE(OnFilterChanged(IDC_CONTRAST, v, p.Get()));
    EXPECT_FALSE(p.attributes.Adjustment(ColorAdjustTypeDefault).Any());
    v.filterWindow = true;
    EXPECT_FALSE(OnFilterChanged(IDC_CONTRAST, v, p.Get()));
    EXPECT_EQ(p.pending, 1); // all defaults still count as pending
    EXPECT_TRUE(p.attributes.Adjustment(ColorAdjustTypeDefault).gammaEnabled);
    v.filter.SetPosition(IDC_GAMMA, 40);
    OnFilterChanged(IDC_GAMMA, v, p.Get());
    EXPECT_FLOAT_EQ(p.attributes.Adjustment(ColorAdjustTypeDefault).gamma, 2.0f);
    v.blurWindow = true;
    for (uint32_t w : {1065u, 1066u, 1067u, 1069u}) EXPECT_TRUE(OnFilterChanged(w, v, p.Get()));
    v.blur.sliders.SetPosition(IDC_BLUR_RADIUS, 30);
    EXPECT_FALSE(OnFilterChanged(0, v, p.Get()));
    EXPECT_EQ(p.pending, 0);
    EXPECT_FALSE(p.attributes.Adjustment(ColorAdjustTypeDefault).Any());
    EXPECT_FALSE(v.filter.AnyChanged());
    EXPECT_FALSE(v.blur.sliders.AnyChanged());
}

TEST(ViewHandlers, BalanceReplacesTheMatrixKeepsGammaAndSetsTransparency) {
    CAdjustmentState v;
    Pending p;
    EXPECT_FALSE(OnBalanceChanged(IDC_BAL_RED, v, p.Get()));
    v.filterWindow = v.balanceWindow = true;
    v.filter.SetPosition(IDC_GAMMA, 10);
    v.filter.SetPosition(IDC_CONTRAST, 40);
    OnFilterChanged(IDC_CONTRAST, v, p.Get());
    v.balance.SetPosition(IDC_BAL_RED, 10);
    EXPECT_TRUE(OnBalanceChanged(IDC_BAL_RED, v, p.Get()));
    const ColorAdjustment& a = p.attributes.Adjustment(ColorAdjustTypeDefault);
    EXPECT_FLOAT_EQ(a.matrix.m[0][0], 1.0f); // the contrast is gone
    EXPECT_FLOAT_EQ(a.gamma, 0.5f);          // the gamma stays
    v.balance.SetPosition(IDC_BAL_RED, 0);
    OnBalanceChanged(IDC_BAL_RED, v, p.Get());
    EXPECT_FALSE(p.transparency);
    v.balance.SetPosition(IDC_BAL_ALPHA, 99);
    OnBalanceChanged(IDC_BAL_ALPHA, v, p.Get());
    EXPECT_TRUE(p.transparency);
    OnBalanceChanged(0, v, p.Get());
    EXPECT_TRUE(p.transparency); // Reset does not clear it
    EXPECT_EQ(p.pending, 1);
    EXPECT_FALSE(p.attributes.Adjustment(ColorAdjustTypeDefault).Any());
    EXPECT_FALSE(v.balance.AnyChanged());
}

TEST(ViewHandlers, NegateTwiceClearsEverythingAndBalanceResetRemovesIt) {
    CAdjustmentState v;
    Pending p;
    v.filterWindow = true;
    v.filter.SetPosition(IDC_SATURATION, 0);
    OnFilterChanged(IDC_SATURATION, v, p.Get());
    ToggleNegate(v.negateOn, p.Get());
    EXPECT_EQ(v.negateOn, -1);
    EXPECT_FLOAT_EQ(p.attributes.Adjustment(ColorAdjustTypeDefault).matrix.m[0][0], -1.0f);
    ToggleNegate(v.negateOn, p.Get());
    EXPECT_EQ(v.negateOn, 0);
    EXPECT_EQ(p.pending, 1);
    EXPECT_FALSE(p.attributes.Adjustment(ColorAdjustTypeDefault).Any());
    ToggleNegate(v.negateOn, p.Get());
    v.balanceWindow = true;
    OnBalanceChanged(0, v, p.Get());
    EXPECT_FALSE(p.attributes.Adjustment(ColorAdjustTypeDefault).Any());
    EXPECT_EQ(v.negateOn, -1); // the check mark follows Negate alone
}

} // namespace
