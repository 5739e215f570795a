#include "frame/NumEdit.h"

#include <QKeyEvent>
#include <QMessageBox>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace zerimo {

int LeadingInteger(const QString& text) {
    const std::string s = text.toStdString();
    size_t i = 0;
    while (i < s.size() &&
           (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r' || s[i] == '\v' || s[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    int64_t v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        v = v * 10 + (s[i] - '0');
        if (v > int64_t(INT_MAX) + 1) v = int64_t(INT_MAX) + 1;
    }
    if (negative) v = -v;
    return int(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

CNumEdit::CNumEdit(QWidget* parent) : QLineEdit(parent) {}

void CNumEdit::ChangeAmount(int steps) {
    const int64_t v = int64_t(GetValue()) + int64_t(steps) * delta;
    SetValue(int(std::clamp<int64_t>(v, minimum, maximum)));
}

int CNumEdit::IsValid(const QString& text) const {
    if (text == "+" || text == "-") return 3;
    const std::string s = text.toStdString();
    char* end = nullptr;
    const double d = std::strtod(s.c_str(), &end);
    int result = 0;
    if (end == s.c_str())
        result = 2;
    else if (d > maximum || d < minimum)
        result = 1;
    if (verbose && (result == 1 || result == 2)) {
        QString message;
        if (result == 1) message += "Given value is out of range.\n";
        if (result == 2) message += "Characters must be a number.\n";
        QMessageBox::critical(const_cast<CNumEdit*>(this), QString(), message);
    }
    return result;
}

bool CNumEdit::IsValid() const {
    const int v = LeadingInteger(text());
    const bool out = v > maximum || v < minimum;
    if (verbose && out)
        QMessageBox::critical(const_cast<CNumEdit*>(this), QString(), "Given value is out of range.\n");
    return out;
}

bool CNumEdit::SetValue(int v) {
    if (v < minimum || v > maximum) return false;
    setText(QString::number(v));
    return true;
}

int CNumEdit::GetValue() const {
    if (IsValid()) return minimum;
    return LeadingInteger(text());
}

void CNumEdit::keyPressEvent(QKeyEvent* event) {
    const QString typed = event->text();
    const bool character = event->key() == Qt::Key_Backspace || (!typed.isEmpty() && typed[0].isPrint() &&
                                                                 !(event->modifiers() & Qt::ControlModifier));
    if (!character) {
        // Navigation, Delete and shortcuts are not characters and are not checked.
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (typed == " ") return;
    const int before = GetValue();
    QLineEdit::keyPressEvent(event);
    if (IsValid()) {
        // Every intermediate text must stay in range.
        SetValue(before);
        selectAll();
    }
}

// ---- CNumSpinCtrl ----------------------------------------------------------------------------------

CNumSpinCtrl::CNumSpinCtrl(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    up_ = new QToolButton(this);
    up_->setArrowType(Qt::UpArrow);
    up_->setAutoRepeat(true);
    down_ = new QToolButton(this);
    down_->setArrowType(Qt::DownArrow);
    down_->setAutoRepeat(true);
    for (QToolButton* b : {up_, down_}) {
        b->setFixedSize(18, 11);
        b->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(b);
    }
    connect(up_, &QToolButton::clicked, this, [this] { Step(1); });
    connect(down_, &QToolButton::clicked, this, [this] { Step(-1); });
}

CNumEdit* CNumSpinCtrl::Edit() const {
    return qobject_cast<CNumEdit*>(buddy_);
}

void CNumSpinCtrl::SetDelta(int d) {
    if (CNumEdit* e = Edit()) e->SetDelta(d);
}

int CNumSpinCtrl::GetDelta() const {
    const CNumEdit* e = Edit();
    return e ? e->GetDelta() : 1;
}

void CNumSpinCtrl::SetBuddy(QWidget* buddy) {
    if (buddy_) buddy_->removeEventFilter(this);
    buddy_ = buddy;
    if (buddy_) buddy_->installEventFilter(this);
    if (CNumEdit* e = Edit()) e->SetValue(GetPos());
}

void CNumSpinCtrl::GetRange(int& min, int& max) const {
    if (const CNumEdit* e = Edit()) {
        e->GetRange(min, max);
        return;
    }
    min = lower_, max = upper_;
}

void CNumSpinCtrl::SetRange(int min, int max) {
    lower_ = min, upper_ = max;
    if (CNumEdit* e = Edit()) e->SetRange(min, max);
}

int CNumSpinCtrl::GetPos() const {
    if (const CNumEdit* e = Edit()) return e->GetValue();
    if (const auto* line = qobject_cast<const QLineEdit*>(buddy_)) return LeadingInteger(line->text());
    return position_;
}

void CNumSpinCtrl::SetPos(int v) {
    position_ = int(int16_t(v & 0xFFFF));
    if (CNumEdit* e = Edit())
        e->SetValue(v);
    else if (auto* line = qobject_cast<QLineEdit*>(buddy_))
        line->setText(QString::number(v));
}

bool CNumSpinCtrl::OnDeltaPos(int& position, int delta) {
    // The control's own position is kept away from its ends so that it never stops the arrows.
    if (position <= delta || position >= 1000 - delta) position = 500;
    if (CNumEdit* e = Edit()) e->ChangeAmount(delta);
    return true;
}

void CNumSpinCtrl::Step(int delta) {
    int position = position_;
    if (OnDeltaPos(position, delta)) position_ = std::clamp(position + delta, lower_, upper_);
}

bool CNumSpinCtrl::eventFilter(QObject* watched, QEvent* event) {
    if (watched == buddy_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            Step(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace zerimo
