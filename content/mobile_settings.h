#pragma once
// CMobileSettings: "Cloud Settings". Shows what the player's mobile app
// offers: function modules (switched by check boxes), common phrases (edited
// in place, also from and to .GFDW phrase files) and, for information, the
// effects the player supports; Save uploads the document Mobile.Json.

#include "content/play_mode_model.h"
#include "content/video_store_model.h"
#include "platform/dialogs.h"
#include "platform/window.h"

#include <QDialog>
#include <QString>

#include <vector>

class QListWidget;
class QTreeWidget;

class CMobileSettings : public QDialog, public platform::MessageWindow {
    Q_OBJECT
public:
    static constexpr int kModulesId = 5401;
    static constexpr int kWordsId = 5402;
    static constexpr int kEffectsId = 5403;
    static constexpr int kImportId = 5404;
    static constexpr int kExportId = 5405;

    CMobileSettings(const QString& titlePrefix, const QString& workFolder, QWidget* parent = nullptr);
    ~CMobileSettings() override;

    // Sends the read request.
    void OnInitDialog();
    void OnMobileReply(uint16_t operation, const QByteArray& payload);
    void OnSave();
    void OnImportWords();
    void OnExportWords();
    // The words list's buttons.
    void OnNewWord();
    void OnRemoveWord();
    void OnMoveWord(int step);

    // What the lists hold now (modules with their check state).
    playmode::MobileSettings current() const;
    QString documentPath() const;

    QTreeWidget* modules() const { return modules_; }
    QListWidget* words() const { return words_; }
    QTreeWidget* effects() const { return effects_; }

public slots:
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString Text(store::Message message) const;
    void Inform(store::Message message, platform::MsgIcon icon);
    void AddWord(const QString& phrase);

    unsigned language_;
    QString workFolder_;
    std::vector<playmode::MobileEffect> mobileEffects_;
    QTreeWidget* modules_ = nullptr;
    QListWidget* words_ = nullptr;
    QTreeWidget* effects_ = nullptr;
};
