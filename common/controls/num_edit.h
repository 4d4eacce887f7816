#pragma once
// CNumEdit: an edit box for decimal numbers. Typing lets through digits, one
// leading minus and one decimal point; losing the focus tidies the number
// (007.500 -> 7.5, .5 -> 0.5, 5. -> 5, 000 -> 0).

#include <QLineEdit>
#include <QString>

class CNumEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit CNumEdit(QWidget* parent = nullptr);

    // Whether character `c` typed into `text` (selection [selStart,
    // selStart+selLength), caret at `cursor`) is let through.
    static bool AcceptChar(QChar c, const QString& text, int selStart, int selLength, int cursor);
    // The tidied form of a number's text.
    static QString Normalize(const QString& text);
    // Whether pasted or set text can stand in the box at all.
    static bool IsNumberText(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};
