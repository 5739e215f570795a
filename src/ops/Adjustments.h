#pragma once
/// The state that the three slider dialogs (Filter, Color Balance, Blur / Sharpen) and the view
/// keep for the pending adjustment, and the view's handling of WM_FILTERCHANGED,
/// WM_BALANCECHANGED and Negate as functions of that state. Plain classes: the GUI holds them in
/// its dialogs and view, the command-line tool and the tests drive them directly.

#include "imaging/ImageAttributes.h"
#include "ops/Blur.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zerimo {

/// One slider of a dialog: track bar and label ids, range, default, value = position x scale, and
/// the digits of its label.
struct SliderSpec {
    int32_t sliderId;
    int32_t labelId;
    int32_t minimum;
    int32_t maximum;
    int32_t defaultPosition;
    float scale;
    int32_t decimals;
};

// Control ids of the dialogs.
enum : int32_t {
    IDC_CONTRAST = 1038,
    IDC_BRIGHTNESS = 1040,
    IDC_SATURATION = 1042,
    IDC_HUE = 1044,
    IDC_FILTER_RESET = 1046,
    IDC_GAMMA = 1047,
    IDC_BAL_RED = 1055,
    IDC_BAL_GREEN = 1057,
    IDC_BAL_BLUE = 1059,
    IDC_BAL_ALPHA = 1061,
    IDC_BAL_RESET = 1063,
    IDC_BLUR_MODE = 1065,
    IDC_BLUR_LUMINANCE = 1066,
    IDC_BLUR_RADIUS = 1067,
    IDC_BLUR_DEPTH = 1069,
};

/// Track-bar scroll codes after which no notification is sent.
inline constexpr int TB_THUMBPOSITION = 4;
inline constexpr int TB_ENDTRACK = 8;

const std::vector<SliderSpec>& FilterSliders();
const std::vector<SliderSpec>& BalanceSliders(); // scale 1, no decimals: the label is the position
const std::vector<SliderSpec>& BlurSliders();

/// The track bars of one dialog: their positions and what the value labels show.
class SliderSet {
  public:
    explicit SliderSet(const std::vector<SliderSpec>& specs);
    const std::vector<SliderSpec>& Specs() const { return specs_; }
    /// The position of the track bar `id`; 0 for an id in no row.
    int32_t Position(int32_t id) const;
    /// Moves the track bar, clamped to its range as a track bar clamps; false for an unknown id.
    bool SetPosition(int32_t id, int32_t position);
    /// Position x scale; 0 for an id in no row.
    float Value(int32_t id) const;
    /// The value label, "%0.*f" with the row's decimals: "1.00", "-0.35", "-180".
    std::string Label(int32_t id) const;
    /// Every track bar back to its default (Reset).
    void ResetSliders();
    /// Reset is enabled while a track bar is off its default.
    bool AnyChanged() const;
    /// A slider movement with scroll code `code`: true when the dialog notifies the view.
    static bool Notifies(int code) { return code != TB_THUMBPOSITION && code != TB_ENDTRACK; }

  private:
    const SliderSpec* Find(int32_t id) const;
    const std::vector<SliderSpec>& specs_;
    std::vector<int32_t> positions_;
};

/// The Blur / Sharpen dialog: the two sliders, the list's selection and the check box.
struct CBlurSharpState {
    SliderSet sliders{BlurSliders()};
    int selection = 0; // 0 "Blur", 1 "Sharpen"
    bool luminanceOnly = false;
    bool radiusEnabled = true;
    bool depthEnabled = false;
    bool luminanceEnabled = true;
    /// Channels to filter: green only with "Luminance only", else blue, green and red.
    uint32_t Mask() const { return luminanceOnly ? 2u : 7u; }
    /// The list's selection was confirmed: Depth is enabled for "Sharpen" only.
    void SelectMode(int index);
    /// Cancel is enabled while a slider is off its default.
    bool CancelEnabled() const { return sliders.AnyChanged(); }
};

/// The document's pending adjustment as the view's handlers change it.
struct PendingAdjustment {
    imaging::ImageAttributes& displayAttributes;
    int& adjustmentsPending;
    bool& hasTransparency;
};

/// What the view keeps of the adjustment dialogs: their state, whether each window exists, the
/// blur worker and `negateOn`.
struct CAdjustmentState {
    SliderSet filter{FilterSliders()};
    SliderSet balance{BalanceSliders()};
    CBlurSharpState blur;
    bool filterWindow = false;
    bool balanceWindow = false;
    bool blurWindow = false;
    /// 0 off, -1 (all bits) on; changed by Negate alone.
    int negateOn = 0;
    GaussBlurEngine blurEngine;
};

/// WM_FILTERCHANGED: w = 0 resets the pending adjustment and the sliders of the open dialogs; a
/// Blur / Sharpen control id (1065, 1066, 1067, 1069) with that dialog open asks for a blur job
/// (true: start it, no repaint); anything else with the Filter dialog open sets the Filter
/// adjustment from its sliders.
bool OnFilterChanged(uint32_t w, CAdjustmentState& view, PendingAdjustment pending);
/// WM_BALANCECHANGED: with the Color Balance window open, w != 0 sets its matrix (and
/// `hasTransparency` when Alpha is below 100), w = 0 resets its sliders and the pending adjustment.
/// False when nothing happened (no window).
bool OnBalanceChanged(uint32_t w, CAdjustmentState& view, PendingAdjustment pending);
/// The Filter adjustment of the five slider values (gamma included) into the attributes.
void SetFilterAdjustment(const SliderSet& filter, PendingAdjustment pending);
/// Negate: toggles `negateOn`; on sets the negate matrix, off clears every pending adjustment.
void ToggleNegate(int& negateOn, PendingAdjustment pending);
/// Sepia Tone's matrix replaces the pending matrix (gamma stays); the caller bakes it.
void SetSepiaAdjustment(PendingAdjustment pending);

} // namespace zerimo
