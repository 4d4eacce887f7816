#pragma once
// The play-mode editors "Picture Play Control" and "Video Play Control":
// one implementation, two sides. On opening they read the player's catalogue
// of modes (and, for pictures, its picture types) and its configured modes;
// the operator adds modes from the catalogue, deletes them, edits their
// parameters in the property grid and uploads the whole list with Save.

#include "content/play_mode_model.h"
#include "content/video_store_model.h"
#include "platform/dialogs.h"
#include "platform/window.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <vector>

class PropertyGrid;
class PropertyItem;
class QComboBox;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class CPlayModeDialog : public QDialog, public platform::MessageWindow {
    Q_OBJECT
public:
    enum class Side { Picture, Video };

    // Control ids of the two sides (object names of the widgets).
    struct Ids {
        int grid, combo, add, del, tree;
    };
    static constexpr Ids kPictureIds{5301, 5302, 5303, 5304, 5305};
    static constexpr Ids kVideoIds{5605, 5601, 5602, 5603, 5604};
    static constexpr int kPictureLimit = 10;
    static constexpr int kVideoLimit = 2;
    static constexpr int kNameColumnWidth = 240;

    CPlayModeDialog(Side side, const QString& titlePrefix, const QString& workFolder, const QString& playerIp,
                    QWidget* parent = nullptr);
    ~CPlayModeDialog() override;

    // Sends the first request of the start-up chain.
    void OnInitDialog();

    void OnPlayReply(uint16_t operation, const QByteArray& payload);
    void OnAddMode();
    void OnDeleteMode();
    void OnSave();
    // Shows the mode that the tree item stands for (the root: none).
    void OnTreeSelect(QTreeWidgetItem* item);

    Side side() const { return side_; }
    int limit() const { return side_ == Side::Picture ? kPictureLimit : kVideoLimit; }
    QString documentPath() const;

    const std::vector<playmode::PlayMode>& effectCatalogue() const { return effectCatalogue_; }
    const std::vector<playmode::PlayMode>& playModes() const { return playModes_; }
    const QStringList& imageTypes() const { return imageTypes_; }

    PropertyGrid* grid() const { return grid_; }
    QComboBox* combo() const { return combo_; }
    QTreeWidget* tree() const { return tree_; }
    // The mode the grid shows and edits change (-1: none).
    int shownMode() const { return shownMode_; }

private:
    void SendPlayRequest(uint16_t operation);
    QTreeWidgetItem* FillModeTree();
    void SelectMode(QTreeWidgetItem* item);
    void ShowModeInGrid(int index);
    void OnPropertyChanged(PropertyItem* item, const QVariant& oldValue, const QVariant& newValue);
    void ReadCatalogue(const QByteArray& payload);
    void ReadConfigured(const QByteArray& payload);
    void Inform(store::Message message, platform::MsgIcon icon = platform::MsgIcon::None);
    QString Text(store::Message message) const;

    Side side_;
    unsigned language_;
    QString workFolder_;
    QString playerIp_;
    std::vector<playmode::PlayMode> effectCatalogue_;
    std::vector<playmode::PlayMode> playModes_;
    QStringList imageTypes_;
    int shownMode_ = -1;
    bool selecting_ = false;  // the dialog itself moves the tree's selection

    PropertyGrid* grid_ = nullptr;
    PropertyItem* settingGroup_ = nullptr;
    PropertyItem* picTypeGroup_ = nullptr;
    QComboBox* combo_ = nullptr;
    QTreeWidget* tree_ = nullptr;
    QPushButton* save_ = nullptr;
};

// "Picture Play Control" (at most 10 modes, picture types read).
class CPicturePlayControl : public CPlayModeDialog {
    Q_OBJECT
public:
    CPicturePlayControl(const QString& titlePrefix, const QString& workFolder, const QString& playerIp,
                        QWidget* parent = nullptr)
        : CPlayModeDialog(Side::Picture, titlePrefix, workFolder, playerIp, parent)
    {
    }
};

// "Video Play Control" (at most 2 modes, no picture types).
class CVideoPlayControl : public CPlayModeDialog {
    Q_OBJECT
public:
    CVideoPlayControl(const QString& titlePrefix, const QString& workFolder, const QString& playerIp,
                      QWidget* parent = nullptr)
        : CPlayModeDialog(Side::Video, titlePrefix, workFolder, playerIp, parent)
    {
    }
};
