// Shared main of every test program: a QApplication on the offscreen
// platform with the suite's 1920x1080 screen, so widget tests need no
// display. A caller's own environment wins.
#include <QApplication>
#include <QNetworkProxyFactory>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    const auto setDefault = [](const char* name, const QByteArray& value) {
        if (qEnvironmentVariableIsEmpty(name))
            qputenv(name, value);
    };
    setDefault("VELUNA_TEST_SCREEN_FILE", VELUNA_TEST_SCREEN_FILE_DEFAULT);
    setDefault("VELUNA_BIN_DIR", VELUNA_BIN_DIR_DEFAULT);
    setDefault("VELUNA_SOURCE_DIR", VELUNA_SOURCE_DIR_DEFAULT);
    setDefault("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + VELUNA_TEST_SCREEN_FILE_DEFAULT);
    QApplication app(argc, argv);
    // Every test talks to loopback. Asking the system for a proxy starts a
    // libproxy thread that reads Qt's strings unsynchronised, which the
    // thread checker reports as a race in whichever test binds a socket first.
    QNetworkProxyFactory::setUseSystemConfiguration(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
