#pragma once
/// The About box, whose icon is a link to the help page (`CStaticLink`).

#include <QDialog>
#include <QLabel>

namespace zerimo {

class CZerimoApp;

/// A label that opens its target when clicked: blue until the target opened once, then purple;
/// an empty target opens the label's own text.
class CStaticLink : public QLabel {
    Q_OBJECT
  public:
    explicit CStaticLink(QWidget* parent = nullptr);
    QString target;
    QColor linkColor{0, 0, 255};
    /// Opens the target; true when the desktop took it.
    bool Open();

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    CAboutDlg(CZerimoApp& app, QWidget* parent = nullptr);
    CStaticLink* icon = nullptr;
    QLabel* versionText = nullptr;
    QPushButton* ok = nullptr;
};

} // namespace zerimo
