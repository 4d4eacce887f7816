#include "common/controls/ip_address_ctrl.h"
#include "core/devices/set_ip_conf.h"
#include "tests/core/device_harness.h"

#include <QLineEdit>

namespace {

using devtest::DeviceHarness;
using netparam::CheckForm;
using netparam::FormValues;
using platform::MsgResult;
using testsupport::waitUntil;

FormValues form(std::array<uint8_t, 4> ip, std::array<uint8_t, 4> mask, std::array<uint8_t, 4> gateway, int port,
                std::array<int, 6> mac = {1, 2, 3, 4, 5, 6})
{
    FormValues f;
    f.ip = ip;
    f.mask = mask;
    f.gateway = gateway;
    f.dns = {8, 8, 8, 8};
    f.mac = mac;
    f.port = port;
    return f;
}

TEST(NetworkParameters, ChecksInOrderWithTheirMessages)
{
    struct Row {
        FormValues f;
        const char* refusal;  // empty: passes
        bool askGateway;
    };
    const Row rows[] = {
        {form({192, 168, 1, 255}, {255, 255, 255, 0}, {192, 168, 1, 1}, 2323), "IP4 parameters are problematic!", false},
        {form({255, 168, 1, 5}, {255, 255, 255, 0}, {255, 168, 1, 255}, 80), "IP1 parameters are problematic!", false},
        {form({10, 0, 0, 254}, {255, 0, 0, 0}, {10, 0, 0, 1}, 2323), "", false},
        {form({10, 0, 0, 2}, {255, 0, 0, 0}, {10, 255, 0, 1}, 2323), "Gate2 parameters are problematic!", false},
        {form({10, 0, 0, 2}, {255, 0, 0, 0}, {10, 0, 0, 1}, 1025), "Port parameters are problematic!", false},
        {form({10, 0, 0, 2}, {255, 0, 0, 0}, {10, 0, 0, 1}, 1026), "", false},
        {form({10, 0, 0, 2}, {255, 0, 0, 0}, {10, 0, 0, 1}, 10000), "", false},
        {form({10, 0, 0, 2}, {255, 0, 0, 0}, {10, 0, 0, 1}, 10001), "Please enter an integer between 0 and 10000.", false},
        {form({10, 0, 0, 2}, {255, 0, 0, 0}, {10, 0, 0, 1}, 2323, {1, 2, 255, 4, 5, 6}), "MAC3 parameters are problematic!", false},
        {form({10, 0, 0, 2}, {255, 255, 0, 255}, {10, 0, 0, 1}, 2323), "Subnet mask input error, please re - enter!", false},
        {form({10, 0, 0, 2}, {0, 0, 0, 0}, {99, 1, 2, 3}, 2323), "", false},
        {form({192, 168, 1, 10}, {255, 255, 255, 0}, {192, 168, 2, 1}, 2323), "", true},
    };
    for (const Row& row : rows) {
        const auto r = CheckForm(row.f);
        EXPECT_EQ(r.refused, row.refusal[0] != 0) << row.refusal;
        EXPECT_EQ(r.english, QString::fromUtf8(row.refusal));
        EXPECT_EQ(r.askGateway, row.askGateway) << row.refusal;
    }
    EXPECT_EQ(CheckForm(form({192, 168, 1, 255}, {255, 255, 255, 0}, {1, 1, 1, 1}, 2323)).chinese,
              QStringLiteral("IP4参数有问题！"));
}

TEST(NetworkParameters, QueryShowsThePlayersValuesAndOkSendsTheRecord)
{
    DeviceHarness h;
    netparam::NetworkSettings current;
    current.ip = {127, 0, 0, 3};
    current.mask = {255, 0, 0, 0};
    current.gateway = {127, 0, 0, 1};
    current.dns = {127, 0, 0, 1};
    current.mac = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6};
    current.port = 0x1F90;
    {
        std::lock_guard<std::mutex> lk(h.player->stateMutex());
        h.player->state().networkParameters = current.pack();
    }
    CSetIpConf dialog(h.doc->titlePrefix());
    EXPECT_EQ(dialog.windowTitle(), h.doc->titlePrefix() + QStringLiteral("Player Network Parameter Configuration"));
    EXPECT_EQ(dialog.PortEdit()->text(), QStringLiteral("2323"));  // the default until the reply
    dialog.OnInitDialog();
    ASSERT_TRUE(waitUntil([&] { return dialog.HasPlayerValues(); }));
    ASSERT_EQ(h.requests(proto::CMD_NETWORK_PARAM).size(), 1u);
    EXPECT_TRUE(h.requests(proto::CMD_NETWORK_PARAM)[0].payload.isEmpty());
    EXPECT_EQ(dialog.PortEdit()->text(), QStringLiteral("8080"));
    EXPECT_EQ(dialog.findChild<QLineEdit*>(QStringLiteral("2105"))->text(), QStringLiteral("161"));

    // Gateway outside the subnet: the question, then the confirmation; both Yes.
    dialog.findChild<CIPAddressCtrl*>(QStringLiteral("2103"))->SetAddress({10, 1, 1, 1});
    dialog.PortEdit()->setText(QStringLiteral("5005"));
    dialog.accept();
    ASSERT_TRUE(h.waitRequests(proto::CMD_NETWORK_PARAM, 2));
    netparam::NetworkSettings sent = current;
    sent.gateway = {10, 1, 1, 1};
    sent.port = 5005;
    const auto setRequest = h.requests(proto::CMD_NETWORK_PARAM)[1];
    EXPECT_EQ(setRequest.payload, sent.pack());
    EXPECT_EQ(setRequest.header.payloadLength, 24u);
    EXPECT_EQ(uint8_t(setRequest.payload[22]), 0x8D);  // 5005 little-endian
    EXPECT_EQ(uint8_t(setRequest.payload[23]), 0x13);
    // The player's acknowledgement (empty payload) is the document's message, after the two questions.
    // The wait for the request runs the event loop, so the acknowledgement may already be in.
    ASSERT_TRUE(waitUntil([&] { return h.boxes.calls.size() >= 3; }));
    EXPECT_EQ(h.boxes.texts(), QStringList({QStringLiteral("The gateway input is not standard, does it continue?"),
                                            QStringLiteral("Changing settings might cause system connection issue, "
                                                           "want to continue ?"),
                                            QStringLiteral("System network changes completed")}));
}

TEST(NetworkParameters, NoSendBeforeTheReplyNorWhenAQuestionIsDeclined)
{
    DeviceHarness h;
    h.player->setFault(sim::Fault::Silent, 0, proto::CMD_NETWORK_PARAM);
    {
        CSetIpConf dialog(h.doc->titlePrefix());
        dialog.OnInitDialog();
        ASSERT_TRUE(h.waitRequests(proto::CMD_NETWORK_PARAM, 1));
        dialog.accept();  // defaults and a zero MAC: never sent
        ASSERT_EQ(h.boxes.calls.size(), 1u);
        EXPECT_EQ(h.boxes.calls[0].icon, platform::MsgIcon::Warning);
    }

    h.player->setFault(sim::Fault::None);
    CSetIpConf second(h.doc->titlePrefix());
    second.OnInitDialog();
    ASSERT_TRUE(waitUntil([&] { return second.HasPlayerValues(); }));
    h.boxes.clear();
    second.PortEdit()->setText(QStringLiteral("5005"));  // the simulator's own port lies above 10000
    second.findChild<CIPAddressCtrl*>(QStringLiteral("2103"))->SetAddress({10, 1, 1, 1});
    h.boxes.answers = {MsgResult::No};
    second.accept();
    h.boxes.answers = {MsgResult::Yes, MsgResult::No};
    second.accept();
    second.findChild<CIPAddressCtrl*>(QStringLiteral("2101"))->SetAddress({192, 168, 1, 255});
    second.accept();
    ASSERT_EQ(h.boxes.calls.size(), 4u) << h.boxes.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(h.boxes.calls[3].text, QStringLiteral("IP4 parameters are problematic!"));
    EXPECT_EQ(h.boxes.calls[3].icon, platform::MsgIcon::Question);
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(h.requests(proto::CMD_NETWORK_PARAM).size(), 2u);  // the two queries only
}

}  // namespace
