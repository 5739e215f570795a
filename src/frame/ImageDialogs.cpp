#include "frame/ImageDialogs.h"

#include "app/ZerimoApp.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace zerimo {

namespace {

QHBoxLayout* EditWithSpin(CNumEdit& edit, CNumSpinCtrl& spin) {
    auto* box = new QHBoxLayout;
    box->setSpacing(0);
    edit.setFixedWidth(64);
    box->addWidget(&edit);
    box->addWidget(&spin);
    box->addStretch();
    return box;
}

} // namespace

CRotateDlg::CRotateDlg(CZerimoApp& app, QWidget* parent) : QDialog(parent) {
    setWindowTitle("Rotate Image");
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel("Angle to rotate, in degrees, -359 to 359");
    layout->addWidget(label);
    layout->addLayout(EditWithSpin(angleEdit, angleSpin));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    angleSpin.SetBuddy(&angleEdit);
    angleSpin.SetRange(CRotateDialogState::kSpinMinimum, CRotateDialogState::kSpinMaximum);
    angleSpin.SetPos(state.angle);
    // The arrows stop at -359 and 359; typing takes any integer.
    angleEdit.SetRange(-2147483647, 2147483647);
    if (app.LanguageActive()) {
        setWindowTitle(app.LookupString("RotateDialog", "0", "Rotate Image"));
        label->setText(app.LookupString("RotateDialog", "1", "Angle to rotate, in degrees, -359 to 359"));
        buttons->button(QDialogButtonBox::Ok)->setText(app.LookupString("Buttons", "1", "OK"));
    }
}

void CRotateDlg::accept() {
    state.angle = angleEdit.GetValue();
    QDialog::accept();
}

CResizeDlg::CResizeDlg(CZerimoApp& app, int32_t width, int32_t height, QWidget* parent)
    : QDialog(parent), state(width, height) {
    setWindowTitle("Image size");
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    auto* widthLabel = new QLabel("Width");
    auto* heightLabel = new QLabel("Height");
    grid->addWidget(widthLabel, 0, 0);
    grid->addLayout(EditWithSpin(widthEdit, widthSpin), 0, 1);
    grid->addWidget(heightLabel, 1, 0);
    grid->addLayout(EditWithSpin(heightEdit, heightSpin), 1, 1);
    layout->addLayout(grid);
    keep = new QCheckBox("&Keep proportions");
    keep->setChecked(state.keepProportions);
    layout->addWidget(keep);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    for (auto [edit, spin] : {std::pair{&widthEdit, &widthSpin}, std::pair{&heightEdit, &heightSpin}}) {
        spin->SetBuddy(edit);
        spin->SetRange(CSizeDialogState::kMinimum, CSizeDialogState::kMaximum);
    }
    Show();
    connect(keep, &QCheckBox::toggled, this, [this](bool on) { state.keepProportions = on; });
    connect(&widthEdit, &QLineEdit::textChanged, this, [this] {
        if (showing_) return;
        state.OnWidthChanged(widthEdit.GetValue());
        Show();
    });
    connect(&heightEdit, &QLineEdit::textChanged, this, [this] {
        if (showing_) return;
        state.OnHeightChanged(heightEdit.GetValue());
        Show();
    });
    if (app.LanguageActive()) {
        setWindowTitle(app.LookupString("ResizeDialog", "0", "Image size"));
        widthLabel->setText(app.LookupString("ResizeDialog", "1", "Width"));
        heightLabel->setText(app.LookupString("ResizeDialog", "2", "Height"));
        keep->setText(app.LookupString("ResizeDialog", "3", "&Keep proportions"));
        buttons->button(QDialogButtonBox::Ok)->setText(app.LookupString("Buttons", "1", "OK"));
        buttons->button(QDialogButtonBox::Cancel)->setText(app.LookupString("Buttons", "3", "&Cancel"));
    }
}

void CResizeDlg::Show() {
    // The fields show the state; what they show is not taken as typed in turn.
    showing_ = true;
    if (widthEdit.GetValue() != state.width || widthEdit.text().isEmpty()) widthEdit.SetValue(state.width);
    if (heightEdit.GetValue() != state.height || heightEdit.text().isEmpty())
        heightEdit.SetValue(state.height);
    showing_ = false;
}

void CResizeDlg::accept() {
    if (!state.Valid()) return;
    QDialog::accept();
}

} // namespace zerimo
