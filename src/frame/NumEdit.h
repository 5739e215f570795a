#pragma once
/// `CNumEdit`, an edit box that accepts only integers within a range (every intermediate text must
/// stay within it), and `CNumSpinCtrl`, an up-down control that steps a `CNumEdit` buddy.

#include <QLineEdit>
#include <QString>
#include <QWidget>

class QToolButton;

namespace zerimo {

/// The leading integer of a text as the C library reads it (blanks, a sign, digits); 0 without
/// one, clamped to the int range.
int LeadingInteger(const QString& text);

class CNumEdit : public QLineEdit {
    Q_OBJECT
  public:
    explicit CNumEdit(QWidget* parent = nullptr);

    /// Value + steps x delta, clamped to the range, then set.
    virtual void ChangeAmount(int steps);
    virtual int GetDelta() const { return delta; }
    virtual void SetDelta(int d) { delta = d; }
    virtual void GetRange(int& min, int& max) const {
        min = minimum;
        max = maximum;
    }
    virtual void SetRange(int min, int max) {
        minimum = min;
        maximum = max;
    }
    virtual int GetVerbose() const { return verbose; }
    virtual void SetVerbose(int v) { verbose = v; }
    /// 0 valid, 1 out of range, 2 not a number, 3 a lone sign (a partial entry).
    virtual int IsValid(const QString& text) const;
    /// True when the current text's leading integer is out of range.
    virtual bool IsValid() const;
    /// Sets the text to v when it lies within the range; false otherwise (text kept).
    virtual bool SetValue(int v);
    /// The leading integer of the text, or the minimum when the text is out of range.
    virtual int GetValue() const;
    virtual QString GetFormatString() const { return "%d"; }

    int verbose = 0;
    int delta = 1;
    int minimum = -2147483647;
    int maximum = 2147483647;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};

class CNumSpinCtrl : public QWidget {
    Q_OBJECT
  public:
    explicit CNumSpinCtrl(QWidget* parent = nullptr);

    virtual void SetDelta(int d);
    virtual int GetDelta() const;
    virtual void SetBuddy(QWidget* buddy);
    virtual QWidget* GetBuddy() const { return buddy_; }
    virtual void GetRange(int& min, int& max) const;
    virtual void SetRange(int min, int max);
    virtual int GetPos() const;
    virtual void SetPos(int v);

    /// The arrows' notification: `delta` steps from the control's `position`.
    bool OnDeltaPos(int& position, int delta);
    /// The control's own position (16 bits) and range.
    int PlatformPosition() const { return position_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    CNumEdit* Edit() const;
    void Step(int delta);

    QWidget* buddy_ = nullptr;
    QToolButton* up_ = nullptr;
    QToolButton* down_ = nullptr;
    int position_ = 0;
    int lower_ = 0, upper_ = 100;
};

} // namespace zerimo
