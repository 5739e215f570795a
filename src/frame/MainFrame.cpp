#include "frame/MainFrame.h"

#include "app/ZerimoApp.h"
#include "document/ZerimoDoc.h"
#include "frame/PrefDialog.h"
#include "frame/ToolbarIcons.h"
#include "view/Preloader.h"
#include "view/ZerimoView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <cstring>
#include <pwd.h>
#include <unistd.h>

namespace zerimo {

// ---- window placement ------------------------------------------------------------------------------

QByteArray WindowPlacement::Bytes() const {
    const int32_t v[11] = {length, flags, showCmd, minX, minY, maxX, maxY, left, top, right, bottom};
    QByteArray b(44, '\0');
    for (int i = 0; i < 11; ++i)
        for (int k = 0; k < 4; ++k) b[i * 4 + k] = char((uint32_t(v[i]) >> (8 * k)) & 0xFF);
    return b;
}

bool WindowPlacement::Read(const QByteArray& b) {
    if (b.size() != 44) return false;
    int32_t v[11];
    for (int i = 0; i < 11; ++i) {
        uint32_t u = 0;
        for (int k = 0; k < 4; ++k) u |= uint32_t(uint8_t(b[i * 4 + k])) << (8 * k);
        v[i] = int32_t(u);
    }
    length = v[0], flags = v[1], showCmd = v[2], minX = v[3], minY = v[4], maxX = v[5], maxY = v[6];
    left = v[7], top = v[8], right = v[9], bottom = v[10];
    return true;
}

// ---- construction ----------------------------------------------------------------------------------

namespace {

bool Checkable(unsigned id) {
    switch (id) {
    case ID_GET_NEXT:
    case ID_GET_PREV:
    case ID_SLIDE_SHOW:
    case ID_AUTO_ROTATE:
    case ID_FULL_SCREEN:
    case ID_CROP:
    case ID_ARROW:
    case ID_PAINT_BRUSH:
    case ID_TEXT_TOOL:
    case ID_VIEW_TOOLBAR:
    case ID_VIEW_STATUS_BAR:
    case ID_NEGATE:
        return true;
    default:
        return false;
    }
}

QString UserName() {
    QString name = qEnvironmentVariable("USER");
    if (name.isEmpty())
        if (const passwd* pw = ::getpwuid(::getuid())) name = QString::fromLocal8Bit(pw->pw_name);
    return name.isEmpty() ? QStringLiteral("User") : name;
}

} // namespace

CMainFrame::CMainFrame(CZerimoApp& app, CPreloader* preloader) : app_(app), preloader_(preloader) {
    setWindowTitle(kAppTitle);
    setWindowIcon(QIcon(":/zerimo/zerimo.png"));
    view_ = new CZerimoView(*this, this);
    setCentralWidget(view_);
    BuildMenus();
    BuildToolbar();
    BuildStatusBar();

    auto* idle = new QTimer(this);
    idle->setInterval(200);
    connect(idle, &QTimer::timeout, this, &CMainFrame::UpdateCommandUI);
    idle->start();
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::SetDocument(CZerimoDoc* doc) {
    doc_ = doc;
    view_->SetDocument(doc);
}

QMenu* CMainFrame::BuildPopup(const MenuNode& node, QWidget* parent) {
    auto* menu = new QMenu(QString::fromUtf8(node.text), parent);
    for (const MenuNode& child : node.children) {
        switch (child.kind) {
        case MenuNode::Kind::Separator:
            menu->addSeparator();
            break;
        case MenuNode::Kind::Popup:
            menu->addMenu(BuildPopup(child, menu));
            break;
        case MenuNode::Kind::Item: {
            auto* a = new QAction(QString::fromUtf8(child.text), this);
            a->setData(child.id);
            a->setCheckable(Checkable(child.id));
            if (const CommandInfo* info = FindCommand(child.id))
                a->setStatusTip(QString::fromStdString(PromptOf(*info)));
            connect(a, &QAction::triggered, this, [this, id = child.id] { OnCommand(id); });
            menu->addAction(a);
            addAction(a); // shortcuts keep working while the menu bar is hidden
            actions_[child.id] = a;
            if (child.id == ID_FILE_MRU_FILE1) {
                // The placeholder stands while the list is empty; the entries follow it.
                for (unsigned i = 0; i < 4; ++i) {
                    auto* r = new QAction(this);
                    r->setData(ID_FILE_MRU_FILE1 + i);
                    r->setStatusTip("Open this document");
                    r->setVisible(false);
                    connect(r, &QAction::triggered, this, [this, i] { OnCommand(ID_FILE_MRU_FILE1 + i); });
                    menu->addAction(r);
                    recentActions_.push_back(r);
                }
            }
            break;
        }
        }
    }
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { UpdateMenu(menu); });
    return menu;
}

void CMainFrame::BuildMenus() {
    for (const MenuNode& top : MenuBar()) {
        QMenu* m = BuildPopup(top, this);
        menuBar()->addMenu(m);
        topMenus_.push_back(m);
    }
    fileMenu_ = topMenus_[0];
    imageMenu_ = topMenus_[2];
    // Accelerators: every key of a command on its action.
    std::map<unsigned, QList<QKeySequence>> keys;
    for (const Accelerator& a : Accelerators())
        keys[a.id].push_back(QKeySequence(QString::fromLatin1(a.keys)));
    for (auto& [id, list] : keys) {
        QAction* a = Action(id);
        if (!a) {
            // Accelerator-only commands (leave full screen, cut).
            a = new QAction(this);
            a->setData(id);
            connect(a, &QAction::triggered, this, [this, id = id] { OnCommand(id); });
            addAction(a);
            actions_[id] = a;
        }
        a->setShortcuts(list);
        a->setShortcutContext(Qt::WindowShortcut);
    }
}

void CMainFrame::BuildToolbar() {
    toolbar_ = addToolBar("Standard");
    toolbar_->setObjectName("toolbar");
    toolbar_->setIconSize(QSize(16, 16));
    for (unsigned id : ToolbarButtons()) {
        if (id == 0) {
            toolbar_->addSeparator();
            continue;
        }
        QAction* a = Action(id);
        if (!a) continue;
        a->setIcon(ToolbarIcon(id));
        if (const CommandInfo* info = FindCommand(id))
            a->setToolTip(QString::fromStdString(TooltipOf(*info)));
        toolbar_->addAction(a);
    }
}

void CMainFrame::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    const QFontMetrics fm(bar->font());
    promptPane_ = new QLabel(app_.LookupString("ToolTips", "14", "Ready"));
    bar->addWidget(promptPane_, 1);
    auto pane = [&](const QString& widthText) {
        auto* l = new QLabel;
        l->setFrameShape(QFrame::StyledPanel);
        l->setFrameShadow(QFrame::Sunken);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        l->setMinimumWidth(fm.horizontalAdvance(widthText) + 8);
        bar->addPermanentWidget(l);
        return l;
    };
    colorPane_ = pane(QString(20, u' '));
    colorPane_->setAutoFillBackground(true);
    sizePane_ = pane("1600 X 1200   ");
    zoomPane_ = pane("100%  ");
    sliderPane_ = new QWidget;
    sliderPane_->setMinimumWidth(fm.horizontalAdvance(QString(40, u' ')) + 8);
    auto* layout = new QHBoxLayout(sliderPane_);
    layout->setContentsMargins(0, 0, 0, 0);
    zoomSlider_ = new QSlider(Qt::Horizontal);
    zoomSlider_->setObjectName("zoomSlider");
    zoomSlider_->setRange(kZoomSliderMin, kZoomSliderMax);
    zoomSlider_->setPageStep(kZoomSliderPage);
    zoomSlider_->setValue(kZoomSliderStart);
    zoomSlider_->setTickPosition(QSlider::NoTicks);
    zoomSlider_->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(zoomSlider_);
    bar->addPermanentWidget(sliderPane_);
    // A moved slider is noticed by the zoom pane's check, at once rather than at the next idle.
    connect(zoomSlider_, &QSlider::valueChanged, this, [this] {
        if (!sliderUpdating_ && statusBar()->isVisible())
            zoomPane_->setText(view_->UpdateZoomPane(zoomSlider_->value()));
    });
}

// ---- commands --------------------------------------------------------------------------------------

QAction* CMainFrame::Action(unsigned id) const {
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

bool CMainFrame::HasHandler(unsigned id) const {
    return CommandHandlers().count(id) != 0;
}

UiState CMainFrame::CurrentUiState() const {
    UiState ui;
    ui.fullScreen = app_.fullScreen != 0;
    ui.toolMode = app_.ToolMode;
    ui.toolbarVisible = toolbar_ && toolbar_->isVisible();
    ui.statusBarVisible = statusBar()->isVisible();
    ui.hasSelection = !view_->State().selection.IsEmpty();
    if (doc_) ui.negateOn = doc_->Adjustments().negateOn != 0;
    return ui;
}

CommandState CMainFrame::QueryState(unsigned id) const {
    if (!doc_) return {false, false};
    CommandState s = QueryUiCommand(*doc_, CurrentUiState(), id, HasHandler(id));
    if (id >= ID_FILE_MRU_FILE1 && id < ID_FILE_MRU_FILE1 + 4 &&
        int(id - ID_FILE_MRU_FILE1) >= app_.recentFiles.size())
        s.enabled = false;
    return s;
}

void CMainFrame::OnCommand(unsigned id) {
    if (!doc_ || !QueryState(id).enabled) return;
    const auto it = CommandHandlers().find(id);
    if (it == CommandHandlers().end()) return;
    CommandContext ctx{app_, *this, *view_, *doc_};
    it->second(ctx);
    UpdateCommandUI();
}

void CMainFrame::UpdateMenu(QMenu* menu) {
    if (menu == fileMenu_) RebuildRecentFiles();
    for (QAction* a : menu->actions()) {
        if (a->menu() || a->isSeparator()) continue;
        const unsigned id = a->data().toUInt();
        const CommandState s = QueryState(id);
        a->setEnabled(s.enabled);
        if (a->isCheckable()) a->setChecked(s.checked);
    }
}

void CMainFrame::UpdateCommandUI() {
    if (!doc_) return;
    for (auto& [id, a] : actions_) {
        const CommandState s = QueryState(id);
        a->setEnabled(s.enabled);
        if (a->isCheckable()) a->setChecked(s.checked);
    }
    if (statusBar()->isVisible()) {
        zoomPane_->setText(view_->UpdateZoomPane(zoomSlider_->value()));
        QString size;
        if (view_->SizePaneText(size)) sizePane_->setText(size);
    }
    // Keep the neighbours of the open file decoded.
    if (preloader_ && doc_->imageLoaded && !doc_->GetPathName().empty() &&
        doc_->GetPathName() != lastPreloaded_ && doc_->FileExists()) {
        lastPreloaded_ = doc_->GetPathName();
        const QSize client = view_->maximumViewportSize();
        preloader_->PreloadNeighbours(lastPreloaded_, client.width(), client.height(),
                                      view_->viewport()->devicePixelRatioF());
    }
}

void CMainFrame::RebuildRecentFiles() {
    QAction* placeholder = Action(ID_FILE_MRU_FILE1);
    const QStringList& files = app_.recentFiles;
    if (placeholder) placeholder->setVisible(files.isEmpty());
    for (int i = 0; i < int(recentActions_.size()); ++i) {
        QAction* r = recentActions_[size_t(i)];
        r->setVisible(i < files.size());
        if (i >= files.size()) continue;
        QString shown = files[i];
        if (shown.size() > 60) shown = shown.left(20) + "..." + shown.right(37);
        r->setText(QString("&%1 %2").arg(i + 1).arg(shown.replace("&", "&&")));
        r->setStatusTip(app_.LanguageActive() ? app_.LookupString("ToolTips", "3", "Open this document")
                                              : QString("Open this document"));
    }
}

// ---- messages --------------------------------------------------------------------------------------

void CMainFrame::SetZoomPos(int position, bool setPosition) {
    if (!setPosition) return;
    sliderUpdating_ = true;
    zoomSlider_->setValue(position); // the slider clamps to its range
    sliderUpdating_ = false;
}

int CMainFrame::ZoomSliderPosition() const {
    return zoomSlider_->value();
}

void CMainFrame::PaintColorPane(int pane, uint32_t colorref) {
    if (pane != 1) return;
    QPalette pal = colorPane_->palette();
    pal.setColor(QPalette::Window, QColor(colorref & 0xFF, (colorref >> 8) & 0xFF, (colorref >> 16) & 0xFF));
    colorPane_->setPalette(pal);
}

// ---- full screen -----------------------------------------------------------------------------------

void CMainFrame::OnFullScreen() {
    if (app_.fullScreen) {
        OnLeaveFullScreen();
        return;
    }
    app_.fullScreen = 1;
    WindowPlacement wp;
    const QRect n = normalGeometry().isValid() ? normalGeometry() : geometry();
    wp.left = n.left(), wp.top = n.top(), wp.right = n.right() + 1, wp.bottom = n.bottom() + 1;
    wp.showCmd = isMaximized() ? 3 : 1;
    savedPlacement_ = wp.Bytes();
    statusBar()->hide();
    toolbar_->hide();
    menuBar()->hide();
    showFullScreen();
    // Without a window manager to honour the full-screen state the window covers the screen itself.
    if (const QScreen* s = screen()) setGeometry(s->geometry());
    view_->viewport()->update();
}

void CMainFrame::OnLeaveFullScreen() {
    if (!app_.fullScreen) return;
    app_.fullScreen = 0;
    statusBar()->show();
    toolbar_->show();
    menuBar()->show();
    showNormal();
    WindowPlacement wp;
    if (wp.Read(savedPlacement_)) {
        setGeometry(wp.left, wp.top, wp.right - wp.left, wp.bottom - wp.top);
        if (wp.showCmd == 3) showMaximized();
    }
    view_->OnFitWindow();
    view_->viewport()->update();
}

// ---- preferences and language ----------------------------------------------------------------------

void CMainFrame::OnPreferences() {
    CPrefencesDlg dialog(app_, this);
    dialog.exec();
}

void CMainFrame::OnLanguage() {
    const QString path = QFileDialog::getOpenFileName(this, "Select Language", CZerimoApp::LanguageFolder(),
                                                      "*.lng (Zerimo Language Files) (*.lng)");
    if (path.isEmpty()) return;
    ApplyLanguageFile(path);
    view_->OnRelabel(CultureText(app_.languageStrings));
}

void CMainFrame::ApplyLanguageFile(const QString& path) {
    app_.languageStrings.LoadLanguageFile(path); // a failed load keeps the previous content
    app_.languageFile = path;
    RelabelMenus();
}

void CMainFrame::RelabelMenus() {
    static const char* const names[] = {"File", "Edit", "Image", "View", "Help"};
    for (int i = 0; i < 5 && i < int(topMenus_.size()); ++i)
        topMenus_[size_t(i)]->setTitle(
            app_.LookupString(QString(names[i]) + "Menu", "0", QString("&") + names[i]));
    for (const LanguageMenuSection& section : LanguageMenuSections()) {
        for (const LanguageMenuKey& k : section.keys) {
            if (k.id == 0) continue;
            QAction* a = Action(k.id);
            if (!a) continue;
            const QString current = a->text();
            const qsizetype tab = current.lastIndexOf(u'\t');
            QString text =
                app_.LookupString(section.section, QString::number(k.key), QString::fromUtf8(k.defaultText));
            if (tab >= 0) text += "\t" + current.mid(tab + 1);
            a->setText(text);
        }
    }
    const QList<QAction*> imageItems = imageMenu_->actions();
    for (const LanguageSubmenu& s : LanguageSubmenus())
        if (s.position < imageItems.size())
            imageItems[s.position]->setText(app_.LookupString("ImageMenu", QString::number(s.position + 1),
                                                              QString::fromUtf8(s.defaultText)));
    // Tooltips and status prompts read the dictionary too.
    const bool active = app_.LanguageActive();
    for (const LanguageTooltipKey& k : LanguageTooltipKeys()) {
        QAction* a = Action(k.id);
        const CommandInfo* info = FindCommand(k.id);
        if (!a || !info) continue;
        const QString def = QString::fromStdString(TooltipOf(*info));
        a->setToolTip(active ? app_.LookupString(k.section, QString::number(k.key), def) : def);
    }
    for (auto& [id, a] : actions_) {
        const CommandInfo* info = FindCommand(id);
        if (!info) continue;
        const QString def = QString::fromStdString(PromptOf(*info));
        const int key = LanguagePromptKey(id);
        a->setStatusTip(active && key ? app_.LookupString("ToolTips", QString::number(key), def) : def);
    }
    promptPane_->setText(active ? app_.LookupString("ToolTips", "14", "Ready") : QString("Ready"));
    menuBar()->update();
}

// ---- settings --------------------------------------------------------------------------------------

void CMainFrame::LoadSettings() {
    QSettings& profile = app_.Profile();
    userName_ = UserName();
    app_.languageFile = profile.value(userName_ + "/src", "Default").toString();
    if (!app_.languageFile.isEmpty() && app_.languageFile != "Default" &&
        QFileInfo(app_.languageFile).isFile()) {
        ApplyLanguageFile(app_.languageFile);
    } else {
        // Chosen by the user-interface language; applied from the next start on.
        const QStringList ui = QLocale::system().uiLanguages();
        const QString file =
            LanguageFileForId(LanguageIdOf(ui.isEmpty() ? QLocale::system().name() : ui.first()));
        if (!file.isEmpty()) app_.languageFile = CZerimoApp::LanguageFolder() + "/" + file;
    }

    WindowPlacement wp;
    if (wp.Read(profile.value("Window/WP").toByteArray()) && wp.Restorable()) {
        setGeometry(wp.left, wp.top, wp.right - wp.left, wp.bottom - wp.top);
        if (wp.showCmd == 3) setWindowState(Qt::WindowMaximized);
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        resize(std::max(640, avail.width() * 3 / 4), std::max(480, avail.height() * 3 / 4));
    }
    bool ok = false;
    const int quality = profile.value("Pref/Quality", 100).toInt(&ok);
    app_.settings.jpegQuality = ok ? quality : 100;
    const int seconds = profile.value("Pref/SlideSeconds", 3).toInt(&ok);
    app_.settings.slideSeconds = uint8_t((ok ? seconds : 3) & 0xFF); // stored in one byte
}

void CMainFrame::SaveSettings() {
    QSettings& profile = app_.Profile();
    if (!app_.fullScreen) {
        // In full screen nothing is written, so the last windowed placement survives.
        WindowPlacement wp;
        const QRect n = normalGeometry().isValid() ? normalGeometry() : geometry();
        wp.left = n.left(), wp.top = n.top(), wp.right = n.right() + 1, wp.bottom = n.bottom() + 1;
        wp.showCmd = isMaximized() ? 3 : 1;
        profile.setValue("Window/WP", wp.Bytes());
    }
    profile.setValue("Pref/Quality", app_.settings.jpegQuality);
    profile.setValue("Pref/SlideSeconds", int(app_.settings.slideSeconds));
    if (userName_.isEmpty()) userName_ = UserName();
    profile.setValue(userName_ + "/src", app_.languageFile);
    app_.SaveRecentFiles();
    profile.sync();
}

// ---- window events ---------------------------------------------------------------------------------

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (doc_ && !doc_->SaveModified()) {
        event->ignore();
        return;
    }
    view_->StopSlideShow();
    SaveSettings();
    event->accept();
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    view_->OnFitWindow();
}

void CMainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) {
        if (isActiveWindow())
            view_->viewport()->repaint();
        else
            update();
    }
}

bool CMainFrame::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        // An empty prompt shows the idle prompt.
        auto* tip = static_cast<QStatusTipEvent*>(event);
        if (tip->tip().isEmpty()) statusBar()->clearMessage();
    }
    return QMainWindow::event(event);
}

// ---- the document's host ---------------------------------------------------------------------------

AppSettings& CMainFrame::Settings() {
    return app_.settings;
}

void CMainFrame::FitWindow() {
    view_->OnFitWindow();
}

void CMainFrame::RedrawWindow() {
    view_->InvalidateImage();
    update();
}

QString CMainFrame::CaptionFor(const QString& documentTitle) {
    return QString("%1 - %2 (64 bit) %3")
        .arg(documentTitle, kAppTitle, QString(kVersionText).remove("Version "));
}

void CMainFrame::RefreshCaption(const std::string& title) {
    setWindowTitle(CaptionFor(QString::fromStdString(title)));
}

void CMainFrame::ShowMessage(const std::string& text, MessageIcon icon) {
    const QString message = QString::fromStdString(text);
    QMessageBox::Icon qicon = icon == MessageIcon::Error     ? QMessageBox::Critical
                              : icon == MessageIcon::Warning ? QMessageBox::Warning
                                                             : QMessageBox::Information;
    if (message.count(u'\n') <= 30) {
        QMessageBox box(qicon, kAppTitle, message, QMessageBox::Ok, this);
        box.exec();
        return;
    }
    // A long text (the properties report) scrolls instead of growing past the screen.
    QDialog box(this);
    box.setWindowTitle(kAppTitle);
    auto* layout = new QVBoxLayout(&box);
    auto* row = new QHBoxLayout;
    auto* iconLabel = new QLabel;
    iconLabel->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    iconLabel->setAlignment(Qt::AlignTop);
    row->addWidget(iconLabel);
    auto* edit = new QPlainTextEdit(message);
    edit->setReadOnly(true);
    edit->setMinimumSize(560, 420);
    row->addWidget(edit, 1);
    layout->addLayout(row);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    layout->addWidget(buttons);
    box.exec();
}

SaveChangesAnswer CMainFrame::AskSaveChanges(const std::string& question) {
    const auto answer =
        QMessageBox::question(this, kAppTitle, QString::fromStdString(question),
                              QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
    if (answer == QMessageBox::Yes) return SaveChangesAnswer::Yes;
    if (answer == QMessageBox::No) return SaveChangesAnswer::No;
    return SaveChangesAnswer::Cancel;
}

QStringList CMainFrame::QtFilters(const std::string& filter) {
    QStringList out;
    const QStringList parts = QString::fromStdString(filter).split(u'|');
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString text = parts[i];
        const QString patterns = parts[i + 1];
        if (text.isEmpty() || patterns.isEmpty()) continue;
        QString spaced = patterns;
        spaced.replace(u';', u' ');
        const QString suffix = "(" + patterns + ")";
        QString shown = text.endsWith(suffix) ? text.left(text.size() - suffix.size()).trimmed() : text;
        out << shown + " (" + spaced + ")";
    }
    return out;
}

bool CMainFrame::AskSavePath(const SaveDialogRequest& request, std::string& chosen) {
    QFileDialog dialog(this, "Save As");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    const QStringList filters = QtFilters(request.filter);
    dialog.setNameFilters(filters);
    if (request.filterIndex >= 1 && request.filterIndex <= filters.size())
        dialog.selectNameFilter(filters[request.filterIndex - 1]);
    QString ext = QString::fromStdString(request.defaultExtension);
    if (ext.startsWith(u'.')) ext.remove(0, 1);
    dialog.setDefaultSuffix(ext);
    if (!request.folder.empty()) dialog.setDirectory(QString::fromStdString(request.folder));
    dialog.selectFile(QString::fromStdString(request.proposedName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    chosen = dialog.selectedFiles().first().toStdString();
    return true;
}

void CMainFrame::PostToView(uint32_t message, std::function<void()> handler) {
    QCoreApplication::postEvent(view_, new CPostedEvent(message, std::move(handler)));
}

void CMainFrame::MainWindowSize(int& width, int& height) {
    width = frameGeometry().width();
    height = frameGeometry().height();
}

void CMainFrame::AddToRecentFiles(const std::string& path) {
    app_.AddToRecentFiles(QString::fromStdString(path));
}

void CMainFrame::ScreenSize(int& width, int& height) {
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    width = s ? s->geometry().width() : 0;
    height = s ? s->geometry().height() : 0;
}

std::shared_ptr<imaging::Image> CMainFrame::TakeDecodedImage(const std::string& path) {
    if (!preloader_) return nullptr;
    std::shared_ptr<CImagePyramid> pyramid;
    CPreloader::Tiles tiles;
    ImagePtr image = preloader_->Take(path, &pyramid, &tiles);
    if (image && pyramid) view_->AdoptPyramid(std::move(pyramid));
    if (image && !tiles.tiles.empty()) view_->AdoptTiles(image, tiles.zoom, std::move(tiles.tiles));
    return image;
}

} // namespace zerimo
