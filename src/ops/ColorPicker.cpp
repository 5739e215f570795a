#include "ops/ColorPicker.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

namespace zerimo {

Hsb RgbToHsb(COLORREF color) {
    const int r = GetRValue(color), g = GetGValue(color), b = GetBValue(color);
    const int mx = std::max({r, g, b}), mn = std::min({r, g, b});
    double h = 0;
    if (mx != mn) {
        const double d = double(mx - mn);
        if (mx == r) {
            h = double(g - b) / d * 60.0;
            if (b > g) h += 360.0;
        } else if (mx == g) {
            h = double(b - r) / d * 60.0 + 120.0;
        } else {
            h = double(r - g) / d * 60.0 + 240.0;
        }
    }
    const double sat = mx == 0 ? 0.0 : 1.0 - double(mn) / double(mx);
    Hsb out;
    out.h = int(h + 0.5);
    if (out.h >= 360) out.h = 0;
    out.s = int(sat * 100.0 + 0.5);
    out.b = int(double(mx) / 255.0 * 100.0 + 0.5);
    return out;
}

COLORREF HsbToRgb(int h, int s, int b) {
    const double sv = s / 100.0, v = b / 100.0;
    auto ch = [](double x) { return int(x * 255.0 + 0.5) & 0xFF; };
    if (sv == 0) return RGB(ch(v), ch(v), ch(v));
    const double f = (h >= 360 ? 0 : h) / 60.0;
    const double fl = std::floor(f);
    const int i = int(((int64_t(fl) % 6) + 6) % 6); // a negative hue turns the other way round
    const double frac = f - fl;
    const double p = (1 - sv) * v, q = (1 - frac * sv) * v, t = (1 - (1 - frac) * sv) * v;
    double rgb[3];
    switch (i) {
    case 0:
        rgb[0] = v, rgb[1] = t, rgb[2] = p;
        break;
    case 1:
        rgb[0] = q, rgb[1] = v, rgb[2] = p;
        break;
    case 2:
        rgb[0] = p, rgb[1] = v, rgb[2] = t;
        break;
    case 3:
        rgb[0] = p, rgb[1] = q, rgb[2] = v;
        break;
    case 4:
        rgb[0] = t, rgb[1] = p, rgb[2] = v;
        break;
    default:
        rgb[0] = v, rgb[1] = p, rgb[2] = q;
        break;
    }
    return RGB(ch(rgb[0]), ch(rgb[1]), ch(rgb[2]));
}

namespace {
constexpr double kXn = 242.36628, kYn = 255.0, kZn = 277.63227;
constexpr double kSixteenOver116 = 0.13793103448275862;
double LabF(double t) {
    return t > 0.008856 ? std::cbrt(t) : 7.787 * t + kSixteenOver116;
}
double LabG(double t) {
    return t > 0.20689655 ? t * t * t : (t - kSixteenOver116) * 0.12841855;
}
} // namespace

PickerLab RgbToPickerLab(COLORREF color) {
    const double r = GetRValue(color), g = GetGValue(color), b = GetBValue(color);
    const double X = (0.412 * r + 0.358 * g + 0.18 * b) / kXn;
    const double Y = (0.213 * r + 0.715 * g + 0.072 * b) / kYn;
    const double Z = (0.019 * r + 0.119 * g + 0.95 * b) / kZn;
    const double fx = LabF(X), fy = LabF(Y), fz = LabF(Z);
    return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

COLORREF PickerLabToRgb(double L, double a, double b) {
    const double fy = (L + 16.0) / 116.0, fx = a / 500.0 + fy, fz = fy - b / 200.0;
    const double Y = kYn * LabG(fy), X = kXn * LabG(fx), Z = kZn * LabG(fz);
    auto ch = [](double v) { return int(std::clamp(v, 0.0, 255.0)); };
    return RGB(ch(3.241 * X - 1.537 * Y - 0.499 * Z), ch(-0.969 * X + 1.876 * Y + 0.042 * Z),
               ch(0.056 * X - 0.204 * Y + 1.057 * Z));
}

Cmyk RgbToCmyk(COLORREF color) {
    const double c = 1 - GetRValue(color) / 255.0, m = 1 - GetGValue(color) / 255.0,
                 y = 1 - GetBValue(color) / 255.0;
    const double k = std::min({c, m, y});
    Cmyk out{0, 0, 0, int(k * 100)};
    if (k != 1) {
        out.c = int((c - k) / (1 - k) * 100);
        out.m = int((m - k) / (1 - k) * 100);
        out.y = int((y - k) / (1 - k) * 100);
    }
    return out;
}

COLORREF CmykToRgb(int c, int m, int y, int k) {
    const double K = k / 100.0;
    auto ch = [K](int v) { return int((1 - std::min(1.0, (1 - K) * (v / 100.0) + K)) * 255); };
    return RGB(ch(c), ch(m), ch(y));
}

COLORREF ColorAt(int x, int y, int bar, int model, int component) {
    if (model == ModelRgb) {
        switch (component) {
        case BarR:
            return RGB(bar, x, y);
        case BarG:
            return RGB(x, bar, y);
        default:
            return RGB(x, y, bar);
        }
    }
    if (model == ModelLab) {
        switch (component) {
        case BarL:
            return PickerLabToRgb(bar / 255.0 * 100.0, x - 128, y - 128);
        case BarA:
            return PickerLabToRgb(x / 255.0 * 100.0, bar - 128, y - 128);
        default:
            return PickerLabToRgb(x / 255.0 * 100.0, y - 128, bar - 128);
        }
    }
    auto hue = [](int v) { return int(v / 255.0 * 360.0); };
    auto pct = [](int v) { return int(v / 255.0 * 100.0); };
    switch (component) {
    case BarH:
        return HsbToRgb(hue(bar), pct(x), pct(y));
    case BarS:
        return HsbToRgb(hue(x), pct(bar), pct(y));
    default:
        return HsbToRgb(hue(x), pct(y), pct(bar));
    }
}

PickerPositions PositionsFromColor(COLORREF color, int model, int component) {
    const int r = GetRValue(color), g = GetGValue(color), b = GetBValue(color);
    if (model == ModelRgb) {
        switch (component) {
        case BarR:
            return {r, g, b};
        case BarG:
            return {g, r, b};
        default:
            return {b, r, g};
        }
    }
    if (model == ModelLab) {
        const PickerLab lab = RgbToPickerLab(color);
        const int L = int(lab.L / 100.0 * 255.0), A = int(lab.a + 128), B = int(lab.b + 128);
        switch (component) {
        case BarL:
            return {L, A, B};
        case BarA:
            return {A, L, B};
        default:
            return {B, L, A};
        }
    }
    const Hsb hsb = RgbToHsb(color);
    const int H = int(hsb.h / 360.0 * 255.0), S = int(hsb.s / 100.0 * 255.0), V = int(hsb.b / 100.0 * 255.0);
    switch (component) {
    case BarH:
        return {H, S, V};
    case BarS:
        return {S, H, V};
    default:
        return {V, H, S};
    }
}

COLORREF ParseHexColor(const std::string& text) {
    uint32_t v = 0;
    for (char c : text) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            continue;
        v = (v << 4) | uint32_t(d);
    }
    return v & 0xFFFFFF;
}

int ParseFieldNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        v = std::min<int64_t>(v * 10 + (text[i] - '0'), int64_t(INT_MAX) + 1);
    if (negative) v = -v;
    return int(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

// ---- the dialog's state ------------------------------------------------------------------------------

CSelectColorState::CSelectColorState(COLORREF color)
    : newColor(color), initialColor(color), chosenColor(color) {
    UpdateFields(FieldAll);
    UpdatePositions();
}

void CSelectColorState::UpdateFields(int except) {
    updating = true;
    const Hsb hsb = RgbToHsb(newColor);
    const PickerLab lab = RgbToPickerLab(newColor);
    const Cmyk cmyk = RgbToCmyk(newColor);
    const int values[13] = {hsb.h,
                            hsb.s,
                            hsb.b,
                            GetRValue(newColor),
                            GetGValue(newColor),
                            GetBValue(newColor),
                            int(lab.L),
                            int(lab.a),
                            int(lab.b),
                            cmyk.c,
                            cmyk.m,
                            cmyk.y,
                            cmyk.k};
    char buf[32];
    for (int i = 0; i < 13; ++i) {
        if (i == except) continue;
        std::snprintf(buf, sizeof buf, "%d", values[i]);
        fields[size_t(i)] = buf;
    }
    if (except != FieldHex) {
        std::snprintf(buf, sizeof buf, "%.6x", unsigned(newColor));
        fields[FieldHex] = buf;
    }
    updating = false;
}

void CSelectColorState::UpdatePositions() {
    const PickerPositions p = PositionsFromColor(newColor, colorModel, barComponent);
    barPos = p.bar;
    fieldX = p.x;
    fieldY = p.y;
}

void CSelectColorState::SelectComponent(int index) {
    if (index < 0 || index > 8) return;
    colorModel = index <= 2 ? ModelHsb : index <= 5 ? ModelRgb : ModelLab;
    barComponent = index;
    UpdatePositions();
}

void CSelectColorState::Changed() {
    UpdatePositions();
}

void CSelectColorState::OnFieldChanged(int field, const std::string& text) {
    if (updating || field < 0 || field >= FieldAll) return;
    fields[size_t(field)] = text;
    auto num = [&](int f) { return ParseFieldNumber(fields[size_t(f)]); };
    switch (field) {
    case FieldH:
    case FieldS:
    case FieldB:
        newColor = HsbToRgb(num(FieldH), num(FieldS), num(FieldB));
        break;
    case FieldR:
    case FieldG:
    case FieldBlue:
        newColor = RGB(num(FieldR), num(FieldG), num(FieldBlue));
        break;
    case FieldL:
    case FieldA:
    case FieldLabB: {
        PickerLab lab = RgbToPickerLab(newColor);
        (field == FieldL ? lab.L : field == FieldA ? lab.a : lab.b) = num(field);
        newColor = PickerLabToRgb(lab.L, lab.a, lab.b);
        break;
    }
    case FieldC:
    case FieldM:
    case FieldY:
    case FieldK: {
        Cmyk c = RgbToCmyk(newColor);
        (field == FieldC ? c.c : field == FieldM ? c.m : field == FieldY ? c.y : c.k) = num(field);
        newColor = CmykToRgb(c.c, c.m, c.y, c.k);
        break;
    }
    case FieldHex:
        newColor = ParseHexColor(text);
        break;
    }
    UpdateFields(field);
    Changed();
}

void CSelectColorState::OnLeftButtonDown(int x, int y) {
    if (x >= kFieldLeft && x < kFieldLeft + 256 && y >= kFieldTop && y < kFieldTop + 256) {
        fieldX = x - kFieldLeft;
        fieldY = y - kFieldTop;
        newColor = ColorAt(fieldX, fieldY, barPos, colorModel, barComponent);
        Changed();
        UpdateFields(FieldAll);
        draggingField = true;
    } else if (x >= kBarLeft && x < kBarLeft + kBarWidth && y >= kFieldTop && y < kFieldTop + 256) {
        barPos = y - kFieldTop;
        newColor = ColorAt(fieldX, fieldY, barPos, colorModel, barComponent);
        Changed();
        UpdateFields(FieldAll);
        draggingBar = true;
    }
}

void CSelectColorState::OnMouseMove(int x, int y, bool leftHeld) {
    if (!leftHeld) {
        draggingField = draggingBar = false;
        return;
    }
    if (draggingField) {
        fieldX = std::clamp(x - kFieldLeft, 0, 255);
        fieldY = std::clamp(y - kFieldTop, 0, 255);
    } else if (draggingBar) {
        barPos = std::clamp(y - kFieldTop, 0, 255);
    } else {
        return;
    }
    newColor = ColorAt(fieldX, fieldY, barPos, colorModel, barComponent);
    Changed();
    UpdateFields(FieldAll);
}

void CSelectColorState::OnLeftButtonUp() {
    draggingField = draggingBar = false;
}

std::vector<COLORREF> CSelectColorState::FieldPixels() const {
    std::vector<COLORREF> px(256 * 256);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            px[size_t(y) * 256 + x] = ColorAt(x, y, barPos, colorModel, barComponent);
    return px;
}

std::vector<COLORREF> CSelectColorState::BarPixels() const {
    std::vector<COLORREF> px(256);
    for (int j = 0; j < 256; ++j)
        px[size_t(j)] = barComponent == BarH && colorModel == ModelHsb
                            ? ColorAt(255, 255, j, ModelHsb, BarH)
                            : ColorAt(fieldX, fieldY, j, colorModel, barComponent);
    return px;
}

} // namespace zerimo
