// "Setup UART" against a stand-in for Tollivar's main window: the request
// sequence, edits and command normalising, learning from the serial port,
// Save To Device, Load, Save As, Exit, and screenshots in both languages;
// through the link hub, a player whose document is never read.
#include "common/controls/property_grid.h"
#include "common/text_coding.h"
#include "companion/control_protocol.h"
#include "companion/link_hub.h"
#include "platform/app_identity.h"
#include "platform/messages.h"
#include "platform/window.h"
#include "player/player_sim.h"
#include "tests/companion/hub_players.h"
#include "tests/support/full_disk.h"
#include "tests/support/test_support.h"
#include "transport/protocol.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using namespace Qt::StringLiterals;
using platform::LPARAM;
using platform::WPARAM;

constexpr int kSerial = 2602, kFolders = 2603, kLayouts = 2604, kProjectors = 2605, kHost = 2601;

void setCategory(PlayerCatalog& catalog, std::size_t index, const QByteArray& name)
{
    catalog.categories[index].name.fill(0);
    std::copy_n(name.constData(), std::min<qsizetype>(name.size(), 8), catalog.categories[index].name.begin());
}

// Tollivar's main window as the dialog sees it: takes every request, and
// answers (later, as a player would) when told to.
struct StandInMain {
    struct Sent {
        proto::PlayerPacketHeader header;
        QByteArray payload;
        std::size_t targets = 0;
        qint64 atMs = 0;
    };
    QString previousTitle = platform::appTitle();
    std::unique_ptr<platform::MessageWindow> window;
    QObject context;
    QElapsedTimer clock;
    std::vector<Sent> sent;
    bool answer = false;
    PlayerCatalog catalog;
    QByteArray document;
    QByteArray serialBytes;
    qint64 documentAtMs = -1;

    StandInMain()
    {
        platform::setAppTitle(u"Tollivar V1.23"_s);
        window = std::make_unique<platform::MessageWindow>(platform::appTitle());
        clock.start();
        window->onMessage(platform::WM_SEND_TO_PLAYER, [this](WPARAM, LPARAM l) {
            std::unique_ptr<SendRequest> request(reinterpret_cast<SendRequest*>(l));
            Sent s;
            s.header = proto::PlayerPacketHeader::fromBytes(reinterpret_cast<const uint8_t*>(request->data.constData()));
            s.payload = request->data.mid(16);
            s.targets = request->targets.size();
            s.atMs = clock.elapsed();
            sent.push_back(s);
            if (answer)
                QTimer::singleShot(0, &context, [this, h = s.header] { reply(h); });
            return 0;
        });
    }
    ~StandInMain() { platform::setAppTitle(previousTitle); }

    static platform::MessageWindow* dialog()
    {
        return platform::findWindow(u"Setup UART"_s) ? platform::findWindow(u"Setup UART"_s)
                                                     : platform::findWindow(u"串口设置"_s);
    }
    void reply(const proto::PlayerPacketHeader& h)
    {
        if (h.command == proto::CMD_VIDEO_LIST)
            platform::sendMessage(dialog(), platform::WM_VIDEO_LIST_REPLY, 0, LPARAM(new PlayerCatalog(catalog)));
        if (h.command == proto::CMD_PARAM_FILE && h.param == 1 && h.arg == 0) {
            documentAtMs = clock.elapsed();
            platform::sendMessage(dialog(), platform::WM_CONTROL_PROTOCOL_REPLY, 1, LPARAM(&document));
        }
        if (h.command == proto::CMD_USART_DATA && !serialBytes.isEmpty()) {
            platform::sendMessage(dialog(), platform::WM_USART_DATA_REPLY, 0, LPARAM(usart(serialBytes)));
            serialBytes.clear();
        }
    }
    static tollivar::UsartDataRecord* usart(const QByteArray& bytes)
    {
        auto* record = new tollivar::UsartDataRecord;
        std::copy(bytes.begin(), bytes.end(), record->data.begin());
        record->count = uint16_t(bytes.size());
        return record;
    }
    std::vector<Sent> withCommand(uint8_t command) const
    {
        std::vector<Sent> found;
        for (const Sent& s : sent)
            if (s.header.command == command)
                found.push_back(s);
        return found;
    }
};

// A dialog that has been through the opening sequence with a document.
// It is not shown: its handlers and grids work the same, and nothing is
// painted, so Qt's own painting threads (which the thread checker cannot
// follow) stay out of the tests that do not look at pixels.
struct DialogFixture {
    testsupport::ScopedLanguage language;
    QTemporaryDir temp;
    StandInMain main;
    std::unique_ptr<CControlProtocol> dialog;
    bool finished = false;

    explicit DialogFixture(unsigned lang = 9, const ControlProtocolRecord& onPlayer = ControlProtocolRecord())
        : language(lang)
    {
        main.answer = true;
        main.document = ControlProtocolJson(onPlayer);
        dialog = std::make_unique<CControlProtocol>(u"Tollivar-"_s, temp.path() + u"/"_s);
        QObject::connect(dialog.get(), &QDialog::finished, dialog.get(), [this] { finished = true; });
        dialog->OnInitDialog();
        EXPECT_TRUE(testsupport::waitUntil([&] { return dialog->hasTimer(controlprotocol::kPollTimerId); }));
    }
    PropertyItem* row(int grid, quintptr group, quintptr data) const
    {
        PropertyGrid* g = dialog->Grid(grid);
        for (int i = 0; i < g->topLevelCount(); ++i)
            if (g->topLevelAt(i)->isGroup() && g->topLevelAt(i)->dataNumber() == group)
                return g->topLevelAt(i)->findByData(data);
        return nullptr;
    }
};

TEST(ControlProtocolDialog, OpeningSequenceAndPolling)
{
    testsupport::ScopedLanguage language(9);
    QTemporaryDir temp;
    StandInMain main;
    main.answer = true;
    setCategory(main.catalog, 0, "Pop");
    setCategory(main.catalog, 1, "Rock");
    ControlProtocolRecord onPlayer;
    onPlayer.videoTypes[0].name = u"Rock"_s;
    onPlayer.serial.commands[0] = u"a1"_s;
    main.document = ControlProtocolJson(onPlayer);

    CControlProtocol dialog(u"Tollivar-"_s, temp.path() + u"/"_s);
    EXPECT_EQ(dialog.windowTitle(), u"Setup UART"_s);
    EXPECT_TRUE(main.sent.empty());  // nothing before it opens
    dialog.OnInitDialog();
    dialog.OnInitDialog();  // once only
    ASSERT_TRUE(testsupport::waitUntil([&] { return dialog.hasTimer(controlprotocol::kPollTimerId); }));
    ASSERT_GE(main.sent.size(), 2u);
    const struct { uint8_t command, subCode; uint16_t param, arg; } expected[] = {
        {proto::CMD_VIDEO_LIST, 0, 0, 0}, {proto::CMD_PARAM_FILE, 0, 1, 0},
    };
    for (std::size_t i = 0; i < 2; ++i) {
        const auto& h = main.sent[i].header;
        EXPECT_EQ(h.magic, proto::kMagic) << i;
        EXPECT_EQ(h.command, expected[i].command) << i;
        EXPECT_EQ(h.subCode, expected[i].subCode) << i;
        EXPECT_EQ(h.param, expected[i].param) << i;
        EXPECT_EQ(h.arg, expected[i].arg) << i;
        EXPECT_EQ(h.sequence, 0) << i;
        EXPECT_EQ(h.payloadLength, 0u) << i;
        EXPECT_EQ(main.sent[i].targets, 0u) << i;  // the player chosen in the scan
    }
    // The document is shown: commands upper-cased, the player's free folder
    // name fills the first empty slot without repeating Rock.
    EXPECT_EQ(dialog.Record().serial.commands[0], u"A1"_s);
    EXPECT_EQ(dialog.Record().videoTypes[0].name, u"Rock"_s);
    EXPECT_EQ(dialog.Record().videoTypes[1].name, u"Pop"_s);
    EXPECT_EQ(dialog.Record().videoTypes[2].name, u""_s);
    EXPECT_EQ(dialog.Grid(kFolders)->topLevelAt(1)->childAt(0)->valueText(), u"Pop"_s);

    // Serial polling every 2 s from the document on.
    ASSERT_TRUE(testsupport::waitUntil([&] { return !main.withCommand(proto::CMD_USART_DATA).empty(); }));
    const auto polls = main.withCommand(proto::CMD_USART_DATA);
    // (Timers may fire up to 5% early.)
    EXPECT_GE(polls[0].atMs - main.documentAtMs, controlprotocol::kPollTimerMs * 95 / 100 - 10);
    EXPECT_EQ(polls[0].header.payloadLength, 0u);
    EXPECT_EQ(polls[0].header.param, 0);
}

TEST(ControlProtocolDialog, RepliesThatDoNotFit)
{
    testsupport::ScopedLanguage language(9);
    QTemporaryDir temp;
    StandInMain main;
    CControlProtocol dialog(u"Tollivar-"_s, temp.path() + u"/"_s);
    dialog.OnInitDialog();
    ASSERT_EQ(main.sent.size(), 1u);
    // A catalogue with another wParam is only freed; a document that is not
    // one, or comes with another wParam, starts nothing.
    platform::sendMessage(&dialog, platform::WM_VIDEO_LIST_REPLY, 2, LPARAM(new PlayerCatalog));
    platform::sendMessage(&dialog, platform::WM_VIDEO_LIST_REPLY, 0, 0);
    const QByteArray good = ControlProtocolJson(ControlProtocolRecord());
    const QByteArray bad = "{\"Serial\": ";
    platform::sendMessage(&dialog, platform::WM_CONTROL_PROTOCOL_REPLY, 0, LPARAM(&good));
    platform::sendMessage(&dialog, platform::WM_CONTROL_PROTOCOL_REPLY, 1, LPARAM(&bad));
    platform::sendMessage(&dialog, platform::WM_CONTROL_PROTOCOL_REPLY, 1, 0);
    platform::sendMessage(&dialog, platform::WM_USART_DATA_REPLY, 0, 0);
    EXPECT_EQ(main.sent.size(), 1u);
    EXPECT_FALSE(dialog.hasTimer(controlprotocol::kPollTimerId));

    // Without a main window nothing is sent and nothing breaks.
    main.window.reset();
    platform::sendMessage(&dialog, platform::WM_VIDEO_LIST_REPLY, 0, LPARAM(new PlayerCatalog));
    EXPECT_EQ(main.sent.size(), 1u);
}

TEST(ControlProtocolDialog, EditsStoreNormalisedValues)
{
    DialogFixture f;
    testsupport::MessageBoxRecorder boxes;
    const ControlProtocolRecord& r = f.dialog->Record();
    const struct { const char* name; int grid; quintptr group, data; QString typed; QString shown; bool error; } cases[] = {
        {"play, blanks and case", kSerial, 1, 0, u"  a5 5a 01 "_s, u"A55A01"_s, false},
        {"play, odd digits", kSerial, 1, 0, u"A5 5"_s, u"A55A01"_s, true},
        {"play, not hex", kSerial, 1, 0, u"zz"_s, u"A55A01"_s, true},
        {"play, cleared", kSerial, 1, 0, u""_s, u""_s, false},
        {"hand", kSerial, 1, 22, u"ff"_s, u"FF"_s, false},
        {"folder 3 send", kFolders, 2, 1, u"0a 0b"_s, u"0A0B"_s, false},
        {"folder 3 name", kFolders, 2, 0, u"Ballads"_s, u"Ballads"_s, false},
        {"layout 64 recv", kLayouts, 63, 2, u"c0"_s, u"C0"_s, false},
        {"layout 64 recv, bad", kLayouts, 63, 2, u"c"_s, u"C0"_s, true},
        {"projector 30 off 6", kProjectors, 29, 12, u"1 2"_s, u"12"_s, false},
        {"projector 1 on 1", kProjectors, 0, 1, u"ab"_s, u"AB"_s, false},
        {"projector 1 ip", kProjectors, 0, 0, u"10.1.1.9"_s, u"10.1.1.9"_s, false},
        {"baud rate", kSerial, 0, 1, u"115200"_s, u"115200"_s, false},
        {"play mode", kSerial, 0, 6, u"All Random"_s, u"All Random"_s, false},
        {"aspect ratio", kSerial, 0, 10, u"Lock"_s, u"Lock"_s, false},
    };
    for (const auto& c : cases) {
        boxes.clear();
        PropertyItem* item = f.row(c.grid, c.group, c.data);
        ASSERT_NE(item, nullptr) << c.name;
        f.dialog->Grid(c.grid)->applyUserValue(item, c.typed);
        EXPECT_EQ(item->valueText(), c.shown) << c.name;
        EXPECT_EQ(boxes.texts(), c.error ? QStringList{u"input error!"_s} : QStringList{}) << c.name;
    }
    EXPECT_EQ(r.serial.commands[0], u""_s);
    EXPECT_EQ(r.serial.commands[22], u"FF"_s);
    EXPECT_EQ(r.videoTypes[2].sendCmd, u"0A0B"_s);
    EXPECT_EQ(r.videoTypes[2].name, u"Ballads"_s);
    EXPECT_EQ(r.layouts[63].recvCmd, u"C0"_s);
    EXPECT_EQ(r.projectors[29].offCmd[5], u"12"_s);
    EXPECT_EQ(r.projectors[0].onCmd[0], u"AB"_s);
    EXPECT_EQ(r.projectors[0].ip, u"10.1.1.9"_s);
    EXPECT_EQ(r.serial.numbers[SerialSettings::BaudRate], 115200u);
    EXPECT_EQ(r.serial.numbers[SerialSettings::PlayMode], 3u);
    EXPECT_EQ(r.serial.numbers[SerialSettings::AspectRatio], 1u);

    // Typed into the grid's own editor: the message box in the middle of
    // the edit does not make it a second edit.
    PropertyItem* pause = f.row(kSerial, 1, 1);
    f.dialog->Grid(kSerial)->applyUserValue(pause, u"B1"_s);
    boxes.clear();
    QWidget* editor = f.dialog->Grid(kSerial)->editItem(pause);
    auto* edit = qobject_cast<QLineEdit*>(editor);
    ASSERT_NE(edit, nullptr);
    edit->setText(u"1 2 3"_s);
    QTest::keyClick(edit, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(boxes.texts(), QStringList{u"input error!"_s});
    EXPECT_EQ(pause->valueText(), u"B1"_s);
    EXPECT_EQ(r.serial.commands[1], u"B1"_s);
}

TEST(ControlProtocolDialog, NumbersBeyondTheOptionsShowNothing)
{
    ControlProtocolRecord onPlayer;
    onPlayer.serial.numbers[SerialSettings::PlayMode] = 9;
    onPlayer.serial.numbers[SerialSettings::Language] = 4000000000u;
    onPlayer.serial.numbers[SerialSettings::BaudRate] = 14400;
    onPlayer.nameIndex = 7;
    DialogFixture f(4, onPlayer);
    EXPECT_EQ(f.row(kSerial, 0, 6)->valueText(), u""_s);
    EXPECT_EQ(f.row(kSerial, 0, 6)->currentIndex(), -1);
    EXPECT_EQ(f.row(kSerial, 0, 9)->valueText(), u""_s);
    EXPECT_EQ(f.row(kSerial, 0, 1)->valueText(), u"14400"_s);
    // The stored number stays until the user chooses; the host name index
    // beyond its list becomes the last entry.
    EXPECT_EQ(f.dialog->Record().serial.numbers[SerialSettings::PlayMode], 9u);
    EXPECT_EQ(f.dialog->Record().nameIndex, 2u);
    PropertyItem* name = f.dialog->Grid(kHost)->findByData(0);
    EXPECT_EQ(name->currentIndex(), 2);
    // Chinese options store their positions too.
    f.dialog->Grid(kSerial)->applyUserValue(f.row(kSerial, 0, 6), u"单曲播放"_s);
    EXPECT_EQ(f.dialog->Record().serial.numbers[SerialSettings::PlayMode], 4u);
    f.dialog->Grid(kHost)->applyUserValue(name, name->options().at(1));
    EXPECT_EQ(f.dialog->Record().nameIndex, 1u);
    f.dialog->Grid(kHost)->applyUserValue(f.dialog->Grid(kHost)->findByData(2), 9000);
    EXPECT_EQ(f.dialog->Record().serverPort, 9000u);
}

TEST(ControlProtocolDialog, LearningFillsTheSelectedItem)
{
    const struct { const char* name; int folderSel, layoutSel, serialSel; QString folder3, layout5, pause; } cases[] = {
        // Selections: folder group 2's row (1 = Send Cmd, 2 = Recv Cmd), layout
        // group 4's row, Serial Control row (-1: none).
        {"folder send cmd", 1, -1, -1, u"5A0102"_s, u""_s, u""_s},
        {"folder before layout and serial", 1, 1, 1, u"5A0102"_s, u""_s, u""_s},
        {"layout before serial", -1, 1, 1, u""_s, u"5A0102"_s, u""_s},
        {"folder recv cmd is no target", 2, -1, 1, u""_s, u""_s, u"5A0102"_s},
        {"serial control", -1, -1, 1, u""_s, u""_s, u"5A0102"_s},
        {"nothing selected", -1, -1, -1, u""_s, u""_s, u""_s},
    };
    for (const auto& c : cases) {
        DialogFixture f;
        if (c.folderSel >= 0)
            f.dialog->Grid(kFolders)->setSelectedItem(f.row(kFolders, 2, quintptr(c.folderSel)));
        if (c.layoutSel >= 0)
            f.dialog->Grid(kLayouts)->setSelectedItem(f.row(kLayouts, 4, quintptr(c.layoutSel)));
        if (c.serialSel >= 0)
            f.dialog->Grid(kSerial)->setSelectedItem(f.row(kSerial, 1, quintptr(c.serialSel)));
        platform::sendMessage(f.dialog.get(), platform::WM_USART_DATA_REPLY, 0,
                              LPARAM(StandInMain::usart(QByteArray("\x5a\x01\x02", 3))));
        const ControlProtocolRecord& r = f.dialog->Record();
        EXPECT_EQ(r.videoTypes[2].sendCmd, c.folder3) << c.name;
        EXPECT_EQ(r.layouts[4].sendCmd, c.layout5) << c.name;
        EXPECT_EQ(r.serial.commands[1], c.pause) << c.name;
        EXPECT_EQ(f.row(kFolders, 2, 1)->valueText(), c.folder3) << c.name;
        EXPECT_EQ(f.row(kSerial, 1, 1)->valueText(), c.pause) << c.name;
        const bool learned = !(c.folder3 + c.layout5 + c.pause).isEmpty();
        if (learned) {
            // The grid that took the bytes lets go of its selection.
            const int took = !c.folder3.isEmpty() ? kFolders : !c.layout5.isEmpty() ? kLayouts : kSerial;
            EXPECT_EQ(f.dialog->Grid(took)->selectedItem(), nullptr) << c.name;
        }
    }
    // An editor open on the selected row shows the learned bytes and, closed
    // later, keeps them.
    {
        DialogFixture f;
        PropertyItem* play = f.row(kSerial, 1, 0);
        f.dialog->Grid(kSerial)->setSelectedItem(play);
        auto* edit = qobject_cast<QLineEdit*>(f.dialog->Grid(kSerial)->editItem(play));
        ASSERT_NE(edit, nullptr);
        platform::sendMessage(f.dialog.get(), platform::WM_USART_DATA_REPLY, 0,
                              LPARAM(StandInMain::usart(QByteArray("\x01", 1))));
        EXPECT_EQ(edit->text(), u"01"_s);
        f.dialog->Grid(kSerial)->commitOpenEditor();
        EXPECT_EQ(f.dialog->Record().serial.commands[0], u"01"_s);
    }
    // Learned bytes come through the polling too (stand-in answers 50).
    DialogFixture f;
    f.dialog->Grid(kSerial)->setSelectedItem(f.row(kSerial, 1, 22));
    f.main.serialBytes = QByteArray("\xAB\xCD", 2);
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.dialog->Record().serial.commands[22] == u"ABCD"_s; }));
}

TEST(ControlProtocolDialog, SaveToDeviceSendsTheDocument)
{
    const struct { platform::MsgResult answer; uint8_t subCode; } cases[] = {
        {platform::MsgResult::Yes, 1}, {platform::MsgResult::No, 0},
    };
    for (const auto& c : cases) {
        DialogFixture f;
        testsupport::MessageBoxRecorder boxes(c.answer);
        f.dialog->Grid(kSerial)->applyUserValue(f.row(kSerial, 1, 5), u"ab cd"_s);  // Scene UnLock
        // An edit still open when the button is pressed is saved too.
        auto* edit = qobject_cast<QLineEdit*>(f.dialog->Grid(kFolders)->editItem(f.row(kFolders, 0, 1)));
        ASSERT_NE(edit, nullptr);
        edit->setText(u"0f"_s);
        f.main.sent.clear();
        f.dialog->OnOK();
        EXPECT_EQ(boxes.texts(), QStringList{u"After setting the parameters, restart the device?"_s});
        ASSERT_EQ(f.main.sent.size(), 1u);
        const auto& s = f.main.sent[0];
        EXPECT_EQ(s.header.command, proto::CMD_PARAM_FILE);
        EXPECT_EQ(s.header.subCode, c.subCode);
        EXPECT_EQ(s.header.param, 1);
        EXPECT_EQ(s.header.arg, 1);
        EXPECT_EQ(s.header.payloadLength, uint32_t(s.payload.size()));
        EXPECT_EQ(s.payload, testsupport::readFile(f.temp.filePath(u"ControlProtocol.Json"_s)));
        ControlProtocolRecord sent;
        ASSERT_TRUE(ReadProtocolJson(s.payload, sent));
        EXPECT_EQ(sent.serial.commands[5], u"ABCD"_s);
        EXPECT_EQ(sent.videoTypes[0].sendCmd, u"0F"_s);
        EXPECT_FALSE(f.finished);  // stays open
    }
    testsupport::MessageBoxRecorder boxes(platform::MsgResult::Yes);
    {
        // No main window: the question is asked, nothing is sent.
        DialogFixture f;
        const std::size_t before = f.main.sent.size();
        f.main.window.reset();
        f.dialog->OnOK();
        EXPECT_EQ(f.main.sent.size(), before);
    }
    // The disk refuses the document: said with the reason, and the one an
    // earlier OK left is not sent in its place.
    DialogFixture f;
    f.main.sent.clear();
    f.dialog->OnOK();
    ASSERT_EQ(f.main.withCommand(proto::CMD_PARAM_FILE).size(), 1u);
    boxes.clear();
    f.main.sent.clear();
    f.dialog->Grid(kSerial)->applyUserValue(f.row(kSerial, 1, 5), u"ef"_s);
    {
        testsupport::SyncCallInPlace refused(testsupport::RefusedSync);
        f.dialog->OnOK();
    }
    EXPECT_EQ(boxes.texts(), QStringList{u"Save failed!\n"_s + qt_error_string(EIO)});
    EXPECT_TRUE(f.main.withCommand(proto::CMD_PARAM_FILE).empty());
}

// A player whose catalogue trickles in too slowly (its document is then never
// asked for), or that answers nothing, leaves the defaults in the grids: the
// slow one is named once, and Save To Device asks before the defaults replace
// the player's settings; No sends nothing, Yes sends them.
TEST(ControlProtocolDialog, WithoutThePlayersDocumentSaveToDeviceAsksFirst)
{
    const struct { sim::Fault fault; int code; unsigned language; } rows[] = {
        {sim::Fault::Trickle, proto::CMD_VIDEO_LIST, 9}, {sim::Fault::Trickle, proto::CMD_VIDEO_LIST, 4},
        {sim::Fault::Silent, -1, 4},
    };
    for (const auto& r : rows) {
        const bool slow = r.fault == sim::Fault::Trickle;
        comptest::HubWithPlayers h(r.language, [](sim::PlayerSim&, int) {});
        sim::PlayerSim& player = *h.players[0];
        h.dropSlowRepliesSoon();
        player.setFault(r.fault, 5000, r.code);
        h.hub->SetCurrentTarget(player.options().address, player.tcpPort());
        CControlProtocol dialog(u"Tollivar-"_s, h.temp.path() + u"/"_s);
        dialog.OnInitDialog();
        if (slow) {
            ASSERT_TRUE(testsupport::waitUntil([&] { return !h.boxes.texts().isEmpty(); }, 60000));
            player.dropConnections();  // the rest of the reply would trickle on for half a minute
            ASSERT_TRUE(testsupport::waitUntil([&] { return h.hub->ConnectedCount() == 0; }));
        }
        EXPECT_EQ(h.boxes.texts(), slow ? QStringList{comptest::tooSlowNotice(r.language, player.options().address)}
                                        : QStringList{});
        const QString question = r.language == 4 ? u"未能读取播放器自身的设置。保存到设备将用本窗口显示的内容替换它们。是否继续？"_s
                                                 : u"The player's own settings could not be read. Save To Device "
                                                   u"would replace them with what this window shows. Continue?"_s;
        {
            testsupport::MessageBoxRecorder no(platform::MsgResult::No);
            dialog.OnOK();
            EXPECT_EQ(no.texts(), QStringList{question});
        }
        testsupport::MessageBoxRecorder yes(platform::MsgResult::Yes);
        dialog.OnOK();
        EXPECT_EQ(yes.texts().value(0), question);
        // No document was asked for, and one link's requests arrive in order:
        // the first of command 3 is the store answered Yes (restart flag 1).
        auto stores = [&] {
            std::vector<sim::LogEntry> log = player.log();
            std::erase_if(log, [](const sim::LogEntry& e) {
                return !e.incoming || e.header.command != proto::CMD_PARAM_FILE;
            });
            return log;
        };
        ASSERT_TRUE(testsupport::waitUntil([&] { return !stores().empty(); }));
        EXPECT_EQ(stores()[0].header.subCode, 1);
        EXPECT_EQ(stores()[0].payload, ControlProtocolJson(dialog.Record()));
    }
}

TEST(ControlProtocolDialog, LoadSaveAsAndExit)
{
    DialogFixture f;
    testsupport::MessageBoxRecorder boxes(platform::MsgResult::No);
    std::vector<platform::FileDialogCall> asked;
    QString answer;
    platform::setFileDialogAnswerer([&](const platform::FileDialogCall& call) {
        asked.push_back(call);
        return answer;
    });
    ControlProtocolRecord onDisk;
    onDisk.layouts[1] = {u"Duet"_s, u"b2"_s, u""_s};
    const QString good = f.temp.filePath(u"good.JSON"_s), bad = f.temp.filePath(u"bad.JSON"_s);
    ASSERT_TRUE(WriteProtocolJson(good, onDisk));
    ASSERT_TRUE(testsupport::writeFile(bad, "{\"LayOut\": [{\"LayOutName\": \"Nope\"}]"));

    const struct { const char* name; QString path; QString layout2; } loads[] = {
        {"cancelled", QString(), u""_s},
        {"not a document", bad, u""_s},
        {"missing file", f.temp.filePath(u"none.JSON"_s), u""_s},
        {"document", good, u"Duet"_s},
    };
    // An edit left open while a document is loaded goes with the old grid.
    ASSERT_NE(f.dialog->Grid(kLayouts)->editItem(f.row(kLayouts, 1, 0)), nullptr);
    for (const auto& c : loads) {
        answer = c.path;
        f.dialog->OnLoad();
        EXPECT_EQ(f.dialog->Record().layouts[1].name, c.layout2) << c.name;
        EXPECT_EQ(f.row(kLayouts, 1, 0)->valueText(), c.layout2) << c.name;
    }
    EXPECT_EQ(f.row(kLayouts, 1, 1)->valueText(), u"B2"_s);
    EXPECT_TRUE(boxes.texts().isEmpty());
    EXPECT_EQ(asked.back().kind, platform::FileDialogKind::Open);
    EXPECT_EQ(asked.back().caption, u"Open ControlProtocol file"_s);
    EXPECT_EQ(asked.back().filter, u"ControlProtocol Flie(*.JSON)|*.JSON||"_s);
    EXPECT_EQ(asked.back().defaultSuffix, u"JSON"_s);

    const struct { const char* name; QString path; QString message; } saves[] = {
        {"saved", f.temp.filePath(u"out.JSON"_s), u"Save OK!"_s},
        {"folder missing", f.temp.filePath(u"no/such/out.JSON"_s), u"Save failed!\n"_s + f.temp.filePath(u"no/such/out.JSON"_s)},
    };
    for (const auto& c : saves) {
        boxes.clear();
        answer = c.path;
        f.dialog->OnSaveAs();
        EXPECT_EQ(boxes.texts(), QStringList{c.message}) << c.name;
    }
    EXPECT_EQ(asked.back().kind, platform::FileDialogKind::Save);
    EXPECT_EQ(asked.back().caption, u"Save ControlProtocol file"_s);
    EXPECT_EQ(asked.back().fileName, u"ControlProtocol"_s);
    EXPECT_EQ(testsupport::readFile(f.temp.filePath(u"out.JSON"_s)), ControlProtocolJson(f.dialog->Record()));
    platform::setFileDialogAnswerer({});

    // Enter and Escape close nothing; Exit asks, and closes only on Yes,
    // after the polling has stopped.
    QTest::keyClick(f.dialog.get(), Qt::Key_Escape);
    QTest::keyClick(f.dialog.get(), Qt::Key_Return);
    boxes.clear();
    f.dialog->OnCancel();
    EXPECT_EQ(boxes.texts(), QStringList{u"Do you really want to exit?"_s});
    EXPECT_FALSE(f.finished);
    EXPECT_TRUE(f.dialog->hasTimer(controlprotocol::kPollTimerId));
    testsupport::MessageBoxRecorder yes(platform::MsgResult::Yes);
    f.dialog->reject();  // the window's close box: the same question
    EXPECT_FALSE(f.dialog->hasTimer(controlprotocol::kPollTimerId));
    // A document arriving while the window closes starts no polling.
    const QByteArray late = ControlProtocolJson(ControlProtocolRecord());
    platform::sendMessage(f.dialog.get(), platform::WM_CONTROL_PROTOCOL_REPLY, 1, LPARAM(&late));
    EXPECT_FALSE(f.dialog->hasTimer(controlprotocol::kPollTimerId));
    EXPECT_EQ(yes.texts(), QStringList{u"Do you really want to exit?"_s});
    EXPECT_FALSE(f.finished);  // not at once: a poll on its way may still be answered
    EXPECT_TRUE(testsupport::waitUntil([&] { return f.finished; }));
    EXPECT_EQ(f.dialog->result(), QDialog::Rejected);
}

// Shown on the (offscreen) screen and painted: Qt paints large areas on
// threads of its own, which the thread checker cannot follow (Qt is not
// built for it); this and the screenshots run in the other builds.
TEST(ControlProtocolDialog, OpenerRunsTheDialogUntilExit)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "Qt paints on threads the thread checker cannot follow";
    testsupport::ScopedLanguage language(9);
    QTemporaryDir temp;
    StandInMain main;
    testsupport::MessageBoxRecorder yes(platform::MsgResult::Yes);
    QWidget owner;
    // Once open, however long that takes, the operator presses Exit once.
    QTimer exit;
    exit.setInterval(20);
    QObject::connect(&exit, &QTimer::timeout, [&exit] {
        if (auto* dialog = dynamic_cast<QWidget*>(StandInMain::dialog()))
            if (auto* button = dialog->findChild<QPushButton*>(u"2"_s)) {
                exit.stop();
                button->click();
            }
    });
    exit.start();
    OpenControlProtocol(&owner, u"Tollivar-"_s, temp.path() + u"/"_s);
    EXPECT_EQ(StandInMain::dialog(), nullptr);
    ASSERT_FALSE(main.sent.empty());
    EXPECT_EQ(main.sent[0].header.command, proto::CMD_VIDEO_LIST);
    EXPECT_EQ(yes.texts(), QStringList{u"Do you really want to exit?"_s});
}

TEST(ControlProtocolDialog, FolderNamesFromTheCatalogue)
{
    QByteArray pop936;
    ASSERT_TRUE(text::NameToDoubleByteText(u"流行"_s, pop936));
    const struct { const char* name; std::vector<QByteArray> categories; std::vector<QString> before; std::vector<QString> after; } cases[] = {
        {"free slots in order", {"Pop", "Rock"}, {u"Rock"_s, u""_s, u""_s}, {u"Rock"_s, u"Pop"_s, u""_s}},
        {"set names are kept", {"Pop"}, {u"Jazz"_s, u""_s}, {u"Jazz"_s, u"Pop"_s}},
        {"empty categories skipped", {"", "Pop"}, {u""_s}, {u"Pop"_s}},
        {"a name is given once", {"Pop", "Pop"}, {u""_s, u""_s}, {u"Pop"_s, u""_s}},
        {"eight bytes without a zero", {"ABCDEFGH"}, {u""_s}, {u"ABCDEFGH"_s}},
        {"code-page name", {pop936}, {u""_s}, {u"流行"_s}},
    };
    for (const auto& c : cases) {
        PlayerCatalog catalog;
        for (std::size_t i = 0; i < c.categories.size(); ++i)
            setCategory(catalog, i, c.categories[i]);
        // The byte after an 8-byte name (the count) is not part of it.
        catalog.categories[0].count = 0x4141;
        ControlProtocolRecord record;
        for (std::size_t i = 0; i < c.before.size(); ++i)
            record.videoTypes[i].name = c.before[i];
        controlprotocol::FillFolderNames(record, catalog);
        for (std::size_t i = 0; i < c.after.size(); ++i)
            EXPECT_EQ(record.videoTypes[i].name, c.after[i]) << c.name << " " << i;
    }
    tollivar::UsartDataRecord learned;
    learned.data[0] = 0x5A;
    learned.data[1] = 0x01;
    learned.count = 2;
    EXPECT_EQ(controlprotocol::LearnedCommand(learned), u"5A01"_s);
    learned.count = 5000;  // never read past the record
    EXPECT_EQ(controlprotocol::LearnedCommand(learned).size(), 2048);
}

TEST(ControlProtocolDialog, ScreenshotsInBothLanguages)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "Qt paints on threads the thread checker cannot follow";
    const QString folder = testsupport::binDir() + u"/../screenshots"_s;
    QDir().mkpath(folder);
    const struct { unsigned language; const char* file; QString caption; bool hostShown; } cases[] = {
        {9, "control_protocol_en.png", u"Setup UART"_s, false},
        {4, "control_protocol_zh.png", u"串口设置"_s, true},
    };
    ControlProtocolRecord onPlayer;
    onPlayer.serial.commands[0] = u"A55A01"_s;
    onPlayer.videoTypes[0] = {u"流行"_s, u"0102"_s, u"0201"_s};
    onPlayer.projectors[0].ip = u"192.168.1.20"_s;
    for (const auto& c : cases) {
        DialogFixture f(c.language, onPlayer);
        f.dialog->show();
        EXPECT_EQ(f.dialog->windowTitle(), c.caption);
        EXPECT_EQ(StandInMain::dialog(), static_cast<platform::MessageWindow*>(f.dialog.get()));
        EXPECT_EQ(f.dialog->Grid(kHost)->isVisibleTo(f.dialog.get()), c.hostShown);
        EXPECT_EQ(f.dialog->Grid(kFolders)->nameColumnWidth(), 120);
        QApplication::processEvents();
        // Every serial label whole, with the value column's room beside it.
        QTreeWidget* serial = f.dialog->Grid(kSerial)->tree();
        EXPECT_GE(serial->columnWidth(0), 150);
        EXPECT_GE(serial->columnWidth(1), 150);
        for (int g = 0; g < serial->topLevelItemCount(); ++g) {
            for (int r = 0; r < serial->topLevelItem(g)->childCount(); ++r) {
                const QTreeWidgetItem* row = serial->topLevelItem(g)->child(r);
                EXPECT_LE(2 * serial->indentation() + QFontMetrics(row->font(0)).horizontalAdvance(row->text(0)),
                          serial->columnWidth(0))
                    << row->text(0).toStdString();
            }
        }
        EXPECT_TRUE(f.dialog->grab().save(folder + u"/"_s + QString::fromLatin1(c.file)));
    }
}

}  // namespace
