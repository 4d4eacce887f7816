#include "core/devices/protocol_file.h"

#include "common/controls/dialog_keys.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

struct FileKind {
    const char* titleEnglish;
    const char* titleChinese;
    const char* filterEnglish;
    const char* filterChinese;
    const char* suffix;
};

// By sub-code. The English titles end with a blank.
constexpr FileKind kKinds[] = {
    {"Select the serial communication protocol configuration file ", "选择串口通讯协议配置文件",
     "Data File(*.*)|*.*||", "数据文件(*.*)|*.*||", "*"},
    {"Select the JukeBox protocol configuration file ", "选择点唱机协议配置文件", "Data File(*.*)|*.*||",
     "数据文件(*.*)|*.*||", "*"},
    {"Select the Data file ", "选择数据库文件", "Data File(*.DB)|*.DB||", "数据文件(*.DB)|*.DB||", "DB"},
};

}  // namespace

CProtocolFile::CProtocolFile(const QString& titlePrefix, QWidget* parent)
    : CDeviceDialog(titlePrefix, replies::Caption{"Protocol File", "协议文件"}, parent)
{
    auto* outer = new QVBoxLayout(this);
    auto button = [this](int id, const char* english, const char* chinese, QWidget* parent) {
        return controls::MakeButton(Text(english, chinese), ControlName(id), parent);
    };

    auto* protocol = new QGroupBox(Text("Protocol File", "协议文件"), this);
    auto* protocolRow = new QHBoxLayout(protocol);
    QPushButton* serial = button(3401, "Select Protocol File", "选择协议文件", protocol);
    QPushButton* jukebox = button(3402, "Select JukeBox Protocol File", "选择点唱机协议文件", protocol);
    jukebox->hide();
    protocolRow->addWidget(serial);
    protocolRow->addWidget(jukebox);
    outer->addWidget(protocol);

    auto* data = new QGroupBox(Text("Data File", "数据库文件"), this);
    auto* dataRow = new QHBoxLayout(data);
    dataRow->addWidget(new QLabel(Text("Data Name:", "数据库厂家:"), data));
    names_ = new QComboBox(data);
    names_->setObjectName(ControlName(3403));
    // The same items in both languages.
    names_->addItem(QStringLiteral("其它歌库"));
    names_->addItem(QStringLiteral("点歌系统歌库"));
    names_->setCurrentIndex(1);
    dataRow->addWidget(names_, 1);
    QPushButton* dataFile = button(3404, "Select Data File", "选择数据库文件", data);
    dataRow->addWidget(dataFile);
    outer->addWidget(data);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    QPushButton* ok = button(1, "OK", "确定", this);
    QPushButton* cancel = button(2, "Cancel", "关闭", this);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    outer->addLayout(buttons);

    connect(serial, &QPushButton::clicked, this, [this] { OnSelectFile(0); });
    connect(jukebox, &QPushButton::clicked, this, [this] { OnSelectFile(1); });
    connect(dataFile, &QPushButton::clicked, this, [this] { OnSelectFile(2); });
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CProtocolFile::OnSelectFile(int subCode)
{
    if (subCode < 0 || subCode > 2)
        return;
    const FileKind& kind = kKinds[subCode];
    platform::FileDialogCall call;
    call.kind = platform::FileDialogKind::Open;
    call.caption = Text(kind.titleEnglish, kind.titleChinese);
    call.filter = Text(kind.filterEnglish, kind.filterChinese);
    call.defaultSuffix = QString::fromLatin1(kind.suffix);
    const QString path = platform::fileDialog(call, this);
    if (path.isEmpty())
        return;
    const int index = subCode == 2 ? names_->currentIndex() : 0;
    SendFile(path, subCode, index);
}

bool CProtocolFile::SendFile(const QString& path, int subCode, int index)
{
    using platform::MsgIcon;
    if (path.isEmpty()) {
        Message("Does the data file have not been selected?", "数据文件未选择吧？", MsgIcon::Warning);
        return false;
    }
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile()) {
        Message("Does the data file exist?", "数据文件不存在吧？", MsgIcon::Warning);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Message(Text("Cannot read the file: ", "无法读取文件：") + QDir::toNativeSeparators(path), MsgIcon::Warning);
        return false;
    }
    if (file.size() > protocolfile::kMaxFileBytes) {
        Message("Cannot be larger than 8MB file!", "数据文件不能大于8Mb！", MsgIcon::Warning);
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (bytes.size() != file.size()) {
        Message(Text("Cannot read the file: ", "无法读取文件：") + QDir::toNativeSeparators(path), MsgIcon::Warning);
        return false;
    }
    return SendToPlayer(Header(proto::CMD_PROTOCOL_FILE, uint8_t(subCode), 0, subCode == 2 ? uint16_t(index) : 0, 0),
                        bytes);
}
