#pragma once
// CSetIpConf: the current player's network settings (address, mask, gateway,
// DNS, MAC shown, command-service port), read on opening and set on "OK".

#include "core/devices/device_dialog.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

class CIPAddressCtrl;
class QLineEdit;

namespace netparam {

// The 24-byte record of the set request and of the reply.
struct NetworkSettings {
    static constexpr int kSize = 24;
    std::array<uint8_t, 4> ip{192, 168, 1, 98};
    std::array<uint8_t, 4> mask{255, 255, 255, 0};
    std::array<uint8_t, 4> gateway{192, 168, 1, 1};
    std::array<uint8_t, 4> dns{192, 168, 1, 1};
    std::array<uint8_t, 6> mac{};
    uint16_t port = 2323;

    QByteArray pack() const;
    static std::optional<NetworkSettings> unpack(const QByteArray& bytes);
};

// What the operator typed: numbers as the edits hold them (the MAC and port
// edits may hold anything a number field takes).
struct FormValues {
    std::array<uint8_t, 4> ip{}, mask{}, gateway{}, dns{};
    std::array<int, 6> mac{};
    int port = 0;
};

// The outcome of the checks before anything is sent: a refusal (its text in
// both languages), or the go-ahead with whether the gateway question comes.
struct CheckResult {
    bool refused = false;
    QString english, chinese;
    bool askGateway = false;
};
CheckResult CheckForm(const FormValues& form);

}  // namespace netparam

class CSetIpConf : public CDeviceDialog {
public:
    static constexpr int kPortMax = 10000;

    explicit CSetIpConf(const QString& titlePrefix, QWidget* parent = nullptr);

    // Sends the query (after the defaults are shown).
    void OnInitDialog();
    void accept() override;  // "OK": check, confirm, send

    // Whether a reply has filled the fields (until then OK sends nothing).
    bool HasPlayerValues() const { return filled_; }
    netparam::FormValues Form() const;
    void SetForm(const netparam::NetworkSettings& settings);
    // The port edit, for tests that type into it.
    QLineEdit* PortEdit() const { return port_; }

private:
    platform::LRESULT OnReply(platform::WPARAM, platform::LPARAM lParam);

    CIPAddressCtrl* ip_ = nullptr;
    CIPAddressCtrl* mask_ = nullptr;
    CIPAddressCtrl* gateway_ = nullptr;
    CIPAddressCtrl* dns_ = nullptr;
    std::array<QLineEdit*, 6> mac_{};
    QLineEdit* port_ = nullptr;
    bool filled_ = false;
};
