// Shared main of every test program: a QApplication on the offscreen
// platform with the suite's 1920x1080 screen, so widget tests need no
// display, and the suite's own font set, so that text measures the same on
// every machine. A caller's own environment wins.
#include <QApplication>
#include <QFileInfo>
#include <QNetworkProxyFactory>
#include <gtest/gtest.h>

#include <cstdio>

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
    // Read by fontconfig when Qt builds its font list, so before QApplication;
    // the programs the tests start inherit it.
    setDefault("FONTCONFIG_FILE", VELUNA_TEST_FONTS_FILE_DEFAULT);
    if (!QFileInfo::exists(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf")) ||
        !QFileInfo::exists(QStringLiteral("/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf")))
        fprintf(stderr, "The tests measure text in DejaVu Sans and Liberation Sans, which are missing here: "
                        "run scripts/install-deps.sh\n");
    QApplication app(argc, argv);
    // Every test talks to loopback. Asking the system for a proxy starts a
    // libproxy thread that reads Qt's strings unsynchronised, which the
    // thread checker reports as a race in whichever test binds a socket first.
    QNetworkProxyFactory::setUseSystemConfiguration(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
