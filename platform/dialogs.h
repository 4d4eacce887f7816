#pragma once
// Message boxes and file/folder dialogs behind one hook, so that tests and
// headless runs can answer them. With VELUNA_AUTO_ANSWER=ok|yes|no|cancel
// every message box prints "MessageBox: <caption>: <text>" on stderr and
// returns that answer without showing anything.

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace platform {

enum class MsgIcon { None, Information, Question, Warning, Error };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgResult { Ok = 1, Cancel = 2, Yes = 6, No = 7 };

// AfxMessageBox / MessageBoxW. An empty caption means the application title
// (see setDefaultCaption). UI thread only: called on another thread nothing
// is shown, the text goes to stderr and the answer is the negative one
// (Cancel, No, or Ok for a box with Ok alone).
MsgResult messageBox(const QString& text, const QString& caption = QString(), MsgButtons buttons = MsgButtons::Ok,
                     MsgIcon icon = MsgIcon::None, QWidget* parent = nullptr);

// The caption used when a message box gives none (the application title).
void setDefaultCaption(const QString& caption);
QString defaultCaption();

struct MessageBoxCall {
    QString caption;
    QString text;
    MsgButtons buttons;
    MsgIcon icon;
};
using MessageBoxAnswerer = std::function<MsgResult(const MessageBoxCall&)>;
// Installs an answerer that replaces every message box (tests). An empty
// function restores the default (environment, then a real dialog).
void setMessageBoxAnswerer(MessageBoxAnswerer answerer);

enum class FileDialogKind { Open, Save, Folder };
struct FileDialogCall {
    FileDialogKind kind;
    QString caption;
    QString folder;        // start folder
    QString fileName;      // proposed file name (save)
    QString filter;        // MFC form: "Text(*.txt)|*.txt|All(*.*)|*.*||"
    QString defaultSuffix; // without the dot
};
// Returns the chosen path, or an empty string when the user cancelled.
using FileDialogAnswerer = std::function<QString(const FileDialogCall&)>;
void setFileDialogAnswerer(FileDialogAnswerer answerer);

// CFileDialog / folder picker. Empty result = cancelled (also on a thread
// other than the UI thread). With
// VELUNA_AUTO_ANSWER set and no answerer installed, prints
// "FileDialog: <caption>" on stderr and returns empty.
QString fileDialog(const FileDialogCall& call, QWidget* parent = nullptr);

// An open dialog with multiple selection (CFileDialog with
// OFN_ALLOWMULTISELECT): the chosen paths in the order given, empty when the
// user cancelled. Tests answer it with a multi answerer; when only a
// single-path answerer is installed, its one path (if any) is the answer.
using FileDialogMultiAnswerer = std::function<QStringList(const FileDialogCall&)>;
void setFileDialogMultiAnswerer(FileDialogMultiAnswerer answerer);
QStringList fileDialogMulti(const FileDialogCall& call, QWidget* parent = nullptr);

// Turns an MFC filter ("Name(*.a;*.b)|*.a;*.b|...||") into Qt's form
// ("Name(*.a;*.b) (*.a *.b);;...").
QString qtFilterFromMfc(const QString& mfcFilter);

}  // namespace platform
