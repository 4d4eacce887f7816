#include "content/mobile_settings.h"

#include "common/controls/dialog_keys.h"
#include "common/file_commit.h"
#include "content/play_mode_texts.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "transport/records.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace texts = playmode::texts;
using namespace playmode;

namespace {

constexpr int kColumnWidth = 180;

QTreeWidget* makeList(QWidget* parent, int id, const QString& title)
{
    auto* list = new QTreeWidget(parent);
    list->setObjectName(QString::number(id));
    list->setColumnCount(1);
    list->setHeaderLabels({title});
    list->header()->setDefaultAlignment(Qt::AlignCenter);
    list->setColumnWidth(0, kColumnWidth);
    // Wide enough for the column and a vertical scroll bar.
    list->setMinimumWidth(kColumnWidth + list->frameWidth() * 2 + 20);
    list->setRootIsDecorated(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    return list;
}

QGroupBox* framed(QWidget* parent, const QString& title, QWidget* inside, QLayout* below = nullptr)
{
    auto* box = new QGroupBox(title, parent);
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(inside, 1);
    if (below)
        layout->addLayout(below);
    return box;
}

}  // namespace

CMobileSettings::CMobileSettings(const QString& titlePrefix, const QString& workFolder, QWidget* parent)
    : QDialog(parent), platform::MessageWindow(static_cast<QWidget*>(this)), language_(platform::appLanguage()),
      workFolder_(workFolder)
{
    setWindowTitle(titlePrefix + Text(texts::kMobileCaption));
    modules_ = makeList(this, kModulesId, Text(texts::kModulesColumn));
    effects_ = makeList(this, kEffectsId, Text(texts::kModulesColumn));
    words_ = new QListWidget(this);
    words_->setObjectName(QString::number(kWordsId));
    words_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                            QAbstractItemView::SelectedClicked);

    auto button = [this](const QString& label, const QString& name) { return controls::MakeButton(label, name, this); };
    QPushButton* add = button(Text(texts::kNew), QStringLiteral("New"));
    QPushButton* remove = button(Text(texts::kRemove), QStringLiteral("Remove"));
    QPushButton* up = button(Text(texts::kUp), QStringLiteral("Up"));
    QPushButton* down = button(Text(texts::kDown), QStringLiteral("Down"));
    auto* wordButtons = new QHBoxLayout;
    for (QPushButton* b : {add, remove, up, down})
        wordButtons->addWidget(b);

    QPushButton* import = button(Text(texts::kImport), QString::number(kImportId));
    QPushButton* exportButton = button(Text(texts::kExport), QString::number(kExportId));
    QPushButton* save = button(Text(texts::kSave), QStringLiteral("1"));
    QPushButton* cancel = button(Text(texts::kCancel), QStringLiteral("2"));

    auto* lists = new QHBoxLayout;
    lists->addWidget(framed(this, Text(texts::kModulesGroup), modules_));
    lists->addWidget(framed(this, Text(texts::kWordsGroup), words_, wordButtons), 1);
    lists->addWidget(framed(this, Text(texts::kEmojiGroup), effects_));
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(import);
    bottom->addWidget(exportButton);
    bottom->addStretch(1);
    bottom->addWidget(save);
    bottom->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(lists, 1);
    layout->addLayout(bottom);
    resize(760, 460);

    connect(add, &QPushButton::clicked, this, &CMobileSettings::OnNewWord);
    connect(remove, &QPushButton::clicked, this, &CMobileSettings::OnRemoveWord);
    connect(up, &QPushButton::clicked, this, [this] { OnMoveWord(-1); });
    connect(down, &QPushButton::clicked, this, [this] { OnMoveWord(1); });
    connect(import, &QPushButton::clicked, this, &CMobileSettings::OnImportWords);
    connect(exportButton, &QPushButton::clicked, this, &CMobileSettings::OnExportWords);
    connect(save, &QPushButton::clicked, this, &CMobileSettings::OnSave);
    connect(cancel, &QPushButton::clicked, this, &CMobileSettings::reject);
    onMessage(platform::WM_MOBILE_SETTINGS_REPLY, [this](platform::WPARAM w, platform::LPARAM l) {
        const auto* payload = reinterpret_cast<const QByteArray*>(l);
        OnMobileReply(uint16_t(w), payload ? *payload : QByteArray());
        return platform::LRESULT(0);
    });
}

CMobileSettings::~CMobileSettings() = default;

QString CMobileSettings::Text(store::Message message) const
{
    return store::Text(message, language_);
}

void CMobileSettings::Inform(store::Message message, platform::MsgIcon icon)
{
    platform::messageBox(Text(message), QString(), platform::MsgButtons::Ok, icon, this);
}

QString CMobileSettings::documentPath() const
{
    return QDir(workFolder_).filePath(QStringLiteral("Mobile.Json"));
}

void CMobileSettings::OnInitDialog()
{
    auto request = std::make_unique<SendRequest>();
    if (request->SetPacket(MobileRequest(kMobileRead)))
        SendToMainWindow(request.release());
}

void CMobileSettings::OnMobileReply(uint16_t operation, const QByteArray& payload)
{
    if (operation == kMobileUpload) {
        Inform(texts::kSaved, platform::MsgIcon::None);
        return;
    }
    if (operation != kMobileRead)
        return;
    MobileSettings read;
    if (!ParseMobileJson(payload, read))
        return;
    // The lists are filled, not replaced; the effects are kept to go back
    // unchanged.
    for (const MobileModule& m : read.modules) {
        auto* row = new QTreeWidgetItem(modules_, QStringList(m.name));
        row->setTextAlignment(0, Qt::AlignCenter);
        row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
        row->setCheckState(0, m.enabled ? Qt::Checked : Qt::Unchecked);
    }
    for (const QString& w : read.words)
        AddWord(w);
    for (const MobileEffect& e : read.effects) {
        auto* row = new QTreeWidgetItem(effects_, QStringList(e.name));
        row->setTextAlignment(0, Qt::AlignCenter);
    }
    mobileEffects_ = read.effects;
}

void CMobileSettings::AddWord(const QString& phrase)
{
    auto* item = new QListWidgetItem(phrase, words_);
    item->setFlags(item->flags() | Qt::ItemIsEditable);
}

MobileSettings CMobileSettings::current() const
{
    MobileSettings s;
    for (int i = 0; i < modules_->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = modules_->topLevelItem(i);
        s.modules.push_back({row->text(0), row->checkState(0) == Qt::Checked});
    }
    for (int i = 0; i < words_->count(); ++i)
        s.words.append(words_->item(i)->text());
    s.effects = mobileEffects_;
    return s;
}

void CMobileSettings::OnSave()
{
    // A phrase being typed counts: taking the focus from its editor commits it.
    words_->setFocus();
    platform::ensureFolder(workFolder_);
    const QString path = documentPath();
    QString error;
    if (!WriteMobileJson(path, current(), &error)) {
        platform::messageBox(Text(texts::kWriteFailed) + error, QString(), platform::MsgButtons::Ok,
                             platform::MsgIcon::Warning, this);
        return;
    }
    if (!platform::findWindow(platform::appTitle()))
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    if (!FitsOnePacket(file.size())) {
        Inform(texts::kTooLarge, platform::MsgIcon::Warning);
        return;
    }
    auto request = std::make_unique<SendRequest>();
    if (request->SetPacket(MobileRequest(kMobileUpload), file.readAll()))
        SendToMainWindow(request.release());
}

void CMobileSettings::OnNewWord()
{
    AddWord(QString());
    QListWidgetItem* item = words_->item(words_->count() - 1);
    words_->setCurrentItem(item);
    words_->editItem(item);
}

void CMobileSettings::OnRemoveWord()
{
    const int row = words_->currentRow();
    if (row >= 0)
        delete words_->takeItem(row);
}

void CMobileSettings::OnMoveWord(int step)
{
    const int row = words_->currentRow();
    const int to = row + step;
    if (row < 0 || to < 0 || to >= words_->count())
        return;
    QListWidgetItem* item = words_->takeItem(row);
    words_->insertItem(to, item);
    words_->setCurrentRow(to);
}

void CMobileSettings::OnImportWords()
{
    const platform::FileDialogCall call{platform::FileDialogKind::Open, Text(texts::kOpenWords),
                                        platform::homeFolder(), QString(), Text(texts::kWordsFilter),
                                        QStringLiteral("GFDW")};
    const QString path = platform::fileDialog(call, this);
    if (path.isEmpty())
        return;
    words_->clear();
    QFile file(path);
    if (!QFileInfo::exists(path) || !file.open(QIODevice::ReadOnly)) {
        Inform(texts::kFileError, platform::MsgIcon::Question);
        return;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        Inform(texts::kFileError, platform::MsgIcon::Question);
        return;
    }
    for (const QString& phrase : ReadPhraseFile(bytes))
        AddWord(phrase);
}

void CMobileSettings::OnExportWords()
{
    const platform::FileDialogCall call{platform::FileDialogKind::Save, Text(texts::kSaveWords),
                                        platform::homeFolder(), Text(texts::kWordsName), Text(texts::kWordsFilter),
                                        QStringLiteral("GFDW")};
    const QString path = platform::fileDialog(call, this);
    if (path.isEmpty())
        return;
    // A phrase the code page cannot hold is reported, not lost: nothing is
    // written then.
    QByteArray bytes;
    QString bad;
    if (!EncodePhraseFile(current().words, bytes, &bad)) {
        platform::messageBox(Text(texts::kPhraseUnencodable).arg(bad), QString(), platform::MsgButtons::Ok,
                             platform::MsgIcon::Warning, this);
        return;
    }
    const QFileInfo info(path);
    if (info.exists() && !info.isDir() && !info.isWritable())
        QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::WriteOwner);
    QString why;
    if (!filecommit::replaceFile(path, bytes, &why)) {
        // As every writer says it: the file, and the system's reason.
        filecommit::showCannotWrite(language_, path, why, this);
        return;
    }
    Inform(texts::kPhrasesSaved, platform::MsgIcon::Question);
}

void CMobileSettings::reject()
{
    const auto answer = platform::messageBox(Text(texts::kConfirmExit), QString(), platform::MsgButtons::YesNo,
                                             platform::MsgIcon::None, this);
    if (answer == platform::MsgResult::Yes)
        QDialog::reject();
}

void CMobileSettings::keyPressEvent(QKeyEvent* event)
{
    // Neither Enter nor Esc closes the dialog or saves.
    if (!controls::SwallowEnterEsc(event))
        QDialog::keyPressEvent(event);
}
