#pragma once
// CvelunaApp: start-up rules of veluna. Decides the window title by which
// every dialog and link finds the main window, the language code every
// dialog reads, refuses scaled or too small displays and a second instance
// with the same title, and creates the main frame maximised.

#include "common/app_title.h"

#include <QByteArray>
#include <QLockFile>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class CMainFrame;
class FrameDocument;

// The application name: the program's name followed by the version.
QString ApplicationName();
// The title of this start: application name, then Templates/Co.txt beside
// the program.
QString BuildTitle();

enum class DisplayCheck { Ok, ScaleTooHigh, TooSmall };
inline constexpr int kMinScreenWidth = 1366;
inline constexpr int kMinScreenHeight = 768;
inline constexpr double kMaxDpi = 96.0;
// The display rules: no scaling above 96 dpi, at least 1366 x 768 pixels.
DisplayCheck CheckDisplay(int width, int height, double dpiX, double dpiY);
// The refusal message of a failed check in `language`; empty for Ok.
QString DisplayRefusalText(DisplayCheck check, unsigned language);

class CvelunaApp {
public:
    // Creates the document for the frame; returns null when none can be made.
    using DocumentFactory = std::function<std::unique_ptr<FrameDocument>(CMainFrame* frame)>;

    CvelunaApp();
    ~CvelunaApp();
    CvelunaApp(const CvelunaApp&) = delete;
    CvelunaApp& operator=(const CvelunaApp&) = delete;

    // The start-up steps in order; false ends the program (the reason has
    // been shown in a message box).
    bool InitInstance(const DocumentFactory& makeDocument);
    // Releases what start-up took (document, frame, instance lock).
    int ExitInstance();

    QString title() const { return title_; }
    unsigned language() const { return language_; }
    CMainFrame* frame() const { return frame_.get(); }
    FrameDocument* document() const { return document_.get(); }

private:
    bool TakeInstanceLock();

    QString title_;
    unsigned language_ = 0;
    std::unique_ptr<QLockFile> instanceLock_;
    std::unique_ptr<CMainFrame> frame_;
    std::unique_ptr<FrameDocument> document_;
};
