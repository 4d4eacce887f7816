#include "rotation/rotate_output_device_edit.h"

#include "common/controls/dialog_keys.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "rotation/rotate_documents.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

using rotation::OutputDevice;

namespace {

struct EditSpec {
    int id;
    const char* english;
    const char* chinese;
};
const EditSpec kEdits[8] = {
    {4801, "Manufacturer:", "制造商:"},         {4802, "Model:", "型号:"},
    {4806, "Display Area Width:", "显示区域宽度:"}, {4807, "Display Area Height:", "显示区域高度:"},
    {4808, "BezelLeft:", "左边框:"},            {4809, "BezelRight:", "右边框:"},
    {4810, "BezelTop:", "上边框:"},             {4811, "BezelBottom:", "下边框:"},
};

}  // namespace

CRotateOutPutDeviceEdit::CRotateOutPutDeviceEdit(const QString& prefix, const QString& manufacturer,
                                                 const QString& model, QWidget* parent)
    : QDialog(parent), platform::MessageWindow(static_cast<QWidget*>(this)), prefix_(prefix),
      preManufacturer_(manufacturer), preModel_(model)
{
    // What OnInitDialog did: language, caption, the list and its selection.
    language_ = platform::appLanguage();
    setWindowTitle(prefix_ + text("Output Edit", "输出设备编辑"));

    auto* grid = new QGridLayout;
    manufacturerBox_ = new QComboBox(this);
    manufacturerBox_->setObjectName(QStringLiteral("4812"));
    modelBox_ = new QComboBox(this);
    modelBox_->setObjectName(QStringLiteral("4813"));
    grid->addWidget(new QLabel(text("Manufacturer:", "制造商:"), this), 0, 0);
    grid->addWidget(manufacturerBox_, 0, 1, 1, 2);
    grid->addWidget(new QLabel(text("Model:", "型号:"), this), 1, 0);
    grid->addWidget(modelBox_, 1, 1, 1, 2);
    for (std::size_t i = 0; i < edits_.size(); ++i) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::number(kEdits[i].id));
        edits_[i] = edit;
        const int row = int(i) + 2;
        grid->addWidget(new QLabel(text(kEdits[i].english, kEdits[i].chinese), this), row, 0);
        grid->addWidget(edit, row, 1);
        if (i >= 2) {
            grid->addWidget(new QLabel(QStringLiteral("mm"), this), row, 2);
            connect(edit, &QLineEdit::textChanged, this, [this, edit] { dimensionChanged(edit); });
        }
    }
    edits_[0]->setEnabled(false);
    edits_[1]->setEnabled(false);

    newButton_ = new QPushButton(text("New", "新建"), this);
    newButton_->setObjectName(QStringLiteral("4814"));
    deleteButton_ = new QPushButton(text("Del", "删除"), this);
    deleteButton_->setObjectName(QStringLiteral("4815"));
    saveButton_ = new QPushButton(text("Save", "保存"), this);
    saveButton_->setObjectName(QStringLiteral("4816"));
    auto* exitButton = new QPushButton(text("Exit", "退出"), this);
    exitButton->setObjectName(QStringLiteral("2"));
    exitButton->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {newButton_, deleteButton_, saveButton_, exitButton}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    setMinimumWidth(420);

    connect(manufacturerBox_, &QComboBox::currentIndexChanged, this, [this] { OnManufacturerChanged(); });
    connect(modelBox_, &QComboBox::currentIndexChanged, this, [this] { OnModelChanged(); });
    connect(newButton_, &QPushButton::clicked, this, [this] { OnNew(); });
    connect(deleteButton_, &QPushButton::clicked, this, [this] { OnDelete(); });
    connect(saveButton_, &QPushButton::clicked, this, [this] { OnSave(); });
    connect(exitButton, &QPushButton::clicked, this, &QDialog::reject);

    LoadMonitorList();
}

void CRotateOutPutDeviceEdit::keyPressEvent(QKeyEvent* event)
{
    if (controls::IsEnterKey(event->key())) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

QString CRotateOutPutDeviceEdit::text(const char* english, const char* chinese) const
{
    return platform::pickText(language_, english, chinese);
}

void CRotateOutPutDeviceEdit::fillManufacturers()
{
    manufacturers_ = rotation::ManufacturerNames(list_);
    const QSignalBlocker block(manufacturerBox_);
    manufacturerBox_->clear();
    for (const QString& name : manufacturers_)
        manufacturerBox_->addItem(name);
    manufacturerBox_->setCurrentIndex(manufacturers_.empty() ? -1 : 0);
}

bool CRotateOutPutDeviceEdit::ParseMonitorList(const QByteArray& text)
{
    if (!rotation::ParseMonitorList(text, list_))
        return false;
    fillManufacturers();
    return true;
}

void CRotateOutPutDeviceEdit::LoadMonitorList()
{
    std::vector<OutputDevice> loaded = list_;
    if (!rotation::LoadMonitorFile(loaded))
        return;
    list_ = std::move(loaded);
    fillManufacturers();
    if (list_.empty()) {
        // Nothing to choose: the lists are empty, and no "is empty" message.
        const QSignalBlocker block(modelBox_);
        modelBox_->clear();
        models_.clear();
        return;
    }
    const auto m = std::find(manufacturers_.begin(), manufacturers_.end(), preManufacturer_);
    {
        const QSignalBlocker block(manufacturerBox_);
        manufacturerBox_->setCurrentIndex(m == manufacturers_.end() ? (manufacturers_.empty() ? -1 : 0)
                                                                    : int(m - manufacturers_.begin()));
    }
    OnManufacturerChanged();
    const auto mm = std::find(models_.begin(), models_.end(), preModel_);
    {
        const QSignalBlocker block(modelBox_);
        modelBox_->setCurrentIndex(mm == models_.end() ? (models_.empty() ? -1 : 0) : int(mm - models_.begin()));
    }
    ShowSelectedMonitor();
}

bool CRotateOutPutDeviceEdit::SaveMonitorList()
{
    QString error;
    if (rotation::SaveMonitorFile(list_, language_, &error))
        return true;
    platform::messageBox(error, QString(), platform::MsgButtons::Ok, platform::MsgIcon::Warning, this);
    return false;
}

void CRotateOutPutDeviceEdit::OnManufacturerChanged()
{
    models_ = rotation::ModelNames(list_, manufacturerBox_->currentText());
    {
        const QSignalBlocker block(modelBox_);
        modelBox_->clear();
        for (const QString& name : models_)
            modelBox_->addItem(name);
        modelBox_->setCurrentIndex(models_.empty() ? -1 : 0);
    }
    ShowSelectedMonitor();
}

void CRotateOutPutDeviceEdit::OnModelChanged()
{
    ShowSelectedMonitor();
}

void CRotateOutPutDeviceEdit::ShowSelectedMonitor()
{
    const QString manufacturer = manufacturerBox_->currentText();
    const QString model = modelBox_->currentText();
    if (manufacturer.isEmpty()) {
        platform::messageBox(text("manufacturer is empty！", "制造商没有选择！"), QString(), platform::MsgButtons::Ok,
                             platform::MsgIcon::None, this);
        return;
    }
    if (model.isEmpty()) {
        platform::messageBox(text("model is empty！", "型号没有选择！"), QString(), platform::MsgButtons::Ok,
                             platform::MsgIcon::None, this);
        return;
    }
    const int i = rotation::FindMonitor(list_, manufacturer, model);
    if (i < 0)
        return;
    const OutputDevice& d = list_[std::size_t(i)];
    edits_[0]->setText(d.Manufacturer);
    edits_[1]->setText(d.Model);
    const double sizes[6] = {d.ScreenWidth, d.ScreenHeight, d.BezelLeft, d.BezelRight, d.BezelTop, d.BezelBottom};
    for (std::size_t k = 0; k < 6; ++k)
        edits_[k + 2]->setText(QString::asprintf("%0.2f", sizes[k]));
}

void CRotateOutPutDeviceEdit::dimensionChanged(QLineEdit* edit)
{
    const QString cleaned = rotation::CleanNumberText(edit->text());
    if (cleaned != edit->text())
        edit->setText(cleaned);
}

void CRotateOutPutDeviceEdit::setBrowsing(bool browsing)
{
    manufacturerBox_->setEnabled(browsing);
    modelBox_->setEnabled(browsing);
    deleteButton_->setEnabled(browsing);
    edits_[0]->setEnabled(!browsing);
    edits_[1]->setEnabled(!browsing);
}

void CRotateOutPutDeviceEdit::OnNew()
{
    setBrowsing(false);
    newEntry_ = true;
}

void CRotateOutPutDeviceEdit::OnDelete()
{
    const QString manufacturer = manufacturerBox_->currentText();
    const QString model = modelBox_->currentText();
    if (manufacturer.isEmpty() || model.isEmpty()) {
        platform::messageBox(manufacturer.isEmpty() ? text("manufacturer is empty！", "制造商没有选择！")
                                                    : text("model is empty！", "型号没有选择！"),
                             QString(), platform::MsgButtons::Ok, platform::MsgIcon::None, this);
        return;
    }
    if (platform::messageBox(text("Are you sure you want to delete it?", "确定要删除吗？"), QString(),
                             platform::MsgButtons::YesNo, platform::MsgIcon::Question, this) != platform::MsgResult::Yes)
        return;
    const int i = rotation::FindMonitor(list_, manufacturer, model);
    if (i < 0)
        return;
    list_.erase(list_.begin() + i);
    SaveMonitorList();
    LoadMonitorList();
}

void CRotateOutPutDeviceEdit::OnSave()
{
    static const struct { const char* english; const char* chinese; } kEmpty[8] = {
        {"manufacturer is empty！", "制造商没有输入！"}, {"model is empty！", "型号没有输入！"},
        {"ScreenWidth is empty！", "显示区域宽度没有输入！"}, {"ScreenHeight is empty！", "显示区域高度没有输入！"},
        {"BezelLeft is empty！", "左边框宽度没有输入！"}, {"BezelRight is empty！", "右边框宽度没有输入！"},
        {"BezelTop is empty！", "上边框宽度没有输入！"}, {"BezelBottom is empty！", "下边框宽度没有输入！"},
    };
    for (std::size_t i = 0; i < edits_.size(); ++i) {
        if (edits_[i]->text().isEmpty()) {
            platform::messageBox(text(kEmpty[i].english, kEmpty[i].chinese), QString(), platform::MsgButtons::Ok,
                                 platform::MsgIcon::None, this);
            return;
        }
    }
    const QString manufacturer = edits_[0]->text();
    const QString model = edits_[1]->text();
    double sizes[6];
    for (std::size_t k = 0; k < 6; ++k)
        sizes[k] = rotation::NumberFromText(edits_[k + 2]->text());
    auto fill = [&sizes](OutputDevice& d) {
        d.ScreenWidth = sizes[0];
        d.ScreenHeight = sizes[1];
        d.BezelLeft = sizes[2];
        d.BezelRight = sizes[3];
        d.BezelTop = sizes[4];
        d.BezelBottom = sizes[5];
        d.ResolutionWidth = 1920;
        d.ResolutionHeight = 1080;
        d.RefreshRate = 60;
    };
    const int existing = rotation::FindMonitor(list_, manufacturer, model);
    const QString confirm = text("Are you sure you want to save it?", "确定要保存吗？");
    if (!newEntry_) {
        if (platform::messageBox(confirm, QString(), platform::MsgButtons::YesNo, platform::MsgIcon::Question, this) !=
            platform::MsgResult::Yes)
            return;
        if (existing >= 0)
            fill(list_[std::size_t(existing)]);
    } else {
        if (existing >= 0) {
            platform::messageBox(text("Manufacturer and model cannot be the same！", "制造商和型号不能相同！"), QString(),
                                 platform::MsgButtons::Ok, platform::MsgIcon::None, this);
            return;
        }
        if (platform::messageBox(confirm, QString(), platform::MsgButtons::YesNo, platform::MsgIcon::Question, this) !=
            platform::MsgResult::Yes)
            return;
        OutputDevice d;
        d.Manufacturer = manufacturer;
        d.Model = model;
        fill(d);
        list_.push_back(d);
    }
    newEntry_ = false;
    SaveMonitorList();
    LoadMonitorList();
    setBrowsing(true);
}
