#pragma once
// CUpgradeApp: the releases of this program that the update server offers,
// and their download.

#include "core/devices/device_dialog.h"
#include "core/devices/update_check.h"

#include <memory>

class CTextProgressCtrl;
class QLabel;
class QPushButton;
class QTreeWidget;

class CUpgradeApp : public CDeviceDialog {
public:
    // `serverConfigured`: false shows that no update server is set.
    CUpgradeApp(const QString& titlePrefix, const QString& tempFolder, const update::VersionInfo& info,
                bool serverConfigured, QWidget* parent = nullptr);
    ~CUpgradeApp() override;
    void OnInitDialog() {}

    // 5503 (list 5501, type 1) and 5504 (list 5502, type 2).
    void OnDownload(int type);
    bool IsDownloading() const;
    QTreeWidget* List(int type) const { return type == 1 ? pc_ : app_; }
    CTextProgressCtrl* Progress() const { return progress_; }
    QLabel* InfoLink() const { return link_; }
    void reject() override;

private:
    QString tempFolder_;
    update::VersionInfo info_;
    QTreeWidget* pc_ = nullptr;
    QTreeWidget* app_ = nullptr;
    QPushButton* pcButton_ = nullptr;
    QPushButton* appButton_ = nullptr;
    QLabel* link_ = nullptr;
    CTextProgressCtrl* progress_ = nullptr;
    std::unique_ptr<update::UrlDownload> download_;
};
