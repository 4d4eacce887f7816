#pragma once
// CPictureManager: "Picture Manager", the player's picture gallery: folders
// with their counts, 100 x 75 thumbnails of the chosen folder fetched over
// HTTP, a preview window, and the changes (folders, uploads, deletions)
// sent with CMD_GALLERY, one acknowledgement at a time.
// CPictureDisplay: the preview of one picture, fitted to the window.

#include "content/gallery_model.h"
#include "platform/window.h"
#include "transport/chunk_source.h"

#include <QDialog>
#include <QString>

#include <deque>
#include <memory>
#include <vector>

class CFolderEdit;
class CTextProgressCtrl;
class QComboBox;
class QFile;
class QListWidget;
namespace update {
class UrlDownload;
}

class CPictureDisplay : public QDialog {
public:
    CPictureDisplay(const QString& path, const QString& title, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString path_;
};

class CPictureManager : public QDialog, public platform::MessageWindow {
    Q_OBJECT
public:
    CPictureManager(const QString& titlePrefix, const QString& folder, const QString& ip, QWidget* parent = nullptr);
    ~CPictureManager() override;

    void OnInitDialog();  // refresh
    void Refresh();
    void ShowFolder(int k, bool selectionChanged);
    void OnPreview(int i);
    void OnNewFolder();     // 5204
    void OnDelFolder();     // 5205
    void OnAddPic();        // 5206
    void OnBatchAddPic();   // 5209
    void OnDelPictures();   // 5207
    void OnGalleryReply(uint16_t operation);

    bool busy() const { return busy_; }
    // True once the user closed the dialog: its requests are ended and it
    // never shows again.
    bool closed() const { return closed_; }
    const gallery::GalleryList& list() const { return list_; }
    QComboBox* folders() const { return combo_; }
    QListWidget* thumbnails() const { return thumbs_; }
    CFolderEdit* nameEdit() const { return name_; }
    // Tests: what the preview would open (instead of a modal window).
    std::function<void(const QString& path, const QString& title)> openPreview;

protected:
    void reject() override;

private:
    QString T(gallery::Msg m) const { return gallery::Text(m, language_); }
    bool Send(uint16_t op, uint16_t arg, const QByteArray& payload);
    bool Download(const QString& url, const QString& path);
    int SelectedFolder() const;
    void StartUpload();
    void Announce();
    // The announce or a chunk was acknowledged: the next chunk, or the next picture.
    void OnPictureAcknowledged();
    void DropFirstFile();
    void StopUpload(const QString& message);

    int language_;
    QString folder_;
    QString ip_;
    gallery::GalleryList list_;
    QString current_;
    bool busy_ = false;
    int downloading_ = 0;  // downloads waiting (they may nest)
    std::vector<update::UrlDownload*> running_;  // those downloads, innermost last
    bool closed_ = false;
    std::deque<uint16_t> heldReplies_;  // acknowledgements that came during a download
    std::vector<gallery::GalleryUpload> queue_;
    upload::Upload file_;
    uint64_t total_ = 0;
    uint64_t sent_ = 0;
    QString lastBatchFolder_;

    QComboBox* combo_ = nullptr;
    QListWidget* thumbs_ = nullptr;
    CFolderEdit* name_ = nullptr;
    CTextProgressCtrl* bar_ = nullptr;
};
