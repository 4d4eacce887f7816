#include "content/set_mov_conf.h"

#include "common/controls/dialog_keys.h"
#include "common/file_commit.h"
#include "common/controls/folder_edit.h"
#include "common/text_coding.h"
#include "common/controls/num_edit.h"
#include "common/controls/text_progress_ctrl.h"
#include "content/store_texts.h"
#include "core/reply_handlers.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

using platform::LPARAM;
using platform::LRESULT;
using platform::WPARAM;
namespace texts = store::texts;

namespace {

// Tree levels: the root, its categories, their videos.
store::Level levelOf(const QTreeWidgetItem* item)
{
    if (!item)
        return store::Level::None;
    if (!item->parent())
        return store::Level::Root;
    return item->parent()->parent() ? store::Level::Video : store::Level::Category;
}

bool stillInTree(QTreeWidget* tree, const QTreeWidgetItem* item)
{
    if (!item || tree->topLevelItemCount() == 0)
        return false;
    QTreeWidgetItemIterator it(tree);
    for (; *it; ++it)
        if (*it == item)
            return true;
    return false;
}

}  // namespace

CSetMovConf::CSetMovConf(uint16_t act, uint16_t version, const QString& rootLabel, QWidget* parent)
    : QWidget(parent), act_(act), version_(version), rootLabel_(rootLabel), language_(platform::appLanguage()),
      lastFolder_(platform::homeFolder())
{
    BuildControls();
    volumeTimer_ = new QTimer(this);
    volumeTimer_->setInterval(kVolumeTimerMs);
    connect(volumeTimer_, &QTimer::timeout, this, &CSetMovConf::OnVolumeTick);
    volumeTimer_->start();
    RebuildTree();
}

CSetMovConf::~CSetMovConf() = default;

void CSetMovConf::BuildControls()
{
    auto button = [this](int id, store::Message label, void (CSetMovConf::*slot)()) {
        QPushButton* b = controls::MakeButton(T(label), id, this);
        connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    tree_ = new QTreeWidget(this);
    tree_->setObjectName(QStringLiteral("1801"));
    tree_->setHeaderHidden(true);
    tree_->setRootIsDecorated(true);
    tree_->setDragEnabled(false);
    tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->installEventFilter(this);
    space_ = new QLabel(this);
    space_->setObjectName(QStringLiteral("1802"));
    progress_ = new CTextProgressCtrl(this);
    progress_->setObjectName(QStringLiteral("1803"));
    progress_->setVisible(false);
    nameEdit_ = new CFolderEdit(this);
    nameEdit_->setObjectName(QStringLiteral("1804"));

    auto* right = new QVBoxLayout;
    right->addWidget(space_);
    right->addWidget(button(1805, texts::kRefresh, &CSetMovConf::OnRefresh));
    right->addWidget(button(1816, texts::kSendFile, &CSetMovConf::OnSendFiles));
    right->addWidget(button(1806, texts::kSendFolder, &CSetMovConf::OnSendFolder));
    right->addWidget(button(1807, texts::kDelete, &CSetMovConf::OnDelete));
    right->addWidget(button(1808, texts::kPlay, &CSetMovConf::OnPlay));
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(new QLabel(T(texts::kNameLabel), this));
    nameRow->addWidget(nameEdit_, 1);
    right->addLayout(nameRow);
    auto* nameButtons = new QHBoxLayout;
    nameButtons->addWidget(button(1815, texts::kNewFolder, &CSetMovConf::OnNewFolder));
    nameButtons->addWidget(button(1809, texts::kRename, &CSetMovConf::OnRename));
    right->addLayout(nameButtons);
    auto* exportButton = button(1814, texts::kExportList, &CSetMovConf::OnExportFileList);
    exportButton->setVisible(false);  // created hidden
    right->addWidget(exportButton);

    auto* volume = new QGroupBox(T(texts::kVolume), this);
    auto* volumeLayout = new QHBoxLayout(volume);
    for (int i = 0; i < 3; ++i) {
        auto* s = new QSlider(Qt::Horizontal, volume);
        s->setObjectName(QString::number(1810 + i));
        s->setRange(0, 100);
        s->setTickInterval(1);
        s->setTickPosition(QSlider::TicksBelow);
        s->setVisible(i == 1);  // only the middle one is the volume
        connect(s, &QSlider::valueChanged, this, [this] { sliderMoved_ = true; });
        if (i == 1)
            volumeLayout->addWidget(s);
        sliders_[std::size_t(i)] = s;
    }
    right->addWidget(volume);

    auto* playTime = new QGroupBox(T(texts::kPlayTimeGroup), this);
    auto* playLayout = new QGridLayout(playTime);
    playTime_ = new CNumEdit(playTime);
    playTime_->setObjectName(QStringLiteral("1817"));
    playTime_->setText(QStringLiteral("0"));
    setPlayTime_ = new QPushButton(T(texts::kSet), playTime);
    setPlayTime_->setObjectName(QStringLiteral("1818"));
    setPlayTime_->setAutoDefault(false);
    connect(setPlayTime_, &QPushButton::clicked, this, &CSetMovConf::OnSetPlayTime);
    playLayout->addWidget(playTime_, 0, 0);
    playLayout->addWidget(setPlayTime_, 0, 1);
    playLayout->addWidget(new QLabel(T(texts::kPlayTimeHint), playTime), 1, 0, 1, 2);
    const bool hasPlayTime = version_ >= store::kPlayTimeVersion;
    playTime_->setEnabled(hasPlayTime);
    setPlayTime_->setEnabled(hasPlayTime);
    right->addWidget(playTime);
    right->addStretch(1);

    auto* grid = new QGridLayout(this);
    grid->addWidget(tree_, 0, 0);
    grid->addLayout(right, 0, 1);
    grid->addWidget(progress_, 1, 0, 1, 2);
    grid->setColumnStretch(0, 1);
}

// ---------------------------------------------------------------- helpers

void CSetMovConf::Inform(const QString& text) const
{
    platform::messageBox(text, QString(), platform::MsgButtons::Ok, platform::MsgIcon::Information);
}

void CSetMovConf::Refuse(const QString& text)
{
    Inform(text);
    busy_ = false;
}

bool CSetMovConf::Send(const store::Packet& packet) const
{
    auto request = std::make_unique<SendRequest>();
    if (!request->SetPacket(packet.header, packet.payload))
        return false;
    return SendToMainWindow(request.release());
}

void CSetMovConf::ShowLocked()
{
    busy_ = false;
    Inform(T(texts::kLocked));
}

store::Selection CSetMovConf::GetSelection() const
{
    const QList<QTreeWidgetItem*> items = tree_->selectedItems();
    QTreeWidgetItem* item = items.isEmpty() ? nullptr : items.first();
    const store::Level level = levelOf(item);
    switch (level) {
    case store::Level::None:
        return store::Selection();
    case store::Level::Root:
        return store::MakeSelection(level, rootLabel_, categories_);
    case store::Level::Category:
        return store::MakeSelection(level, rootLabel_, categories_, item->text(0));
    case store::Level::Video:
        return store::MakeSelection(level, rootLabel_, categories_, item->parent()->text(0), item->text(0));
    }
    return store::Selection();
}

bool CSetMovConf::SelectPath(const QStringList& texts)
{
    QTreeWidgetItem* item = tree_->topLevelItem(0);
    for (const QString& t : texts) {
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; item && i < item->childCount() && !next; ++i)
            if (item->child(i)->text(0) == t)
                next = item->child(i);
        item = next;
    }
    if (!item)
        return false;
    tree_->setCurrentItem(item);
    item->setSelected(true);
    return true;
}

void CSetMovConf::SetSlider(int index, int value)
{
    sliders_[std::size_t(index)]->setValue(value);
}

// ---------------------------------------------------------------- keys

void CSetMovConf::keyPressEvent(QKeyEvent* event)
{
    // Enter and Esc are swallowed: they would close the window.
    if (controls::SwallowEnterEsc(event))
        return;
    switch (event->key()) {
    case Qt::Key_F2:
        OnRename();
        return;
    case Qt::Key_F3:
        OnSendFolder();
        return;
    case Qt::Key_F5:
        if (!busy_)
            OnRefresh();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

bool CSetMovConf::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == tree_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Delete) {
            OnDelete();
            return true;
        }
        if (key == Qt::Key_F6) {
            OnPlay();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------- replies

LRESULT CSetMovConf::HandleMessage(unsigned id, WPARAM wParam, LPARAM lParam)
{
    switch (id) {
    case platform::WM_VIDEO_LIST_REPLY:
        if (wParam == 0) {
            OnCatalog(std::unique_ptr<PlayerCatalog>(reinterpret_cast<PlayerCatalog*>(lParam)));
        } else if (wParam == 1) {
            counter_ = 0;
            busy_ = false;
            OnRefresh();
        } else if (wParam == 2) {
            playTime_->setText(store::PlayTimeText(uint32_t(lParam)));
        }
        return 0;
    case platform::WM_VIDEO_UPLOAD_REPLY:
        OnUploadReply(lParam);
        return 0;
    case platform::WM_VIDEO_DELETE_REPLY:
        OnDeleteReply(wParam, lParam);
        return 0;
    case platform::WM_VIDEO_SELECT_REPLY:
        busy_ = false;
        if (lParam != 0)
            ShowLocked();
        return 0;
    case platform::WM_VIDEO_RENAME_REPLY:
        ++counter_;
        if (lParam == 0)
            OnRefresh();
        else
            ShowLocked();
        return 0;
    case platform::WM_TRACKBAR_VALUES_REPLY: {
        std::unique_ptr<replies::TrackbarRecord> record(reinterpret_cast<replies::TrackbarRecord*>(lParam));
        // An operator's move not yet sent wins over the player's old values.
        if (wParam == 1 && record && !sliderMoved_) {
            const uint16_t values[] = {record->subCode, record->param, record->arg};
            for (std::size_t i = 0; i < 3; ++i) {
                const QSignalBlocker quiet(sliders_[i]);
                sliders_[i]->setValue(values[i]);
            }
        }
        busy_ = false;
        return 0;
    }
    default:
        return 0;
    }
}

void CSetMovConf::OnCatalog(std::unique_ptr<PlayerCatalog> catalog)
{
    if (catalog) {
        catalog_ = std::move(catalog);
        categories_ = store::CategoryNames(*catalog_);
        RebuildTree();
        if (version_ >= store::kPlayTimeVersion)
            Send(store::AskPlayTimePacket());
        space_->setText(QString::fromUtf8(language_ == 4 ? texts::kSpace.chinese : texts::kSpace.english)
                            .arg(catalog_->totalMB)
                            .arg(catalog_->freeMB));
    }
    counter_ = 0;
    busy_ = false;
    tree_->setFocus();
}

void CSetMovConf::RebuildTree()
{
    remembered_ = nullptr;
    tree_->clear();
    auto* root = new QTreeWidgetItem(tree_, QStringList{rootLabel_});
    if (catalog_) {
        for (const store::TreeCategory& c : store::BuildTree(*catalog_)) {
            auto* category = new QTreeWidgetItem(root, QStringList{c.name});
            for (const store::TreeVideo& v : c.videos)
                new QTreeWidgetItem(category, QStringList{v.name});
        }
    }
    root->setExpanded(true);
}

// ---------------------------------------------------------------- commands

void CSetMovConf::OnRefresh()
{
    Send(store::RefreshPacket(counter_, act_));
}

void CSetMovConf::OnDelete()
{
    busy_ = true;
    const store::Selection s = GetSelection();
    if (!s.valid()) {
        Refuse(T(texts::kSelectFolderFirst));
        return;
    }
    using platform::MsgButtons;
    using platform::MsgResult;
    if (platform::messageBox(T(texts::kConfirmDelete), QString(), MsgButtons::YesNo, platform::MsgIcon::Question) !=
        MsgResult::Yes) {
        busy_ = false;
        return;
    }
    if (s.level == store::Level::Root &&
        platform::messageBox(T(texts::kConfirmDeleteAll), QString(), MsgButtons::YesNo,
                             platform::MsgIcon::Warning) != MsgResult::Yes) {
        busy_ = false;
        return;
    }
    QString error;
    const auto packet = store::DeletePacket(s, act_, language_, &error);
    if (!packet) {
        Refuse(error);
        return;
    }
    remembered_ = tree_->currentItem();
    rememberedLevel_ = s.level;
    firstName_ = s.firstName;
    videoName_ = s.videoName;
    if (!Send(*packet))
        busy_ = false;
}

void CSetMovConf::OnDeleteReply(WPARAM wParam, LPARAM lParam)
{
    ++counter_;
    if (lParam != 0) {
        ShowLocked();
        return;
    }
    // The remembered item is judged by its level as well as its text, so a
    // video that happens to carry a category's name is never taken for it.
    const bool present = stillInTree(tree_, remembered_);
    if (wParam == 1) {
        if (rememberedLevel_ == store::Level::Root) {
            OnRefresh();
            return;
        }
        if (present && rememberedLevel_ == store::Level::Category && remembered_->text(0) == firstName_)
            delete remembered_;
    } else if (present && rememberedLevel_ == store::Level::Video && remembered_->text(0) == videoName_) {
        delete remembered_;
    }
    remembered_ = nullptr;
    // Whatever the tree shows now, the request is answered: the page is free.
    busy_ = false;
}

void CSetMovConf::OnPlay()
{
    busy_ = true;
    QString error;
    const auto packet = store::PlayPacket(GetSelection(), act_, language_, &error);
    if (!packet) {
        Refuse(error);
        return;
    }
    if (!Send(*packet))
        busy_ = false;
}

void CSetMovConf::OnNewFolder()
{
    busy_ = true;
    const store::Encoded name = store::CheckNewFolder(nameEdit_->text(), categories_, language_);
    if (!name.ok()) {
        Refuse(name.error);
        return;
    }
    if (!Send(store::NewFolderPacket(name.bytes, act_)))
        busy_ = false;
}

void CSetMovConf::OnRename()
{
    busy_ = true;
    const store::Selection s = GetSelection();
    QStringList siblings;
    if (s.level == store::Level::Video) {
        QTreeWidgetItem* parent = tree_->currentItem() ? tree_->currentItem()->parent() : nullptr;
        for (int i = 0; parent && i < parent->childCount(); ++i)
            siblings << parent->child(i)->text(0);
    }
    const store::RenamePlan plan = store::PlanRename(s, nameEdit_->text(), categories_, siblings, language_);
    if (!plan.ok()) {
        Refuse(plan.error);
        return;
    }
    const QString question = QString::fromUtf8(language_ == 4 ? texts::kRenameQuestion.chinese
                                                                : texts::kRenameQuestion.english)
                                 .arg(plan.oldName, plan.newName);
    if (platform::messageBox(question, QString(), platform::MsgButtons::YesNo, platform::MsgIcon::Question) !=
        platform::MsgResult::Yes) {
        busy_ = false;
        return;
    }
    if (!Send(store::RenamePacket(plan, s.categoryFlag, act_)))
        busy_ = false;
}

void CSetMovConf::OnVolumeTick()
{
    // A change made while busy waits for the page to be free: the flag is
    // cleared only when the values went out.
    if (!sliderMoved_ || busy_)
        return;
    sliderMoved_ = false;
    busy_ = true;
    if (!Send(store::VolumePacket(uint16_t(sliders_[0]->value()), uint16_t(sliders_[1]->value()),
                                  uint16_t(sliders_[2]->value()))))
        busy_ = false;
}

void CSetMovConf::OnSetPlayTime()
{
    const store::PlayTime t = store::ParsePlayTime(playTime_->text(), language_);
    if (!t.ok()) {
        Inform(t.error);
        return;
    }
    Send(store::SetPlayTimePacket(t.seconds));
}

void CSetMovConf::OnExportFileList()
{
    if (!catalog_) {
        Inform(T(texts::kNothingToExport));
        return;
    }
    platform::FileDialogCall call{platform::FileDialogKind::Save, T(texts::kExportTitle), lastFolder_, QString(),
                                  T(texts::kExportFilter), QStringLiteral("DAT")};
    const QString path = platform::fileDialog(call, this);
    if (path.isEmpty())
        return;
    QString error;
    if (!filecommit::replaceFile(path, catalog_->pack(), &error)) {
        Inform(filecommit::cannotWriteMessage(language_, path, error));
        return;
    }
    Inform(T(texts::kExportDone));
}

// ---------------------------------------------------------------- uploads

uint64_t CSetMovConf::selectFile(const QString& path)
{
    const std::optional<filestamp::FileStamp> stamp = filestamp::StampOf(path);
    if (!stamp) {
        selected_.erase(path);
        return 0;
    }
    selected_[path] = *stamp;
    return stamp->size;
}

void CSetMovConf::OnSendFiles()
{
    if (busy_ || uploading_)
        return;
    const store::Selection s = GetSelection();
    if (s.categoryFlag != 1 || s.names.size() != 1) {
        Inform(T(texts::kSelectFolderFirst));
        return;
    }
    platform::FileDialogCall call{platform::FileDialogKind::Open, T(texts::kSelectVideoTitle), lastFolder_,
                                  QString(), T(texts::kVideoFilter), QStringLiteral("MP4")};
    const QStringList paths = platform::fileDialogMulti(call, this);
    if (paths.isEmpty())
        return;
    selected_.clear();
    uint64_t total = 0;
    for (const QString& path : paths) {
        const QString error =
            store::CheckLocalName(store::FileNameOf(path), store::kFileNameLimit, texts::kFileNameTooLong, language_);
        if (!error.isEmpty()) {
            Inform(error);
            return;
        }
        total += selectFile(path);
    }
    if ((total >> 20) > (catalog_ ? catalog_->freeMB : 0u)) {
        Inform(T(texts::kNoStorage));
        return;
    }
    if (total == 0) {
        Inform(T(texts::kNoContent));
        return;
    }
    queue_ = paths;
    targetCategory_ = s.names.first();
    total_ = total;
    StartUpload(true);
}

void CSetMovConf::OnSendFolder()
{
    if (busy_ || uploading_)
        return;
    if (catalog_ && store::CategoryUsed(catalog_->categories.back())) {
        Inform(T(texts::kNoTypeSpace));
        return;
    }
    busy_ = true;
    platform::FileDialogCall call{platform::FileDialogKind::Folder, T(texts::kSelectFolderTitle), lastFolder_,
                                  QString(), QString(), QString()};
    const QString folder = platform::fileDialog(call, this);
    if (folder.isEmpty()) {
        busy_ = false;
        return;
    }
    lastFolder_ = folder;
    const QString category = QFileInfo(QDir::cleanPath(folder)).fileName();
    QString error = store::CheckLocalName(category, store::kCategoryBytes, texts::kFolderNameTooLong, language_);
    if (category.isEmpty())
        error = T(texts::kFolderNotEntered);
    if (!error.isEmpty()) {
        Refuse(error);
        return;
    }
    QStringList queue;
    selected_.clear();
    uint64_t total = 0;
    const QFileInfoList files = QDir(folder).entryInfoList(QStringList{QStringLiteral("*.mp4")},
                                                          QDir::Files, QDir::Name);
    // Name filters match regardless of case, as the player's own listing does.
    for (const QFileInfo& f : files) {
        const uint64_t size = selectFile(f.absoluteFilePath());
        if (catalog_ && store::IsOnPlayer(*catalog_, category, f.fileName(), size))
            continue;
        error = store::CheckLocalName(f.fileName(), store::kFileNameLimit, texts::kFileNameTooLong, language_);
        if (!error.isEmpty()) {
            Refuse(error);
            return;
        }
        queue << f.absoluteFilePath();
        total += size;
    }
    if ((total >> 20) > (catalog_ ? catalog_->freeMB : 0u)) {
        Refuse(T(texts::kNoStorage));
        return;
    }
    if (queue.isEmpty()) {
        Refuse(T(texts::kNothingToSend));
        return;
    }
    queue_ = queue;
    targetCategory_ = category;
    total_ = total;
    StartUpload(false);
}

void CSetMovConf::StartUpload(bool keepBusy)
{
    file_.Reset();
    sent_ = 0;
    progress_->SetRange(0, total_);
    progress_->SetPos(0);
    progress_->setVisible(true);
    busy_ = true;
    uploading_ = true;
    keepBusy_ = keepBusy;
    if (!SendBegin())
        return;
    // A folder upload leaves the page free for other requests meanwhile.
    if (!keepBusy_)
        busy_ = false;
}

bool CSetMovConf::SendBegin()
{
    store::Packet begin;
    if (queue_.isEmpty() ||
        !store::UploadBeginPacket(targetCategory_, store::FileNameOf(queue_.first()), counter_, act_, begin)) {
        FailUpload(queue_.isEmpty() ? QString() : text::unencodableNameMessage(queue_.first(), int(language_)));
        return false;
    }
    const auto selected = selected_.find(queue_.first());
    if (selected != selected_.end())
        file_.Announced(queue_.first(), selected->second);
    else
        file_.Announced(queue_.first());
    if (!Send(begin)) {
        StopUpload();
        return false;
    }
    return true;
}

bool CSetMovConf::SendChunk(bool first, upload::Upload::Chunk&& chunk)
{
    const bool last = chunk.last;
    const uint64_t size = uint64_t(chunk.bytes.size());
    if (last)
        queue_.removeFirst();
    const store::Packet p = store::UploadChunkPacket(first, last, QByteArray(), counter_, act_);
    auto request = upload::ChunkRequest(p.header, std::move(chunk));
    if (!request || !SendToMainWindow(request.release())) {
        StopUpload();
        return false;
    }
    sent_ += size;
    progress_->SetPos(sent_);
    return true;
}

void CSetMovConf::NextFileOrDone()
{
    if (!queue_.isEmpty()) {
        SendBegin();
        return;
    }
    file_.Reset();
    uploading_ = false;
    progress_->setVisible(false);
    OnRefresh();  // the catalogue's arrival frees the page
}

void CSetMovConf::StopUpload()
{
    file_.Reset();
    uploading_ = false;
    keepBusy_ = false;
    busy_ = false;
    progress_->setVisible(false);
}

void CSetMovConf::FailUpload(const QString& message)
{
    StopUpload();
    if (!message.isEmpty())
        Inform(message);
}

void CSetMovConf::OnUploadReply(LPARAM lParam)
{
    // A reply without an upload of this page in flight is not ours.
    if (!uploading_)
        return;
    ++counter_;
    if (lParam != 0) {
        StopUpload();  // closes the file: the upload stops here
        Inform(T(texts::kLocked));
        return;
    }
    const bool first = file_.stage() == upload::Upload::Stage::kAnnounced;
    // After its last chunk the file has left the queue already.
    const bool lastTaken = file_.stage() == upload::Upload::Stage::kLastSent;
    upload::Upload::Chunk chunk;
    switch (file_.Acknowledged(chunk)) {
    case upload::Upload::Step::kChunk:
        SendChunk(first, std::move(chunk));
        return;
    case upload::Upload::Step::kOpenFailed:
    case upload::Upload::Step::kReadFailed:
        // Unreadable or changed: said, and the folder goes on with the
        // next file instead of sending this one cut short or mixed.
        Inform(file_.FailureMessage(int(language_)));
        if (!lastTaken)
            queue_.removeFirst();
        NextFileOrDone();
        return;
    case upload::Upload::Step::kEnd:
    case upload::Upload::Step::kNone:
        NextFileOrDone();
        return;
    }
}
