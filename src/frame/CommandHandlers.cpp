// The handlers of the commands whose operation exists. A command without an entry appears in the
// menus disabled; wiring an operation is one entry here.

#include "app/ZerimoApp.h"
#include "document/ZerimoDoc.h"
#include "frame/ImageDialogs.h"
#include "frame/MainFrame.h"
#include "view/ZerimoView.h"

#include <QApplication>
#include <QStatusBar>
#include <QToolBar>

#include <algorithm>

namespace zerimo {

namespace {

void OpenRecent(CommandContext& c, int index) {
    if (index < c.app.recentFiles.size()) c.doc.OpenDocumentFile(c.app.recentFiles[index].toStdString());
}

/// The selection in image pixels: the view keeps it in zoomed-image pixels.
imaging::RectF SelectionInImage(CommandContext& c) {
    const IntRect& s = c.view.State().selection;
    const double z = c.view.State().zoom;
    return {float(std::max(0, s.left) / z), float(std::max(0, s.top) / z), float(s.Width() / z),
            float(s.Height() / z)};
}

/// A long operation shows the wait cursor.
template <typename F> void Waiting(F&& f) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    f();
    QApplication::restoreOverrideCursor();
}

void Crop(CommandContext& c) {
    // With a selection of the crop tool the image is cut to it; otherwise the crop tool starts.
    if (c.app.ToolMode != 'C' || c.view.State().selection.IsEmpty()) {
        c.app.ToolMode = 'C';
        return;
    }
    const imaging::RectF area = SelectionInImage(c);
    Waiting([&] { c.doc.CropImage(area); });
    c.view.State().ClearSelection();
    c.view.viewport()->update();
}

void RotateByDegree(CommandContext& c) {
    CRotateDlg dialog(c.app, &c.frame);
    if (dialog.exec() != QDialog::Accepted) return;
    Waiting([&] { c.doc.RotateByDegree(double(dialog.state.angle)); });
}

void Resize(CommandContext& c) {
    uint32_t w = 0, h = 0;
    c.doc.GetImageSize(w, h);
    CResizeDlg dialog(c.app, int32_t(w), int32_t(h), &c.frame);
    if (dialog.exec() != QDialog::Accepted) return;
    Waiting([&] { c.doc.ResizeImage(float(dialog.state.width), float(dialog.state.height)); });
}

void RedEyes(CommandContext& c) {
    const imaging::RectF area = SelectionInImage(c);
    c.doc.CorrectRedEye(area.X, area.Y, area.Width, area.Height);
    c.view.State().ClearSelection();
    c.view.viewport()->update();
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
        {ID_CROP, Crop},
        {ID_RED_EYE, RedEyes},
        // Image
        {ID_FULL_SCREEN, [](CommandContext& c) { c.frame.OnFullScreen(); }},
        {ID_LEAVE_FULL_SCREEN, [](CommandContext& c) { c.frame.OnLeaveFullScreen(); }},
        {ID_GET_NEXT, [](CommandContext& c) { c.doc.OnGetNext(); }},
        {ID_GET_PREV, [](CommandContext& c) { c.doc.OnGetPrev(); }},
        {ID_SLIDE_SHOW, [](CommandContext& c) { c.view.OnSlideShow(); }},
        {ID_WALLPAPER, [](CommandContext& c) { c.doc.OnWallpaper(); }},
        {ID_RESIZE, Resize},
        {ID_ROTATE_BY, RotateByDegree},
        {ID_RESIZE_SCREEN, [](CommandContext& c) { Waiting([&] { c.doc.ResizeToScreen(); }); }},
        {ID_RESIZE_STRETCH, [](CommandContext& c) { Waiting([&] { c.doc.StretchToScreen(); }); }},
        {ID_ROTATE_LEFT, [](CommandContext& c) { c.doc.RotateFlipImage(imaging::Rotate270FlipNone); }},
        {ID_ROTATE_RIGHT, [](CommandContext& c) { c.doc.RotateFlipImage(imaging::Rotate90FlipNone); }},
        {ID_ROTATE_180, [](CommandContext& c) { c.doc.RotateFlipImage(imaging::Rotate180FlipNone); }},
        {ID_MIRROR_H, [](CommandContext& c) { c.doc.RotateFlipImage(imaging::RotateNoneFlipX); }},
        {ID_MIRROR_V, [](CommandContext& c) { c.doc.RotateFlipImage(imaging::RotateNoneFlipY); }},
        {ID_CONVERT_BW, [](CommandContext& c) { c.doc.ConvertTo(imaging::PixelFormat1bppIndexed, true); }},
        {ID_CONVERT_16, [](CommandContext& c) { c.doc.ConvertTo(imaging::PixelFormat4bppIndexed, true); }},
        {ID_CONVERT_256, [](CommandContext& c) { c.doc.ConvertTo(imaging::PixelFormat8bppIndexed, true); }},
        {ID_CONVERT_HIGH, [](CommandContext& c) { c.doc.ConvertTo(imaging::PixelFormat16bppRGB565, true); }},
        {ID_GRAYSCALE, [](CommandContext& c) { Waiting([&] { c.doc.GrayScale(); }); }},
        {ID_SEPIA, [](CommandContext& c) { Waiting([&] { c.doc.OnSepiaTone(); }); }},
        {ID_NEGATE, [](CommandContext& c) { c.doc.OnNegate(); }},
        {ID_EXTRACT_EDGES, [](CommandContext& c) { Waiting([&] { c.doc.ExtractEdgesCommand(); }); }},
        {ID_SOFTEN_SMALL, [](CommandContext& c) { c.doc.Soften(JobSoftenSmall); }},
        {ID_SOFTEN_MEDIUM, [](CommandContext& c) { c.doc.Soften(JobSoftenMedium); }},
        {ID_SOFTEN_LARGE, [](CommandContext& c) { c.doc.Soften(JobSoftenLarge); }},
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
