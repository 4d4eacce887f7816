#include "transport/link_loss.h"

#include "platform/home.h"
#include "transport/tcp_client.h"

#include <cerrno>

QString LinkLossText(uint16_t linkEvent, int error, unsigned language)
{
    auto t = [language](const char* english, const char* chinese) {
        return platform::pickText(language, english, chinese);
    };
    if (linkEvent == kLinkPeerClosed)
        return t("the player closed the connection", "播放器关闭了连接");
    if (error == ECONNRESET || error == EPIPE)
        return t("the player reset the connection", "播放器重置了连接");
    if (linkEvent == kLinkShortSend && error == ETIMEDOUT)
        return t("the player stopped taking data", "播放器不再接收数据");
    const QString lost = t("the connection to the player was lost", "与播放器的连接已断开");
    return error == 0 ? lost : lost + t(" (error %1)", "（错误 %1）").arg(error);
}

bool LinkLostToUnreadableFile(uint16_t linkEvent, int error)
{
    return linkEvent == kLinkShortSend && error == EFAULT;
}
