// The view's arithmetic: slider maps, fitting, the slider bookkeeping, texts, paint geometry.

#include "view/ViewMath.h"

#include <gtest/gtest.h>

using namespace zerimo;

TEST(ZoomMaps, PositionToZoomPieces) {
    const struct {
        int position;
        double zoom;
    } cases[] = {
        {10, double(0.1f)}, {29, double(0.29f)}, {30, 0.4}, {49, 0.78}, {50, 0.8},
        {69, 0.99},         {70, 1.0},           {71, 1.1}, {140, 8.0},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(PositionToZoom(c.position), c.zoom) << c.position;
    // Single-precision division: 29 / 100 is not the double 0.29.
    EXPECT_NE(PositionToZoom(29), 0.29);
}

TEST(ZoomMaps, ZoomToPositionThresholdsAreSinglePrecision) {
    const struct {
        double zoom;
        int position;
    } cases[] = {
        {0.1, 10},  {0.29, 28}, {0.3, 30},  {0.4, 40}, // 0.4 is below 0.4f: first row
        {0.41, 30}, {0.79, 49}, {0.8, 50},  {0.81, 51},  {0.99, 69},
        {1.0, 70},  {1.1, 71},  {8.0, 140}, {10.0, 160},
    };
    for (const auto& c : cases) EXPECT_EQ(ZoomToPosition(c.zoom), c.position) << c.zoom;
}

TEST(ZoomMaps, MapsAreNotInversesEverywhere) {
    for (int p : {11, 29, 30, 71, 122}) EXPECT_NE(ZoomToPosition(PositionToZoom(p)), p) << p;
    for (int p : {10, 70, 140}) EXPECT_EQ(ZoomToPosition(PositionToZoom(p)), p) << p;
}

TEST(Fit, WidthOrHeightDecides) {
    double zoom = 1;
    ASSERT_TRUE(FitZoom(100, 50, 1000, 800, zoom));
    EXPECT_DOUBLE_EQ(zoom, 10.0); // 800/50 would make it 1600 wide
    ASSERT_TRUE(FitZoom(6000, 4000, 1200, 600, zoom));
    EXPECT_DOUBLE_EQ(zoom, 0.15);
    zoom = 3;
    EXPECT_FALSE(FitZoom(10, 10, 1000, 800, zoom)); // sizes must exceed 10
    EXPECT_FALSE(FitZoom(100, 100, 10, 800, zoom));
    EXPECT_DOUBLE_EQ(zoom, 3);
}

TEST(ViewState, FitBeyondTheSliderIsPulledBackAtTheNextIdleCheck) {
    CViewState s;
    ASSERT_TRUE(s.Fit(100, 50, 1000, 800));
    int position = 0;
    ASSERT_TRUE(s.SyncSlider(70, position));
    EXPECT_EQ(position, 160);
    const int slider = std::min(position, kZoomSliderMax); // the slider clamps
    EXPECT_TRUE(s.FollowSlider(slider));
    EXPECT_DOUBLE_EQ(s.zoom, 8.0);
    EXPECT_FALSE(s.FollowSlider(slider));
}

TEST(ViewState, StepsHaveInclusiveBounds) {
    CViewState s;
    s.zoom = 7.95;
    s.ZoomIn();
    EXPECT_DOUBLE_EQ(s.zoom, 8.0);
    s.zoom = 0.15;
    s.ZoomOut();
    EXPECT_DOUBLE_EQ(s.zoom, 0.1);
}

TEST(ViewState, ASliderPositionThatDoesNotMapBackIsStable) {
    for (int p : {11, 29, 30, 71, 122}) {
        CViewState s;
        EXPECT_TRUE(s.FollowSlider(p)) << p;
        EXPECT_DOUBLE_EQ(s.zoom, PositionToZoom(p));
        EXPECT_FALSE(s.FollowSlider(p)) << p; // no refit at every idle update
        int position = 0;
        EXPECT_FALSE(s.SyncSlider(p, position)) << p;
    }
}

TEST(ViewState, ZoomChangeThatMovesTheSliderEmptiesTheSelection) {
    CViewState s;
    s.selection = {10, 10, 110, 60};
    s.ZoomIn();
    int position = 0;
    EXPECT_TRUE(s.SyncSlider(70, position));
    EXPECT_TRUE(s.selection.IsEmpty());
    EXPECT_EQ(position, 71);
}

TEST(Texts, ZoomAndSizePanes) {
    EXPECT_EQ(ZoomText(1.0), "   100%");
    EXPECT_EQ(ZoomText(0.155), "    15%");
    EXPECT_EQ(ZoomText(8.0), "   800%");
    EXPECT_EQ(SizeText(6000, 4000), "6000 \xC3\x97 4000");
}

TEST(Scroll, SizesFollowTheZoomedImage) {
    int w = 0, h = 0;
    ScrollSizes(false, 6000, 4000, 2.0, w, h);
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 100);
    ScrollSizes(true, 333, 101, 1.5, w, h);
    EXPECT_EQ(w, 499);
    EXPECT_EQ(h, 151);
}

TEST(PaintGeometry, ScrolledAndCentred) {
    // Wider than the client: the source starts at the scroll position over the zoom.
    PaintGeometry g = ComputePaintGeometry(1000, 500, 2.0, 300, 0, 800, 1200, false);
    EXPECT_FLOAT_EQ(g.srcX, 150);
    EXPECT_FLOAT_EQ(g.srcW, 850);
    EXPECT_FLOAT_EQ(g.dstW, 1700);
    EXPECT_FLOAT_EQ(g.originX, -300);
    EXPECT_FLOAT_EQ(g.dstH, 1000);
    // Full screen: a narrow image is centred horizontally, never vertically.
    g = ComputePaintGeometry(100, 400, 1.0, 0, 0, 800, 600, true);
    EXPECT_FLOAT_EQ(g.dstX, 350);
    EXPECT_FLOAT_EQ(g.dstY, 0);
    EXPECT_FLOAT_EQ(g.originX, 350);
}

TEST(Shadow, BandOfUpToTwelvePixels) {
    int cw = 0, ch = 0;
    ShadowCorner(1000, 500, cw, ch);
    EXPECT_EQ(cw, 1012);
    EXPECT_EQ(ch, 512);
    ShadowCorner(50, 50, cw, ch);
    EXPECT_EQ(cw, 55);
    EXPECT_EQ(ch, 55);
    // Transparent at the polygon's edge, full a tenth of the way in.
    EXPECT_FLOAT_EQ(ShadowCoverage(1012, 250, 1012, 512), 0);
    EXPECT_FLOAT_EQ(ShadowCoverage(508, 258, 1012, 512), 1);
    const float mid = ShadowCoverage(1006, 258, 1012, 512);
    EXPECT_GT(mid, 0);
    EXPECT_LT(mid, 1);
}

TEST(Print, TheImageKeepsItsProportions) {
    int w = 0, h = 0;
    PrintRectangle(6000, 4000, 4800, 6800, w, h); // landscape photo on a portrait page
    EXPECT_EQ(w, 4800);
    EXPECT_EQ(h, 3200);
    PrintRectangle(1000, 3000, 4800, 6800, w, h);
    EXPECT_EQ(h, 6800);
    EXPECT_EQ(w, 2266);
    PrintRectangle(0, 10, 100, 100, w, h);
    EXPECT_EQ(w, 0);
}
