#include "content/play_mode_dialog.h"

#include "common/controls/property_grid.h"
#include "content/play_mode_texts.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "transport/records.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <limits>

namespace texts = playmode::texts;
using namespace playmode;

namespace {

constexpr int kModeRole = Qt::UserRole;
constexpr int kNoMode = -1;

bool sendPacket(const proto::PlayerPacketHeader& header, const QByteArray& payload = QByteArray())
{
    auto request = std::make_unique<SendRequest>();
    if (!request->SetPacket(header, payload))
        return false;
    return SendToMainWindow(request.release());
}

QString decimalText(float v)
{
    return QString::asprintf("%.4f", double(v));
}

void appendDistinct(QStringList& list, const QString& text)
{
    if (!list.contains(text))
        list.append(text);
}

}  // namespace

CPlayModeDialog::CPlayModeDialog(Side side, const QString& titlePrefix, const QString& workFolder,
                                 const QString& playerIp, QWidget* parent)
    : QDialog(parent), platform::MessageWindow(static_cast<QWidget*>(this)), side_(side),
      language_(platform::appLanguage()), workFolder_(workFolder), playerIp_(playerIp)
{
    const bool picture = side_ == Side::Picture;
    const Ids ids = picture ? kPictureIds : kVideoIds;
    setWindowTitle(titlePrefix + Text(picture ? texts::kPictureCaption : texts::kVideoCaption));

    combo_ = new QComboBox(this);
    combo_->setObjectName(QString::number(ids.combo));
    auto* add = new QPushButton(Text(texts::kAdd), this);
    add->setObjectName(QString::number(ids.add));
    add->setAutoDefault(false);
    auto* del = new QPushButton(Text(texts::kDel), this);
    del->setObjectName(QString::number(ids.del));
    del->setAutoDefault(false);
    auto* group = new QGroupBox(Text(texts::kPlayModeGroup), this);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(combo_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(del);
    groupLayout->addLayout(buttons);

    tree_ = new QTreeWidget(this);
    tree_->setObjectName(QString::number(ids.tree));
    tree_->setHeaderHidden(true);
    tree_->setRootIsDecorated(true);
    tree_->setDragDropMode(QAbstractItemView::NoDragDrop);

    grid_ = new PropertyGrid(this);
    grid_->setObjectName(QString::number(ids.grid));
    grid_->setHeaderLabels(Text(texts::kGridName), Text(texts::kGridValue));
    grid_->setHeaderVisible(false);
    grid_->setNameColumnWidth(kNameColumnWidth);
    grid_->setDescriptionVisible(true);
    grid_->setDescriptionRows(3);
    grid_->setModifiedMarking(true);

    save_ = new QPushButton(Text(picture ? texts::kSave : texts::kVideoSave), this);
    save_->setObjectName(QStringLiteral("1"));
    save_->setDefault(true);
    auto* exitButton = new QPushButton(Text(picture ? texts::kExit : texts::kVideoExit), this);
    exitButton->setObjectName(QStringLiteral("2"));
    exitButton->setAutoDefault(false);

    auto* left = new QVBoxLayout;
    left->addWidget(group);
    left->addWidget(tree_, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(save_);
    bottom->addWidget(exitButton);
    auto* right = new QVBoxLayout;
    right->addWidget(grid_, 1);
    right->addLayout(bottom);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 2);
    layout->addLayout(right, 5);
    resize(820, 540);

    connect(add, &QPushButton::clicked, this, &CPlayModeDialog::OnAddMode);
    connect(del, &QPushButton::clicked, this, &CPlayModeDialog::OnDeleteMode);
    connect(save_, &QPushButton::clicked, this, &CPlayModeDialog::OnSave);
    connect(exitButton, &QPushButton::clicked, this, &QDialog::reject);
    // Clicks and the keyboard alike: the tree's selection is the mode the
    // grid shows, the one Del and grid edits act on.
    connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item, QTreeWidgetItem*) {
        if (!selecting_)
            OnTreeSelect(item);
    });
    connect(grid_, &PropertyGrid::propertyChanged, this,
            [this](PropertyItem* item, quintptr, const QVariant& oldValue, const QVariant& newValue) {
                OnPropertyChanged(item, oldValue, newValue);
            });
    onMessage(picture ? platform::WM_PICTURE_PLAY_REPLY : platform::WM_VIDEO_PLAY_REPLY,
              [this](platform::WPARAM w, platform::LPARAM l) {
                  const auto* payload = reinterpret_cast<const QByteArray*>(l);
                  OnPlayReply(uint16_t(w), payload ? *payload : QByteArray());
                  return platform::LRESULT(0);
              });
    FillModeTree();
}

CPlayModeDialog::~CPlayModeDialog() = default;

QString CPlayModeDialog::Text(store::Message message) const
{
    return store::Text(message, language_);
}

void CPlayModeDialog::Inform(store::Message message, platform::MsgIcon icon)
{
    platform::messageBox(Text(message), QString(), platform::MsgButtons::Ok, icon, this);
}

QString CPlayModeDialog::documentPath() const
{
    return QDir(workFolder_).filePath(side_ == Side::Picture ? QStringLiteral("PicturePlayControl.Json")
                                                             : QStringLiteral("VideoPlayControl.Json"));
}

void CPlayModeDialog::OnInitDialog()
{
    SendPlayRequest(side_ == Side::Picture ? uint16_t(kPicCatalogue) : uint16_t(kVidCatalogue));
}

void CPlayModeDialog::SendPlayRequest(uint16_t operation)
{
    sendPacket(side_ == Side::Picture ? PictureRequest(operation) : VideoReadRequest(operation));
}

void CPlayModeDialog::OnPlayReply(uint16_t operation, const QByteArray& payload)
{
    // Each reply of the start-up chain sends the next request, whether its
    // payload could be read or not.
    if (side_ == Side::Picture) {
        switch (operation) {
        case kPicCatalogue:
            ReadCatalogue(payload);
            SendPlayRequest(kPicImageTypes);
            return;
        case kPicImageTypes:
            ReadImageTypes(payload, imageTypes_);
            SendPlayRequest(kPicConfigured);
            return;
        case kPicConfigured:
            ReadConfigured(payload);
            return;
        case kPicUpload:
            Inform(texts::kSaved);
            return;
        default:
            return;
        }
    }
    switch (operation) {
    case kVidCatalogue:
        ReadCatalogue(payload);
        SendPlayRequest(kVidConfigured);
        return;
    case kVidConfigured:
        ReadConfigured(payload);
        return;
    case kVidUploaded:
        Inform(texts::kSaved);
        return;
    default:
        return;
    }
}

void CPlayModeDialog::ReadCatalogue(const QByteArray& payload)
{
    if (!ReadEffectLists(payload, effectCatalogue_))
        return;
    combo_->clear();
    for (const PlayMode& mode : effectCatalogue_)
        combo_->addItem(mode.name);
    if (combo_->count() > 0)
        combo_->setCurrentIndex(0);
}

void CPlayModeDialog::ReadConfigured(const QByteArray& payload)
{
    if (!ReadEffectLists(payload, playModes_))
        return;
    FillModeTree();
    QTreeWidgetItem* root = tree_->topLevelItem(0);
    SelectMode(root && root->childCount() > 0 ? root->child(0) : nullptr);
}

QTreeWidgetItem* CPlayModeDialog::FillModeTree()
{
    tree_->clear();
    // The root stands for the player, not for a mode.
    auto* root = new QTreeWidgetItem(tree_, QStringList(playerIp_));
    root->setData(0, kModeRole, kNoMode);
    QTreeWidgetItem* last = nullptr;
    for (std::size_t i = 0; i < playModes_.size(); ++i) {
        last = new QTreeWidgetItem(root, QStringList(playModes_[i].name));
        last->setData(0, kModeRole, int(i));
    }
    root->setExpanded(true);
    return last;
}

void CPlayModeDialog::SelectMode(QTreeWidgetItem* item)
{
    if (item) {
        selecting_ = true;
        tree_->setCurrentItem(item);
        selecting_ = false;
    }
    const int index = item ? item->data(0, kModeRole).toInt() : kNoMode;
    ShowModeInGrid(index >= 0 && std::size_t(index) < playModes_.size() ? index : kNoMode);
}

void CPlayModeDialog::OnTreeSelect(QTreeWidgetItem* item)
{
    if (item)
        SelectMode(item);
}

void CPlayModeDialog::ShowModeInGrid(int index)
{
    grid_->clear();
    settingGroup_ = nullptr;
    picTypeGroup_ = nullptr;
    shownMode_ = index;
    if (index < 0)
        return;
    const PlayMode& mode = playModes_[std::size_t(index)];
    grid_->addText(nullptr, Text(texts::kModeRow), mode.name)->setReadOnly(true);
    settingGroup_ = grid_->addGroup(nullptr, Text(texts::kSettingGroup));
    constexpr qint64 kMin = std::numeric_limits<int32_t>::min();
    constexpr qint64 kMax = std::numeric_limits<int32_t>::max();
    for (const EffectParam& p : mode.params) {
        switch (p.inputType) {
        case kInteger:
        case kIntegerRange:
            grid_->addNumber(settingGroup_, p.lableName, p.inputType == kInteger ? p.integerValue : p.integerInRange,
                             kMin, kMax, 0, p.remarks);
            break;
        case kDecimal:
        case kDecimalRange:
            grid_->addReal(settingGroup_, p.lableName,
                           decimalText(p.inputType == kDecimal ? p.decimalValue : p.decimalInRange).toDouble(), 4,
                           0, p.remarks);
            break;
        case kText:
            grid_->addText(settingGroup_, p.lableName, p.textValue, 0, p.remarks);
            break;
        case kIntegerChoice: {
            QStringList options;
            for (int32_t v : p.integerOptions)
                appendDistinct(options, QString::number(v));
            grid_->addListText(settingGroup_, p.lableName, options, QString::number(p.integerChoice), false, 0,
                               p.remarks);
            break;
        }
        case kDecimalChoice: {
            QStringList options;
            for (float v : p.decimalOptions)
                appendDistinct(options, decimalText(v));
            grid_->addListText(settingGroup_, p.lableName, options, decimalText(p.decimalChoice), false, 0,
                               p.remarks);
            break;
        }
        case kTextChoice: {
            if (p.keyVal == QLatin1String(kTypeKey))
                break;
            QStringList options;
            for (const QString& v : p.textOptions)
                appendDistinct(options, v);
            grid_->addListText(settingGroup_, p.lableName, options, p.textChoice, false, 0, p.remarks);
            break;
        }
        default:
            break;
        }
    }
    picTypeGroup_ = grid_->addGroup(nullptr, Text(texts::kPicTypeGroup));
    for (const QString& type : imageTypes_) {
        bool chosen = false;
        for (const EffectParam& p : mode.params)
            if (p.inputType == kTextMultiChoice && p.keyVal == QLatin1String(kPictureTypeKey))
                chosen = p.listChoices.contains(type);
        grid_->addCheck(picTypeGroup_, type, chosen, 0, Text(texts::kPicTypeGroup));
    }
}

void CPlayModeDialog::OnPropertyChanged(PropertyItem* item, const QVariant& /*oldValue*/, const QVariant& newValue)
{
    if (!item || shownMode_ < 0 || std::size_t(shownMode_) >= playModes_.size())
        return;
    PlayMode& mode = playModes_[std::size_t(shownMode_)];
    const QString name = item->name();
    const QVariant start = item->originalValue();
    PropertyItem* group = item->parentItem();
    if (group && group == settingGroup_) {
        bool refused = false;
        for (EffectParam& p : mode.params) {
            if (p.lableName != name)
                continue;
            switch (p.inputType) {
            case kInteger:
                p.integerValue = int32_t(newValue.toLongLong());
                break;
            case kDecimal:
                p.decimalValue = newValue.toFloat();
                break;
            case kText:
                p.textValue = newValue.toString();
                break;
            case kIntegerChoice:
                p.integerChoice = newValue.toString().toInt();
                break;
            case kDecimalChoice:
                p.decimalChoice = newValue.toString().toFloat();
                break;
            case kTextChoice:
                p.textChoice = newValue.toString();
                break;
            case kIntegerRange: {
                const qint64 v = newValue.toLongLong();
                if (v < p.integerMin || v > p.integerMax) {
                    p.integerInRange = int32_t(start.toLongLong());
                    refused = true;
                } else {
                    p.integerInRange = int32_t(v);
                }
                break;
            }
            case kDecimalRange: {
                const float v = newValue.toFloat();
                if (v < p.decimalMin || v > p.decimalMax) {
                    p.decimalInRange = start.toFloat();
                    refused = true;
                } else {
                    p.decimalInRange = v;
                }
                break;
            }
            default:
                break;
            }
        }
        if (refused) {
            item->setValue(start);
            Inform(texts::kInputError);
        }
        return;
    }
    if (group && group == picTypeGroup_) {
        const bool checked = newValue.toBool();
        for (EffectParam& p : mode.params) {
            if (p.keyVal != QLatin1String(kPictureTypeKey))
                continue;
            const qsizetype at = p.listChoices.indexOf(name);
            if (checked && at >= 0)
                return;
            if (checked) {
                p.listChoices.append(name);
                continue;
            }
            if (at >= 0) {
                p.listChoices.removeAt(at);
                return;
            }
        }
    }
}

void CPlayModeDialog::OnAddMode()
{
    if (int(playModes_.size()) >= limit()) {
        Inform(texts::kEnoughModes, platform::MsgIcon::Warning);
        return;
    }
    const int index = combo_->currentIndex();
    if (index < 0 || std::size_t(index) >= effectCatalogue_.size())
        return;
    playModes_.push_back(effectCatalogue_[std::size_t(index)]);
    SelectMode(FillModeTree());
}

void CPlayModeDialog::OnDeleteMode()
{
    QTreeWidgetItem* item = tree_->currentItem();
    const int index = item ? item->data(0, kModeRole).toInt() : kNoMode;
    if (index < 0 || std::size_t(index) >= playModes_.size())
        return;
    const auto answer = platform::messageBox(Text(texts::kConfirmDelete), QString(), platform::MsgButtons::YesNo,
                                             platform::MsgIcon::Question, this);
    if (answer != platform::MsgResult::Yes)
        return;
    playModes_.erase(playModes_.begin() + index);
    FillModeTree();
    QTreeWidgetItem* root = tree_->topLevelItem(0);
    // With no mode left the grid is emptied: its rows would edit nothing.
    SelectMode(root && root->childCount() > 0 ? root->child(0) : nullptr);
}

void CPlayModeDialog::OnSave()
{
    // A value typed into an open editor counts.
    grid_->commitOpenEditor();
    platform::ensureFolder(workFolder_);
    const QString path = documentPath();
    QString error;
    if (!WritePlayModeDocument(path, playModes_, imageTypes_, &error)) {
        platform::messageBox(Text(texts::kWriteFailed) + error, QString(), platform::MsgButtons::Ok,
                             platform::MsgIcon::Warning, this);
        return;
    }
    if (!platform::findWindow(platform::appTitle()))
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    // The whole document goes in one packet: one that does not fit is
    // refused rather than cut.
    if (!FitsOnePacket(file.size())) {
        Inform(texts::kTooLarge, platform::MsgIcon::Warning);
        return;
    }
    const QByteArray bytes = file.readAll();
    sendPacket(side_ == Side::Picture ? PictureRequest(kPicUpload) : VideoUploadRequest(), bytes);
}
