// The handlers of the commands whose operation exists. A command without an entry appears in the
// menus disabled; wiring an operation is one entry here.

#include "app/ZerimoApp.h"
#include "document/ZerimoDoc.h"
#include "frame/MainFrame.h"
#include "view/ZerimoView.h"

#include <QStatusBar>
#include <QToolBar>

namespace zerimo {

namespace {

void OpenRecent(CommandContext& c, int index) {
    if (index < c.app.recentFiles.size()) c.doc.OpenDocumentFile(c.app.recentFiles[index].toStdString());
}

} // namespace

const std::map<unsigned, CommandHandler>& CommandHandlers() {
    static const std::map<unsigned, CommandHandler> handlers = {
        // File
        {ID_FILE_NEW, [](CommandContext& c) { c.doc.NewDocument(); }},
        {ID_FILE_OPEN, [](CommandContext& c) { c.app.OnFileOpen(); }},
        {ID_FILE_SAVE, [](CommandContext& c) { c.doc.DoFileSave(); }},
        {ID_FILE_SAVE_AS, [](CommandContext& c) { c.doc.DoSave(c.doc.GetPathName()); }},
        {ID_DELETE, [](CommandContext& c) { c.doc.OnDelete(); }},
        {ID_FILE_PRINT, [](CommandContext& c) { c.view.OnFilePrint(); }},
        {ID_FILE_MRU_FILE1, [](CommandContext& c) { OpenRecent(c, 0); }},
        {ID_FILE_MRU_FILE1 + 1, [](CommandContext& c) { OpenRecent(c, 1); }},
        {ID_FILE_MRU_FILE1 + 2, [](CommandContext& c) { OpenRecent(c, 2); }},
        {ID_FILE_MRU_FILE1 + 3, [](CommandContext& c) { OpenRecent(c, 3); }},
        {ID_PREFERENCES, [](CommandContext& c) { c.frame.OnPreferences(); }},
        {ID_APP_EXIT, [](CommandContext& c) { c.frame.close(); }},
        // Edit
        {ID_EDIT_UNDO, [](CommandContext& c) { c.doc.OnEditUndo(); }},
        {ID_EDIT_REDO, [](CommandContext& c) { c.doc.OnEditRedo(); }},
        // Image
        {ID_FULL_SCREEN, [](CommandContext& c) { c.frame.OnFullScreen(); }},
        {ID_LEAVE_FULL_SCREEN, [](CommandContext& c) { c.frame.OnLeaveFullScreen(); }},
        {ID_GET_NEXT, [](CommandContext& c) { c.doc.OnGetNext(); }},
        {ID_GET_PREV, [](CommandContext& c) { c.doc.OnGetPrev(); }},
        {ID_SLIDE_SHOW, [](CommandContext& c) { c.view.OnSlideShow(); }},
        {ID_WALLPAPER, [](CommandContext& c) { c.doc.OnWallpaper(); }},
        // View
        {ID_ZOOM_IN, [](CommandContext& c) { c.view.OnZoomIn(); }},
        {ID_ZOOM_OUT, [](CommandContext& c) { c.view.OnZoomOut(); }},
        {ID_ARROW,
         [](CommandContext& c) {
             // Hand and crop alternate; any other tool returns to the hand.
             c.app.ToolMode = c.app.ToolMode == 'A' ? 'C' : 'A';
             if (c.app.ToolMode == 'A') c.view.State().ClearSelection();
             c.view.viewport()->update();
         }},
        {ID_VIEW_TOOLBAR,
         [](CommandContext& c) {
             auto* bar = c.frame.findChild<QToolBar*>("toolbar");
             if (bar) bar->setVisible(!bar->isVisible());
         }},
        {ID_VIEW_STATUS_BAR,
         [](CommandContext& c) { c.frame.statusBar()->setVisible(!c.frame.statusBar()->isVisible()); }},
        {ID_AUTO_ROTATE, [](CommandContext& c) { c.doc.OnAutoRotate(); }},
        {ID_LANGUAGE, [](CommandContext& c) { c.frame.OnLanguage(); }},
        {ID_PROPERTIES, [](CommandContext& c) { c.view.OnProperties(); }},
        // Help
        {ID_HELP_ONLINE, [](CommandContext& c) { c.app.OnHelpOnline(); }},
        {ID_APP_ABOUT, [](CommandContext& c) { c.app.OnAppAbout(); }},
    };
    return handlers;
}

} // namespace zerimo
