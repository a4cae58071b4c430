#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>
#include <cstdlib>

int main(int argc, char** argv)
{
    // Headless, whatever the caller's desktop.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // No desktop bus in tests: the window must do without a taskbar object.
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    QApplication application(argc, argv);
    QLocale::setDefault(QLocale::c());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
