#include "companion/slow_reply_notice.h"

#include "platform/dialogs.h"
#include "platform/home.h"

namespace tollivar {

QString SlowReplyNotice::Text(unsigned language, const QString& ip)
{
    return platform::pickText(language, "The reply of player %1 came too slowly and was dropped.",
                              "播放器 %1 的回复太慢，已丢弃。")
        .arg(ip);
}

void SlowReplyNotice::Dropped(const QString& ip, unsigned language, QWidget* parent)
{
    ++drops_[ip];
    // Marked before the box is shown: a drop that arrives while it is open
    // (its event loop runs the page's timers and the links) says nothing more.
    if (named_.contains(ip))
        return;
    named_.insert(ip);
    platform::messageBox(Text(language, ip), QString(), platform::MsgButtons::Ok, platform::MsgIcon::Warning, parent);
}

void SlowReplyNotice::Answered(const QString& ip)
{
    named_.remove(ip);
}

void SlowReplyNotice::AnsweredAll()
{
    named_.clear();
}

int SlowReplyNotice::Drops(const QString& ip) const
{
    const auto it = drops_.find(ip);
    return it != drops_.end() ? it->second : 0;
}

}  // namespace tollivar
