#include "companion/control_protocol.h"

#include "common/controls/dialog_keys.h"
#include "common/controls/property_grid.h"
#include "common/text_coding.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "transport/protocol.h"

#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace {

using platform::LPARAM;
using platform::LRESULT;
using platform::WPARAM;

// Grid control ids, in the order of CControlProtocol::grids_.
constexpr int kGridIds[5] = {2601, 2602, 2603, 2604, 2605};
constexpr int kHostGrid = 0, kSerialGrid = 1, kFolderGrid = 2, kLayoutGrid = 3, kProjectorGrid = 4;

// Data numbers of the serial grid's two groups and of the rows that matter.
constexpr quintptr kSerialConfigGroup = 0;
constexpr quintptr kSerialControlGroup = 1;
constexpr quintptr kSendCmdData = 1;

struct Label {
    const char* english;
    const char* chinese;
};

// "Serial Control": one row per command, in the record's order.
constexpr Label kCommandLabels[SerialSettings::kCommandCount] = {
    {"Play", "播放"},
    {"Pause", "暂停"},
    {"Previous Folder", "上一文件夹"},
    {"Next Folder", "下一文件夹"},
    {"Scene Lock", "场景锁定"},
    {"Scene UnLock", "场景解锁"},
    {"Previous Video", "上一视频"},
    {"Next Video", "下一视频"},
    {"Volume Up", "音量加"},
    {"Volume Down", "音量减"},
    {"Projector On", "投影机开"},
    {"Projector Off", "投影机关"},
    {"WagWin On", "摆动窗口开"},
    {"WagWin Off", "摆动窗口关"},
    {"AllWin On", "全部窗口开"},
    {"AllWin Off", "全部窗口关"},
    {"Random Play", "随机播放"},
    {"Loop Play", "循环播放"},
    {"Play Stop", "停止播放"},
    {"Power On", "开机"},
    {"Power Off", "关机"},
    {"Auto", "自动"},
    {"Hand", "手动"},
};

// "Serial Configuration": data 1 to 10 and the record's number behind each.
struct SerialRow {
    quintptr data;
    SerialSettings::Number number;
    Label label;
};
constexpr SerialRow kSerialRows[] = {
    {1, SerialSettings::BaudRate, {"BaudRate", "波特率"}},
    {2, SerialSettings::DataBit, {"DataBit", "数据位"}},
    {3, SerialSettings::StopBit, {"StopBit", "停止位"}},
    {4, SerialSettings::Random, {"(Wallboard) Random Play Mode", "(墙板)随机播放模式"}},
    {5, SerialSettings::Repeat, {"(Wallboard) Loop Play Mode", "(墙板)循环播放模式"}},
    {6, SerialSettings::PlayMode, {"Video Play Mode", "视频播放模式"}},
    {7, SerialSettings::LayOutMov, {"LayOut Switch Mode", "布局切换模式"}},
    {8, SerialSettings::AudioOutChl, {"Sound source", "声音输出"}},
    {9, SerialSettings::Language, {"Language", "语言"}},
    {10, SerialSettings::AspectRatio, {"AspectRatio", "宽高比"}},
};

QStringList numberOptions(SerialSettings::Number number)
{
    switch (number) {
    case SerialSettings::BaudRate:
        return {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};
    case SerialSettings::DataBit:
        return {"5", "6", "7", "8"};
    case SerialSettings::StopBit:
        return {"1", "2"};
    default:
        return {};
    }
}

const SerialRow* serialRow(quintptr data)
{
    for (const SerialRow& row : kSerialRows)
        if (row.data == data)
            return &row;
    return nullptr;
}

int listIndex(uint32_t stored)
{
    return int(std::min<uint32_t>(stored, uint32_t(INT_MAX)));
}

}  // namespace

// ------------------------------------------------------------ plain helpers

namespace controlprotocol {

void FillFolderNames(ControlProtocolRecord& record, const PlayerCatalog& catalog)
{
    QStringList names;
    for (const CatalogCategory& category : catalog.categories) {
        // The name field is 8 bytes and need not end in a zero: it is read
        // within those 8 bytes.
        const QString name = text::DoubleByteFieldToCString(category.name.data(), category.name.size());
        if (name.isEmpty() || names.contains(name))
            continue;
        const bool used = std::any_of(record.videoTypes.begin(), record.videoTypes.end(),
                                      [&](const SwitchCommand& folder) { return folder.name == name; });
        if (!used)
            names.append(name);
    }
    qsizetype next = 0;
    for (SwitchCommand& folder : record.videoTypes) {
        if (next >= names.size())
            break;
        if (folder.name.isEmpty())
            folder.name = names.at(next++);
    }
}

QString LearnedCommand(const tollivar::UsartDataRecord& record)
{
    const std::size_t count = std::min<std::size_t>(record.count, record.data.size());
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(record.data.data()), qsizetype(count)).toHex())
        .toUpper();
}

}  // namespace controlprotocol

// ------------------------------------------------------------ dialog

CControlProtocol::CControlProtocol(const QString& captionPrefix, const QString& tempFolder, QWidget* parent)
    : QDialog(parent), platform::MessageWindow(static_cast<QWidget*>(this)), captionPrefix_(captionPrefix),
      tempFolder_(tempFolder), catalog_(std::make_unique<PlayerCatalog>())
{
    language_ = platform::appLanguage() == platform::kLanguageChinese ? platform::kLanguageChinese
                                                                       : platform::kLanguageEnglish;
    setObjectName(QStringLiteral("137"));
    // The dispatcher finds this window by this caption, without the prefix.
    setWindowTitle(Text(controlprotocol::kCaptionEnglish, controlprotocol::kCaptionChinese));

    const Label boxTitles[5] = {
        {"QVE", "QVE"}, {"Serial", "串口"}, {"Video Folder", "视频文件夹"}, {"LayOut", "布局"}, {"Projector", "投影机"},
    };
    const int nameWidths[5] = {120, 150, 120, 120, 150};
    for (int i = 0; i < 5; ++i) {
        boxes_[i] = new QGroupBox(Text(boxTitles[i].english, boxTitles[i].chinese), this);
        grids_[i] = new PropertyGrid(boxes_[i]);
        grids_[i]->setObjectName(QString::number(kGridIds[i]));
        grids_[i]->setHeaderLabels(Text("Property", "属性"), Text("Value", "值"));
        grids_[i]->setHeaderVisible(i != kHostGrid && i != kProjectorGrid);
        grids_[i]->setNameColumnWidth(nameWidths[i]);
        auto* boxLayout = new QVBoxLayout(boxes_[i]);
        boxLayout->setContentsMargins(4, 4, 4, 4);
        boxLayout->addWidget(grids_[i]);
        const int id = kGridIds[i];
        QObject::connect(grids_[i], &PropertyGrid::propertyChanged, this,
                         [this, id](PropertyItem* item, quintptr, const QVariant&, const QVariant& value) {
                             OnPropertyChanged(id, item, value);
                         });
    }
    // The host system is set up in the Chinese edition only.
    boxes_[kHostGrid]->setVisible(language_ == platform::kLanguageChinese);
    boxes_[kHostGrid]->setFixedHeight(130);

    saveButton_ = controls::MakeButton(Text("Save To Device", "保存到设备"), 1, this);
    exitButton_ = controls::MakeButton(Text("Exit", "退出"), 2, this);
    loadButton_ = controls::MakeButton(Text("Load", "加载"), 2606, this);
    saveAsButton_ = controls::MakeButton(Text("Save As", "另存为"), 2607, this);
    QObject::connect(saveButton_, &QPushButton::clicked, this, [this] { OnOK(); });
    QObject::connect(exitButton_, &QPushButton::clicked, this, [this] { OnCancel(); });
    QObject::connect(loadButton_, &QPushButton::clicked, this, [this] { OnLoad(); });
    QObject::connect(saveAsButton_, &QPushButton::clicked, this, [this] { OnSaveAs(); });

    auto* grids = new QGridLayout;
    grids->addWidget(boxes_[kHostGrid], 0, 0);
    grids->addWidget(boxes_[kSerialGrid], 1, 0);
    grids->addWidget(boxes_[kFolderGrid], 0, 1, 2, 1);
    grids->addWidget(boxes_[kLayoutGrid], 0, 2, 2, 1);
    grids->addWidget(boxes_[kProjectorGrid], 0, 3, 2, 1);
    grids->setRowStretch(1, 1);
    for (int column = 0; column < 4; ++column)
        grids->setColumnStretch(column, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(loadButton_);
    buttons->addWidget(saveAsButton_);
    buttons->addStretch(1);
    buttons->addWidget(saveButton_);
    buttons->addWidget(exitButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grids, 1);
    layout->addLayout(buttons);
    resize(1320, 760);

    BuildGrids();

    onMessage(platform::WM_VIDEO_LIST_REPLY, [this](WPARAM w, LPARAM l) { return OnVideoListReply(w, l); });
    onMessage(platform::WM_CONTROL_PROTOCOL_REPLY, [this](WPARAM w, LPARAM l) { return OnProtocolReply(w, l); });
    onMessage(platform::WM_USART_DATA_REPLY, [this](WPARAM w, LPARAM l) { return OnUsartData(w, l); });
    onMessage(platform::WM_REPLY_TOO_SLOW, [this](WPARAM, LPARAM l) {
        if (const auto* player = reinterpret_cast<const QString*>(l); player && !closing_)
            slowNotice_.Dropped(*player, language_, this);
        return LRESULT(0);
    });
}

CControlProtocol::~CControlProtocol()
{
    MessageWindow::killTimer(controlprotocol::kPollTimerId);
}

QString CControlProtocol::Text(const char* english, const char* chinese) const
{
    return platform::pickText(language_, english, chinese);
}

PropertyGrid* CControlProtocol::Grid(int id) const
{
    for (int i = 0; i < 5; ++i)
        if (kGridIds[i] == id)
            return grids_[i];
    return nullptr;
}

void CControlProtocol::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!initialised_)
        OnInitDialog();
}

void CControlProtocol::keyPressEvent(QKeyEvent* event)
{
    if (!controls::SwallowEnterEsc(event))
        QDialog::keyPressEvent(event);
}

void CControlProtocol::OnInitDialog()
{
    if (initialised_)
        return;
    initialised_ = true;
    if (QWidget* owner = parentWidget())
        move(owner->geometry().center() - rect().center());
    SendRequestPacket(proto::CMD_VIDEO_LIST, 0, 0, 0);
}

// ------------------------------------------------------------ grids

void CControlProtocol::BuildGrids()
{
    BuildHostGrid();
    BuildSerialGrid();
    BuildFolderGrid();
    BuildLayoutGrid();
    BuildProjectorGrid();
}

void CControlProtocol::BuildHostGrid()
{
    PropertyGrid* grid = grids_[kHostGrid];
    grid->clear();
    const QStringList names(record_.hostNames.begin(), record_.hostNames.end());
    if (record_.nameIndex >= uint32_t(names.size()))
        record_.nameIndex = uint32_t(names.size() - 1);
    grid->addList(nullptr, Text("Name", "名称"), names, listIndex(record_.nameIndex), false, 0,
                  Text("QVE Name", "QVE名称"));
    grid->addText(nullptr, Text("ServerIP", "服务器IP"), record_.serverIp, 1);
    grid->addNumber(nullptr, Text("Server Port", "服务器端口"), record_.serverPort, 0, UINT32_MAX, 2);
}

void CControlProtocol::BuildSerialGrid()
{
    PropertyGrid* grid = grids_[kSerialGrid];
    grid->clear();
    const SerialSettings& serial = record_.serial;
    PropertyItem* config = grid->addGroup(nullptr, Text("Serial Configuration", "串口配置"), kSerialConfigGroup);
    for (const SerialRow& row : kSerialRows) {
        const QString label = Text(row.label.english, row.label.chinese);
        const uint32_t stored = serial.numbers[row.number];
        const QStringList numbers = numberOptions(row.number);
        if (!numbers.isEmpty()) {
            grid->addListText(config, label, numbers, QString::number(stored), false, row.data);
        } else {
            // A number beyond the options (a document may hold any) shows
            // nothing.
            grid->addList(config, label, SerialSettings::options(row.number, language_), listIndex(stored), false,
                          row.data);
        }
    }
    PropertyItem* control = grid->addGroup(nullptr, Text("Serial Control", "串口控制"), kSerialControlGroup);
    for (std::size_t i = 0; i < SerialSettings::kCommandCount; ++i)
        grid->addText(control, Text(kCommandLabels[i].english, kCommandLabels[i].chinese), serial.commands[i], i);
    // Every label whole; the value column keeps its room beside it.
    grid->fitNameColumnToLabels(150, 150);
}

void CControlProtocol::BuildFolderGrid()
{
    controlprotocol::FillFolderNames(record_, *catalog_);
    BuildSwitchGrid(grids_[kFolderGrid], record_.videoTypes, Text("Video Folder%1", "视频文件夹%1"),
                    Text("Folder Name", "文件夹名称"));
}

void CControlProtocol::BuildLayoutGrid()
{
    BuildSwitchGrid(grids_[kLayoutGrid], record_.layouts, Text("LayOut%1", "布局%1"), Text("LayOut Name", "布局名称"));
}

void CControlProtocol::BuildSwitchGrid(PropertyGrid* grid, const std::array<SwitchCommand, 64>& entries,
                                       const QString& groupLabel, const QString& nameLabel)
{
    grid->clear();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        PropertyItem* group = grid->addGroup(nullptr, groupLabel.arg(i + 1), quintptr(i));
        grid->addText(group, nameLabel, entries[i].name, 0);
        grid->addText(group, Text("Send Cmd", "发送命令"), entries[i].sendCmd, kSendCmdData);
        grid->addText(group, Text("Recv Cmd", "接收命令"), entries[i].recvCmd, 2);
    }
}

void CControlProtocol::BuildProjectorGrid()
{
    PropertyGrid* grid = grids_[kProjectorGrid];
    grid->clear();
    for (std::size_t i = 0; i < ControlProtocolRecord::kProjectors; ++i) {
        const ProjectorCommands& projector = record_.projectors[i];
        PropertyItem* group =
            grid->addGroup(nullptr, Text("Projector Control %1", "投影机控制%1").arg(i + 1), quintptr(i));
        grid->addText(group, Text("IP Addr", "IP地址"), projector.ip, 0);
        for (std::size_t k = 0; k < ProjectorCommands::kPairs; ++k) {
            grid->addText(group, Text("Projector ON Cmd%1", "投影机开命令%1").arg(k + 1), projector.onCmd[k],
                          2 * k + 1);
            grid->addText(group, Text("Projector OFF Cmd%1", "投影机关命令%1").arg(k + 1), projector.offCmd[k],
                          2 * k + 2);
        }
    }
}

void CControlProtocol::CommitEditors()
{
    for (PropertyGrid* grid : grids_)
        grid->commitOpenEditor();
}

// ------------------------------------------------------------ edits

bool CControlProtocol::StoreCommand(PropertyItem* item, QString& stored, const QVariant& typed)
{
    QString normalised;
    if (NormaliseCommand(typed.toString(), normalised)) {
        stored = normalised;
        item->setValue(normalised);
        return true;
    }
    item->setValue(stored);
    platform::messageBox(Text("input error!", "输入错误！"), QString(), platform::MsgButtons::Ok,
                         platform::MsgIcon::None, this);
    return false;
}

void CControlProtocol::OnPropertyChanged(int gridId, PropertyItem* item, const QVariant& value)
{
    if (!item)
        return;
    const quintptr data = item->dataNumber();
    PropertyItem* group = item->parentItem();
    const quintptr index = group ? group->dataNumber() : 0;
    switch (gridId) {
    case 2601:
        if (data == 0) {
            const QStringList names(record_.hostNames.begin(), record_.hostNames.end());
            const qsizetype at = names.indexOf(value.toString());
            if (at >= 0)
                record_.nameIndex = uint32_t(at);
        } else if (data == 1) {
            record_.serverIp = value.toString();
        } else if (data == 2) {
            record_.serverPort = uint32_t(value.toLongLong());
        }
        return;
    case 2602:
        if (!group)
            return;
        if (group->dataNumber() == kSerialControlGroup) {
            if (data < SerialSettings::kCommandCount)
                StoreCommand(item, record_.serial.commands[data], value);
        } else if (const SerialRow* row = serialRow(data)) {
            if (!numberOptions(row->number).isEmpty()) {
                bool ok = false;
                const uint32_t number = value.toString().toUInt(&ok);
                if (ok)
                    record_.serial.numbers[row->number] = number;
            } else {
                const qsizetype at = SerialSettings::options(row->number, language_).indexOf(value.toString());
                if (at >= 0)
                    record_.serial.numbers[row->number] = uint32_t(at);
            }
        }
        return;
    case 2603:
    case 2604: {
        if (!group || index >= (gridId == 2603 ? ControlProtocolRecord::kFolders : ControlProtocolRecord::kLayouts))
            return;
        SwitchCommand& entry = gridId == 2603 ? record_.videoTypes[index] : record_.layouts[index];
        if (data == 0)
            entry.name = value.toString();
        else if (data == 1)
            StoreCommand(item, entry.sendCmd, value);
        else if (data == 2)
            StoreCommand(item, entry.recvCmd, value);
        return;
    }
    case 2605: {
        if (!group || index >= ControlProtocolRecord::kProjectors)
            return;
        ProjectorCommands& projector = record_.projectors[index];
        if (data == 0) {
            projector.ip = value.toString();
        } else if (data <= 2 * ProjectorCommands::kPairs) {
            const std::size_t pair = (data - 1) / 2;
            StoreCommand(item, data % 2 == 1 ? projector.onCmd[pair] : projector.offCmd[pair], value);
        }
        return;
    }
    default:
        return;
    }
}

// ------------------------------------------------------------ replies

LRESULT CControlProtocol::OnVideoListReply(WPARAM wParam, LPARAM lParam)
{
    std::unique_ptr<PlayerCatalog> catalog(reinterpret_cast<PlayerCatalog*>(lParam));
    if (wParam != 0 || !catalog)
        return 0;
    slowNotice_.AnsweredAll();
    *catalog_ = *catalog;
    // Now the protocol document itself (kind 1).
    SendRequestPacket(proto::CMD_PARAM_FILE, 0, 1, 0);
    return 0;
}

LRESULT CControlProtocol::OnProtocolReply(WPARAM wParam, LPARAM lParam)
{
    const auto* document = reinterpret_cast<const QByteArray*>(lParam);
    if (wParam != 1 || !document || closing_)
        return 0;
    slowNotice_.AnsweredAll();
    if (!ReadProtocolJson(*document, record_))
        return 0;
    playerDocumentRead_ = true;
    BuildGrids();
    setTimer(controlprotocol::kPollTimerId, controlprotocol::kPollTimerMs);
    return 0;
}

LRESULT CControlProtocol::OnUsartData(WPARAM, LPARAM lParam)
{
    std::unique_ptr<tollivar::UsartDataRecord> received(reinterpret_cast<tollivar::UsartDataRecord*>(lParam));
    if (!received || received->count == 0)
        return 0;
    slowNotice_.AnsweredAll();
    const QString command = controlprotocol::LearnedCommand(*received);

    // The "Send Cmd" row selected in a folder or a layout group, else a row
    // of "Serial Control": the first found takes the bytes.
    auto selectedSendCmd = [](PropertyGrid* grid, std::size_t groups) -> PropertyItem* {
        PropertyItem* item = grid->selectedItem();
        if (!item || item->isGroup() || item->dataNumber() != kSendCmdData || !item->parentItem())
            return nullptr;
        return item->parentItem()->dataNumber() < groups ? item : nullptr;
    };
    PropertyGrid* grid = nullptr;
    PropertyItem* item = nullptr;
    QString* stored = nullptr;
    if ((item = selectedSendCmd(grids_[kFolderGrid], ControlProtocolRecord::kFolders))) {
        grid = grids_[kFolderGrid];
        stored = &record_.videoTypes[item->parentItem()->dataNumber()].sendCmd;
    } else if ((item = selectedSendCmd(grids_[kLayoutGrid], ControlProtocolRecord::kLayouts))) {
        grid = grids_[kLayoutGrid];
        stored = &record_.layouts[item->parentItem()->dataNumber()].sendCmd;
    } else if ((item = grids_[kSerialGrid]->selectedItem()) && !item->isGroup() && item->parentItem() &&
               item->parentItem()->dataNumber() == kSerialControlGroup &&
               item->dataNumber() < SerialSettings::kCommandCount) {
        grid = grids_[kSerialGrid];
        stored = &record_.serial.commands[item->dataNumber()];
    }
    if (!grid)
        return 0;
    *stored = command;
    item->setValue(command);
    grid->clearSelection();
    return 0;
}

void CControlProtocol::onTimer(unsigned id)
{
    if (id == controlprotocol::kPollTimerId)
        SendRequestPacket(proto::CMD_USART_DATA, 0, 0, 0);
    MessageWindow::onTimer(id);
}

// ------------------------------------------------------------ requests

void CControlProtocol::SendRequestPacket(uint8_t command, uint8_t subCode, uint16_t param, uint16_t arg,
                                         const QByteArray& payload)
{
    proto::PlayerPacketHeader header;
    header.command = command;
    header.subCode = subCode;
    header.param = param;
    header.arg = arg;
    auto request = std::make_unique<SendRequest>();
    if (!request->SetPacket(header, payload))
        return;
    SendToMainWindow(request.release());  // freed there when no main window takes it
}

bool CControlProtocol::SendProtocolFile(bool restart)
{
    QFile file(QDir(tempFolder_).filePath(QString::fromLatin1(kControlProtocolFileName)));
    if (!platform::findWindow(platform::appTitle()) || !file.open(QIODevice::ReadOnly))
        return false;
    if (file.size() > qint64(proto::kMaxPayload))
        return false;
    const QByteArray document = file.readAll();
    SendRequestPacket(proto::CMD_PARAM_FILE, restart ? 1 : 0, 1, 1, document);
    return true;
}

void CControlProtocol::OnOK()
{
    if (closing_)
        return;
    // An edit still open in a grid belongs to what is saved.
    CommitEditors();
    // Without the player's own document the grids hold the defaults (or a
    // loaded file): they replace the player's settings only if the operator
    // says so. Asked before anything is written, so No leaves nothing.
    if (!playerDocumentRead_ &&
        platform::messageBox(Text("The player's own settings could not be read. Save To Device would replace them "
                                  "with what this window shows. Continue?",
                                  "未能读取播放器自身的设置。保存到设备将用本窗口显示的内容替换它们。是否继续？"),
                             QString(), platform::MsgButtons::YesNo, platform::MsgIcon::Warning,
                             this) != platform::MsgResult::Yes)
        return;
    QDir().mkpath(tempFolder_);
    QString error;
    if (!WriteProtocolJson(QDir(tempFolder_).filePath(QString::fromLatin1(kControlProtocolFileName)), record_,
                           &error)) {
        // The document an earlier OK left there must not go in its place.
        platform::messageBox(Text("Save failed!", "保存失败！") + QStringLiteral("\n") + error, QString(),
                             platform::MsgButtons::Ok, platform::MsgIcon::Warning, this);
        return;
    }
    const bool restart =
        platform::messageBox(Text("After setting the parameters, restart the device?", "参数设置完成后，是否重启设备？"),
                             QString(), platform::MsgButtons::YesNo, platform::MsgIcon::Question,
                             this) == platform::MsgResult::Yes;
    // The dialog stays open; the main window reports the player's answer.
    SendProtocolFile(restart);
}

void CControlProtocol::accept()
{
    OnOK();
}

void CControlProtocol::OnLoad()
{
    if (closing_)
        return;
    platform::FileDialogCall call;
    call.kind = platform::FileDialogKind::Open;
    call.caption = Text("Open ControlProtocol file", "打开控制协议文件");
    call.filter = Text("ControlProtocol Flie(*.JSON)|*.JSON||", "控制协议文件(*.JSON)|*.JSON||");
    call.defaultSuffix = QStringLiteral("JSON");
    const QString path = platform::fileDialog(call, this);
    if (path.isEmpty())
        return;
    QFile file(path);
    // A file larger than a packet can hold is no protocol document.
    if (!file.open(QIODevice::ReadOnly) || file.size() > qint64(proto::kMaxPayload))
        return;
    if (ReadProtocolJson(file.readAll(), record_))
        BuildGrids();
}

void CControlProtocol::OnSaveAs()
{
    if (closing_)
        return;
    CommitEditors();
    platform::FileDialogCall call;
    call.kind = platform::FileDialogKind::Save;
    call.caption = Text("Save ControlProtocol file", "保存控制协议文件");
    call.filter = Text("ControlProtocol Flie(*.JSON)|*.JSON||", "控制协议文件(*.JSON)|*.JSON||");
    call.defaultSuffix = QStringLiteral("JSON");
    call.fileName = QStringLiteral("ControlProtocol");
    const QString path = platform::fileDialog(call, this);
    if (path.isEmpty())
        return;
    QString error;
    if (WriteProtocolJson(path, record_, &error)) {
        platform::messageBox(Text("Save OK!", "保存成功！"), QString(), platform::MsgButtons::Ok,
                             platform::MsgIcon::Information, this);
    } else {
        // A file that could not be written is not reported as saved.
        platform::messageBox(Text("Save failed!", "保存失败！") + QStringLiteral("\n") + path, QString(),
                             platform::MsgButtons::Ok, platform::MsgIcon::Warning, this);
    }
}

void CControlProtocol::OnCancel()
{
    if (closing_)
        return;
    if (platform::messageBox(Text("Do you really want to exit?", "确定要退出吗？"), QString(),
                             platform::MsgButtons::YesNo, platform::MsgIcon::Question,
                             this) != platform::MsgResult::Yes)
        return;
    closing_ = true;
    MessageWindow::killTimer(controlprotocol::kPollTimerId);
    // A poll already on its way may still be answered: give it a moment
    // without freezing the window, then close.
    QTimer::singleShot(controlprotocol::kExitDelayMs, this, [this] { QDialog::done(QDialog::Rejected); });
}

void CControlProtocol::reject()
{
    OnCancel();
}

void OpenControlProtocol(QWidget* parent, const QString& captionPrefix, const QString& tempFolder)
{
    CControlProtocol dialog(captionPrefix, tempFolder, parent);
    dialog.exec();
}
