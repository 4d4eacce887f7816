#pragma once
// The notice that a player's reply came too slowly and was dropped, and the
// rule of when it is said. A page repeats a request that went unanswered,
// and each repeat may be dropped again: the operator hears of a player once,
// and again only after that player has answered in time. Pages that talk to
// several players in turn keep the rule for each player apart.

#include <QSet>
#include <QString>

#include <map>

class QWidget;

namespace tollivar {

class SlowReplyNotice {
public:
    // A reply of the player at `ip` was dropped (WM_REPLY_TOO_SLOW): the
    // notice is shown over `parent` unless that player was named since it
    // last answered in time.
    void Dropped(const QString& ip, unsigned language, QWidget* parent);
    // The player at `ip` answered in time: its next drop is told again.
    void Answered(const QString& ip);
    // Every player answered in time (a window that talks to one player only).
    void AnsweredAll();
    // Replies of `ip` dropped since the page opened.
    int Drops(const QString& ip) const;

private:
    static QString Text(unsigned language, const QString& ip);

    std::map<QString, int> drops_;
    QSet<QString> named_;
};

}  // namespace tollivar
