// The GUI tests run GoogleTest inside a QApplication on the offscreen platform.

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Settings written by the tests go to a scratch profile, never the user's.
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir profile;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, profile.path());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
