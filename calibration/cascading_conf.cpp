#include "calibration/cascading_conf.h"

#include "calibration/player_requests.h"
#include "common/controls/dialog_keys.h"
#include "common/controls/ip_address_ctrl.h"
#include "core/reply_handlers.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/messages.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <memory>

using calib::CascadeMode;

namespace {

QString pick(unsigned language, const char* english, const char* chinese)
{
    return language == 4 ? QString::fromUtf8(chinese) : QString::fromUtf8(english);
}

}  // namespace

CCascadingConf::CCascadingConf(const QString& titlePrefix, QWidget* parent)
    : QDialog(parent), platform::MessageWindow(static_cast<QWidget*>(this)), language_(platform::appLanguage())
{
    setWindowTitle(titlePrefix + pick(language_, replies::kCascade.english, replies::kCascade.chinese));

    const char* const labels[3][2] = {{"Independent", "独立使用"}, {"Master", "主机使用"}, {"Slave", "从机使用"}};
    auto* radioRow = new QHBoxLayout;
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(pick(language_, labels[i][0], labels[i][1]), this);
        radio->setObjectName(QString::number(3801 + i));
        radio->setAutoExclusive(false);  // the handlers check one at a time
        radioRow->addWidget(radio);
        radios_[std::size_t(i)] = radio;
        connect(radio, &QRadioButton::clicked, this, [this, i] { OnMode(CascadeMode(i)); });
    }
    radioRow->addStretch();

    auto* grid = new QGridLayout;
    for (int i = 0; i < calib::kCascadeAddresses; ++i) {
        auto* control = new CIPAddressCtrl(this);
        control->setObjectName(QString::number(3804 + i));
        control->setEnabled(false);
        const int row = i / 5, column = i % 5;  // rows of five, as the messages count them
        grid->addWidget(new QLabel(QStringLiteral("IP%1:").arg(i + 1), this), row, 2 * column);
        grid->addWidget(control, row, 2 * column + 1);
        addresses_[std::size_t(i)] = control;
    }

    QPushButton* ok = controls::MakeButton(pick(language_, "OK", "确定"), 1, this);
    QPushButton* cancel = controls::MakeButton(pick(language_, "Cancel", "取消"), 2, this);
    connect(ok, &QPushButton::clicked, this, &CCascadingConf::OnOk);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(radioRow);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    onMessage(platform::WM_CASCADE_REPLY, [this](platform::WPARAM, platform::LPARAM l) {
        OnCascadeReply(reinterpret_cast<replies::CascadeRecord*>(l));
        return platform::LRESULT(0);
    });

    // The controls start at 0.0.0.0 and disabled until the reply or a radio
    // button sets the mode.
    calib::SendPacket(calib::BuildCascadeQuery());
}

CCascadingConf::~CCascadingConf() = default;

void CCascadingConf::OnMode(CascadeMode mode)
{
    mode_ = mode;
    for (int i = 0; i < 3; ++i)
        radios_[std::size_t(i)]->setChecked(i == int(mode));
    for (CIPAddressCtrl* c : addresses_)
        c->setEnabled(mode == CascadeMode::Master);
}

void CCascadingConf::OnCascadeReply(replies::CascadeRecord* record)
{
    const std::unique_ptr<replies::CascadeRecord> owned(record);
    if (!owned)
        return;
    OnMode(owned->mode == 1 ? CascadeMode::Master : owned->mode == 2 ? CascadeMode::Slave : CascadeMode::Independent);
    for (int i = 0; i < calib::kCascadeAddresses; ++i) {
        calib::Ipv4 a{};
        for (int k = 0; k < 4; ++k)
            a[std::size_t(k)] = owned->addresses[std::size_t(4 * i + k)];
        addresses_[std::size_t(i)]->SetAddress(a);
    }
    update();
}

void CCascadingConf::OnOk()
{
    std::array<calib::Ipv4, calib::kCascadeAddresses> controls{};
    for (int i = 0; i < calib::kCascadeAddresses; ++i)
        controls[std::size_t(i)] = addresses_[std::size_t(i)]->GetAddress();
    const calib::CascadeCheck check = calib::CheckCascade(mode_, controls);
    if (check.outcome != calib::CascadeCheck::Ok) {
        platform::messageBox(calib::CascadeCheckMessage(check, language_), QString(), platform::MsgButtons::Ok,
                             platform::MsgIcon::Question, this);
        return;
    }
    const QString question =
        pick(language_, "The change of device parameters may result in the failure of the player connection, and will "
                        "it continue?",
             "设备参数改变有可能导致播放器连接失败，是否继续？");
    if (platform::messageBox(question, QString(), platform::MsgButtons::YesNo, platform::MsgIcon::Question, this) !=
        platform::MsgResult::Yes)
        return;
    calib::SendPacket(calib::BuildCascadeSet(mode_, check.addresses));
}

// Enter and Esc close nothing: the dialog is left through its buttons.
void CCascadingConf::keyPressEvent(QKeyEvent* event)
{
    if (!controls::SwallowEnterEsc(event))
        QDialog::keyPressEvent(event);
}
