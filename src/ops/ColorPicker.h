#pragma once
/// The colour picker's colour maths and state: HSB, the picker's own Lab (no gamma expansion) and
/// CMYK conversions of COLORREF values (red in bits 0-7, green 8-15, blue 16-23), the mapping
/// between field/bar positions and colours, and the dialog's fields, typing, mouse and OK handling
/// as a plain class that the GUI draws and feeds.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zerimo {

using COLORREF = uint32_t;

constexpr COLORREF RGB(int r, int g, int b) {
    return COLORREF(r & 0xFF) | (COLORREF(g & 0xFF) << 8) | (COLORREF(b & 0xFF) << 16);
}
constexpr int GetRValue(COLORREF c) {
    return int(c & 0xFF);
}
constexpr int GetGValue(COLORREF c) {
    return int((c >> 8) & 0xFF);
}
constexpr int GetBValue(COLORREF c) {
    return int((c >> 16) & 0xFF);
}
/// ARGB of the image code to COLORREF and back (always opaque).
constexpr COLORREF ColorRefFromArgb(uint32_t argb) {
    return RGB(int((argb >> 16) & 0xFF), int((argb >> 8) & 0xFF), int(argb & 0xFF));
}
constexpr uint32_t ArgbFromColorRef(COLORREF c) {
    return 0xFF000000u | (uint32_t(GetRValue(c)) << 16) | (uint32_t(GetGValue(c)) << 8) |
           uint32_t(GetBValue(c));
}

struct Hsb {
    int h, s, b; // degrees, percent, percent
};
struct PickerLab {
    double L, a, b;
};
struct Cmyk {
    int c, m, y, k; // percent
};

Hsb RgbToHsb(COLORREF color);
/// Not clamped: each channel keeps the low 8 bits of its rounded value.
COLORREF HsbToRgb(int h, int s, int b);
PickerLab RgbToPickerLab(COLORREF color);
COLORREF PickerLabToRgb(double L, double a, double b);
Cmyk RgbToCmyk(COLORREF color);
COLORREF CmykToRgb(int c, int m, int y, int k);

enum ColorModel : int { ModelRgb = 0, ModelLab = 1, ModelHsb = 2 };
/// Components on the bar: 0 H, 1 S, 2 B, 3 R, 4 G, 5 B(lue), 6 L, 7 a, 8 b.
enum BarComponent : int { BarH, BarS, BarBrightness, BarR, BarG, BarBlue, BarL, BarA, BarLabB };

/// The colour at field position (x, y) and bar position `bar` (each 0..255).
COLORREF ColorAt(int x, int y, int bar, int model, int component);
struct PickerPositions {
    int bar, x, y;
};
/// Where `color` lies on the bar and in the field (each truncated).
PickerPositions PositionsFromColor(COLORREF color, int model, int component);

/// The hexadecimal field: each hexadecimal digit shifts the value left by four bits and adds
/// itself; other characters are skipped. The last six digits count (red is the low byte).
COLORREF ParseHexColor(const std::string& text);
/// A typed number field: an optional sign and the decimal digits that follow; empty or no digits
/// reads 0, and the value is held to a 32-bit integer.
int ParseFieldNumber(const std::string& text);

/// The dialog's numeric fields, in UpdateFields order.
enum PickerField : int {
    FieldH,
    FieldS,
    FieldB,
    FieldR,
    FieldG,
    FieldBlue,
    FieldL,
    FieldA,
    FieldLabB,
    FieldC,
    FieldM,
    FieldY,
    FieldK,
    FieldHex,
    FieldAll
};

/// The picker's state: the colours, the model and bar component, the positions, and the texts of
/// the 14 fields.
class CSelectColorState {
  public:
    explicit CSelectColorState(COLORREF color);

    COLORREF newColor;
    COLORREF initialColor;
    COLORREF chosenColor;
    int colorModel = ModelHsb;
    int barComponent = BarH;
    int barPos = 0;
    int fieldX = 0, fieldY = 0;
    bool updating = false;
    bool draggingField = false, draggingBar = false;
    std::array<std::string, FieldAll> fields;

    /// Rewrites every field but `except` (FieldAll writes all).
    void UpdateFields(int except);
    /// Recomputes the positions from `newColor`, as every redraw starts.
    void UpdatePositions();
    /// Radio button 0..8 (controls 1000..1008): chooses the model and the bar component.
    void SelectComponent(int index);
    /// A field's text changed to `text` (ignored while `updating`): the colour follows it.
    void OnFieldChanged(int field, const std::string& text);
    /// Mouse in client pixels; `leftHeld` for moves.
    void OnLeftButtonDown(int x, int y);
    void OnMouseMove(int x, int y, bool leftHeld);
    void OnLeftButtonUp();
    void OnOK() { chosenColor = newColor; }

    /// The 256 x 256 field and the 256 bar rows (top first) for the present state.
    std::vector<COLORREF> FieldPixels() const;
    std::vector<COLORREF> BarPixels() const;

    // Layout in client pixels.
    static constexpr int kFieldLeft = 25, kFieldTop = 30, kBarLeft = 300, kBarWidth = 25;

  private:
    void Changed();
};

} // namespace zerimo
