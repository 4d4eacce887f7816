#include "core/devices/set_ip_conf.h"

#include "common/controls/dialog_keys.h"
#include "common/controls/ip_address_ctrl.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "transport/tcp_client.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <arpa/inet.h>

#include <memory>

namespace netparam {

QByteArray NetworkSettings::pack() const
{
    QByteArray out(kSize, '\0');
    auto* p = reinterpret_cast<uint8_t*>(out.data());
    std::copy(ip.begin(), ip.end(), p);
    std::copy(mask.begin(), mask.end(), p + 4);
    std::copy(gateway.begin(), gateway.end(), p + 8);
    std::copy(dns.begin(), dns.end(), p + 12);
    std::copy(mac.begin(), mac.end(), p + 16);
    proto::putU16(p + 22, port);
    return out;
}

std::optional<NetworkSettings> NetworkSettings::unpack(const QByteArray& bytes)
{
    if (bytes.size() != kSize)
        return std::nullopt;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData());
    NetworkSettings s;
    std::copy_n(p, 4, s.ip.begin());
    std::copy_n(p + 4, 4, s.mask.begin());
    std::copy_n(p + 8, 4, s.gateway.begin());
    std::copy_n(p + 12, 4, s.dns.begin());
    std::copy_n(p + 16, 6, s.mac.begin());
    s.port = proto::getU16(p + 22);
    return s;
}

namespace {

QString dotted(const std::array<uint8_t, 4>& b)
{
    return QStringLiteral("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
}

CheckResult refuse(const QString& english, const QString& chinese)
{
    CheckResult r;
    r.refused = true;
    r.english = english;
    r.chinese = chinese;
    return r;
}

}  // namespace

CheckResult CheckForm(const FormValues& form)
{
    // The number fields' own range checks come first, as the framework's.
    for (int value : form.mac)
        if (value < 0 || value > 255)
            return refuse(QStringLiteral("Please enter an integer between 0 and 255."),
                          QStringLiteral("请输入一个介于 0 和 255 之间的整数。"));
    if (form.port < 0 || form.port > CSetIpConf::kPortMax)
        return refuse(QStringLiteral("Please enter an integer between 0 and 10000."),
                      QStringLiteral("请输入一个介于 0 和 10000 之间的整数。"));
    for (int i = 0; i < 4; ++i)
        if (form.ip[std::size_t(i)] >= 255)
            return refuse(QStringLiteral("IP%1 parameters are problematic!").arg(i + 1),
                          QStringLiteral("IP%1参数有问题！").arg(i + 1));
    for (int i = 0; i < 4; ++i)
        if (form.gateway[std::size_t(i)] >= 255)
            return refuse(QStringLiteral("Gate%1 parameters are problematic!").arg(i + 1),
                          QStringLiteral("网关%1参数有问题！").arg(i + 1));
    if (form.port < 1026)
        return refuse(QStringLiteral("Port parameters are problematic!"), QStringLiteral("端口号参数有问题！"));
    for (int i = 0; i < 6; ++i)
        if (form.mac[std::size_t(i)] >= 255)
            return refuse(QStringLiteral("MAC%1 parameters are problematic!").arg(i + 1),
                          QStringLiteral("MAC%1参数有问题！").arg(i + 1));
    in_addr parsed{};
    if (inet_pton(AF_INET, dotted(form.ip).toLatin1().constData(), &parsed) != 1)
        return refuse(QStringLiteral("IP address input error, please re - enter!"),
                      QStringLiteral("IP地址输入错误，请重新输入！"));
    if (!IsContiguousNetmask(dotted(form.mask)))
        return refuse(QStringLiteral("Subnet mask input error, please re - enter!"),
                      QStringLiteral("子网掩码输入错误，请重新输入！"));
    CheckResult ok;
    ok.askGateway = !IsSameSubnet(dotted(form.ip), dotted(form.mask), dotted(form.gateway));
    return ok;
}

}  // namespace netparam

CSetIpConf::CSetIpConf(const QString& titlePrefix, QWidget* parent)
    : CDeviceDialog(titlePrefix, replies::kNetworkParam, parent)
{
    auto* outer = new QVBoxLayout(this);
    auto* group = new QGroupBox(Text("Parameter", "参数"), this);
    auto* grid = new QGridLayout(group);
    auto addressRow = [&](int row, int id, const char* english, const char* chinese) {
        auto* control = new CIPAddressCtrl(group);
        control->setObjectName(ControlName(id));
        grid->addWidget(new QLabel(Text(english, chinese), group), row, 0);
        grid->addWidget(control, row, 1);
        return control;
    };
    ip_ = addressRow(0, 2101, "IP:", "IP地址:");
    mask_ = addressRow(1, 2102, "Subnet mask:", "子网掩码:");
    gateway_ = addressRow(2, 2103, "Gate Way:", "网关:");
    dns_ = addressRow(3, 2104, "DNS:", "DNS:");
    grid->addWidget(new QLabel(QStringLiteral("MAC:"), group), 4, 0);
    auto* macRow = new QHBoxLayout;
    for (std::size_t i = 0; i < mac_.size(); ++i) {
        auto* edit = new QLineEdit(group);
        edit->setObjectName(ControlName(2105 + int(i)));
        edit->setEnabled(false);
        edit->setMaximumWidth(44);
        edit->setAlignment(Qt::AlignCenter);
        mac_[i] = edit;
        macRow->addWidget(edit);
    }
    grid->addLayout(macRow, 4, 1);
    grid->addWidget(new QLabel(Text("Port:", "端口:"), group), 5, 0);
    port_ = new QLineEdit(group);
    port_->setObjectName(ControlName(2111));
    port_->setValidator(new QIntValidator(0, 99999, port_));
    port_->setMaximumWidth(90);
    grid->addWidget(port_, 5, 1, Qt::AlignLeft);
    outer->addWidget(group);

    auto* tip = new QLabel(Text("Tips:The network parameters should be filled in correctly, otherwise the "
                                "communication connection will be affected",
                                "小提示:网络参数要填写正确,否则会影响通信连接。"),
                           this);
    tip->setWordWrap(true);
    outer->addWidget(tip);

    outer->addWidget(controls::MakeOkCancelRow(this, Text("OK", "应用"), Text("Cancel", "关闭")));

    onMessage(platform::WM_NETWORK_PARAM_REPLY,
              [this](platform::WPARAM w, platform::LPARAM l) { return OnReply(w, l); });
    SetForm(netparam::NetworkSettings());
}

void CSetIpConf::OnInitDialog()
{
    SendToPlayer(Header(proto::CMD_NETWORK_PARAM));
}

void CSetIpConf::SetForm(const netparam::NetworkSettings& s)
{
    ip_->SetAddress(s.ip);
    mask_->SetAddress(s.mask);
    gateway_->SetAddress(s.gateway);
    dns_->SetAddress(s.dns);
    for (std::size_t i = 0; i < mac_.size(); ++i)
        mac_[i]->setText(QString::number(s.mac[i]));
    port_->setText(QString::number(s.port));
}

netparam::FormValues CSetIpConf::Form() const
{
    netparam::FormValues f;
    f.ip = ip_->GetAddress();
    f.mask = mask_->GetAddress();
    f.gateway = gateway_->GetAddress();
    f.dns = dns_->GetAddress();
    for (std::size_t i = 0; i < mac_.size(); ++i) {
        bool ok = false;
        const int v = mac_[i]->text().toInt(&ok);
        f.mac[i] = ok ? v : -1;
    }
    bool ok = false;
    const int port = port_->text().toInt(&ok);
    f.port = ok ? port : -1;
    return f;
}

platform::LRESULT CSetIpConf::OnReply(platform::WPARAM, platform::LPARAM lParam)
{
    std::unique_ptr<replies::NetworkParamRecord> record(reinterpret_cast<replies::NetworkParamRecord*>(lParam));
    if (!record)
        return 0;
    netparam::NetworkSettings s;
    s.ip = record->ip;
    s.mask = record->mask;
    s.gateway = record->gateway;
    s.dns = record->dns;
    s.mac = record->mac;
    s.port = uint16_t(record->port);
    SetForm(s);
    filled_ = true;
    return 0;
}

void CSetIpConf::accept()
{
    using platform::MsgButtons;
    using platform::MsgIcon;
    using platform::MsgResult;
    // Until the player's own values are shown, the fields hold defaults and
    // a zero MAC: sending them would re-address the player.
    if (!filled_) {
        Message("The player's network parameters have not been read yet; nothing was sent.",
                "尚未读取到播放器的网络参数，未发送。", MsgIcon::Warning);
        return;
    }
    const netparam::FormValues form = Form();
    const netparam::CheckResult check = netparam::CheckForm(form);
    if (check.refused) {
        Message(platform::pickText(language_, check.english, check.chinese), MsgIcon::Question);
        return;
    }
    if (check.askGateway &&
        Message("The gateway input is not standard, does it continue?", "网关输入不规范，是否继续？",
                MsgIcon::Question, MsgButtons::YesNo) != MsgResult::Yes)
        return;
    if (Message("Changing settings might cause system connection issue, want to continue ?",
                "设备参数改变有可能导致播放器连接失败，是否继续？", MsgIcon::Question,
                MsgButtons::YesNo) != MsgResult::Yes)
        return;
    netparam::NetworkSettings s;
    s.ip = form.ip;
    s.mask = form.mask;
    s.gateway = form.gateway;
    s.dns = form.dns;
    for (std::size_t i = 0; i < s.mac.size(); ++i)
        s.mac[i] = uint8_t(form.mac[i]);
    s.port = uint16_t(form.port);
    SendToPlayer(Header(proto::CMD_NETWORK_PARAM), s.pack());
    // The dialog stays open; the player's acknowledgement is shown by the document.
}
