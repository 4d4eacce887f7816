// Shared main of every test program: a QApplication on the offscreen
// platform with the suite's 1920x1080 screen, so widget tests need no
// display, and the suite's own font set, so that text measures the same on
// every machine. A caller's own environment wins.
#include <QApplication>
#include <QFileInfo>
#include <QNetworkProxyFactory>
#include <gtest/gtest.h>

#include "platform/app_identity.h"
#include "tests/support/test_support.h"

#include <cstdio>
#include <memory>

namespace {

// Each test starts in the language the program starts in, as it does when
// CTest runs it alone: one that set another and did not put it back must not
// decide the texts of the tests after it in the same run.
class LanguageAtStart : public ::testing::EmptyTestEventListener {
public:
    LanguageAtStart() : language_(platform::appLanguage()) {}
    void OnTestStart(const ::testing::TestInfo&) override { platform::setAppLanguage(language_); }

private:
    unsigned language_;
};

}  // namespace

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
    ::testing::UnitTest::GetInstance()->listeners().Append(new LanguageAtStart);
    // Set by CTest on the tests that use a port of which the machine has one:
    // they wait for their turn with every other run of the suite. A lock not
    // got in time is said, and the test's own check of the port decides.
    std::unique_ptr<testsupport::MachineLock> turn;
    const QString lockName = qEnvironmentVariable("VELUNA_TEST_MACHINE_LOCK");
    if (!lockName.isEmpty()) {
        turn = std::make_unique<testsupport::MachineLock>(lockName, 90000);
        if (!turn->held())
            fprintf(stderr, "Another run of the tests kept the lock %s for 90 s: going on without it\n",
                    qPrintable(lockName));
    }
    return RUN_ALL_TESTS();
}
