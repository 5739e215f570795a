#pragma once
/// The Preferences dialog: JPEG quality and the slide-show interval, each a `CNumEdit` with a
/// `CNumSpinCtrl`. The values live in memory until the frame writes them at exit.

#include "frame/NumEdit.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace zerimo {

class CZerimoApp;

class CPrefencesDlg : public QDialog {
    Q_OBJECT
  public:
    CPrefencesDlg(CZerimoApp& app, QWidget* parent = nullptr);

    CNumEdit qualityEdit;     // 319
    CNumSpinCtrl qualitySpin; // 318
    CNumEdit slidesEdit;      // 321
    CNumSpinCtrl slidesSpin;  // 320

    void accept() override;

  private:
    CZerimoApp& app_;
    QLabel* qualityLabel_ = nullptr; // 1072
    QLabel* slidesLabel_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

} // namespace zerimo
