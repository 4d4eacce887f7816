#pragma once
// CvelunaDoc: the single document of veluna. It owns the nine player links,
// the current player, the reply assembler and the sequence number, and the
// state of the running transfers.

#include "platform/window.h"
#include "transport/records.h"
#include "transport/tcp_client.h"

#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>

class CvelunaDoc {
public:
    // `frame` is the main window: owner of the links' events. `arguments`
    // are the command-line arguments after the program name.
    CvelunaDoc(platform::MessageWindow* frame, const QStringList& arguments);
    virtual ~CvelunaDoc();
    CvelunaDoc(const CvelunaDoc&) = delete;
    CvelunaDoc& operator=(const CvelunaDoc&) = delete;

    // Relays of the main frame.
    void SendToPlayers(const SendRequest& request);
    void OnLinkEvent(const LinkEvent& event);

    // Timer 1 duties of the main frame, called in this order every second.
    void TickAutoConnect();
    // True once, on the tick that closes the wait box (the frame then posts
    // WM_OPEN_SETUP_EDITOR).
    bool TickWaitBox();
    void StepConfigExchange();

    // Closing sequence of the main frame.
    void ResetSequence();
    void CloseAllLinks();
    bool IsLayoutDirty() const;
    void SaveLayout();

    // Connection commands.
    void OnPlayerConnectionSettings();
    void OnReconnect();
    void OnReboot();
    bool CanReconnect() const;
    bool IsConnected() const;

    // Where the document writes status-bar pane texts (pane id, text).
    std::function<void(int, const QString&)> setStatusPaneText;
    // Where the document writes the window title when it changes.
    std::function<void(const QString&)> setWindowTitle;
};
