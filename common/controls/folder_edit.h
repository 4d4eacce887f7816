#pragma once
// CFolderEdit: an edit box for a file or folder name. The characters that
// no name may hold (: / \ ? * < > " |) are refused as they are typed or
// pasted. BrowseForFolder fills it from the folder picker.

#include <QLineEdit>
#include <QString>

class CFolderEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit CFolderEdit(QWidget* parent = nullptr);

    static bool IsForbidden(QChar c);
    // `text` without the forbidden characters.
    static QString StripForbidden(const QString& text);

    // Lets the user pick a folder (through the application's file dialog)
    // and shows the chosen path; returns it, or an empty string when the
    // user cancelled (the text is then left as it was).
    QString BrowseForFolder(const QString& caption, const QString& startFolder = QString());

private:
    void filterInserted(const QString& edited);
    QString lastText_;
};
