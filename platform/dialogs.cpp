#include "platform/dialogs.h"

#include "platform/window.h"

#include <QApplication>
#include <QFileDialog>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>

#include <cstdio>

namespace platform {

namespace {

MessageBoxAnswerer& boxAnswerer()
{
    static MessageBoxAnswerer answerer;
    return answerer;
}

FileDialogAnswerer& fileAnswerer()
{
    static FileDialogAnswerer answerer;
    return answerer;
}

FileDialogMultiAnswerer& multiAnswerer()
{
    static FileDialogMultiAnswerer answerer;
    return answerer;
}

QString& captionStore()
{
    static QString caption;
    return caption;
}

// The answer of VELUNA_AUTO_ANSWER fitted to the buttons shown: "ok" and
// "yes" pick the affirmative button, "no" and "cancel" the negative one that
// the box has.
MsgResult fitAnswer(const QByteArray& word, MsgButtons buttons)
{
    const bool yesNo = buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel;
    const bool hasCancel = buttons != MsgButtons::Ok && buttons != MsgButtons::YesNo;
    if (word == "yes" || word == "ok")
        return yesNo ? MsgResult::Yes : MsgResult::Ok;
    if (word == "no")
        return yesNo ? MsgResult::No : (hasCancel ? MsgResult::Cancel : MsgResult::Ok);
    if (word == "cancel") {
        if (hasCancel)
            return MsgResult::Cancel;
        return yesNo ? MsgResult::No : MsgResult::Ok;
    }
    return yesNo ? MsgResult::Yes : MsgResult::Ok;
}

MsgResult negativeAnswer(MsgButtons buttons)
{
    switch (buttons) {
    case MsgButtons::Ok: return MsgResult::Ok;
    case MsgButtons::YesNo: return MsgResult::No;
    case MsgButtons::OkCancel:
    case MsgButtons::YesNoCancel: return MsgResult::Cancel;
    }
    return MsgResult::Cancel;
}

// Lives across a modal box or file dialog and, when it closes, gives the
// keyboard back to the window the operator was in. A window manager does
// that for the box's owner; without one the X server hands the focus to the
// root window (and the offscreen platform to nobody), Qt is left with no
// active window and no key reaches any control of the dialog underneath.
// Doing it here, for every box, makes both cases the same.
class KeyboardReturn {
public:
    explicit KeyboardReturn(QWidget* parent)
        : wasActive_(QApplication::activeWindow()), owner_(parent ? parent->window() : nullptr)
    {
    }
    KeyboardReturn(const KeyboardReturn&) = delete;
    KeyboardReturn& operator=(const KeyboardReturn&) = delete;
    ~KeyboardReturn()
    {
        // A modal window still open is the only one that may take keys; else
        // the window that had them, else the box's owner.
        QWidget* target = QApplication::activeModalWidget();
        if (!target)
            target = wasActive_ && wasActive_->isVisible() ? wasActive_.data() : owner_.data();
        // A box with no owner over no active window (the frame's own boxes
        // without a window manager): the program's main window.
        if (!target || !target->isVisible())
            target = mainWindow();
        if (target && target->isVisible() && QApplication::activeWindow() != target)
            target->activateWindow();  // its focus widget takes the keyboard again
    }

private:
    static QWidget* mainWindow()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && qobject_cast<QMainWindow*>(w))
                return w;
        return nullptr;
    }

    QPointer<QWidget> wasActive_;
    QPointer<QWidget> owner_;
};

}  // namespace

void setDefaultCaption(const QString& caption)
{
    captionStore() = caption;
}

QString defaultCaption()
{
    if (!captionStore().isEmpty())
        return captionStore();
    return QCoreApplication::applicationName();
}

void setMessageBoxAnswerer(MessageBoxAnswerer answerer)
{
    boxAnswerer() = std::move(answerer);
}

void setFileDialogMultiAnswerer(FileDialogMultiAnswerer answerer)
{
    multiAnswerer() = std::move(answerer);
}

void setFileDialogAnswerer(FileDialogAnswerer answerer)
{
    fileAnswerer() = std::move(answerer);
}

MsgResult messageBox(const QString& text, const QString& caption, MsgButtons buttons, MsgIcon icon, QWidget* parent)
{
    MessageBoxCall call{caption.isEmpty() ? defaultCaption() : caption, text, buttons, icon};
    if (!isUiThread()) {
        // A box can only be shown by the UI thread; a worker that gets here
        // is answered with the cautious choice and the text goes to stderr.
        std::fprintf(stderr, "MessageBox (not shown, worker thread): %s: %s\n", call.caption.toUtf8().constData(),
                     call.text.toUtf8().constData());
        std::fflush(stderr);
        return negativeAnswer(buttons);
    }
    if (boxAnswerer())
        return boxAnswerer()(call);

    const QByteArray autoAnswer = qgetenv("VELUNA_AUTO_ANSWER").trimmed().toLower();
    if (!autoAnswer.isEmpty()) {
        std::fprintf(stderr, "MessageBox: %s: %s\n", call.caption.toUtf8().constData(), call.text.toUtf8().constData());
        std::fflush(stderr);
        return fitAnswer(autoAnswer, buttons);
    }

    const KeyboardReturn keyboardReturn(parent);  // outlives the box
    QMessageBox box(parent);
    box.setWindowTitle(call.caption);
    box.setText(text);
    switch (icon) {
    case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
    case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
    }
    switch (buttons) {
    case MsgButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case MsgButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case MsgButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case MsgButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Yes: return MsgResult::Yes;
    case QMessageBox::No: return MsgResult::No;
    case QMessageBox::Cancel: return MsgResult::Cancel;
    default: return buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
    }
}

QString qtFilterFromMfc(const QString& mfcFilter)
{
    QStringList parts = mfcFilter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString name = parts[i];
        const QString patterns = parts[i + 1];
        if (name.isEmpty() && patterns.isEmpty())
            break;
        QString qtPatterns = patterns;
        qtPatterns.replace(';', ' ');
        out << QStringLiteral("%1 (%2)").arg(name, qtPatterns);
    }
    return out.join(QStringLiteral(";;"));
}

QString fileDialog(const FileDialogCall& call, QWidget* parent)
{
    if (!isUiThread())
        return QString();
    if (fileAnswerer())
        return fileAnswerer()(call);
    if (!qEnvironmentVariableIsEmpty("VELUNA_AUTO_ANSWER")) {
        std::fprintf(stderr, "FileDialog: %s\n", call.caption.toUtf8().constData());
        std::fflush(stderr);
        return QString();
    }
    const KeyboardReturn keyboardReturn(parent);
    const QString filter = qtFilterFromMfc(call.filter);
    QString start = call.folder;
    if (!call.fileName.isEmpty())
        start = call.folder.isEmpty() ? call.fileName : call.folder + "/" + call.fileName;
    switch (call.kind) {
    case FileDialogKind::Open:
        return QFileDialog::getOpenFileName(parent, call.caption, start, filter);
    case FileDialogKind::Save: {
        QFileDialog dialog(parent, call.caption, start, filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        if (!call.defaultSuffix.isEmpty())
            dialog.setDefaultSuffix(call.defaultSuffix);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().first();
    }
    case FileDialogKind::Folder:
        return QFileDialog::getExistingDirectory(parent, call.caption, call.folder);
    }
    return QString();
}

QStringList fileDialogMulti(const FileDialogCall& call, QWidget* parent)
{
    if (!isUiThread())
        return QStringList();
    if (multiAnswerer())
        return multiAnswerer()(call);
    if (fileAnswerer()) {
        const QString one = fileAnswerer()(call);
        return one.isEmpty() ? QStringList() : QStringList{one};
    }
    if (!qEnvironmentVariableIsEmpty("VELUNA_AUTO_ANSWER")) {
        std::fprintf(stderr, "FileDialog: %s\n", call.caption.toUtf8().constData());
        std::fflush(stderr);
        return QStringList();
    }
    const KeyboardReturn keyboardReturn(parent);
    return QFileDialog::getOpenFileNames(parent, call.caption, call.folder, qtFilterFromMfc(call.filter));
}

}  // namespace platform
