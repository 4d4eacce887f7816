#include "content/picture_manager.h"

#include "common/controls/dialog_keys.h"
#include "common/controls/folder_edit.h"
#include "common/controls/tab_order.h"
#include "common/controls/text_progress_ctrl.h"
#include "common/file_commit.h"
#include "core/devices/update_check.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "transport/records.h"

#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QImageReader>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

using gallery::Msg;

// ---------------------------------------------------------------- preview

CPictureDisplay::CPictureDisplay(const QString& path, const QString& title, QWidget* parent)
    : QDialog(parent), path_(path)
{
    setWindowTitle(title);
    resize(800, 600);
}

void CPictureDisplay::paintEvent(QPaintEvent*)
{
    QImageReader reader(path_);
    reader.setDecideFormatFromContent(true);
    const QImage picture = reader.read();
    QPainter painter(this);
    if (!picture.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(gallery::FitRect(picture.width(), picture.height(), rect()), picture);
    }
}

// ---------------------------------------------------------------- manager

CPictureManager::CPictureManager(const QString& titlePrefix, const QString& folder, const QString& ip,
                                 QWidget* parent)
    : QDialog(parent), platform::MessageWindow(static_cast<QWidget*>(this)),
      language_(int(platform::appLanguage())), folder_(folder), ip_(ip)
{
    setWindowTitle(titlePrefix + T(Msg::Title));
    combo_ = new QComboBox(this);
    combo_->setObjectName(QStringLiteral("5201"));
    thumbs_ = new QListWidget(this);
    thumbs_->setObjectName(QStringLiteral("5202"));
    thumbs_->setViewMode(QListView::IconMode);
    thumbs_->setIconSize(QSize(gallery::kThumbWidth, gallery::kThumbHeight));
    thumbs_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    thumbs_->setResizeMode(QListView::Adjust);
    thumbs_->setMovement(QListView::Static);
    name_ = new CFolderEdit(this);
    name_->setObjectName(QStringLiteral("5203"));
    bar_ = new CTextProgressCtrl(this);
    bar_->setObjectName(QStringLiteral("5208"));
    bar_->setVisible(false);
    auto button = [this](int id, Msg label) { return controls::MakeButton(T(label), id, this); };
    QPushButton* newFolder = button(5204, Msg::NewFolder);
    QPushButton* delFolder = button(5205, Msg::DelFolder);
    QPushButton* addPic = button(5206, Msg::AddPic);
    QPushButton* del = button(5207, Msg::Del);
    QPushButton* batch = button(5209, Msg::BatchAdd);
    QPushButton* exit = button(2, Msg::Exit);
    auto* grid = new QGridLayout(this);
    grid->addWidget(combo_, 0, 0, 1, 2);
    grid->addWidget(name_, 0, 2, 1, 2);
    grid->addWidget(newFolder, 0, 4);
    grid->addWidget(delFolder, 0, 5);
    grid->addWidget(thumbs_, 1, 0, 1, 6);
    grid->addWidget(bar_, 2, 0, 1, 6);
    grid->addWidget(addPic, 3, 0);
    grid->addWidget(batch, 3, 1);
    grid->addWidget(del, 3, 2);
    grid->addWidget(exit, 3, 5);
    resize(860, 560);

    controls::SetReadingOrder({combo_, name_, newFolder, delFolder, thumbs_, addPic, batch, del, exit});

    connect(combo_, &QComboBox::activated, this, [this](int k) { ShowFolder(k, true); });
    connect(thumbs_, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { OnPreview(thumbs_->row(item)); });
    connect(newFolder, &QPushButton::clicked, this, &CPictureManager::OnNewFolder);
    connect(delFolder, &QPushButton::clicked, this, &CPictureManager::OnDelFolder);
    connect(addPic, &QPushButton::clicked, this, &CPictureManager::OnAddPic);
    connect(batch, &QPushButton::clicked, this, &CPictureManager::OnBatchAddPic);
    connect(del, &QPushButton::clicked, this, &CPictureManager::OnDelPictures);
    connect(exit, &QPushButton::clicked, this, &CPictureManager::reject);
    onMessage(platform::WM_GALLERY_REPLY, [this](platform::WPARAM w, platform::LPARAM) {
        // A download waits in an event loop: an acknowledgement that comes
        // meanwhile is handled when it has finished, never inside it.
        if (downloading_ > 0)
            heldReplies_.push_back(uint16_t(w));
        else
            OnGalleryReply(uint16_t(w));
        return platform::LRESULT(0);
    });
}

CPictureManager::~CPictureManager() = default;

void CPictureManager::OnInitDialog()
{
    current_.clear();
    Refresh();
}

bool CPictureManager::Download(const QString& url, const QString& path)
{
    if (closed_)
        return false;
    ++downloading_;
    update::UrlDownload download(static_cast<unsigned>(language_));
    running_.push_back(&download);
    QEventLoop loop;
    bool finished = false;
    bool ok = false;
    if (download.Start(url, path, {}, [&](bool success, const QString&) {
            finished = true;
            ok = success;
            loop.quit();
        })) {
        if (!finished)
            loop.exec();
    }
    running_.pop_back();
    --downloading_;
    // Held acknowledgements run from the event loop, after the code that
    // asked for this download has finished.
    if (downloading_ == 0 && !heldReplies_.empty())
        QTimer::singleShot(0, this, [this] {
            while (downloading_ == 0 && !heldReplies_.empty()) {
                const uint16_t op = heldReplies_.front();
                heldReplies_.pop_front();
                OnGalleryReply(op);
            }
        });
    return ok && !closed_;
}

bool CPictureManager::Send(uint16_t op, uint16_t arg, const QByteArray& payload)
{
    const QByteArray packet = gallery::Packet(op, arg, payload);
    auto request = std::make_unique<SendRequest>();
    if (!request->SetPacket(proto::PlayerPacketHeader::fromBytes(reinterpret_cast<const uint8_t*>(packet.constData())),
                            payload))
        return false;
    return SendToMainWindow(request.release());
}

void CPictureManager::Refresh()
{
    QDir().mkpath(folder_);
    const QString listPath = QDir(folder_).filePath(QLatin1String(gallery::kListName));
    QFile::remove(listPath);
    list_ = {};
    combo_->clear();
    thumbs_->clear();
    if (!Download(gallery::ListUrl(ip_), listPath)) {
        if (!closed_)
            platform::messageBox(T(Msg::ConnectFailed));
    } else {
        QFile file(listPath);
        const auto parsed = file.open(QIODevice::ReadOnly) ? gallery::ParseList(file.readAll(), ip_) : std::nullopt;
        if (parsed) {
            list_ = *parsed;
            for (const gallery::GalleryFolder& f : list_.folders)
                combo_->addItem(gallery::FolderItemText(f));
            const int k = gallery::FolderToSelect(list_.folders, current_);
            if (k >= 0) {
                combo_->setCurrentIndex(k);
                ShowFolder(k, false);
            }
        }
    }
}

int CPictureManager::SelectedFolder() const
{
    const int k = combo_->currentIndex();
    return k >= 0 && k < int(list_.folders.size()) ? k : -1;
}

void CPictureManager::ShowFolder(int k, bool selectionChanged)
{
    if (k < 0 || k >= int(list_.folders.size()))
        return;
    const gallery::GalleryFolder folder = list_.folders[std::size_t(k)];
    if (selectionChanged) {
        thumbs_->clear();
        thumbs_->setFocus();
        current_ = folder.name;
    }
    // A folder name from the player becomes a folder here only when it
    // cannot leave the working folder.
    const bool safeFolder = gallery::IsSafeLocalName(folder.name);
    const QString local = QDir(folder_).filePath(folder.name);
    if (safeFolder)
        QDir().mkpath(local);
    const int n = int(folder.pictures.size());
    bar_->SetRange(0, uint64_t(n));
    bar_->SetPos(0);
    bar_->setVisible(true);
    QStringList names;
    for (int j = 0; j < n; ++j) {
        const QString name = gallery::UrlFileName(folder.pictures[std::size_t(j)].thumbUrl);
        names << name;
        if (closed_)
            return;
        if (safeFolder && gallery::IsSafeLocalName(name))
            Download(folder.pictures[std::size_t(j)].thumbUrl, QDir(local).filePath(name));
        bar_->SetPos(uint64_t(j));
    }
    thumbs_->setUpdatesEnabled(false);
    thumbs_->clear();
    QString unwritten, unwrittenWhy;  // the first thumbnail a full disk kept from being written
    for (int j = 0; j < n; ++j) {
        QImage thumb(gallery::kThumbWidth, gallery::kThumbHeight, QImage::Format_ARGB32);
        thumb.fill(Qt::white);
        const QString path = QDir(local).filePath(names[j]);
        QString writeError;
        if (safeFolder && gallery::IsSafeLocalName(names[j]) && gallery::RescaleFileInPlace(path, &writeError))
            thumb = gallery::Thumbnail(QImage(path));
        else if (!writeError.isEmpty() && unwritten.isEmpty()) {
            unwritten = path;
            unwrittenWhy = writeError;
        }
        thumbs_->addItem(new QListWidgetItem(QIcon(QPixmap::fromImage(thumb)), names[j]));
    }
    thumbs_->setUpdatesEnabled(true);
    bar_->setVisible(false);
    if (!unwritten.isEmpty())
        filecommit::showCannotWrite(unsigned(language_), unwritten, unwrittenWhy, this);
}

void CPictureManager::OnPreview(int i)
{
    const int k = SelectedFolder();
    if (k < 0 || i < 0 || i >= int(list_.folders[std::size_t(k)].pictures.size()))
        return;
    const QString url = list_.folders[std::size_t(k)].pictures[std::size_t(i)].fullUrl;
    QDir().mkpath(folder_);
    bar_->SetRange(0, 1);
    bar_->SetPos(0);
    bar_->setVisible(true);
    const QString path = QDir(folder_).filePath(QLatin1String(gallery::kPreviewName));
    const bool ok = Download(url, path);
    bar_->SetPos(1);
    bar_->setVisible(false);
    if (closed_)
        return;
    if (!ok) {
        platform::messageBox(T(Msg::ConnectFailed));
        return;
    }
    if (openPreview) {
        openPreview(path, gallery::UrlFileName(url));
        return;
    }
    CPictureDisplay display(path, gallery::UrlFileName(url), this);
    display.exec();
}

void CPictureManager::OnNewFolder()
{
    if (busy_)
        return;
    QByteArray bytes;
    const QString why = gallery::CheckNewFolder(name_->text(), list_.folders, language_, &bytes);
    if (!why.isEmpty()) {
        platform::messageBox(why);
        return;
    }
    busy_ = Send(gallery::kNewFolder, 0, bytes);
}

void CPictureManager::OnDelFolder()
{
    if (busy_)
        return;
    const int k = SelectedFolder();
    QByteArray bytes;
    if (k < 0 || list_.folders[std::size_t(k)].name.isEmpty()) {
        platform::messageBox(T(Msg::EnterFolder));
        return;
    }
    const QString why = gallery::CheckFolderName(list_.folders[std::size_t(k)].name, language_, &bytes);
    if (!why.isEmpty()) {
        platform::messageBox(why);
        return;
    }
    if (platform::messageBox(T(Msg::ConfirmDelete), QString(), platform::MsgButtons::YesNo,
                             platform::MsgIcon::Question) != platform::MsgResult::Yes)
        return;
    busy_ = Send(gallery::kDeleteFolder, 0, bytes);
}

void CPictureManager::OnAddPic()
{
    if (busy_)
        return;
    const int k = SelectedFolder();
    if (k < 0) {
        platform::messageBox(T(Msg::EnterFolder));
        return;
    }
    platform::FileDialogCall call;
    call.kind = platform::FileDialogKind::Open;
    call.caption = T(Msg::SelectPicTitle);
    call.filter = QStringLiteral("Pic File(*.JPG;*.BMP;*.PNG)|*.JPG;*.BMP;*.PNG||");
    const QStringList paths = platform::fileDialogMulti(call, this);
    if (paths.isEmpty())
        return;
    QString why;
    if (!gallery::QueueFiles(paths, list_.folders[std::size_t(k)].name, language_, queue_, &why)) {
        platform::messageBox(why);
        return;
    }
    StartUpload();
}

void CPictureManager::OnBatchAddPic()
{
    if (busy_)
        return;
    platform::FileDialogCall call;
    call.kind = platform::FileDialogKind::Folder;
    call.folder = lastBatchFolder_.isEmpty() ? platform::homeFolder() : lastBatchFolder_;
    const QString chosen = platform::fileDialog(call, this);
    if (chosen.isEmpty())
        return;
    lastBatchFolder_ = chosen;
    QString why;
    if (!gallery::ScanBatchFolder(chosen, list_.folders, language_, queue_, &why)) {
        platform::messageBox(why);
        return;
    }
    StartUpload();
}

void CPictureManager::OnDelPictures()
{
    if (busy_)
        return;
    const QList<QListWidgetItem*> items = thumbs_->selectedItems();
    if (items.isEmpty()) {
        platform::messageBox(T(Msg::SelectFile));
        return;
    }
    const int k = SelectedFolder();
    if (k < 0)
        return;
    if (platform::messageBox(T(Msg::ConfirmDelete), QString(), platform::MsgButtons::YesNo,
                             platform::MsgIcon::Question) != platform::MsgResult::Yes)
        return;
    const gallery::GalleryFolder& folder = list_.folders[std::size_t(k)];
    std::vector<int> rows;
    for (QListWidgetItem* item : items)
        rows.push_back(thumbs_->row(item));
    std::sort(rows.begin(), rows.end());
    QStringList names;
    for (int row : rows)
        if (row >= 0 && row < int(folder.pictures.size()))
            names << gallery::UrlFileName(folder.pictures[std::size_t(row)].thumbUrl);
    QString why;
    const QByteArray payload = gallery::DeletePayload(folder.name, names, language_, &why);
    if (payload.isEmpty()) {
        platform::messageBox(why);
        return;
    }
    busy_ = true;
    Send(gallery::kDeletePictures, 0, payload);
}

void CPictureManager::StartUpload()
{
    total_ = gallery::QueueBytes(queue_);
    sent_ = 0;
    const QString why = gallery::CheckUploadSize(total_, list_.freeSpace, language_);
    if (!why.isEmpty()) {
        queue_.clear();
        platform::messageBox(why);
        return;
    }
    bar_->SetRange(0, total_);
    bar_->SetPos(0);
    bar_->setVisible(true);
    busy_ = true;
    Announce();
}

void CPictureManager::Announce()
{
    if (queue_.empty()) {
        bar_->setVisible(false);
        Refresh();
        busy_ = false;
        return;
    }
    const gallery::GalleryUpload& entry = queue_.front();
    QByteArray folder, name;
    QString why = gallery::CheckFolderName(entry.folder, language_, &folder);
    if (why.isEmpty())
        why = gallery::CheckFileName(QFileInfo(entry.files.front()).fileName(), language_, &name);
    if (!why.isEmpty()) {
        StopUpload(why);
        return;
    }
    file_.Announced(entry.files.front());
    if (!Send(gallery::kPicture, gallery::kAnnounce, folder + ':' + name))
        StopUpload(QString());
}

void CPictureManager::DropFirstFile()
{
    gallery::GalleryUpload& entry = queue_.front();
    entry.files.removeFirst();
    if (entry.files.isEmpty())
        queue_.erase(queue_.begin());
}

void CPictureManager::OnPictureAcknowledged()
{
    if (queue_.empty() && file_.stage() != upload::Upload::Stage::kLastSent)
        return;
    const QString path = file_.path();
    // After its last chunk the picture has left the queue already.
    const bool lastTaken = file_.stage() == upload::Upload::Stage::kLastSent;
    upload::Upload::Chunk chunk;
    const upload::Upload::Step step = file_.Acknowledged(chunk);
    switch (step) {
    case upload::Upload::Step::kChunk:
        break;
    case upload::Upload::Step::kOpenFailed:
    case upload::Upload::Step::kReadFailed:
        // Said once, and the chain goes on with the next picture: one bad
        // file must not leave the dialog busy and the rest of a batch unsent.
        platform::messageBox(step == upload::Upload::Step::kOpenFailed
                                 ? T(Msg::OpenFailed) + QDir::toNativeSeparators(path)
                                 : file_.FailureMessage(int(language_)));
        if (!lastTaken)
            DropFirstFile();
        Announce();
        return;
    case upload::Upload::Step::kEnd:
    case upload::Upload::Step::kNone:
        Announce();
        return;
    }
    const uint16_t arg = gallery::ChunkArgument(chunk.bytes.size());
    if (chunk.last)
        DropFirstFile();
    sent_ += uint64_t(chunk.bytes.size());
    bar_->SetPos(sent_);
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_GALLERY;
    h.param = gallery::kPicture;
    h.arg = arg;
    auto request = upload::ChunkRequest(h, std::move(chunk));
    if (!request || !SendToMainWindow(request.release()))
        StopUpload(QString());
}

void CPictureManager::StopUpload(const QString& message)
{
    // The chain stops and the dialog takes changes again.
    file_.Reset();
    queue_.clear();
    bar_->setVisible(false);
    busy_ = false;
    if (!message.isEmpty())
        platform::messageBox(message);
}

void CPictureManager::OnGalleryReply(uint16_t operation)
{
    if (closed_)
        return;
    switch (operation) {
    case gallery::kNewFolder:
    case gallery::kDeleteFolder:
    case gallery::kDeletePictures:
        Refresh();
        busy_ = false;
        break;
    case gallery::kPicture:
        if (!busy_)
            break;
        OnPictureAcknowledged();
        break;
    default:
        break;
    }
}

void CPictureManager::reject()
{
    if (platform::messageBox(T(Msg::ConfirmExit), QString(), platform::MsgButtons::YesNo,
                             platform::MsgIcon::Question) != platform::MsgResult::Yes)
        return;
    // Closing ends the loading: every download waiting below is aborted, and
    // the code it returns to sees closed_ and opens nothing.
    closed_ = true;
    heldReplies_.clear();
    for (update::UrlDownload* d : running_)
        d->Abort();
    QDialog::reject();
}
