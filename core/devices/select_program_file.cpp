#include "core/devices/select_program_file.h"

#include "common/controls/text_progress_ctrl.h"
#include "common/text_coding.h"
#include "platform/app_identity.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "transport/link_loss.h"
#include "transport/records.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>


namespace firmware {

namespace {

struct KindTexts {
    const char* titleEnglish;
    const char* titleChinese;
    const char* tipEnglish;
    const char* tipChinese;
    const char* confirmEnglish;
    const char* confirmChinese;
    const char* filterEnglish;
    const char* filterChinese;
};

constexpr KindTexts kKinds[] = {
    {"Upgrade CPU", "更新CPU程序", "", "",
     "Updating MCU may cause equipment damage. Do you want to continue？", "更新MCU有可能导致设备损坏，是否继续？",
     "CPU File(*.bin)|*.bin||", "CPU File(*.bin)|*.bin||"},
    {"Upgrade FPGA", "更新FPGA程序",
     "Tip: It takes about 3 minutes for the upgrade of the FPGA. Wait for the prompt to come into effect after it is "
     "successful.",
     "小提示：FPGA升级需要3分钟左右时间，等待提示成功后重新上电生效。",
     "Updating FPGA may cause equipment damage. Do you want to continue？", "更新FPGA有可能导致设备损坏，是否继续？",
     "FPGA File(*.dat)|*.dat||", "FPGA File(*.dat)|*.dat||"},
    {"Upgrade SERVER", "更新服务程序", "Tip: The update service will restart after it completes.",
     "小提示：更新服务完成后会重新启动。", "Updating may cause equipment damage. Do you want to continue？",
     "更新有可能导致设备损坏，是否继续？", "SERVER Files(*.su)|*.su||", "SERVER File(*.su)|*.su||"},
};

const KindTexts* textsOf(uint8_t kind)
{
    return kind >= 1 && kind <= 3 ? &kKinds[kind - 1] : nullptr;
}

}  // namespace

std::optional<Packet> FirmwareTransfer::Begin(const QString& path, uint8_t subCode)
{
    const QString name = QFileInfo(path).fileName();
    QByteArray nameBytes;
    if (!text::NameToDoubleByteText(name, nameBytes, proto::kNameFieldSize))
        return std::nullopt;
    file_.Announced(path);
    path_ = path;
    subCode_ = subCode;
    state_ = kNameSent;
    Packet p;
    p.header.command = proto::CMD_PROGRAM_UPGRADE;
    p.header.subCode = subCode;
    p.header.sequence = counter_;
    p.payload = nameBytes;
    p.freshLink = awaiting_;
    awaiting_ = true;
    return p;
}

FirmwareTransfer::Step FirmwareTransfer::Chunk(Packet* packet)
{
    upload::Upload::Chunk chunk;
    switch (file_.Acknowledged(chunk)) {
    case upload::Upload::Step::kChunk:
        break;
    case upload::Upload::Step::kOpenFailed:
        state_ = kIdle;
        return Step::OpenFailed;
    default:
        // Unreadable or cut short: no part of the chunk goes out.
        state_ = kIdle;
        return Step::ReadFailed;
    }
    Packet p;
    p.header.command = proto::CMD_PROGRAM_UPGRADE;
    p.header.subCode = subCode_;
    p.header.sequence = counter_;
    p.header.param = chunk.last ? 2 : 1;
    state_ = chunk.last ? kLastSent : kSending;
    p.payload = std::move(chunk.bytes);
    p.owner = std::move(chunk.owner);
    p.source = chunk.source;
    awaiting_ = true;
    *packet = std::move(p);
    return Step::Sent;
}

FirmwareTransfer::Step FirmwareTransfer::OnReply(uint8_t code, uint16_t arg, Packet* packet)
{
    ++counter_;
    if (code != proto::CMD_PROGRAM_UPGRADE)
        return Step::None;
    awaiting_ = false;
    switch (state_) {
    case kNameSent: {
        if (arg != 0) {
            file_.Reset();
            state_ = kIdle;
            return Step::LatestVersion;
        }
        return Chunk(packet);
    }
    case kSending:
        return Chunk(packet);
    case kLastSent: {
        // The last chunk went from the mapping: an image written while it
        // travelled may have reached the player mixed, which is no update.
        const bool whole = file_.Acknowledged() == upload::Upload::Step::kEnd;
        file_.Reset();
        state_ = kIdle;
        return whole ? Step::Completed : Step::ReadFailed;
    }
    case kIdle:
        return Step::None;
    }
    return Step::None;
}

bool FirmwareTransfer::Abort()
{
    const bool running = state_ != kIdle;
    file_.Reset();
    state_ = kIdle;
    awaiting_ = false;
    return running;
}

int FirmwareTransfer::Percent() const
{
    return file_.percent();
}

QString ScriptPath()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("adb/updatesu.sh"));
}

QString AdbPath()
{
    return QStandardPaths::findExecutable(QStringLiteral("adb"));
}

bool RunServerUpgrade(const QString& playerIp, const QString& filePath)
{
    return QProcess::startDetached(QStringLiteral("/bin/sh"), {ScriptPath(), playerIp, filePath});
}

}  // namespace firmware

CSelectProgramFile::CSelectProgramFile(uint8_t kind, const QString& playerIp, const QString& titlePrefix,
                                       QWidget* parent)
    : CDeviceDialog(titlePrefix, replies::kUpgrade, parent), kind_(kind), playerIp_(playerIp)
{
    resize(520, 240);
    const auto* texts = firmware::textsOf(kind);
    auto* outer = new QVBoxLayout(this);
    auto* title = new QLabel(texts ? Text(texts->titleEnglish, texts->titleChinese) : QString(), this);
    title->setObjectName(ControlName(2604));
    QFont font(QStringLiteral("MS Shell Dlg"));
    font.setPixelSize(30);
    title->setFont(font);
    title->setStyleSheet(QStringLiteral("color: rgb(255, 0, 0);"));
    title->setAlignment(Qt::AlignCenter);
    outer->addWidget(title);

    auto* group = new QGroupBox(Text("Data File", "数据文件"), this);
    auto* row = new QHBoxLayout(group);
    row->addWidget(new QLabel(Text("Name:", "文件名:"), group));
    path_ = new QLineEdit(group);
    path_->setObjectName(ControlName(2601));
    row->addWidget(path_, 1);
    auto* browse = new QPushButton(QStringLiteral("..."), group);
    browse->setAutoDefault(false);
    browse->setMaximumWidth(32);
    row->addWidget(browse);
    outer->addWidget(group);

    progress_ = new CTextProgressCtrl(this);
    progress_->setObjectName(ControlName(2602));
    progress_->setMinimumHeight(22);
    progress_->hide();
    outer->addWidget(progress_);

    auto* tip = new QLabel(texts ? Text(texts->tipEnglish, texts->tipChinese) : QString(), this);
    tip->setObjectName(ControlName(2603));
    tip->setWordWrap(true);
    outer->addWidget(tip);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* update = new QPushButton(Text("Update", "更新"), this);
    update->setObjectName(ControlName(1));
    auto* cancel = new QPushButton(Text("Cancel", "关闭"), this);
    cancel->setObjectName(ControlName(2));
    update->setAutoDefault(false);
    cancel->setAutoDefault(false);
    buttons->addWidget(update);
    buttons->addWidget(cancel);
    outer->addLayout(buttons);

    connect(browse, &QPushButton::clicked, this, [this] { OnBrowse(); });
    connect(update, &QPushButton::clicked, this, [this] { OnUpdate(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    onMessage(platform::WM_UPGRADE_REPLY, [this](platform::WPARAM w, platform::LPARAM l) { return OnReply(w, l); });
    onMessage(platform::WM_LINK_CLOSED, [this](platform::WPARAM w, platform::LPARAM l) { return OnLinkClosed(w, l); });
}

void CSelectProgramFile::OnBrowse()
{
    const auto* texts = firmware::textsOf(kind_);
    platform::FileDialogCall call;
    call.kind = platform::FileDialogKind::Open;
    call.filter = texts ? Text(texts->filterEnglish, texts->filterChinese) : QString();
    const QString path = platform::fileDialog(call, this);
    if (!path.isEmpty())
        path_->setText(path);
}

void CSelectProgramFile::OnUpdate()
{
    using platform::MsgButtons;
    using platform::MsgIcon;
    const QString path = path_->text();
    if (path.isEmpty()) {
        Message("Does the Program file have not been selected?", "程序文件未选择吧？", MsgIcon::Warning);
        return;
    }
    if (!QFileInfo(path).isFile()) {
        Message("Does the Program file exist?", "程序文件不存在吧？", MsgIcon::Warning);
        return;
    }
    const auto* texts = firmware::textsOf(kind_);
    if (!texts)
        return;
    if (Message(texts->confirmEnglish, texts->confirmChinese, MsgIcon::Question, MsgButtons::YesNo) !=
        platform::MsgResult::Yes)
        return;
    if (kind_ == firmware::kServer) {
        // The path goes to the script as one argument, so blanks and shell
        // characters in it are harmless.
        if (!firmware::RunServerUpgrade(playerIp_, path))
            Message(Text("Cannot start the upgrade script: ", "无法启动更新脚本：") +
                        QDir::toNativeSeparators(firmware::ScriptPath()),
                    MsgIcon::Warning);
        return;
    }
    if (!platform::findWindow(platform::appTitle()))
        return;
    const auto packet = transfer_.Begin(path, kind_ == firmware::kCpu ? 0 : 1);
    if (!packet) {
        Message(text::unencodableNameMessage(QFileInfo(path).fileName(), int(language_)), MsgIcon::Warning);
        return;
    }
    SendToPlayer(packet->header, packet->payload, nullptr, QString(), packet->freshLink);
}

void CSelectProgramFile::done(int result)
{
    // Closed while the player still owes the transfer an answer: the link is
    // renewed, so that the answer never reaches the next upgrade dialog,
    // whose transfer could not tell it from an answer of its own.
    if (transfer_.AwaitsAnswer()) {
        transfer_.Abort();
        auto request = std::make_unique<SendRequest>();
        request->freshLink = true;
        SendToMainWindow(request.release());
    }
    CDeviceDialog::done(result);
}

platform::LRESULT CSelectProgramFile::OnReply(platform::WPARAM, platform::LPARAM lParam)
{
    using Step = firmware::FirmwareTransfer::Step;
    std::unique_ptr<replies::UpgradeRecord> record(reinterpret_cast<replies::UpgradeRecord*>(lParam));
    if (!record)
        return 0;
    const bool starting = transfer_.state() == firmware::FirmwareTransfer::kNameSent;
    firmware::Packet packet;
    switch (transfer_.OnReply(record->code, record->arg, &packet)) {
    case Step::Sent:
        if (starting) {
            progress_->SetRange(0, 100);
            progress_->SetPos(0);
            progress_->show();
        }
        SendToPlayer(packet.header, packet.payload, std::move(packet.owner), packet.source);
        progress_->SetPos(uint64_t(transfer_.Percent()));
        break;
    case Step::LatestVersion:
        Message("The program file is the latest version and does not need to be upgraded。",
                "程序文件已经是最新版本，不需要升级。", platform::MsgIcon::Warning);
        break;
    case Step::Completed:
        progress_->hide();
        Message("The update of the program file is completed。", "程序文件更新完成。", platform::MsgIcon::Warning);
        break;
    case Step::OpenFailed:
        Message(Text("Cannot open the program file: ", "无法打开程序文件：") +
                    QDir::toNativeSeparators(transfer_.path()),
                platform::MsgIcon::Warning);
        break;
    case Step::ReadFailed:
        progress_->hide();
        Message(transfer_.FailureMessage(int(language_)), platform::MsgIcon::Warning);
        break;
    case Step::None:
        break;
    }
    return 0;
}

platform::LRESULT CSelectProgramFile::OnLinkClosed(platform::WPARAM linkEvent, platform::LPARAM error)
{
    if (!transfer_.Abort())
        return 0;
    progress_->hide();
    // The file was cut while it was written: the document names it, and
    // the player is not blamed a second time here.
    if (LinkLostToUnreadableFile(uint16_t(linkEvent), int(error)))
        return 0;
    const QString text = Text("The update of the program file failed: ", "程序文件更新失败：") +
                         LinkLossText(uint16_t(linkEvent), int(error), language_) + Text(".", "。");
    // Told after the link's event is done: the link thread waits for it.
    QTimer::singleShot(0, this, [this, text] { Message(text, platform::MsgIcon::Warning); });
    return 0;
}
