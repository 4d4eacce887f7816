#include "content/import_and_export.h"

#include "common/controls/dialog_keys.h"
#include "common/file_commit.h"
#include "content/store_texts.h"
#include "content/video_store_model.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/messages.h"
#include "transport/records.h"

#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QFileInfo>

namespace texts = store::texts;
using store::ParamKind;

namespace {

bool sendPacket(const store::Packet& p)
{
    auto request = std::make_unique<SendRequest>();
    if (!request->SetPacket(p.header, p.payload))
        return false;
    return SendToMainWindow(request.release());
}

}  // namespace

CImportAndExport::CImportAndExport(const QString& titlePrefix, const QString& folder, const QString& defaultName,
                                   QWidget* parent)
    : QDialog(parent), platform::MessageWindow(static_cast<QWidget*>(this)), language_(platform::appLanguage()),
      folder_(folder), defaultName_(defaultName)
{
    setWindowTitle(titlePrefix + store::Text(texts::kParamCaption, language_));
    auto button = [this](int id, store::Message label) {
        QPushButton* b = controls::MakeButton(store::Text(label, language_), id, this);
        b->setMinimumHeight(40);
        return b;
    };
    QPushButton* recovery = button(3301, texts::kRecovery);
    QPushButton* backup = button(3302, texts::kBackup);
    QPushButton* cancel = button(2, texts::kCancel);
    connect(recovery, &QPushButton::clicked, this, &CImportAndExport::OnRecovery);
    connect(backup, &QPushButton::clicked, this, &CImportAndExport::OnBackup);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(recovery);
    layout->addWidget(backup);
    layout->addWidget(cancel);
    setMinimumWidth(460);
    onMessage(platform::WM_PARAM_FILE_REPLY, [this](platform::WPARAM, platform::LPARAM l) {
        OnParamFileReply(reinterpret_cast<const ReplyAssembler*>(l));
        return platform::LRESULT(0);
    });
    platform::MessageWindow::setTimer(kIdleTimer, kIdleTimerMs);
}

CImportAndExport::~CImportAndExport() = default;

void CImportAndExport::onTimer(unsigned /*id*/)
{
    // Timer 8 only keeps the dialog's rhythm; nothing happens on its ticks.
}

void CImportAndExport::done(int result)
{
    platform::MessageWindow::killTimer(kIdleTimer);
    if (backup_ || recovery_.stage() == upload::Upload::Stage::kChunks)
        SetRange(-1);
    backup_.reset();  // an unfinished backup leaves no file behind
    recovery_.Reset();
    QDialog::done(result);
}

void CImportAndExport::Inform(const QString& text) const
{
    platform::messageBox(text, QString(), platform::MsgButtons::Ok, platform::MsgIcon::Information);
}

void CImportAndExport::SetRange(int range) const
{
    if (progressRange)
        progressRange(range);
}

void CImportAndExport::SetPos(int percent) const
{
    if (progressPos)
        progressPos(percent);
}

void CImportAndExport::OnBackup()
{
    platform::FileDialogCall call{platform::FileDialogKind::Save, store::Text(texts::kSaveZip, language_), folder_,
                                  defaultName_, store::Text(texts::kZipFilterSave, language_), QStringLiteral("zip")};
    const QString path = platform::fileDialog(call, this);
    if (path.isEmpty())
        return;
    backupPath_ = path;
    backup_.reset();
    backupFailed_ = false;
    sendPacket(store::ParamFilePacket(ParamKind::Backup, 0));
}

void CImportAndExport::OnRecovery()
{
    platform::FileDialogCall call{platform::FileDialogKind::Open, store::Text(texts::kOpenZip, language_), folder_,
                                  QString(), store::Text(texts::kZipFilterOpen, language_), QStringLiteral("zip")};
    const QString path = platform::fileDialog(call, this);
    if (path.isEmpty())
        return;
    recoveryPath_ = path;
    recovery_.Reset();
    SetRange(-1);
    sendPacket(store::ParamFilePacket(ParamKind::Recovery, 0));
}

void CImportAndExport::OnParamFileReply(const ReplyAssembler* reply)
{
    if (!reply)
        return;
    const uint32_t length = std::min<uint32_t>(reply->received, reply->header.payloadLength);
    const QByteArray payload(reinterpret_cast<const char*>(reply->payload()), qsizetype(length));
    if (reply->header.param == uint16_t(ParamKind::Backup))
        OnBackupReply(reply->header.arg, payload);
    else if (reply->header.param == uint16_t(ParamKind::Recovery))
        OnRecoveryReply(reply->header.arg);
}

void CImportAndExport::FailBackup(const QString& message)
{
    backup_.reset();
    backupPath_.clear();
    backupFailed_ = true;
    SetRange(-1);
    Inform(message);
}

void CImportAndExport::OnBackupReply(uint16_t state, const QByteArray& payload)
{
    // After a failed backup the player's further chunks are neither written
    // nor asked for.
    if (backupFailed_)
        return;
    if (!backupPath_.isEmpty()) {
        const QString failed = store::Text(texts::kExportFailed, language_) + backupPath_;
        if (state == 0) {
            // The archive is kept in memory and written whole at its end,
            // so a failure (a full disk among others) never leaves a
            // damaged file nor empties an earlier backup of that name. A
            // folder we cannot write into is told at once, not after the
            // whole transfer.
            if (!QFileInfo(QFileInfo(backupPath_).absolutePath()).isWritable()) {
                FailBackup(failed);
                return;
            }
            backup_.emplace();
            SetRange(100);
            total_ = store::BackupTotalBytes(payload);
            done_ = 0;
            SetPos(0);
        } else if (state == 1 || state == 2) {
            if (!backup_)
                return;  // no backup of ours is running
            if (backup_->size() + payload.size() > kMaxBackupBytes) {
                FailBackup(failed);
                return;
            }
            backup_->append(payload);
            done_ += uint64_t(payload.size());
            SetPos(store::Percent(done_, total_));
            if (state == 2) {
                QString error;
                const bool saved = filecommit::replaceFile(backupPath_, *backup_, &error);
                const QString path = backupPath_;
                backup_.reset();
                backupPath_.clear();
                SetRange(-1);
                Inform(saved ? store::Text(texts::kExportCompleted, language_)
                             : filecommit::cannotWriteMessage(language_, path, error));
                return;
            }
        }
    }
    if (state == 0 || state == 1)
        sendPacket(store::ParamFilePacket(ParamKind::Backup, 1));
}

void CImportAndExport::SendRecoveryChunk()
{
    const bool first = recovery_.stage() == upload::Upload::Stage::kAnnounced;
    upload::Upload::Chunk chunk;
    switch (recovery_.Acknowledged(chunk)) {
    case upload::Upload::Step::kChunk: {
        if (first) {
            SetRange(100);
            SetPos(0);
            total_ = recovery_.size();
        }
        done_ = recovery_.sent();
        const store::Packet p = store::ParamFilePacket(ParamKind::Recovery, chunk.last ? 2 : 1);
        if (auto request = upload::ChunkRequest(p.header, std::move(chunk)))
            SendToMainWindow(request.release());
        SetPos(store::Percent(done_, total_));
        return;
    }
    case upload::Upload::Step::kOpenFailed:
    case upload::Upload::Step::kReadFailed:
        // Unreadable or cut short: nothing of the chunk goes out.
        if (!first)
            SetRange(-1);
        Inform(recovery_.FailureMessage(int(language_)));
        return;
    case upload::Upload::Step::kEnd:
    case upload::Upload::Step::kNone:
        return;
    }
}

void CImportAndExport::OnRecoveryReply(uint16_t state)
{
    if (state == 0) {
        if (recoveryPath_.isEmpty())
            return;
        recovery_.Announced(recoveryPath_);  // the file from its start
        SendRecoveryChunk();
    } else if (state == 1) {
        // After the last chunk the file is closed: nothing more is read or sent.
        if (recovery_.stage() == upload::Upload::Stage::kChunks)
            SendRecoveryChunk();
    } else if (state == 2) {
        // The last chunk went from the mapping: a file written while it
        // travelled may have reached the player mixed, which is no import.
        const bool whole = recovery_.stage() != upload::Upload::Stage::kLastSent ||
                           recovery_.Acknowledged() == upload::Upload::Step::kEnd;
        recovery_.Reset();
        SetRange(-1);
        Inform(whole ? store::Text(texts::kImportCompleted, language_)
                     : recovery_.FailureMessage(int(language_)));
    }
}

// Enter and Esc close nothing: the dialog is left through its buttons.
void CImportAndExport::keyPressEvent(QKeyEvent* event)
{
    if (!controls::SwallowEnterEsc(event))
        QDialog::keyPressEvent(event);
}
