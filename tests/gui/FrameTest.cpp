// The main frame built from the command table: menu order, texts and shortcuts, the enabling and
// check rules, relabelling from a language file, the title, settings and the posted messages.

#include "app/ZerimoApp.h"
#include "document/ZerimoDoc.h"
#include "frame/MainFrame.h"
#include "view/ZerimoView.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

using namespace zerimo;

namespace {

struct FrameFixture : ::testing::Test {
    CZerimoApp& app = App();
    std::unique_ptr<CMainFrame> frame;
    std::unique_ptr<CZerimoDoc> doc;
    QTemporaryDir dir;

    void SetUp() override {
        app.languageFile = "Default";
        app.languageStrings = CLanguageStrings();
        app.ToolMode = 'A';
        app.fullScreen = 0;
        app.recentFiles.clear();
        frame = std::make_unique<CMainFrame>(app);
        frame->resize(800, 600);
        doc = std::make_unique<CZerimoDoc>(*frame);
        frame->SetDocument(doc.get());
        app.frame = frame.get();
        app.doc = doc.get();
        doc->NewDocument();
    }
    void TearDown() override {
        app.frame = nullptr;
        app.doc = nullptr;
        doc.reset();
        frame.reset();
    }
    QMenu* TopMenu(int i) { return frame->menuBar()->actions()[i]->menu(); }
    std::string WriteFile(const char* name, const std::string& text) {
        const std::string path = dir.filePath(name).toStdString();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
};

QStringList Texts(QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions()) out << (a->isSeparator() ? QString("-") : a->text());
    return out;
}

} // namespace

TEST_F(FrameFixture, MenusInOrderWithTheirTexts) {
    QStringList titles;
    for (QAction* a : frame->menuBar()->actions()) titles << a->text();
    EXPECT_EQ(titles, QStringList({"&File", "&Edit", "&Image", "&View", "&Help"}));
    const QStringList file = Texts(TopMenu(0));
    const QStringList expected = {"&New\tCtrl+N",
                                  "&Open...\tCtrl+O",
                                  "&Save\tCtrl+S",
                                  "Save &As...",
                                  "Delete\tDelete",
                                  "-",
                                  "Select a Twain Source...",
                                  "Acquire...",
                                  "-",
                                  "&Batch Conversion",
                                  "-",
                                  "&Print...\tCtrl+P",
                                  "-",
                                  "Recent File"};
    EXPECT_EQ(file.mid(0, expected.size()), expected);
    EXPECT_EQ(file.last(), "E&xit");
    const QStringList image = Texts(TopMenu(2));
    EXPECT_EQ(image.size(), 16);
    EXPECT_EQ(image[0], "Full Screen\tF11");
    EXPECT_EQ(image[7], "Resize");
    EXPECT_EQ(image[11], "Soften");
    EXPECT_EQ(image[15], "Wallpaper");
    EXPECT_EQ(Texts(TopMenu(3)),
              QStringList({"Zoom In\tCtrl+=", "Zoom Out\tCtrl+-", "-", "Arrow", "Paint Brush", "Text", "-",
                           "&Toolbar", "&Status Bar", "-", "Auto Rotate", "Language\tCtrl+L",
                           "Properties...\tAlt+Enter"}));
}

TEST_F(FrameFixture, AcceleratorsReachTheirCommands) {
    const struct {
        unsigned id;
        const char* key;
    } cases[] = {
        {ID_GET_NEXT, "Right"},        {ID_GET_PREV, "Left"},           {ID_ZOOM_IN, "Up"},
        {ID_ZOOM_IN, "Ctrl+="},        {ID_ZOOM_OUT, "Ctrl+-"},         {ID_FULL_SCREEN, "F11"},
        {ID_LEAVE_FULL_SCREEN, "Esc"}, {ID_EDIT_UNDO, "Alt+Backspace"}, {ID_PROPERTIES, "Alt+Return"},
        {ID_SLIDE_SHOW, "Ctrl+R"},     {ID_ROTATE_180, "Ctrl+Down"}};
    for (const auto& c : cases) {
        QAction* a = frame->Action(c.id);
        ASSERT_TRUE(a) << c.id;
        EXPECT_TRUE(a->shortcuts().contains(QKeySequence(c.key))) << c.key;
    }
}

TEST_F(FrameFixture, EnablingAndChecks) {
    // A blank image: nothing to undo, no file to step from, not busy.
    frame->UpdateCommandUI();
    auto state = [&](unsigned id) { return frame->QueryState(id); };
    EXPECT_FALSE(state(ID_EDIT_UNDO).enabled);
    EXPECT_FALSE(state(ID_GET_NEXT).enabled);
    EXPECT_FALSE(state(ID_WALLPAPER).enabled);
    EXPECT_TRUE(state(ID_FILE_SAVE).enabled);
    EXPECT_TRUE(state(ID_ZOOM_IN).enabled);
    EXPECT_TRUE(state(ID_FULL_SCREEN).enabled);
    EXPECT_TRUE(state(ID_ARROW).checked);
    EXPECT_FALSE(state(ID_FILE_MRU_FILE1).enabled); // the list is empty
    // Operations that do not exist yet stay disabled rather than pretend.
    for (unsigned id : {ID_ROTATE_LEFT, ID_MIRROR_H, ID_BRIGHTNESS, ID_SEPIA}) {
        if (!frame->HasHandler(id)) {
            EXPECT_FALSE(state(id).enabled) << id;
        }
    }

    doc->busy = 1;
    EXPECT_FALSE(state(ID_FILE_SAVE).enabled);
    EXPECT_FALSE(state(ID_CROP).enabled);
    EXPECT_TRUE(state(ID_FULL_SCREEN).enabled);
    EXPECT_TRUE(state(ID_PROPERTIES).enabled);
    doc->busy = 0;

    // Red eyes: the crop tool with a selection only.
    EXPECT_FALSE(state(ID_RED_EYE).enabled);
    app.ToolMode = 'C';
    EXPECT_FALSE(state(ID_RED_EYE).enabled);
    frame->View().State().selection = {0, 0, 20, 20};
    EXPECT_EQ(state(ID_RED_EYE).enabled, frame->HasHandler(ID_RED_EYE));
    frame->View().State().ClearSelection();
    EXPECT_TRUE(state(ID_CROP).checked);
    EXPECT_FALSE(state(ID_ARROW).checked);
    app.fullScreen = 1;
    EXPECT_TRUE(state(ID_FULL_SCREEN).checked);
    app.fullScreen = 0;
    frame->UpdateCommandUI();
    EXPECT_FALSE(frame->Action(ID_EDIT_UNDO)->isEnabled());
}

TEST_F(FrameFixture, QuarterTurnAndNegateFromTheirCommands) {
    if (!frame->HasHandler(ID_ROTATE_RIGHT) || !frame->HasHandler(ID_NEGATE)) GTEST_SKIP();
    const std::string sample = std::string(ZERIMO_SAMPLES) + "/kodim23.jpg";
    ASSERT_TRUE(doc->OpenDocumentFile(sample));
    uint32_t w = 0, h = 0;
    doc->GetImageSize(w, h);
    frame->OnCommand(ID_ROTATE_RIGHT);
    uint32_t w2 = 0, h2 = 0;
    doc->GetImageSize(w2, h2);
    EXPECT_EQ(w2, h);
    EXPECT_EQ(h2, w);
    EXPECT_TRUE(frame->QueryState(ID_EDIT_UNDO).enabled);
    frame->OnCommand(ID_NEGATE);
    EXPECT_TRUE(frame->QueryState(ID_NEGATE).checked);
    frame->OnCommand(ID_NEGATE);
    EXPECT_FALSE(frame->QueryState(ID_NEGATE).checked);
}

TEST_F(FrameFixture, ArrowAlternatesHandAndCrop) {
    frame->OnCommand(ID_ARROW);
    EXPECT_EQ(app.ToolMode, 'C');
    frame->OnCommand(ID_ARROW);
    EXPECT_EQ(app.ToolMode, 'A');
    app.ToolMode = 'P';
    frame->OnCommand(ID_ARROW);
    EXPECT_EQ(app.ToolMode, 'A');
}

TEST_F(FrameFixture, NavigationEnablesWithAFileAndRunsFromTheCommand) {
    // Two real images in one folder: Get Next opens the other one.
    const std::string sample = std::string(ZERIMO_SAMPLES) + "/kodim23.jpg";
    const QString a = dir.filePath("a.jpg"), b = dir.filePath("b.jpg");
    ASSERT_TRUE(QFile::copy(QString::fromStdString(sample), a));
    ASSERT_TRUE(QFile::copy(QString::fromStdString(sample), b));
    ASSERT_TRUE(doc->OpenDocumentFile(a.toStdString()));
    EXPECT_EQ(frame->windowTitle(), "a.jpg - Zerimo (64 bit) 1.84");
    EXPECT_TRUE(frame->QueryState(ID_GET_NEXT).enabled);
    frame->OnCommand(ID_GET_NEXT);
    EXPECT_EQ(doc->GetPathName(), b.toStdString());
    EXPECT_EQ(app.recentFiles.value(0), a);
    // The fit happened and the zoom pane follows.
    EXPECT_LT(frame->View().State().zoom, 1.0);
}

TEST_F(FrameFixture, RelabelKeepsShortcutsAndUsesPositionsForSubmenus) {
    const std::string path = WriteFile("t.lng", "[FileMenu]\n0=&Datei\n2=Ö&ffnen\n[imagemenu]\n8=&Größe\n"
                                                "[ToolTips]\n2=Vorhandenes Dokument öffnen\n14=Bereit\n");
    frame->ApplyLanguageFile(QString::fromStdString(path));
    EXPECT_EQ(app.languageFile, QString::fromStdString(path));
    EXPECT_EQ(frame->menuBar()->actions()[0]->text(), "&Datei");
    EXPECT_EQ(frame->menuBar()->actions()[1]->text(), "&Edit");
    EXPECT_EQ(frame->Action(ID_FILE_OPEN)->text(), "Ö&ffnen\tCtrl+O");
    EXPECT_EQ(frame->Action(ID_FILE_SAVE)->text(), "&Save\tCtrl+S"); // the key's default, shortcut kept
    EXPECT_EQ(frame->Action(ID_APP_EXIT)->text(), "E&xit");
    EXPECT_EQ(TopMenu(2)->actions()[7]->text(), "&Größe");
    EXPECT_EQ(TopMenu(2)->actions()[8]->text(), "R&otate");
    EXPECT_EQ(frame->Action(ID_FILE_OPEN)->statusTip(), "Vorhandenes Dokument öffnen");
    EXPECT_EQ(frame->Action(ID_FILE_OPEN)->toolTip(), "Ö&ffnen");

    // A file that cannot be read still becomes the setting; the menus keep the previous texts.
    frame->ApplyLanguageFile("/nonexistent/x.lng");
    EXPECT_EQ(app.languageFile, "/nonexistent/x.lng");
    EXPECT_EQ(frame->Action(ID_FILE_OPEN)->text(), "Ö&ffnen\tCtrl+O");
}

TEST_F(FrameFixture, TitleAndFilters) {
    EXPECT_EQ(CMainFrame::CaptionFor("photo.jpg"), "photo.jpg - Zerimo (64 bit) 1.84");
    const QStringList f =
        CMainFrame::QtFilters("All Supported Formats|*.bmp;*.jpg|BMP files (*.bmp;*.dib)|*.bmp;*.dib|");
    EXPECT_EQ(f, QStringList({"All Supported Formats (*.bmp *.jpg)", "BMP files (*.bmp *.dib)"}));
}

TEST_F(FrameFixture, SettingsRoundTrip) {
    app.settings.jpegQuality = 77;
    app.settings.slideSeconds = 9;
    frame->SaveSettings();
    QSettings& p = app.Profile();
    EXPECT_EQ(p.value("Pref/Quality").toInt(), 77);
    EXPECT_EQ(p.value("Pref/SlideSeconds").toInt(), 9);
    EXPECT_EQ(p.value("Window/WP").toByteArray().size(), 44);
    // Only the low byte of the interval is used.
    p.setValue("Pref/SlideSeconds", 260);
    frame->LoadSettings();
    EXPECT_EQ(app.settings.slideSeconds, 4);
    // A placement at the left screen edge is not restored.
    WindowPlacement wp;
    wp.left = 0, wp.top = 50, wp.right = 700, wp.bottom = 550;
    EXPECT_FALSE(wp.Restorable());
    WindowPlacement back;
    ASSERT_TRUE(back.Read(wp.Bytes()));
    EXPECT_EQ(back.right, 700);
    EXPECT_FALSE(back.Read(QByteArray(40, '\0')));
    // In full screen the placement is not written.
    p.remove("Window/WP");
    app.fullScreen = 1;
    frame->SaveSettings();
    EXPECT_FALSE(p.contains("Window/WP"));
    app.fullScreen = 0;
}

TEST_F(FrameFixture, RecentFilesKeepTheLastFour) {
    for (int i = 0; i < 5; ++i) app.AddToRecentFiles(QString("/f%1.png").arg(i));
    EXPECT_EQ(app.recentFiles, QStringList({"/f4.png", "/f3.png", "/f2.png", "/f1.png"}));
    EXPECT_EQ(app.Profile().value("Recent File List/File1").toString(), "/f4.png");
    EXPECT_TRUE(frame->QueryState(ID_FILE_MRU_FILE1 + 3).enabled);
}

TEST_F(FrameFixture, PostedWorkRunsOnTheInterfaceThread) {
    bool ran = false;
    Qt::HANDLE where = nullptr;
    std::thread worker([&] {
        frame->PostToView(WM_APP_COMMIT, [&] {
            ran = true;
            where = QThread::currentThreadId();
        });
    });
    worker.join();
    EXPECT_FALSE(ran);
    QCoreApplication::processEvents();
    EXPECT_TRUE(ran);
    EXPECT_EQ(where, QThread::currentThreadId());
}

TEST_F(FrameFixture, ZoomSliderAndPanes) {
    frame->show(); // the zoom pane's check runs while the status bar shows
    CZerimoView& view = frame->View();
    view.State().zoom = 1.0;
    view.OnZoomIn();
    EXPECT_EQ(frame->ZoomSliderPosition(), 71);
    frame->findChild<QSlider*>("zoomSlider")->setValue(30);
    EXPECT_DOUBLE_EQ(view.State().zoom, 0.4);
    QString size;
    ASSERT_TRUE(view.SizePaneText(size));
    view.State().selection = {0, 0, 100, 40};
    ASSERT_TRUE(view.SizePaneText(size));
    EXPECT_EQ(size, QString::fromUtf8("100 \xC3\x97 40"));
    doc->busy = 1;
    EXPECT_FALSE(view.SizePaneText(size));
    doc->busy = 0;
}
