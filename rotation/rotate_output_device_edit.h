#pragma once
// CRotateOutPutDeviceEdit ("Output Edit"): adds, changes and deletes display
// models of Monitor/monitors.json. Every stored change is written at once
// and read back, so the lists always show the file.

#include "platform/window.h"
#include "rotation/rotate_model.h"

#include <QDialog>

#include <array>
#include <vector>

class QComboBox;
class QLineEdit;
class QPushButton;

class CRotateOutPutDeviceEdit : public QDialog, public platform::MessageWindow {
    Q_OBJECT
public:
    static constexpr int kDialogId = 346;
    CRotateOutPutDeviceEdit(const QString& prefix, const QString& manufacturer, const QString& model,
                            QWidget* parent = nullptr);

    void LoadMonitorList();
    bool ParseMonitorList(const QByteArray& text);
    // False (after its message) when the file could not be written.
    bool SaveMonitorList();
    void ShowSelectedMonitor();

    void OnManufacturerChanged();
    void OnModelChanged();
    void OnNew();
    void OnDelete();
    void OnSave();

    const std::vector<rotation::OutputDevice>& monitors() const { return list_; }
    bool newEntryMode() const { return newEntry_; }
    QString preselectedManufacturer() const { return preManufacturer_; }
    QString preselectedModel() const { return preModel_; }

protected:
    // Enter closes the editor (its hidden default button), storing nothing.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString text(const char* english, const char* chinese) const;
    void fillManufacturers();
    void setBrowsing(bool browsing);
    void dimensionChanged(QLineEdit* edit);

    QString prefix_;
    QString preManufacturer_;
    QString preModel_;
    unsigned language_ = 9;
    bool newEntry_ = false;
    std::vector<rotation::OutputDevice> list_;
    std::vector<QString> manufacturers_;
    std::vector<QString> models_;
    QComboBox* manufacturerBox_ = nullptr;
    QComboBox* modelBox_ = nullptr;
    // Manufacturer, Model, ScreenWidth, ScreenHeight, BezelLeft, BezelRight, BezelTop, BezelBottom.
    std::array<QLineEdit*, 8> edits_{};
    QPushButton* newButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    QPushButton* saveButton_ = nullptr;
};
