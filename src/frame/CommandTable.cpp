#include "frame/CommandTable.h"

#include "document/ZerimoDoc.h"

namespace zerimo {

namespace {

using K = MenuNode::Kind;

MenuNode Item(unsigned id, const char* text) {
    return {K::Item, id, text, {}};
}
MenuNode Sep() {
    return {K::Separator, 0, "", {}};
}
MenuNode Popup(const char* text, std::vector<MenuNode> children) {
    return {K::Popup, 0, text, std::move(children)};
}

} // namespace

const std::vector<MenuNode>& MenuBar() {
    static const std::vector<MenuNode> bar = {
        Popup("&File",
              {Item(ID_FILE_NEW, "&New\tCtrl+N"), Item(ID_FILE_OPEN, "&Open...\tCtrl+O"),
               Item(ID_FILE_SAVE, "&Save\tCtrl+S"), Item(ID_FILE_SAVE_AS, "Save &As..."),
               Item(ID_DELETE, "Delete\tDelete"), Sep(), Item(ID_SELECT_SOURCE, "Select a Twain Source..."),
               Item(ID_ACQUIRE, "Acquire..."), Sep(), Item(ID_BATCH_CONVERSION, "&Batch Conversion"), Sep(),
               Item(ID_FILE_PRINT, "&Print...\tCtrl+P"), Sep(), Item(ID_FILE_MRU_FILE1, "Recent File"), Sep(),
               Item(ID_PREFERENCES, "Preferences..."), Sep(), Item(ID_APP_EXIT, "E&xit")}),
        Popup("&Edit", {Item(ID_EDIT_UNDO, "&Undo\tCtrl+Z"), Item(ID_EDIT_REDO, "&Redo\tCtrl+Y"), Sep(),
                        Item(ID_CROP, "Crop"), Item(ID_RED_EYE, "Red eyes correction"), Sep(),
                        Item(ID_EDIT_COPY, "&Copy\tCtrl+C"), Item(ID_EDIT_PASTE, "&Paste\tCtrl+V")}),
        Popup("&Image",
              {Item(ID_FULL_SCREEN, "Full Screen\tF11"), Item(ID_GET_NEXT, "Get Next ->\t\u2192"),
               Item(ID_GET_PREV, "Get Prev <-\t\u2190"), Item(ID_SLIDE_SHOW, "Auto Slide Show\tCtrl + R"),
               Item(ID_BRIGHTNESS, "Brightness/Contrast/Gramma\tCtrl + B"),
               Item(ID_COLOR_BALANCE, "Color Balance\tCtrl + T"),
               Item(ID_BLUR_SHARPEN, "Blur/Sharpen\tCtrl + H"),
               Popup("Resize", {Item(ID_RESIZE, "Resize\tF3"),
                                Item(ID_RESIZE_SCREEN, "Resize To Screen Proportional\tF4"),
                                Item(ID_RESIZE_STRETCH, "Resize To Stretch\tF5")}),
               Popup("Rotate", {Item(ID_ROTATE_LEFT, "90 Degrees Left\t Ctrl + \u2190"),
                                Item(ID_ROTATE_RIGHT, "90 Degrees Right\t Ctrl + \u2192"),
                                Item(ID_ROTATE_180, "180 Degrees\t Ctrl + \u2191"),
                                Item(ID_ROTATE_BY, "By Degree...")}),
               Popup("Mirror", {Item(ID_MIRROR_H, "Horizontal\tShift + \u2192"),
                                Item(ID_MIRROR_V, "Vertical\tShift + \u2191")}),
               Popup("Convert To", {Item(ID_CONVERT_BW, "Black and White"), Item(ID_GRAYSCALE, "GrayScale"),
                                    Item(ID_SEPIA, "Sepia Tone"), Item(ID_CONVERT_16, "16 Colors"),
                                    Item(ID_CONVERT_256, "256 Colors"), Item(ID_CONVERT_HIGH, "High Color")}),
               Popup("Soften", {Item(ID_SOFTEN_SMALL, "Small"), Item(ID_SOFTEN_MEDIUM, "Medium"),
                                Item(ID_SOFTEN_LARGE, "Large")}),
               Item(ID_EXTRACT_EDGES, "Extract Edges"), Item(ID_NEGATE, "Negate"),
               Item(ID_REPLACE_COLOR, "Replace Color"), Item(ID_WALLPAPER, "Wallpaper")}),
        Popup("&View",
              {Item(ID_ZOOM_IN, "Zoom In\tCtrl+="), Item(ID_ZOOM_OUT, "Zoom Out\tCtrl+-"), Sep(),
               Item(ID_ARROW, "Arrow"), Item(ID_PAINT_BRUSH, "Paint Brush"), Item(ID_TEXT_TOOL, "Text"),
               Sep(), Item(ID_VIEW_TOOLBAR, "&Toolbar"), Item(ID_VIEW_STATUS_BAR, "&Status Bar"), Sep(),
               Item(ID_AUTO_ROTATE, "Auto Rotate"), Item(ID_LANGUAGE, "Language\tCtrl+L"),
               Item(ID_PROPERTIES, "Properties...\tAlt+Enter")}),
        Popup("&Help", {Item(ID_HELP_ONLINE, "Zerimo Online Help"), Item(ID_APP_ABOUT, "&About Zerimo...")}),
    };
    return bar;
}

const std::vector<Accelerator>& Accelerators() {
    static const std::vector<Accelerator> keys = {
        {"Esc", ID_LEAVE_FULL_SCREEN},
        {"Ctrl+C", ID_EDIT_COPY},
        {"Ctrl+Ins", ID_EDIT_COPY},
        {"Ctrl+X", ID_EDIT_CUT},
        {"Shift+Del", ID_EDIT_CUT},
        {"Ctrl+V", ID_EDIT_PASTE},
        {"Shift+Ins", ID_EDIT_PASTE},
        {"Ctrl+Y", ID_EDIT_REDO},
        {"Ctrl+Z", ID_EDIT_UNDO},
        {"Alt+Backspace", ID_EDIT_UNDO},
        {"Del", ID_DELETE},
        {"Ctrl+N", ID_FILE_NEW},
        {"Ctrl+O", ID_FILE_OPEN},
        {"Ctrl+P", ID_FILE_PRINT},
        {"Ctrl+S", ID_FILE_SAVE},
        {"Ctrl+B", ID_BRIGHTNESS},
        {"Ctrl+T", ID_COLOR_BALANCE},
        {"Ctrl+H", ID_BLUR_SHARPEN},
        {"Ctrl+R", ID_SLIDE_SHOW},
        {"F11", ID_FULL_SCREEN},
        {"Right", ID_GET_NEXT},
        {"Left", ID_GET_PREV},
        {"Shift+Left", ID_MIRROR_H},
        {"Shift+Right", ID_MIRROR_H},
        {"Shift+Up", ID_MIRROR_V},
        {"Shift+Down", ID_MIRROR_V},
        {"F3", ID_RESIZE},
        {"F4", ID_RESIZE_SCREEN},
        {"F5", ID_RESIZE_STRETCH},
        {"Ctrl+Up", ID_ROTATE_180},
        {"Ctrl+Down", ID_ROTATE_180},
        {"Ctrl+Left", ID_ROTATE_LEFT},
        {"Ctrl+Right", ID_ROTATE_RIGHT},
        {"Ctrl+L", ID_LANGUAGE},
        {"Alt+Return", ID_PROPERTIES},
        {"Alt+Enter", ID_PROPERTIES},
        // The plus/equals key, with or without Shift, and the keypad's plus and minus.
        {"Ctrl+=", ID_ZOOM_IN},
        {"Ctrl++", ID_ZOOM_IN},
        {"Up", ID_ZOOM_IN},
        {"Ctrl+-", ID_ZOOM_OUT},
        {"Down", ID_ZOOM_OUT},
    };
    return keys;
}

const std::vector<unsigned>& ToolbarButtons() {
    static const std::vector<unsigned> buttons = {ID_FILE_OPEN,
                                                  ID_FILE_SAVE,
                                                  0,
                                                  ID_ARROW,
                                                  ID_CROP,
                                                  0,
                                                  ID_EDIT_COPY,
                                                  ID_EDIT_PASTE,
                                                  0,
                                                  ID_RESIZE,
                                                  ID_BRIGHTNESS,
                                                  ID_BLUR_SHARPEN,
                                                  0,
                                                  ID_EDIT_UNDO,
                                                  ID_EDIT_REDO,
                                                  ID_FILE_PRINT,
                                                  0,
                                                  ID_APP_ABOUT};
    return buttons;
}

const std::vector<CommandInfo>& Commands() {
    using R = Rule;
    static const std::vector<CommandInfo> commands = {
        {ID_FILE_NEW, R::Always, "Create a new document\nNew"},
        {ID_FILE_OPEN, R::Always, "Open an existing document\nOpen"},
        {ID_FILE_SAVE, R::Document, "Save the active document\nSave"},
        {ID_FILE_SAVE_AS, R::Document, "Save the active document with a new name\nSave As"},
        {ID_DELETE, R::Document, "Move the file to the trash and show the next image\nDelete"},
        {ID_SELECT_SOURCE, R::Always, "Select the scanner to acquire from\nSelect Source"},
        {ID_ACQUIRE, R::Document, "Acquire an image from a scanner\nAcquire"},
        {ID_BATCH_CONVERSION, R::Always, "Convert several files to another format\nBatch Conversion"},
        {ID_FILE_PRINT, R::Always, "Print the active document\nPrint"},
        {ID_FILE_MRU_FILE1, R::Always, "Open this document"},
        {ID_FILE_MRU_FILE1 + 1, R::Always, "Open this document"},
        {ID_FILE_MRU_FILE1 + 2, R::Always, "Open this document"},
        {ID_FILE_MRU_FILE1 + 3, R::Always, "Open this document"},
        {ID_PREFERENCES, R::Always, "JPEG quality and the slide-show interval\nPreferences"},
        {ID_APP_EXIT, R::Always, "Quit the application; prompts to save documents\nExit"},
        {ID_EDIT_UNDO, R::Document, "Undo the last action\nUndo"},
        {ID_EDIT_REDO, R::Document, "Redo the previously undone action\nRedo"},
        {ID_CROP, R::ToolCrop, "Crop the image to the selection\nCrop"},
        {ID_RED_EYE, R::RedEye, "Correct red eyes inside the selection\nRed Eyes"},
        {ID_EDIT_COPY, R::Document, "Copy the image or the selection to the Clipboard\nCopy"},
        {ID_EDIT_CUT, R::Always, "Cut the selection and put it on the Clipboard\nCut"},
        {ID_EDIT_PASTE, R::Document, "Insert Clipboard contents\nPaste"},
        {ID_FULL_SCREEN, R::FullScreen, "Show the image on the whole screen\nFull Screen"},
        {ID_LEAVE_FULL_SCREEN, R::Always, "Leave full screen\nLeave Full Screen"},
        {ID_GET_NEXT, R::Document, "Show the next image of the folder\nNext"},
        {ID_GET_PREV, R::Document, "Show the previous image of the folder\nPrevious"},
        {ID_SLIDE_SHOW, R::Document, "Show the images of the folder one after another\nSlide Show"},
        {ID_BRIGHTNESS, R::Always,
         "Adjust brightness, contrast, saturation, hue and gamma\nBrightness/Contrast/Gamma"},
        {ID_COLOR_BALANCE, R::Always, "Adjust the balance of the colour channels\nColor Balance"},
        {ID_BLUR_SHARPEN, R::Document, "Blur or sharpen the image\nBlur/Sharpen"},
        {ID_RESIZE, R::Document, "Change the size of the image\nResize"},
        {ID_RESIZE_SCREEN, R::Document, "Resize to the screen keeping the proportions\nResize To Screen"},
        {ID_RESIZE_STRETCH, R::Document, "Resize to the screen\nResize To Stretch"},
        {ID_ROTATE_LEFT, R::Document, "Rotate 90 degrees to the left\nRotate Left"},
        {ID_ROTATE_RIGHT, R::Document, "Rotate 90 degrees to the right\nRotate Right"},
        {ID_ROTATE_180, R::Document, "Rotate 180 degrees\nRotate 180"},
        {ID_ROTATE_BY, R::Document, "Rotate by any angle\nRotate By Degree"},
        {ID_MIRROR_H, R::Document, "Mirror left and right\nMirror Horizontal"},
        {ID_MIRROR_V, R::Document, "Mirror top and bottom\nMirror Vertical"},
        {ID_CONVERT_BW, R::Document, "Convert to black and white\nBlack and White"},
        {ID_GRAYSCALE, R::Document, "Convert to shades of grey\nGrayScale"},
        {ID_SEPIA, R::Document, "Give the image a sepia tone\nSepia Tone"},
        {ID_CONVERT_16, R::Document, "Reduce to 16 colours\n16 Colors"},
        {ID_CONVERT_256, R::Document, "Reduce to 256 colours\n256 Colors"},
        {ID_CONVERT_HIGH, R::Document, "Reduce to high colour\nHigh Color"},
        {ID_SOFTEN_SMALL, R::Document, "Soften a little\nSoften Small"},
        {ID_SOFTEN_MEDIUM, R::Document, "Soften\nSoften Medium"},
        {ID_SOFTEN_LARGE, R::Document, "Soften strongly\nSoften Large"},
        {ID_EXTRACT_EDGES, R::Document, "Keep only the edges of the image\nExtract Edges"},
        {ID_NEGATE, R::Negate, "Show the image as a negative\nNegate"},
        {ID_REPLACE_COLOR, R::Document, "Replace a colour picked in the image\nReplace Color"},
        {ID_WALLPAPER, R::Document, "Make the image the desktop background\nWallpaper"},
        {ID_ZOOM_IN, R::Always, "Zoom in\nZoom In"},
        {ID_ZOOM_OUT, R::Always, "Zoom out\nZoom Out"},
        {ID_ARROW, R::ToolHand, "Move the image with the hand; again for the crop selection\nArrow"},
        {ID_PAINT_BRUSH, R::ToolPaint, "Paint dots in a colour\nPaint Brush"},
        {ID_TEXT_TOOL, R::ToolText, "Type text into the image\nText"},
        {ID_VIEW_TOOLBAR, R::Toolbar, "Show or hide the toolbar\nToggle ToolBar"},
        {ID_VIEW_STATUS_BAR, R::StatusBar, "Show or hide the status bar\nToggle Status Bar"},
        {ID_AUTO_ROTATE, R::Document, "Turn images upright by their orientation tag\nAuto Rotate"},
        {ID_LANGUAGE, R::Always, "Choose a language file\nLanguage"},
        {ID_PROPERTIES, R::Document, "Show the properties of the file and the image\nProperties"},
        {ID_HELP_ONLINE, R::Always, "Open the help page\nHelp"},
        {ID_APP_ABOUT, R::Always, "Display program information, version number and copyright\nAbout"},
        {ID_IDLE_PROMPT, R::Always, "Ready"},
    };
    return commands;
}

const CommandInfo* FindCommand(unsigned id) {
    for (const CommandInfo& c : Commands())
        if (c.id == id) return &c;
    return nullptr;
}

std::string PromptOf(const CommandInfo& info) {
    const std::string p = info.prompt;
    return p.substr(0, p.find('\n'));
}

std::string TooltipOf(const CommandInfo& info) {
    const std::string p = info.prompt;
    const size_t nl = p.find('\n');
    return nl == std::string::npos ? std::string() : p.substr(nl + 1);
}

CommandState QueryUiCommand(const CZerimoDoc& doc, const UiState& ui, unsigned id, bool hasHandler) {
    CommandState s;
    const CommandInfo* info = FindCommand(id);
    const Rule rule = info ? info->rule : Rule::Always;
    switch (rule) {
    case Rule::Always:
        break;
    case Rule::Document:
        s = QueryCommand(doc, id);
        break;
    case Rule::FullScreen:
        s.checked = ui.fullScreen;
        break;
    case Rule::ToolHand:
        s.checked = ui.toolMode == 'A';
        break;
    case Rule::ToolCrop:
        s.enabled = doc.busy == 0;
        s.checked = ui.toolMode == 'C';
        break;
    case Rule::ToolPaint:
        s.checked = ui.toolMode == 'P';
        break;
    case Rule::ToolText:
        s.checked = ui.toolMode == 'T';
        break;
    case Rule::Toolbar:
        s.checked = ui.toolbarVisible;
        break;
    case Rule::StatusBar:
        s.checked = ui.statusBarVisible;
        break;
    case Rule::RedEye:
        s.enabled = doc.busy == 0 && ui.toolMode == 'C' && ui.hasSelection;
        break;
    case Rule::Negate:
        s.checked = ui.negateOn;
        break;
    }
    if (!hasHandler) s.enabled = false;
    return s;
}

// ---- language keys ----

const std::vector<LanguageMenuSection>& LanguageMenuSections() {
    static const std::vector<LanguageMenuSection> sections = {
        {"FileMenu",
         {{1, ID_FILE_NEW, "&New"},
          {2, ID_FILE_OPEN, "&Open"},
          {3, ID_FILE_SAVE, "&Save"},
          {4, ID_FILE_SAVE_AS, "Save &As"},
          {5, ID_DELETE, "&Delete"},
          {6, ID_SELECT_SOURCE, "Select a &TWAIN Source..."},
          {7, ID_ACQUIRE, "Ac&quire..."},
          {8, ID_FILE_PRINT, "&Print..."},
          {9, ID_FILE_MRU_FILE1, "&Recent File"},
          {10, ID_PREFERENCES, "Pre&ferences..."},
          {11, ID_APP_EXIT, "E&xit"},
          {12, ID_BATCH_CONVERSION, "&Batch Conversion"}}},
        {"EditMenu",
         {{1, ID_EDIT_UNDO, "&Undo"},
          {2, ID_EDIT_REDO, "&Redo"},
          {3, ID_CROP, "Cr&op"},
          {4, ID_RED_EYE, "Red &eyes correction"},
          {5, ID_EDIT_COPY, "&Copy"},
          {6, ID_EDIT_PASTE, "&Paste"}}},
        {"ImageMenu",
         {{1, ID_FULL_SCREEN, "&Full Screen"},
          {2, ID_GET_NEXT, "Get &Next ->"},
          {3, ID_GET_PREV, "Get &Prev <-"},
          {4, ID_SLIDE_SHOW, "&Auto Slide Show"},
          {5, ID_BRIGHTNESS, "Brightness/Contrast/&Gamma"},
          {6, ID_COLOR_BALANCE, "&Color Balance"},
          {7, ID_BLUR_SHARPEN, "&Blur/Sharpen"},
          {8, 0, "Resi&ze"},
          {9, 0, "R&otate"},
          {10, 0, "&Mirror"},
          {11, 0, "Convert &To"},
          {12, 0, "&Soften"},
          {13, ID_EXTRACT_EDGES, "E&xtract Edges"},
          {14, ID_NEGATE, "N&egate"},
          {15, ID_REPLACE_COLOR, "&Replace Color"},
          {16, ID_WALLPAPER, "&Wallpaper"}}},
        {"ResizeMenu",
         {{1, ID_RESIZE, "Resize"},
          {2, ID_RESIZE_SCREEN, "Resize To Screen &Proportional"},
          {3, ID_RESIZE_STRETCH, "Resize To &Stretch"}}},
        {"RotateMenu",
         {{1, ID_ROTATE_LEFT, "90 Degrees &Left"},
          {2, ID_ROTATE_RIGHT, "90 Degrees &Right"},
          {3, ID_ROTATE_180, "&180 Degrees"},
          {4, ID_ROTATE_BY, "&By Degree..."}}},
        {"MirrorMenu", {{1, ID_MIRROR_H, "&Horizontal"}, {2, ID_MIRROR_V, "&Vertical"}}},
        {"ConvertToMenu",
         {{1, ID_CONVERT_BW, "&Black and White"},
          {2, ID_GRAYSCALE, "&Grayscale"},
          {3, ID_SEPIA, "&Sepia Tone"},
          {4, ID_CONVERT_16, "&16 Colors"},
          {5, ID_CONVERT_256, "&256 Colors"},
          {6, ID_CONVERT_HIGH, "&High Color"}}},
        {"SoftenMenu",
         {{1, ID_SOFTEN_SMALL, "&Small"}, {2, ID_SOFTEN_MEDIUM, "&Medium"}, {3, ID_SOFTEN_LARGE, "&Large"}}},
        {"ViewMenu",
         {{1, ID_ZOOM_IN, "Zoom &In"},
          {2, ID_ZOOM_OUT, "Zoom &Out"},
          {3, ID_ARROW, "&Hand"},
          {4, ID_PAINT_BRUSH, "&Paint Brush"},
          {5, ID_TEXT_TOOL, "Te&xt"},
          {6, ID_VIEW_TOOLBAR, "&Toolbar"},
          {7, ID_VIEW_STATUS_BAR, "&Status Bar"},
          {8, ID_AUTO_ROTATE, "Auto R&otate"},
          {9, ID_LANGUAGE, "&Language"},
          {10, ID_PROPERTIES, "P&roperties..."}}},
        {"HelpMenu", {{1, ID_HELP_ONLINE, "Zerimo &Online Help"}, {2, ID_APP_ABOUT, "&About Zerimo..."}}},
    };
    return sections;
}

const std::vector<LanguageSubmenu>& LanguageSubmenus() {
    static const std::vector<LanguageSubmenu> submenus = {
        {7, "Resi&ze"}, {8, "R&otate"}, {9, "&Mirror"}, {10, "Convert &To"}, {11, "&Soften"}};
    return submenus;
}

const std::vector<LanguageTooltipKey>& LanguageTooltipKeys() {
    static const std::vector<LanguageTooltipKey> keys = {
        {ID_FILE_OPEN, "FileMenu", 2},  {ID_FILE_SAVE, "FileMenu", 3},   {ID_FILE_PRINT, "FileMenu", 8},
        {ID_ARROW, "ViewMenu", 3},      {ID_CROP, "EditMenu", 3},        {ID_EDIT_COPY, "EditMenu", 5},
        {ID_EDIT_PASTE, "EditMenu", 6}, {ID_EDIT_UNDO, "EditMenu", 1},   {ID_EDIT_REDO, "EditMenu", 2},
        {ID_RESIZE, "ResizeMenu", 1},   {ID_BRIGHTNESS, "ImageMenu", 5}, {ID_BLUR_SHARPEN, "ImageMenu", 7},
        {ID_APP_ABOUT, "HelpMenu", 2},
    };
    return keys;
}

int LanguagePromptKey(unsigned id) {
    switch (id) {
    case ID_FILE_NEW:
        return 1;
    case ID_FILE_OPEN:
        return 2;
    case ID_FILE_MRU_FILE1:
    case ID_FILE_MRU_FILE1 + 1:
    case ID_FILE_MRU_FILE1 + 2:
    case ID_FILE_MRU_FILE1 + 3:
        return 3;
    case ID_EDIT_UNDO:
        return 4;
    case ID_EDIT_REDO:
        return 5;
    case ID_EDIT_COPY:
        return 6;
    case ID_EDIT_PASTE:
        return 7;
    case ID_FILE_SAVE:
        return 8;
    case ID_FILE_SAVE_AS:
        return 9;
    case ID_APP_EXIT:
        return 10;
    case ID_VIEW_TOOLBAR:
        return 11;
    case ID_VIEW_STATUS_BAR:
        return 12;
    case ID_APP_ABOUT:
        return 13;
    case ID_IDLE_PROMPT:
        return 14;
    default:
        return 0;
    }
}

} // namespace zerimo
