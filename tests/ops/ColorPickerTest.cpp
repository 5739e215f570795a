#include "ops/ColorPicker.h"

#include <gtest/gtest.h>

namespace {

using namespace zerimo;

TEST(ColorPicker, PureRedInEveryModel) {
    CSelectColorState s(RGB(255, 0, 0));
    const char* want[] = {"0",  "100", "100", "255", "0",   "0", "53",
                          "79", "67",  "0",   "100", "100", "0", "0000ff"};
    for (int i = 0; i < FieldAll; ++i) EXPECT_EQ(s.fields[size_t(i)], want[i]) << "field " << i;
}

TEST(ColorPicker, GreyHasNoGammaExpansionAndAzureIsHue210) {
    CSelectColorState grey(RGB(128, 128, 128));
    EXPECT_EQ(grey.fields[FieldL], "76");
    EXPECT_EQ(grey.fields[FieldA], "0");
    EXPECT_EQ(grey.fields[FieldLabB], "0");
    const Hsb h = RgbToHsb(RGB(0, 128, 255));
    EXPECT_EQ(h.h, 210);
    EXPECT_EQ(h.s, 100);
    EXPECT_EQ(h.b, 100);
    EXPECT_EQ(RgbToHsb(RGB(255, 0, 1)).h, 0); // 359.76 rounds to 360, which is 0
}

TEST(ColorPicker, TypingIntoTheFields) {
    CSelectColorState s(RGB(0, 0, 0));
    s.OnFieldChanged(FieldR, "300");
    EXPECT_EQ(GetRValue(s.newColor), 44);
    EXPECT_EQ(s.fields[FieldR], "300"); // the typed text stays as typed
    EXPECT_EQ(s.fields[FieldHex], "00002c");
    s.OnFieldChanged(FieldH, "360");
    s.OnFieldChanged(FieldS, "100");
    s.OnFieldChanged(FieldB, "100");
    EXPECT_EQ(s.newColor, HsbToRgb(0, 100, 100));
    EXPECT_EQ(s.newColor, RGB(255, 0, 0));
    s.OnFieldChanged(FieldHex, "ff0000");
    EXPECT_EQ(s.newColor, RGB(0, 0, 255)); // blue is the high byte
    s.OnFieldChanged(FieldHex, "#ff-00zz00");
    EXPECT_EQ(s.newColor, RGB(0, 0, 255)); // other characters are skipped
    s.OnFieldChanged(FieldHex, "12345678");
    EXPECT_EQ(s.newColor, 0x345678u); // the last six digits
    s.OnFieldChanged(FieldG, "");
    EXPECT_EQ(GetGValue(s.newColor), 0); // empty reads 0
    s.updating = true;
    s.OnFieldChanged(FieldR, "1");
    EXPECT_NE(GetRValue(s.newColor), 1); // ignored while the dialog writes the fields
}

TEST(ColorPicker, CmykAndLabEdits) {
    const Cmyk c = RgbToCmyk(RGB(255, 0, 0));
    EXPECT_EQ(c.c, 0);
    EXPECT_EQ(c.m, 100);
    EXPECT_EQ(c.y, 100);
    EXPECT_EQ(c.k, 0);
    const Cmyk black = RgbToCmyk(RGB(0, 0, 0));
    EXPECT_EQ(black.k, 100);
    EXPECT_EQ(black.c, 0);
    EXPECT_EQ(CmykToRgb(0, 100, 100, 0), RGB(255, 0, 0));
    EXPECT_EQ(CmykToRgb(0, 0, 0, 100), RGB(0, 0, 0));
    CSelectColorState s(RGB(255, 255, 255));
    s.OnFieldChanged(FieldK, "50");
    EXPECT_EQ(s.newColor, RGB(127, 127, 127));
    s.OnFieldChanged(FieldL, "0");
    EXPECT_EQ(s.newColor, RGB(0, 0, 0));
    // Lab round trip stays within a step.
    const PickerLab lab = RgbToPickerLab(RGB(40, 120, 200));
    const COLORREF back = PickerLabToRgb(lab.L, lab.a, lab.b);
    EXPECT_NEAR(GetRValue(back), 40, 1);
    EXPECT_NEAR(GetGValue(back), 120, 1);
    EXPECT_NEAR(GetBValue(back), 200, 1);
}

TEST(ColorPicker, HsbEdgeValuesAreDefined) {
    EXPECT_EQ(HsbToRgb(120, 0, 50), RGB(128, 128, 128));
    EXPECT_EQ(HsbToRgb(-60, 100, 100), HsbToRgb(300, 100, 100));
    EXPECT_EQ(HsbToRgb(720, 100, 100), RGB(255, 0, 0));
    EXPECT_EQ(GetRValue(HsbToRgb(0, 100, 200)), (int(2.0 * 255 + 0.5)) & 0xFF); // not clamped
}

TEST(ColorPicker, FieldAndBarMapToColoursAndBack) {
    for (int comp = 0; comp <= 8; ++comp) {
        const int model = comp <= 2 ? ModelHsb : comp <= 5 ? ModelRgb : ModelLab;
        if (model == ModelRgb) {
            const COLORREF c = ColorAt(10, 20, 30, model, comp);
            const PickerPositions p = PositionsFromColor(c, model, comp);
            EXPECT_EQ(p.bar, 30);
            EXPECT_EQ(p.x, 10);
            EXPECT_EQ(p.y, 20);
        }
    }
    EXPECT_EQ(ColorAt(1, 2, 3, ModelRgb, BarR), RGB(3, 1, 2));
    EXPECT_EQ(ColorAt(255, 255, 0, ModelHsb, BarH), RGB(255, 0, 0));
    const PickerPositions red = PositionsFromColor(RGB(255, 0, 0), ModelHsb, BarH);
    EXPECT_EQ(red.bar, 0);
    EXPECT_EQ(red.x, 255);
    EXPECT_EQ(red.y, 255);
}

TEST(ColorPicker, MouseDragsPinToTheFieldAndTheBarShowsFullHues) {
    CSelectColorState s(RGB(10, 200, 30));
    s.SelectComponent(3); // R on the bar
    EXPECT_EQ(s.colorModel, ModelRgb);
    EXPECT_EQ(s.barPos, 10);
    s.OnLeftButtonDown(25 + 100, 30 + 50);
    EXPECT_TRUE(s.draggingField);
    EXPECT_EQ(s.newColor, RGB(10, 100, 50));
    s.OnMouseMove(900, 30 + 60, true);
    EXPECT_EQ(s.fieldX, 255);
    EXPECT_EQ(s.newColor, RGB(10, 255, 60));
    EXPECT_EQ(s.fields[FieldG], "255");
    s.OnMouseMove(30, 40, false); // the button went up outside
    EXPECT_FALSE(s.draggingField);
    s.OnLeftButtonDown(310, 30 + 200);
    EXPECT_TRUE(s.draggingBar);
    EXPECT_EQ(GetRValue(s.newColor), 200);
    s.OnLeftButtonUp();
    EXPECT_FALSE(s.draggingBar);

    CSelectColorState hue(RGB(100, 100, 100));
    const auto bar = hue.BarPixels();
    for (int j = 0; j < 256; j += 17) EXPECT_EQ(bar[size_t(j)], ColorAt(255, 255, j, ModelHsb, BarH));
    EXPECT_EQ(hue.FieldPixels().size(), 65536u);
}

TEST(ColorPicker, OkTakesTheNewColourAndCancelLeavesTheResult) {
    CSelectColorState s(RGB(1, 2, 3));
    s.OnFieldChanged(FieldR, "9");
    EXPECT_EQ(s.chosenColor, RGB(1, 2, 3));
    EXPECT_EQ(s.initialColor, RGB(1, 2, 3));
    s.OnOK();
    EXPECT_EQ(s.chosenColor, RGB(9, 2, 3));
    EXPECT_EQ(ArgbFromColorRef(RGB(0x12, 0x34, 0x56)), 0xFF123456u);
    EXPECT_EQ(ColorRefFromArgb(0x80123456u), RGB(0x12, 0x34, 0x56));
    EXPECT_EQ(ParseFieldNumber(" -12x"), -12);
    EXPECT_EQ(ParseFieldNumber("99999999999"), 2147483647);
}

} // namespace
