#pragma once
// CQRCode: "QR Code", the QR code and message overlay of the player's two
// screens: on and off intervals, regular renewal, per screen whether the code
// and the messages show, the message size and the code's rectangle, dragged
// on a small map of the screen. Sent as Qrcode.Json with CMD_QRCODE.

#include "content/qr_model.h"
#include "core/layout/image_rect_tracker.h"
#include "platform/window.h"

#include <QDialog>
#include <QString>

#include <array>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPainter;
class QRadioButton;

class CQRCode : public QDialog, public platform::MessageWindow {
    Q_OBJECT
public:
    CQRCode(const QString& titlePrefix, const QString& folder, const std::array<uint8_t, 108>& outputBlock,
            QWidget* parent = nullptr);
    ~CQRCode() override;

    // Rows and columns, screen 1 selected, the read request sent.
    void OnInitDialog();
    // Apply button (also after a drag and the R key); false when a check
    // refused the form (message shown) or nothing could be written.
    bool OnApply();
    void OnRestoreDefaults();  // the R key
    void OnGetPicture();       // 4513
    void SelectScreen(int k);
    void OnReply(const QByteArray& text);

    // The map (group box 4501) and its mouse rules, in map coordinates.
    void MapPress(const QPoint& p);
    void MapMove(const QPoint& p);
    void MapRelease(const QPoint& p);
    void PaintMap(QPainter& painter) const;

    const qr::QrSettings& settings() const { return settings_; }
    int screen() const { return screen_; }
    QRect mapArea() const { return mapArea_; }
    qr::MapScale scale() const { return scale_; }
    bool selected() const { return selected_; }
    QLineEdit* edit(int id) const;
    QCheckBox* check(int id) const;
    QGroupBox* map() const { return map_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void reject() override;

private:
    QString T(qr::Msg m) const { return qr::Text(m, language_); }
    bool Send(uint16_t op, const QByteArray& payload);
    void ShowSettings();
    void NormaliseRect(int k);
    void UpdateTracker();

    int language_;
    QString folder_;
    qr::OutputLayout layout_;
    qr::QrSettings settings_;
    std::array<bool, 2> usable_{};
    int screen_ = 0;
    QRect mapArea_;
    qr::MapScale scale_;
    CImageRectTracker tracker_;
    bool selected_ = false;
    bool dragging_ = false;

    QGroupBox* map_ = nullptr;
    std::array<QRadioButton*, 2> radios_{};
    std::array<QLineEdit*, 4> edits_{};   // 4505..4508
    std::array<QCheckBox*, 5> checks_{};  // 4509..4512, 4514
};
