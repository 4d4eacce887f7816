#pragma once
// CSetMovConf: one video store page (one act of the connected player): the
// catalogue as a tree, free space, new folder, rename, delete, play, volume,
// play time, file-list export and uploads of single videos or whole folders.
// The page sends through the main window (WM_SEND_TO_PLAYER); its host
// (CSetMovConfTab) hands it the replies with HandleMessage.

#include "content/video_store_model.h"
#include "platform/window.h"
#include "transport/chunk_source.h"
#include "transport/records.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>
#include <map>
#include <cstdint>
#include <memory>

class CFolderEdit;
class CNumEdit;
class CTextProgressCtrl;
class QFile;
class QLabel;
class QPushButton;
class QSlider;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

class CSetMovConf : public QWidget {
    Q_OBJECT
public:
    static constexpr int kVolumeTimerMs = 1000;  // timer 5

    CSetMovConf(uint16_t act, uint16_t version, const QString& rootLabel, QWidget* parent = nullptr);
    ~CSetMovConf() override;

    // A reply relayed by the host (315 to 319 and 329); frees heap records.
    platform::LRESULT HandleMessage(unsigned id, platform::WPARAM wParam, platform::LPARAM lParam);

    // Operator commands (buttons and keys).
    void OnRefresh();          // 1805, F5
    void OnSendFolder();       // 1806, F3
    void OnDelete();           // 1807, Del
    void OnPlay();             // 1808, F6
    void OnRename();           // 1809, F2
    void OnExportFileList();   // 1814
    void OnNewFolder();        // 1815
    void OnSendFiles();        // 1816
    void OnSetPlayTime();      // 1818
    void OnVolumeTick();       // timer 5

    // What the operator has selected, by tree level.
    store::Selection GetSelection() const;

    uint16_t act() const { return act_; }
    bool busy() const { return busy_; }
    bool uploading() const { return uploading_; }
    uint16_t counter() const { return counter_; }
    const PlayerCatalog* catalog() const { return catalog_.get(); }
    QTreeWidget* tree() const { return tree_; }
    // Selects the item at a path of texts below the root (empty: the root).
    bool SelectPath(const QStringList& texts);
    void SetSlider(int index, int value);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    QString T(store::Message m) const { return store::Text(m, language_); }
    void Inform(const QString& text) const;
    void Refuse(const QString& text);  // message and not busy
    bool Send(const store::Packet& packet) const;
    void OnCatalog(std::unique_ptr<PlayerCatalog> catalog);
    void RebuildTree();
    void OnDeleteReply(platform::WPARAM wParam, platform::LPARAM lParam);
    void OnUploadReply(platform::LPARAM lParam);
    void ShowLocked();
    // Uploads.
    void StartUpload(bool keepBusy);
    bool SendBegin();
    bool SendChunk(bool first, upload::Upload::Chunk&& chunk);
    void NextFileOrDone();
    void StopUpload();
    void FailUpload(const QString& message);

    uint16_t act_;
    uint16_t version_;
    QString rootLabel_;
    unsigned language_;

    std::unique_ptr<PlayerCatalog> catalog_;
    QStringList categories_;
    uint16_t counter_ = 0;
    bool busy_ = false;
    bool sliderMoved_ = false;

    // Selection memory of the last delete.
    QTreeWidgetItem* remembered_ = nullptr;
    store::Level rememberedLevel_ = store::Level::None;
    QString firstName_;
    QString videoName_;

    // Upload state.
    QStringList queue_;
    // Each queued file as the space check and the progress range were made
    // from it: what its chunks must still come from when its turn comes.
    std::map<QString, filestamp::FileStamp> selected_;
    // The file's size now, recorded in selected_.
    uint64_t selectFile(const QString& path);
    QString targetCategory_;
    upload::Upload file_;
    uint64_t total_ = 0;
    uint64_t sent_ = 0;
    bool uploading_ = false;
    bool keepBusy_ = false;
    QString lastFolder_;

    QTreeWidget* tree_ = nullptr;
    QLabel* space_ = nullptr;
    CTextProgressCtrl* progress_ = nullptr;
    CFolderEdit* nameEdit_ = nullptr;
    std::array<QSlider*, 3> sliders_{};
    CNumEdit* playTime_ = nullptr;
    QPushButton* setPlayTime_ = nullptr;
    QTimer* volumeTimer_ = nullptr;
};
