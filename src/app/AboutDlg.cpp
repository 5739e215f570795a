#include "app/AboutDlg.h"

#include "app/ZerimoApp.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QUrl>

namespace zerimo {

CStaticLink::CStaticLink(QWidget* parent) : QLabel(parent) {
    setCursor(Qt::PointingHandCursor);
}

bool CStaticLink::Open() {
    const QString address = target.isEmpty() ? text() : target;
    const bool ok = QDesktopServices::openUrl(QUrl::fromUserInput(address));
    if (ok) {
        linkColor = QColor(0x80, 0x00, 0x80);
        update();
    }
    return ok;
}

void CStaticLink::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) Open();
}

void CStaticLink::paintEvent(QPaintEvent* event) {
    if (!pixmap().isNull()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter p(this);
    p.setPen(linkColor);
    p.drawText(rect(), int(alignment()), text());
}

CAboutDlg::CAboutDlg(CZerimoApp& app, QWidget* parent) : QDialog(parent) {
    setWindowTitle("About Zerimo");
    auto* grid = new QGridLayout(this);
    icon = new CStaticLink;
    icon->setPixmap(QIcon(":/zerimo/zerimo.png").pixmap(48, 48));
    icon->target = app.HelpAddress();
    icon->setToolTip(icon->target);
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    versionText = new QLabel(QString(kAppTitle) + ", " + kVersionText);
    grid->addWidget(versionText, 0, 1);
    auto* second = new QLabel("An image viewer and editor for the Linux desktop.\n"
                              "Click the picture for the help page.");
    grid->addWidget(second, 1, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    ok = buttons->button(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    grid->addWidget(buttons, 2, 0, 1, 2);
    // Any setting but "Default" (an empty one included) relabels the box.
    if (app.languageFile != "Default") {
        setWindowTitle(StripMnemonics(app.LookupString("HelpMenu", "2", "&About Zerimo...")));
        ok->setText(app.LookupString("Buttons", "1", "OK"));
    }
}

} // namespace zerimo
