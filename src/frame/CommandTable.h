#pragma once
/// The command table as data: the menus in order with their texts, the accelerators, the toolbar,
/// the status prompts and tooltips, the language keys that relabel them, and the enabling and
/// check rule of each command. The frame builds its widgets from these tables; nothing here needs
/// a window.

#include "document/Commands.h"

#include <string>
#include <vector>

namespace zerimo {

class CZerimoDoc;

struct MenuNode {
    enum class Kind { Item, Separator, Popup };
    Kind kind = Kind::Item;
    unsigned id = 0;
    const char* text = "";
    std::vector<MenuNode> children;
};

/// The menu bar: "&File", "&Edit", "&Image", "&View", "&Help" with their items in order.
const std::vector<MenuNode>& MenuBar();

struct Accelerator {
    const char* keys; // QKeySequence's portable text
    unsigned id;
};
const std::vector<Accelerator>& Accelerators();

/// The toolbar's buttons in order; 0 marks a separator.
const std::vector<unsigned>& ToolbarButtons();

/// How a command is enabled and checked.
enum class Rule {
    Always,     // enabled whenever it has a handler
    Document,   // the document's QueryCommand
    FullScreen, // always; checked in full screen
    ToolHand,   // always; checked while the tool is the hand
    ToolCrop,   // not busy; checked while the tool is crop
    ToolPaint,  // always; checked while the tool is the paint brush
    ToolText,   // always; checked while the tool is text
    Toolbar,    // always; checked while the toolbar shows
    StatusBar,  // always; checked while the status bar shows
    RedEye,     // not busy, the crop tool with a selection
    Negate,     // always; checked while the negation is on
};

struct CommandInfo {
    unsigned id;
    Rule rule;
    /// The status prompt and, after a line break, the tooltip ("" for none).
    const char* prompt;
};
/// Every command the menus, the toolbar and the accelerators send.
const std::vector<CommandInfo>& Commands();
const CommandInfo* FindCommand(unsigned id);

/// The part of a prompt string before (status prompt) or after (tooltip) its line break.
std::string PromptOf(const CommandInfo& info);
std::string TooltipOf(const CommandInfo& info);

/// What the frame and the view contribute to the rules.
struct UiState {
    bool fullScreen = false;
    char toolMode = 'A';
    bool toolbarVisible = true;
    bool statusBarVisible = true;
    bool hasSelection = false;
    bool negateOn = false;
};

/// The enabling and check state of `id`; a command without a handler is never enabled.
CommandState QueryUiCommand(const CZerimoDoc& doc, const UiState& ui, unsigned id, bool hasHandler);

// ---- language keys ----

/// One entry of a menu section: the key's number and the command it relabels (0 for a submenu,
/// which is relabelled by its position in the Image menu).
struct LanguageMenuKey {
    int key;
    unsigned id;
    const char* defaultText;
};
struct LanguageMenuSection {
    const char* section;
    std::vector<LanguageMenuKey> keys;
};
const std::vector<LanguageMenuSection>& LanguageMenuSections();

/// The labels of the Image menu's submenus at positions 7 to 11 ("ImageMenu" keys 8 to 12).
struct LanguageSubmenu {
    int position;
    const char* defaultText;
};
const std::vector<LanguageSubmenu>& LanguageSubmenus();

/// Toolbar tooltips: (command, section, key).
struct LanguageTooltipKey {
    unsigned id;
    const char* section;
    int key;
};
const std::vector<LanguageTooltipKey>& LanguageTooltipKeys();

/// Status prompts in section "ToolTips": the key of `id`, or 0 when the section has none for it.
int LanguagePromptKey(unsigned id);

} // namespace zerimo
