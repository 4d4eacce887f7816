#include "core/devices/device_dialog.h"

#include "common/controls/dialog_keys.h"
#include "platform/app_identity.h"
#include "platform/home.h"
#include "transport/records.h"

#include <QKeyEvent>

#include <memory>

CDeviceDialog::CDeviceDialog(const QString& titlePrefix, replies::Caption caption, QWidget* parent)
    : QDialog(parent), platform::MessageWindow(this), language_(platform::appLanguage()), titlePrefix_(titlePrefix)
{
    setWindowTitle(titlePrefix + Text(caption.english, caption.chinese));
}

QString CDeviceDialog::Text(const char* english, const char* chinese) const
{
    return platform::pickText(language_, english, chinese);
}

proto::PlayerPacketHeader CDeviceDialog::Header(uint8_t command, uint8_t subCode, uint16_t sequence, uint16_t param,
                                                uint16_t arg)
{
    proto::PlayerPacketHeader header;
    header.command = command;
    header.subCode = subCode;
    header.sequence = sequence;
    header.param = param;
    header.arg = arg;
    return header;
}

bool CDeviceDialog::SendToPlayer(const proto::PlayerPacketHeader& header, const QByteArray& payload,
                                 std::shared_ptr<const void> owner, const QString& source, bool freshLink)
{
    if (!platform::findWindow(platform::appTitle()))
        return false;
    auto request = std::make_unique<SendRequest>();
    if (!(owner ? request->SetPacketWithBody(header, payload, std::move(owner), source) : request->SetPacket(header, payload)))
        return false;
    request->freshLink = freshLink;
    return SendToMainWindow(request.release());
}

platform::MsgResult CDeviceDialog::Message(const char* english, const char* chinese, platform::MsgIcon icon,
                                           platform::MsgButtons buttons)
{
    return Message(Text(english, chinese), icon, buttons);
}

platform::MsgResult CDeviceDialog::Message(const QString& text, platform::MsgIcon icon, platform::MsgButtons buttons)
{
    return platform::messageBox(text, QString(), buttons, icon, this);
}

void CDeviceDialog::keyPressEvent(QKeyEvent* event)
{
    if (!controls::SwallowEnterEsc(event))
        QDialog::keyPressEvent(event);
}

QString ControlName(int id)
{
    return QString::number(id);
}
