#include "frame/PrefDialog.h"

#include "app/ZerimoApp.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace zerimo {

CPrefencesDlg::CPrefencesDlg(CZerimoApp& app, QWidget* parent) : QDialog(parent), app_(app) {
    setWindowTitle("Preferences");
    setWindowIcon(QIcon(":/zerimo/zerimo.png"));
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    auto* icon = new QLabel;
    icon->setPixmap(QIcon(":/zerimo/zerimo.png").pixmap(32, 32));
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    qualityLabel_ = new QLabel("JPEG Quality Value (1 - 100)");
    slidesLabel_ = new QLabel("Seconds Between Slides in Auto Mode (1 - 60)");
    grid->addWidget(qualityLabel_, 0, 1);
    grid->addWidget(slidesLabel_, 1, 1);
    for (auto [edit, spin, row] :
         {std::tuple{&qualityEdit, &qualitySpin, 0}, std::tuple{&slidesEdit, &slidesSpin, 1}}) {
        auto* box = new QHBoxLayout;
        box->setSpacing(0);
        edit->setFixedWidth(56);
        box->addWidget(edit);
        box->addWidget(spin);
        grid->addLayout(box, row, 2);
    }
    qualityEdit.setObjectName("qualityEdit");
    slidesEdit.setObjectName("slidesEdit");
    layout->addLayout(grid);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    cancel_ = buttons->button(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    // In this order, so that a stored value outside the range shows as the buddy refused it.
    qualitySpin.SetBuddy(&qualityEdit);
    qualitySpin.SetRange(10, 100);
    qualitySpin.SetPos(app.settings.jpegQuality);
    slidesSpin.SetBuddy(&slidesEdit);
    slidesSpin.SetRange(1, 60);
    slidesSpin.SetPos(app.settings.slideSeconds);

    if (app.LanguageActive()) {
        setWindowTitle(app.LookupString("PrefDialog", "0", "Preferences"));
        slidesLabel_->setText(
            app.LookupString("PrefDialog", "1", "Seconds Between Slides in Auto Mode (1 - 60)"));
        qualityLabel_->setText(app.LookupString("PrefDialog", "2", "JPEG Quality Value (1 - 100)"));
        ok_->setText(app.LookupString("Buttons", "1", "OK"));
        cancel_->setText(app.LookupString("Buttons", "3", "&Cancel"));
    }
}

void CPrefencesDlg::accept() {
    app_.settings.jpegQuality = qualityEdit.GetValue();
    app_.settings.slideSeconds = uint8_t(slidesEdit.GetValue() & 0xFF);
    QDialog::accept();
}

} // namespace zerimo
