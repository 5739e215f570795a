// CNumEdit and CNumSpinCtrl: typing keeps every intermediate text in range, the spin steps and
// clamps, and the Preferences dialog's order of calls.

#include "frame/NumEdit.h"
#include "app/ZerimoApp.h"
#include "frame/ImageDialogs.h"
#include "frame/PrefDialog.h"

#include <QCheckBox>
#include <QTest>

#include <gtest/gtest.h>

using namespace zerimo;

TEST(NumEdit, ValuesAndChecks) {
    CNumEdit e;
    e.SetRange(10, 100);
    EXPECT_TRUE(e.SetValue(50));
    EXPECT_EQ(e.text(), "50");
    EXPECT_FALSE(e.SetValue(5));
    EXPECT_EQ(e.text(), "50");
    e.setText("7abc");
    EXPECT_TRUE(e.IsValid());    // out of range
    EXPECT_EQ(e.GetValue(), 10); // the minimum for an out-of-range text
    e.setText("42x");
    EXPECT_EQ(e.GetValue(), 42);
    EXPECT_EQ(e.IsValid("+"), 3);
    EXPECT_EQ(e.IsValid("-"), 3);
    EXPECT_EQ(e.IsValid("abc"), 2);
    EXPECT_EQ(e.IsValid("150"), 1);
    EXPECT_EQ(e.IsValid("99.5 apples"), 0);
    EXPECT_EQ(e.GetFormatString(), "%d");
    EXPECT_EQ(LeadingInteger("  -12z"), -12);
    EXPECT_EQ(LeadingInteger("x"), 0);
    EXPECT_EQ(LeadingInteger("99999999999"), 2147483647);
}

TEST(NumEdit, TypingIsRefusedWhenItLeavesTheRange) {
    CNumEdit e;
    e.SetRange(10, 100);
    e.SetValue(100);
    e.selectAll();
    QTest::keyClick(&e, Qt::Key_5);
    EXPECT_EQ(e.text(), "100"); // "5" is below 10
    e.setCursorPosition(1);
    QTest::keyClick(&e, Qt::Key_Backspace);
    EXPECT_EQ(e.text(), "100"); // "00" reads as 0
    e.SetValue(12);
    e.setCursorPosition(2);
    QTest::keyClick(&e, Qt::Key_Backspace);
    EXPECT_EQ(e.text(), "12"); // "1" is below 10
    e.setCursorPosition(1);
    QTest::keyClick(&e, Qt::Key_Space);
    EXPECT_EQ(e.text(), "12");
    e.SetValue(50);
    e.setCursorPosition(2);
    QTest::keyClick(&e, Qt::Key_Backspace);
    EXPECT_EQ(e.text(), "50"); // "5" refused
    e.setCursorPosition(1);
    QTest::keyClick(&e, Qt::Key_5);
    EXPECT_EQ(e.text(), "50"); // "550" refused
    e.SetValue(10);
    e.setCursorPosition(1);
    QTest::keyClick(&e, Qt::Key_5);
    EXPECT_EQ(e.text(), "10"); // "150" is over the maximum
    e.SetValue(15);
    e.setSelection(1, 1);
    QTest::keyClick(&e, Qt::Key_8);
    EXPECT_EQ(e.text(), "18"); // in range: taken
}

TEST(NumSpin, StepsClampAtTheEnds) {
    CNumEdit e;
    CNumSpinCtrl s;
    s.SetBuddy(&e);
    s.SetRange(1, 60);
    s.SetPos(60);
    int position = s.PlatformPosition();
    s.OnDeltaPos(position, 1);
    EXPECT_EQ(e.GetValue(), 60); // the up arrow at 60 keeps 60
    s.OnDeltaPos(position, -1);
    EXPECT_EQ(e.GetValue(), 59);
    int low = 0, high = 0;
    s.GetRange(low, high);
    EXPECT_EQ(low, 1);
    EXPECT_EQ(high, 60);
    // The notified position is kept away from the control's ends.
    position = 1;
    s.OnDeltaPos(position, 1);
    EXPECT_EQ(position, 500);
    position = 999;
    s.OnDeltaPos(position, 1);
    EXPECT_EQ(position, 500);
    EXPECT_EQ(s.GetPos(), 60);
}

TEST(Preferences, AStoredQualityBelowTheRangeBecomesItsMinimum) {
    CZerimoApp& app = App();
    app.languageFile = "Default";
    app.settings.jpegQuality = 5;
    app.settings.slideSeconds = 3;
    {
        CPrefencesDlg dialog(app);
        EXPECT_EQ(dialog.qualityEdit.text(), "0"); // the buddy refused 5
        EXPECT_EQ(dialog.slidesEdit.text(), "3");
        dialog.accept();
    }
    EXPECT_EQ(app.settings.jpegQuality, 10);
    EXPECT_EQ(app.settings.slideSeconds, 3);
    app.settings.jpegQuality = 100;
    {
        CPrefencesDlg dialog(app);
        int position = dialog.qualitySpin.PlatformPosition();
        dialog.qualitySpin.OnDeltaPos(position, 1);
        EXPECT_EQ(dialog.qualityEdit.text(), "100");
        dialog.reject();
    }
    EXPECT_EQ(app.settings.jpegQuality, 100);
}

TEST(ImageDialogs, ResizeKeepsProportionsAndRotateStartsAt45) {
    CZerimoApp& app = App();
    app.languageFile = "Default";
    CResizeDlg resize(app, 600, 400);
    EXPECT_EQ(resize.widthEdit.text(), "600");
    EXPECT_EQ(resize.heightEdit.text(), "400");
    resize.widthEdit.setText("300");
    EXPECT_EQ(resize.heightEdit.text(), QString::number(resize.state.height));
    EXPECT_EQ(resize.state.width, 300);
    EXPECT_EQ(resize.state.height, 200);
    resize.keep->setChecked(false);
    resize.heightEdit.setText("50");
    EXPECT_EQ(resize.state.width, 300);
    EXPECT_EQ(resize.state.height, 50);

    CRotateDlg rotate(app);
    EXPECT_EQ(rotate.angleEdit.text(), "45");
    int position = rotate.angleSpin.PlatformPosition();
    rotate.angleSpin.OnDeltaPos(position, 1);
    EXPECT_EQ(rotate.angleEdit.GetValue(), 46);
    rotate.angleEdit.setText("720");
    rotate.accept();
    EXPECT_EQ(rotate.state.angle, 720); // typing takes any integer
}
