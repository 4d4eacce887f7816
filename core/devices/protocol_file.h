#pragma once
// CProtocolFile: sends the current player one file whole in one packet: the
// serial protocol configuration (sub-code 0), the jukebox protocol
// configuration (1) or a song-library data file (2).

#include "core/devices/device_dialog.h"

class QComboBox;

namespace protocolfile {
inline constexpr qint64 kMaxFileBytes = 8192000;  // 8,192,000, not 8 MiB
}

class CProtocolFile : public CDeviceDialog {
public:
    explicit CProtocolFile(const QString& titlePrefix, QWidget* parent = nullptr);
    void OnInitDialog() {}

    void OnSelectFile(int subCode);  // 3401, 3402, 3404: chooser, then send
    // The checks and the request; true when it was handed to the main window.
    bool SendFile(const QString& path, int subCode, int index);
    QComboBox* DataNames() const { return names_; }

private:
    QComboBox* names_ = nullptr;
};
