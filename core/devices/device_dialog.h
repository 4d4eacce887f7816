#pragma once
#include <memory>
// The common ground of the small device dialogs: a modal dialog found by its
// caption (the document's prefix + its own caption in the current language),
// that swallows Enter and Esc so that it closes only through its buttons, and
// that hands its requests for the current player to the main window.

#include "core/reply_handlers.h"
#include "platform/dialogs.h"
#include "platform/window.h"
#include "transport/protocol.h"

#include <QByteArray>
#include <QDialog>
#include <QString>

class CDeviceDialog : public QDialog, public platform::MessageWindow {
public:
    CDeviceDialog(const QString& titlePrefix, replies::Caption caption, QWidget* parent = nullptr);

    unsigned Language() const { return language_; }
    QString Text(const char* english, const char* chinese) const;

    // A request header with the given fields (sequence and parameters as the
    // dialog's Part gives them).
    static proto::PlayerPacketHeader Header(uint8_t command, uint8_t subCode = 0, uint16_t sequence = 0,
                                            uint16_t param = 0, uint16_t arg = 0);
    // Hands one packet for the current player to the main window found by
    // the application title; false when it is missing or the packet too big.
    // `owner` keeps a payload that is a shared file chunk of `source`:
    // sent as the packet's body, never copied. `freshLink`: on a new
    // connection (SendRequest::freshLink).
    static bool SendToPlayer(const proto::PlayerPacketHeader& header, const QByteArray& payload = QByteArray(),
                             std::shared_ptr<const void> owner = nullptr, const QString& source = QString(),
                             bool freshLink = false);

    platform::MsgResult Message(const char* english, const char* chinese, platform::MsgIcon icon,
                                platform::MsgButtons buttons = platform::MsgButtons::Ok);
    platform::MsgResult Message(const QString& text, platform::MsgIcon icon,
                                platform::MsgButtons buttons = platform::MsgButtons::Ok);

protected:
    void keyPressEvent(QKeyEvent* event) override;

    unsigned language_ = 9;
    QString titlePrefix_;
};

// Object names of the control ids, as tests find them.
QString ControlName(int id);
