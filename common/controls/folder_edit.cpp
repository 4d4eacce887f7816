#include "common/controls/folder_edit.h"

#include "platform/dialogs.h"

#include <QValidator>

namespace {

// Removes the forbidden characters from whatever reaches the box through
// typing, paste or drop; the rest of the edit goes through unchanged.
class NameValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override
    {
        int removedBeforeCaret = 0;
        for (int i = 0; i < input.size() && i < pos; ++i)
            if (CFolderEdit::IsForbidden(input[i]))
                ++removedBeforeCaret;
        const QString cleaned = CFolderEdit::StripForbidden(input);
        if (cleaned.size() != input.size()) {
            input = cleaned;
            pos = std::max(0, pos - removedBeforeCaret);
        }
        return Acceptable;
    }
};

}  // namespace

CFolderEdit::CFolderEdit(QWidget* parent) : QLineEdit(parent)
{
    setValidator(new NameValidator(this));
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
        // A whole path from the picker: its separators are not typed name
        // characters, so it is shown as chosen.
        const QValidator* names = validator();
        setValidator(nullptr);
        setText(chosen);
        setValidator(names);
    }
    return chosen;
}
