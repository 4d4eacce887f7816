#pragma once
// CQueryProductInformation: the player's product information text.
// CQueryUsartCommand: the bytes the player received on its serial port,
// polled every two seconds and shown as hexadecimal lines.

#include "core/devices/device_dialog.h"

#include <cstdint>

class QPlainTextEdit;

class CQueryProductInformation : public CDeviceDialog {
public:
    explicit CQueryProductInformation(const QString& titlePrefix, QWidget* parent = nullptr);
    void OnInitDialog();  // asks at once
    void OnGetInformation();  // IDOK "Get Information": asks again, stays open
    void accept() override { OnGetInformation(); }
    QString InformationText() const;

private:
    QPlainTextEdit* text_ = nullptr;
};

namespace usart {
// "%02x " for each byte.
QString HexLine(const uint8_t* data, std::size_t count);
}

class CQueryUsartCommand : public CDeviceDialog {
public:
    static constexpr unsigned kTimerPoll = 7;
    static constexpr int kPollMs = 2000;
    // The monitor keeps the newest lines; older ones scroll away for good.
    static constexpr int kMaxLines = 2000;

    explicit CQueryUsartCommand(const QString& titlePrefix, QWidget* parent = nullptr);
    ~CQueryUsartCommand() override;
    void OnInitDialog();  // starts the polling
    void reject() override;
    void onTimer(unsigned id) override;
    QString MonitorText() const;
    QPlainTextEdit* Monitor() const { return text_; }

private:
    QPlainTextEdit* text_ = nullptr;
};
