#pragma once
// The program's binding of the main frame to the document: the frame's
// relays, timer duties and commands reach CvelunaDoc through it, and the
// document's status texts, title, wait box and scan dialog reach the frame.

#include "core/document.h"
#include "core/mainframe.h"

#include <QPointer>

class CSaveParamWait;

class CDocumentRelay : public FrameDocument {
public:
    CDocumentRelay(CMainFrame* frame, const QStringList& arguments);

    void SendToPlayers(const SendRequest& request) override { doc_.SendToPlayers(request); }
    void OnLinkEvent(const LinkEvent& event) override { doc_.OnLinkEvent(event); }
    void TickAutoConnect() override { doc_.TickAutoConnect(); }
    bool TickWaitBox() override { return doc_.TickWaitBox(); }
    void StepConfigExchange() override { doc_.StepConfigExchange(); }
    void ResetSequence() override { doc_.ResetSequence(); }
    void CloseAllLinks() override { doc_.CloseAllLinks(); }
    bool IsLayoutDirty() const override { return doc_.IsLayoutDirty(); }
    void SaveLayout() override { doc_.SaveLayout(); }
    void OnPlayerConnectionSettings() override { doc_.OnPlayerConnectionSettings(); }
    void OnReconnect() override { doc_.OnReconnect(); }
    void OnReboot() override { doc_.OnReboot(); }
    bool CanReconnect() const override { return doc_.CanReconnect(); }
    void OpenSetupEditor() override { doc_.OpenSetupEditor(); }
    void TickUploadPending() override { doc_.TickUploadPending(); }
    bool IsConnected() const override { return doc_.IsConnected(); }
    bool IsCommandEnabled(int id) const override;
    void OpenVideoPicWindow() override;
    std::optional<bool> IsCommandChecked(int id) const override;
    void OnCommand(int id) override;

    ~CDocumentRelay() override;
    CvelunaDoc& doc() { return doc_; }

private:
    QPointer<CMainFrame> frame_;
    QPointer<CSaveParamWait> waitBox_;
    CvelunaDoc doc_;
};

