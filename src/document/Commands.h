#pragma once
/// The command ids of the menus and the enabling and check rules that depend on the document.

#include <string>

namespace zerimo {

class CZerimoDoc;

enum CommandId : unsigned {
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_SAVE = 57603,
    ID_FILE_SAVE_AS = 57604,
    ID_EDIT_UNDO = 57643,
    ID_EDIT_REDO = 57644,
    ID_EDIT_COPY = 57634,
    ID_EDIT_PASTE = 57637,
    ID_DELETE = 32773,
    ID_ACQUIRE = 32772,
    ID_GET_NEXT = 32778,
    ID_GET_PREV = 32779,
    ID_WALLPAPER = 32789,
    ID_SLIDE_SHOW = 32797,
    ID_AUTO_ROTATE = 32851,
    ID_PROPERTIES = 32821,
    ID_CROP = 32794,
    ID_ROTATE_LEFT = 32813,
    ID_ROTATE_RIGHT = 32814,
    ID_ROTATE_180 = 32815,
    ID_MIRROR_H = 32817,
    ID_MIRROR_V = 32818,
    ID_GRAYSCALE = 32787,
    ID_SEPIA = 32820,
    ID_NEGATE = 32828,
    ID_EXTRACT_EDGES = 32833,
    ID_CONVERT_BW = 32824,
    ID_CONVERT_16 = 32858,
    ID_CONVERT_256 = 32788,
    ID_CONVERT_HIGH = 32855,
    ID_BLUR_SHARPEN = 32783,
    ID_REPLACE_COLOR = 32840,
    ID_RESIZE = 32808,
    ID_RESIZE_SCREEN = 32809,
    ID_RESIZE_STRETCH = 32810,
    // ---- viewer ----
    ID_FILE_PRINT = 57607,
    ID_FILE_MRU_FILE1 = 57616, // to 57619
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_EDIT_CUT = 57635,
    ID_SELECT_SOURCE = 32771,
    ID_BATCH_CONVERSION = 32870,
    ID_PREFERENCES = 32805,
    ID_RED_EYE = 32775,
    ID_FULL_SCREEN = 32777,
    ID_LEAVE_FULL_SCREEN = 32804,
    ID_BRIGHTNESS = 32781,
    ID_COLOR_BALANCE = 32782,
    ID_ROTATE_BY = 32819,
    ID_SOFTEN_SMALL = 32861,
    ID_SOFTEN_MEDIUM = 32862,
    ID_SOFTEN_LARGE = 32863,
    ID_ZOOM_IN = 32836,
    ID_ZOOM_OUT = 32837,
    ID_ARROW = 32793,
    ID_PAINT_BRUSH = 32806,
    ID_TEXT_TOOL = 32796,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
    ID_LANGUAGE = 32864,
    ID_HELP_ONLINE = 32835,
    ID_IDLE_PROMPT = 57345, // the status bar's "Ready"
};

struct CommandState {
    bool enabled = true;
    bool checked = false;
};

/// What the menu shows for `id` in the document's present state.
CommandState QueryCommand(const CZerimoDoc& doc, unsigned id);

} // namespace zerimo
