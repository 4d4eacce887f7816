#pragma once
// CImportAndExport: "Parameter Import and Export". Backs the connected
// player's parameters up into a .zip on this computer and loads such a file
// back, moving the archive's bytes with CMD_PARAM_FILE kinds 2 and 3, one
// packet per reply. Progress goes to pane 2 of the main window's status bar.

#include "platform/window.h"
#include "transport/chunk_source.h"

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QFile;
class QKeyEvent;
class ReplyAssembler;

class CImportAndExport : public QDialog, public platform::MessageWindow {
    Q_OBJECT
public:
    static constexpr unsigned kIdleTimer = 8;
    static constexpr int kIdleTimerMs = 3000;
    // A parameter archive is a few megabytes; more than this is not one.
    static constexpr qsizetype kMaxBackupBytes = qsizetype(256) << 20;

    CImportAndExport(const QString& titlePrefix, const QString& folder, const QString& defaultName,
                     QWidget* parent = nullptr);
    ~CImportAndExport() override;

    // Status-bar progress: a range of 100 switches it on, -1 off.
    std::function<void(int range)> progressRange;
    std::function<void(int percent)> progressPos;

    void OnRecovery();  // 3301
    void OnBackup();    // 3302
    void OnParamFileReply(const ReplyAssembler* reply);

    bool backupRunning() const { return backup_.has_value(); }
    void onTimer(unsigned id) override;

protected:
    void done(int result) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnBackupReply(uint16_t state, const QByteArray& payload);
    void OnRecoveryReply(uint16_t state);
    void SendRecoveryChunk();
    void FailBackup(const QString& message);
    void Inform(const QString& text) const;
    void SetRange(int range) const;
    void SetPos(int percent) const;

    unsigned language_;
    QString folder_;
    QString defaultName_;
    QString backupPath_;
    QString recoveryPath_;
    std::optional<QByteArray> backup_;  // the archive received so far
    bool backupFailed_ = false;
    upload::Upload recovery_;
    uint64_t total_ = 0;
    uint64_t done_ = 0;
};
