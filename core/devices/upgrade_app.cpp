#include "core/devices/upgrade_app.h"

#include "common/controls/dialog_keys.h"
#include "common/controls/text_progress_ctrl.h"

#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

CUpgradeApp::CUpgradeApp(const QString& titlePrefix, const QString& tempFolder, const update::VersionInfo& info,
                         bool serverConfigured, QWidget* parent)
    : CDeviceDialog(titlePrefix, replies::Caption{"Upgrade", "更新"}, parent), tempFolder_(tempFolder), info_(info)
{
    resize(680, 420);
    auto* outer = new QVBoxLayout(this);
    auto* lists = new QGridLayout;
    auto makeGroup = [&](const QString& title, int listId, int buttonId, int column, QTreeWidget*& list,
                         QPushButton*& button) {
        auto* group = new QGroupBox(title, this);
        auto* inner = new QVBoxLayout(group);
        list = new QTreeWidget(group);
        list->setObjectName(ControlName(listId));
        list->setColumnCount(2);
        list->setHeaderLabels({Text("SN", "序号"), Text("Version", "版本")});
        list->setColumnWidth(0, 40);
        list->setColumnWidth(1, 230);
        list->header()->setDefaultAlignment(Qt::AlignCenter);
        list->setRootIsDecorated(false);
        list->setSelectionBehavior(QAbstractItemView::SelectRows);
        list->setAlternatingRowColors(true);
        inner->addWidget(list);
        button = controls::MakeButton(Text("DownLoad", "下载"), buttonId, group);
        inner->addWidget(button, 0, Qt::AlignRight);
        lists->addWidget(group, 0, column);
    };
    makeGroup(QStringLiteral("PC"), 5501, 5503, 0, pc_, pcButton_);
    makeGroup(QStringLiteral("APP"), 5502, 5504, 1, app_, appButton_);
    outer->addLayout(lists, 1);

    link_ = new QLabel(this);
    link_->setObjectName(ControlName(5505));
    link_->setOpenExternalLinks(true);
    if (!serverConfigured)
        link_->setText(Text("No update server is configured (setting \"UpdateServer\").",
                            "未配置更新服务器（设置项 \"UpdateServer\"）。"));
    else if (!info_.infoUrl.isEmpty())
        link_->setText(QStringLiteral("<a href=\"%1\">更新说明</a>").arg(info_.infoUrl.toHtmlEscaped()));
    else
        link_->setText(QStringLiteral("更新说明"));
    outer->addWidget(link_);

    progress_ = new CTextProgressCtrl(this);
    progress_->setObjectName(ControlName(5506));
    progress_->setMinimumHeight(22);
    progress_->hide();
    outer->addWidget(progress_);

    QPushButton* close = controls::MakeButton(Text("Cancel", "关闭"), 2, this);
    outer->addWidget(close, 0, Qt::AlignRight);

    for (int type : {1, 2}) {
        int row = 0;
        for (const update::VersionEntry& e : info_.history) {
            if (e.type != type)
                continue;
            auto* item = new QTreeWidgetItem(List(type), {QString::number(++row), e.name + e.version});
            item->setTextAlignment(0, Qt::AlignCenter);
            item->setTextAlignment(1, Qt::AlignCenter);
        }
    }
    connect(pcButton_, &QPushButton::clicked, this, [this] { OnDownload(1); });
    connect(appButton_, &QPushButton::clicked, this, [this] { OnDownload(2); });
    connect(close, &QPushButton::clicked, this, &CUpgradeApp::reject);
}

CUpgradeApp::~CUpgradeApp() = default;

bool CUpgradeApp::IsDownloading() const
{
    return download_ && download_->IsRunning();
}

void CUpgradeApp::reject()
{
    if (download_)
        download_->Abort();  // nothing is left behind: the file appears only when whole
    QDialog::reject();
}

void CUpgradeApp::OnDownload(int type)
{
    if (IsDownloading())
        return;
    QTreeWidget* list = List(type);
    QTreeWidgetItem* row = list->currentItem();
    if (!row || !row->isSelected()) {
        Message("First choose a Version, then Download!", "先选择一个版本，再下载！", platform::MsgIcon::Warning);
        return;
    }
    QString url;
    for (const update::VersionEntry& e : info_.history) {
        if (e.type == type && e.name + e.version == row->text(1)) {
            url = e.url;
            break;
        }
    }
    if (url.isEmpty())
        return;
    platform::FileDialogCall call;
    call.kind = platform::FileDialogKind::Save;
    call.fileName = update::LastComponent(url);
    if (type == 1) {
        call.filter = QStringLiteral("Zip file(*.rar)|*.rar||");
        call.defaultSuffix = QStringLiteral("rar");
        call.caption = Text("Save Zip file", "保存Zip文件");
    } else {
        call.filter = QStringLiteral("APP file(*.bin)|*.bin||");
        call.defaultSuffix = QStringLiteral("bin");
        call.caption = Text("Save app file", "保存APP文件");
    }
    const QString path = platform::fileDialog(call, this);
    if (path.isEmpty())
        return;
    progress_->SetRange(0, 1);
    progress_->SetPos(0);
    progress_->show();
    pcButton_->setEnabled(false);
    appButton_->setEnabled(false);
    download_ = std::make_unique<update::UrlDownload>(language_);
    auto progress = [this](qint64 received, qint64 total) {
        if (total > 0) {
            progress_->SetRange(0, uint64_t(total));
            progress_->SetPos(uint64_t(received));
        }
    };
    auto done = [this, url](bool ok, const QString& error) {
        progress_->hide();
        pcButton_->setEnabled(true);
        appButton_->setEnabled(true);
        if (ok)
            Message("DownLoad OK!", "下载完成！", platform::MsgIcon::Warning);
        else if (download_->Failure() != update::DownloadFailure::Cancelled)
            Message(Text("DownLoad failed: ", "下载失败：") + error + QLatin1Char('\n') + url, platform::MsgIcon::Warning);
    };
    QString error;
    if (!download_->Start(url, path, progress, done, update::kDefaultTimeoutMs, &error))
        done(false, error);
}
