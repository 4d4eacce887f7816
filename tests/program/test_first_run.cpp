// The first run as `make run` sets it up: the player-sim program with its
// gallery and a version whose product has an editor, and veluna's frame
// with every feature installed, linked to it.
#include "calibration/warp_main.h"
#include "content/gallery_model.h"
#include "content/picture_manager.h"
#include "core/command_registry.h"
#include "core/command_table.h"
#include "core/document_relay.h"
#include "core/main_veluna_features.h"
#include "core/mainframe.h"
#include "rotation/rotate_dialog.h"
#include "tests/core/device_harness.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QImage>
#include <QProcess>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

namespace {

using testsupport::waitUntil;

const QString kTitle = QStringLiteral("veluna V9.1.5");
// An address of its own, so that no other test's player holds its ports.
const QString kAddress = QStringLiteral("127.0.0.61");
const QString kMac = QStringLiteral("A1B2C3D4E501");

// player-sim as the run script starts it; ends with the test.
struct SimProgram {
    explicit SimProgram(const QString& version)
    {
        process.start(testsupport::binDir() + QStringLiteral("/player-sim"),
                      {QStringLiteral("--address"), kAddress, QStringLiteral("--port"), QStringLiteral("5005"),
                       QStringLiteral("--mac"), kMac, QStringLiteral("--version"), version, QStringLiteral("--gallery")});
        waitUntil([&] {
            firstLine += process.readAllStandardOutput();
            return firstLine.contains('\n') || process.state() == QProcess::NotRunning;
        }, 10000);
    }
    ~SimProgram()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(5000);
    }
    QProcess process;
    QByteArray firstLine;
};

// One HTTP GET to the gallery port; the body, empty on failure.
QByteArray httpGet(const QString& path)
{
    QTcpSocket socket;
    socket.connectToHost(kAddress, 23333);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write("GET " + path.toUtf8() + " HTTP/1.1\r\nHost: " + kAddress.toLatin1() + "\r\nConnection: close\r\n\r\n");
    QByteArray answer;
    waitUntil([&] {
        answer += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    }, 5000);
    answer += socket.readAll();
    const qsizetype body = answer.indexOf("\r\n\r\n");
    return answer.startsWith("HTTP/1.1 200") && body >= 0 ? answer.mid(body + 4) : QByteArray();
}

TEST(FirstRun, PlayerAnswersTheGalleryAndSystemSetupOpensItsEditor)
{
    DEVTEST_SKIP_UNDER_THREAD_CHECKER();
    struct Row {
        const char* version;
        std::function<bool(QDialog*)> isEditor;
        const char* editor;
    };
    const Row rows[] = {
        {"0x1500", [](QDialog* d) { return dynamic_cast<calib::CWarpMain*>(d) != nullptr; }, "warp wizard"},
        {"0x1501", [](QDialog* d) { return dynamic_cast<CRotate*>(d) != nullptr; }, "rotation editor"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.editor);
        SimProgram sim(QString::fromLatin1(row.version));
        if (!sim.firstLine.contains("gallery on http port 23333")) {
            const QByteArray why = sim.process.readAllStandardError();
            // No test of this run uses that address: a second run of the suite does.
            if (why.contains("in use"))
                GTEST_SKIP() << "another program holds " << kAddress.toStdString() << ": " << why.constData();
            FAIL() << sim.firstLine.constData() << why.constData();
        }

        // The gallery answers with its sample pictures, which open as pictures.
        const auto list = gallery::ParseList(httpGet(QStringLiteral("/image/names?time=1")), kAddress);
        ASSERT_TRUE(list.has_value());
        ASSERT_EQ(list->folders.size(), 1u);
        ASSERT_EQ(list->folders[0].pictures.size(), 3u);
        const QString thumb = list->folders[0].pictures[0].thumbUrl;
        EXPECT_EQ(QImage::fromData(httpGet(thumb.mid(thumb.indexOf(QLatin1Char('/'), 7)))).size(), QSize(640, 360));

        testsupport::TempHome home;
        devtest::DeviceHarness::Boxes boxes;
        core::clearCommands();
        InstallFeatures();
        platform::setAppTitle(kTitle);
        platform::setAppLanguage(platform::kLanguageEnglish);
        auto frame = std::make_unique<CMainFrame>(kTitle, platform::kLanguageEnglish);
        auto relay = std::make_unique<CDocumentRelay>(frame.get(), QStringList());
        frame->SetDocument(relay.get());
        CvelunaDoc& doc = relay->doc();
        doc.setTarget(kAddress, 5005);
        doc.currentPlayer().ip = kAddress;
        doc.currentPlayer().portText = QStringLiteral("5005");
        doc.currentPlayer().mac = kMac;
        frame->UpdateCommandUI();
        frame->Command(core::kCmdReconnect)->trigger();
        ASSERT_TRUE(waitUntil([&] { return doc.IsConnected(); }));
        // The handshake (0) sets off the display-grid file (1), the status (2)
        // and the layout list (3); each answer leaves its number + 1, so 4 is
        // the layout list's answer taken: the last of them.
        ASSERT_TRUE(waitUntil([&] { return doc.sequence() >= 4; }));

        // Every modal window that shows is noted and closed.
        bool editorSeen = false;
        int folders = -1;
        testsupport::ModalCloser closer(
            [&](QDialog& d) {
                editorSeen = editorSeen || row.isEditor(&d);
                if (auto* pm = dynamic_cast<CPictureManager*>(&d))
                    folders = pm->folders()->count();
            },
            [](QDialog& d) {
                // Picture Manager is shown while it fetches its list.
                auto* pm = dynamic_cast<CPictureManager*>(&d);
                return !pm || pm->folders()->count() > 0;
            });

        // Picture Manager lists the gallery without a failure message.
        frame->UpdateCommandUI();
        frame->Command(32806)->trigger();
        EXPECT_EQ(folders, 1);
        EXPECT_TRUE(boxes.texts().filter(QStringLiteral("gallery")).isEmpty()) << boxes.texts().join('|').toStdString();

        // System Setup fetches the files, then opens the product's editor.
        frame->UpdateCommandUI();
        frame->Command(core::kCmdSystemSetup)->trigger();
        for (int tick = 0; tick < 20 && !editorSeen; ++tick) {
            waitUntil([] { return false; }, 100);
            frame->OnTimerDuties();
        }
        EXPECT_TRUE(editorSeen) << boxes.texts().join('|').toStdString();

        closer.stop();
        frame->SetDocument(nullptr);
        relay.reset();
        frame.reset();
        core::clearCommands();
    }
}

}  // namespace
