#include "companion/set_param.h"

#include "common/controls/property_grid.h"
#include "companion/control_protocol.h"
#include "companion/hub_records.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "transport/protocol.h"

#include <QDir>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace {

using platform::LPARAM;
using platform::LRESULT;
using platform::WPARAM;

// Data numbers of the device grid: a player's group is kPlayerBase + its
// index, an act's group its act index, and the act's rows these.
constexpr quintptr kPlayerBase = 1000;
constexpr quintptr kRootGroup = 2000;
constexpr quintptr kCascadeRow = 10, kFolderRow = 11, kAliasRow = 12, kFilterRow = 13;
// Type grid: a type's group is its index, its rows these.
constexpr quintptr kTypeName = 100, kSendCmd = 101, kRecvCmd = 102;

}  // namespace

CSetParam::CSetParam(const QString& tempFolder, QWidget* parent)
    : QWidget(parent), platform::MessageWindow(static_cast<QWidget*>(this)), tempFolder_(tempFolder)
{
    language_ = platform::appLanguage() == platform::kLanguageChinese ? platform::kLanguageChinese
                                                                       : platform::kLanguageEnglish;
    setObjectName(QStringLiteral("134"));
    setWindowTitle(tollivar::kSetParamCaption.text(language_));
    deviceGrid_ = new PropertyGrid(this);
    deviceGrid_->setObjectName(QStringLiteral("2301"));
    typeGrid_ = new PropertyGrid(this);
    typeGrid_->setObjectName(QStringLiteral("2302"));
    for (PropertyGrid* grid : {deviceGrid_, typeGrid_}) {
        grid->setHeaderLabels(Text("Property", "属性"), Text("Value", "值"));
        grid->setNameColumnWidth(180);
        grid->setDescriptionVisible(true);
        grid->setModifiedMarking(true);
    }
    QObject::connect(deviceGrid_, &PropertyGrid::propertyChanged, this,
                     [this](PropertyItem* item, quintptr, const QVariant& o, const QVariant& n) {
                         OnDeviceChanged(item, o, n);
                     });
    QObject::connect(typeGrid_, &PropertyGrid::propertyChanged, this,
                     [this](PropertyItem* item, quintptr, const QVariant& o, const QVariant& n) {
                         OnTypeChanged(item, o, n);
                     });
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("2303"));
    progress_->setVisible(false);
    auto* grids = new QHBoxLayout;
    grids->addWidget(deviceGrid_, 1);
    grids->addWidget(typeGrid_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grids, 1);
    layout->addWidget(progress_);
    BuildDeviceGrid();
    BuildTypeGrid();

    onMessage(platform::WM_CASCADE_REPLY, [this](WPARAM, LPARAM l) { return OnCascade(l); });
    onMessage(platform::WM_VIDEO_LIST_REPLY, [this](WPARAM, LPARAM l) { return OnVideoList(l); });
    onMessage(platform::WM_CONTROL_PROTOCOL_REPLY, [this](WPARAM, LPARAM l) { return OnProtocol(l); });
    onMessage(platform::WM_USART_DATA_REPLY, [this](WPARAM, LPARAM l) { return OnUsartData(l); });
    onMessage(platform::WM_LINK_CLOSED, [this](WPARAM, LPARAM) {
        state_ = 0;  // the next tick goes on with the next player
        return LRESULT(0);
    });
    onMessage(platform::WM_PARAM_FILE_REPLY, [](WPARAM, LPARAM) { return LRESULT(0); });
    onMessage(platform::WM_REPLY_TOO_SLOW, [this](WPARAM, LPARAM l) {
        if (const auto* player = reinterpret_cast<const QString*>(l))
            slowNotice_.Dropped(*player, language_, this);
        return LRESULT(0);
    });
}

CSetParam::~CSetParam()
{
    Leave();
}

QString CSetParam::Text(const char* english, const char* chinese) const
{
    return platform::pickText(language_, english, chinese);
}

int CSetParam::Reference() const
{
    return videoset::ReferenceIndex(devices_);
}

void CSetParam::Answered(int device)
{
    if (device >= 0 && device < int(devices_.size()))
        slowNotice_.Answered(devices_[std::size_t(device)].ip);
}

void CSetParam::Send(int device, uint8_t command, uint16_t param, uint16_t arg)
{
    if (device < 0 || device >= int(devices_.size()))
        return;
    const videoset::DeviceSetup& d = devices_[std::size_t(device)];
    proto::PlayerPacketHeader header;
    header.command = command;
    header.param = param;
    header.arg = arg;
    auto request = std::make_unique<SendRequest>();
    request->AddTarget(d.ip, d.portText.toUShort());
    if (request->SetPacket(header))
        SendToMainWindow(request.release());
}

void CSetParam::CloseLinks()
{
    SendToMainWindow(new SendRequest);
}

void CSetParam::Activate(const std::vector<tollivar::TickedPlayer>& ticked)
{
    std::vector<videoset::DeviceSetup> kept;
    for (const tollivar::TickedPlayer& player : ticked) {
        videoset::DeviceSetup setup;
        for (const videoset::DeviceSetup& old : devices_)
            if (old.ip == player.ip)
                setup = old;
        setup.ip = player.ip;
        setup.portText = player.portText;
        setup.mode = 0;  // learnt again
        kept.push_back(std::move(setup));
    }
    devices_ = std::move(kept);
    step_ = 0;
    state_ = 0;
    documentArrived_ = false;
    progress_->setRange(0, int(devices_.size()));
    progress_->setValue(0);
    BuildDeviceGrid();
    QueryStep();
    setTimer(kQueryTimer, queryMs_);
    progress_->setVisible(true);
}

void CSetParam::Leave()
{
    MessageWindow::killTimer(kQueryTimer);
    MessageWindow::killTimer(kPollTimer);
    progress_->setVisible(false);
}

void CSetParam::QueryStep()
{
    if (devices_.empty() || state_ == 2)
        return;
    if (step_ < devices_.size()) {
        Send(int(step_), proto::CMD_CASCADE_QUERY);
        state_ = 1;
        return;
    }
    BuildDeviceGrid();
    Send(Reference(), proto::CMD_VIDEO_LIST);
}

void CSetParam::onTimer(unsigned id)
{
    if (id == kQueryTimer) {
        QueryStep();
    } else if (id == kPollTimer) {
        if (!devices_.empty() && state_ != 2)
            Send(Reference(), proto::CMD_USART_DATA);
    } else {
        MessageWindow::onTimer(id);
    }
}

LRESULT CSetParam::OnCascade(LPARAM lParam)
{
    std::unique_ptr<tollivar::CascadeListRecord> record(reinterpret_cast<tollivar::CascadeListRecord*>(lParam));
    if (!record || record->mode > 2 || documentArrived_)
        return 0;
    Answered(int(step_));
    if (step_ < devices_.size())
        devices_[step_].mode = record->mode;
    ++step_;
    progress_->setValue(int(std::min<std::size_t>(step_, devices_.size())));
    state_ = 2;
    // The next player is asked on a fresh connection.
    CloseLinks();
    return 0;
}

LRESULT CSetParam::OnVideoList(LPARAM lParam)
{
    std::unique_ptr<PlayerCatalog> catalog(reinterpret_cast<PlayerCatalog*>(lParam));
    if (!catalog || documentArrived_)
        return 0;
    Answered(Reference());
    catalog_ = *catalog;
    Send(Reference(), proto::CMD_PARAM_FILE, 1, 0);
    state_ = 1;
    return 0;
}

LRESULT CSetParam::OnProtocol(LPARAM lParam)
{
    const auto* text = reinterpret_cast<const QByteArray*>(lParam);
    if (!text || documentArrived_)
        return 0;
    Answered(Reference());
    if (!ReadProtocolJson(*text, record_))
        return 0;
    documentArrived_ = true;
    state_ = 2;
    BuildTypeGrid();
    MessageWindow::killTimer(kQueryTimer);
    progress_->setVisible(false);
    step_ = 0;
    CloseLinks();
    setTimer(kPollTimer, pollMs_);
    return 0;
}

LRESULT CSetParam::OnUsartData(LPARAM lParam)
{
    std::unique_ptr<tollivar::UsartDataRecord> received(reinterpret_cast<tollivar::UsartDataRecord*>(lParam));
    if (!received || received->count == 0)
        return 0;
    Answered(Reference());
    PropertyItem* item = typeGrid_->selectedItem();
    if (!item || item->isGroup() || item->dataNumber() != kSendCmd || !item->parentItem())
        return 0;
    const quintptr type = item->parentItem()->dataNumber();
    if (type >= record_.videoTypes.size())
        return 0;
    const QString command = controlprotocol::LearnedCommand(*received);
    record_.videoTypes[type].sendCmd = command;
    item->setValue(command);
    typeGrid_->clearSelection();
    return 0;
}

// ------------------------------------------------------------ grids

void CSetParam::BuildDeviceGrid()
{
    deviceGrid_->clear();
    PropertyItem* root = deviceGrid_->addGroup(nullptr, QStringLiteral("设备IP"), kRootGroup);
    const QStringList choices{QStringLiteral("False"), QStringLiteral("True")};
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        const videoset::DeviceSetup& d = devices_[i];
        PropertyItem* player = deviceGrid_->addGroup(root, d.ip, kPlayerBase + i);
        const QString mode = d.mode == 1 ? QStringLiteral("主模式")
                             : d.mode == 2 ? QStringLiteral("从模式")
                                           : QStringLiteral("独立模式");
        deviceGrid_->addText(player, QStringLiteral("级联"), mode, kCascadeRow)->setReadOnly(true);
        for (int a = 0; a < videoset::kActs; ++a) {
            const videoset::ActSetup& act = d.acts[std::size_t(a)];
            PropertyItem* group = deviceGrid_->addGroup(player, QStringLiteral("第%1幕").arg(a + 1), quintptr(a));
            deviceGrid_->addFolder(group, QStringLiteral("类别目录"), act.folder, kFolderRow,
                                   QStringLiteral("保存类别的文件夹"));
            PropertyItem* alias = deviceGrid_->addText(group, QStringLiteral("别名"), act.alias, kAliasRow);
            PropertyItem* filter = deviceGrid_->addList(group, QStringLiteral("过滤别名"), choices,
                                                        act.aliasFilter ? 1 : 0, false, kFilterRow);
            // An independent player has no partner to match names with.
            alias->setReadOnly(d.mode == 0);
            filter->setReadOnly(d.mode == 0);
        }
    }
}

void CSetParam::BuildTypeGrid()
{
    typeGrid_->clear();
    for (std::size_t i = 0; i < record_.videoTypes.size(); ++i) {
        const SwitchCommand& type = record_.videoTypes[i];
        PropertyItem* group = typeGrid_->addGroup(
            nullptr, Text("Video Type%1", "视频类别%1").arg(i + 1), quintptr(i));
        typeGrid_->addText(group, Text("Type Name", "类别名称"), type.name, kTypeName);
        typeGrid_->addText(group, Text("Send Cmd", "切换命令"), type.sendCmd, kSendCmd);
        typeGrid_->addText(group, Text("Recv Cmd", "回复命令"), type.recvCmd, kRecvCmd);
    }
}

void CSetParam::OnDeviceChanged(PropertyItem* item, const QVariant&, const QVariant& newValue)
{
    PropertyItem* actGroup = item->parentItem();
    PropertyItem* playerGroup = actGroup ? actGroup->parentItem() : nullptr;
    if (!playerGroup || playerGroup->dataNumber() < kPlayerBase)
        return;
    const std::size_t player = playerGroup->dataNumber() - kPlayerBase;
    const quintptr actIndex = actGroup->dataNumber();
    if (player >= devices_.size() || actIndex >= quintptr(videoset::kActs))
        return;
    videoset::ActSetup& act = devices_[player].acts[actIndex];
    switch (item->dataNumber()) {
    case kFolderRow:
        act.folder = newValue.toString();
        if (int(player) == Reference()) {
            // New category names fill the empty type slots; the rest is dropped.
            for (const QString& name : videoset::SortedSubFolders(act.folder)) {
                auto& types = record_.videoTypes;
                if (std::any_of(types.begin(), types.end(), [&](const SwitchCommand& t) { return t.name == name; }))
                    continue;
                for (SwitchCommand& t : types)
                    if (t.name.isEmpty()) {
                        t.name = name;
                        break;
                    }
            }
            BuildTypeGrid();
        }
        videoset::RebuildCategories(act);
        return;
    case kAliasRow:
        act.alias = newValue.toString();
        return;
    case kFilterRow:
        act.aliasFilter = newValue.toString() == QStringLiteral("True");
        return;
    default:
        return;
    }
}

void CSetParam::OnTypeChanged(PropertyItem* item, const QVariant& oldValue, const QVariant& newValue)
{
    PropertyItem* group = item->parentItem();
    if (!group || group->dataNumber() >= record_.videoTypes.size())
        return;
    SwitchCommand& type = record_.videoTypes[group->dataNumber()];
    if (item->dataNumber() == kTypeName) {
        type.name = newValue.toString();
        return;
    }
    QString cleaned;
    if (!NormaliseCommand(newValue.toString(), cleaned)) {
        item->setValue(oldValue);
        platform::messageBox(Text("input error!", "输入错误！"), QString(), platform::MsgButtons::Ok,
                             platform::MsgIcon::Warning, this);
        return;
    }
    (item->dataNumber() == kSendCmd ? type.sendCmd : type.recvCmd) = cleaned;
    item->setValue(cleaned);
}

bool CSetParam::OnNext()
{
    deviceGrid_->commitOpenEditor();
    typeGrid_->commitOpenEditor();
    auto warn = [this](const QString& text) {
        platform::messageBox(text, QString(), platform::MsgButtons::Ok, platform::MsgIcon::Warning, this);
        return false;
    };
    const QString refusal = videoset::ListVideos(devices_, language_);
    if (!refusal.isEmpty())
        return warn(refusal);
    if (!videoset::MasterAndSlavesMatch(devices_))
        return warn(Text("The comparison master and slave device types or file names do not match!",
                         "主从设备的类别或文件名比对不一致！"));
    // Batch Send gives this document to every player in place of its own
    // settings: without the reference player's, those are the defaults.
    if (!documentArrived_) {
        const int reference = Reference();
        const QString player = reference >= 0 ? devices_[std::size_t(reference)].ip : QString();
        if (platform::messageBox(Text("The settings of player %1 could not be read. Batch Send would replace the "
                                      "settings of every player with the defaults and the types shown here. Continue?",
                                      "未能读取播放器 %1 的设置。批量发送将用默认设置和此处的类别替换每台播放器的设置。"
                                      "是否继续？")
                                     .arg(player),
                                 QString(), platform::MsgButtons::YesNo, platform::MsgIcon::Warning,
                                 this) != platform::MsgResult::Yes)
            return false;
    }
    const bool anyCode = std::any_of(record_.videoTypes.begin(), record_.videoTypes.end(), [](const SwitchCommand& t) {
        return !t.name.isEmpty() && !t.sendCmd.isEmpty();
    });
    if (!anyCode && platform::messageBox(Text("type code not filled in, continue?", "类别命令未填写，是否继续？"),
                                         QString(), platform::MsgButtons::YesNo, platform::MsgIcon::Question,
                                         this) != platform::MsgResult::Yes)
        return false;
    QDir().mkpath(tempFolder_);
    QString error;
    if (!WriteProtocolJson(QDir(tempFolder_).filePath(QString::fromLatin1(videoset::kVideoTypeFileName)), record_,
                           &error))
        return warn(Text("Save failed!", "保存失败！") + QStringLiteral("\n") + error);
    Leave();
    return true;
}
