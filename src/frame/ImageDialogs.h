#pragma once
/// The modal dialogs of the geometric operations: Rotate Image (an angle) and Image size (width and
/// height with Keep proportions), built from `CNumEdit` and `CNumSpinCtrl` over the dialog state of
/// the operations.

#include "frame/NumEdit.h"
#include "ops/Geometry.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

namespace zerimo {

class CZerimoApp;

class CRotateDlg : public QDialog {
    Q_OBJECT
  public:
    CRotateDlg(CZerimoApp& app, QWidget* parent = nullptr);
    CRotateDialogState state;
    CNumEdit angleEdit;
    CNumSpinCtrl angleSpin;
    void accept() override;
};

class CResizeDlg : public QDialog {
    Q_OBJECT
  public:
    CResizeDlg(CZerimoApp& app, int32_t width, int32_t height, QWidget* parent = nullptr);
    CSizeDialogState state;
    CNumEdit widthEdit, heightEdit;
    CNumSpinCtrl widthSpin, heightSpin;
    QCheckBox* keep = nullptr;
    void accept() override;

  private:
    void Show();
    bool showing_ = false;
};

} // namespace zerimo
