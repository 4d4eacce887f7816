#include "common/controls/folder_edit.h"

#include "platform/dialogs.h"




CFolderEdit::CFolderEdit(QWidget* parent) : QLineEdit(parent)
{
    // Only what the user adds is filtered (typing, paste, drop): a path set
    // by the program keeps its separators, and later edits leave them alone.
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) { lastText_ = text; });
    connect(this, &QLineEdit::textEdited, this, [this](const QString& edited) { filterInserted(edited); });
}

void CFolderEdit::filterInserted(const QString& edited)
{
    const QString& before = lastText_;
    qsizetype prefix = 0;
    while (prefix < edited.size() && prefix < before.size() && edited[prefix] == before[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < edited.size() - prefix && suffix < before.size() - prefix &&
           edited[edited.size() - 1 - suffix] == before[before.size() - 1 - suffix])
        ++suffix;
    const QString inserted = edited.mid(prefix, edited.size() - prefix - suffix);
    const QString cleaned = StripForbidden(inserted);
    if (cleaned.size() == inserted.size())
        return;
    const QString result = edited.left(prefix) + cleaned + edited.right(suffix);
    setText(result);
    setCursorPosition(int(prefix + cleaned.size()));
}

bool CFolderEdit::IsForbidden(QChar c)
{
    switch (c.unicode()) {
    case ':': case '/': case '\\': case '?': case '*': case '<': case '>': case '"': case '|':
        return true;
    default:
        return false;
    }
}

QString CFolderEdit::StripForbidden(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text)
        if (!IsForbidden(c))
            out.append(c);
    return out;
}

QString CFolderEdit::BrowseForFolder(const QString& caption, const QString& startFolder)
{
    platform::FileDialogCall call;
    call.kind = platform::FileDialogKind::Folder;
    call.caption = caption;
    call.folder = startFolder.isEmpty() ? text() : startFolder;
    const QString chosen = platform::fileDialog(call, this);
    if (!chosen.isEmpty()) {
        // A whole path from the picker is shown as chosen.
        setText(chosen);
    }
    return chosen;
}
