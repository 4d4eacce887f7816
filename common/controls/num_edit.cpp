#include "common/controls/num_edit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QValidator>

namespace {

// Catches what does not come through typing (paste, drag and drop), so the
// box never holds letters that its readers would take as 0.
class NumberValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        return CNumEdit::IsNumberText(input) ? Acceptable : Invalid;
    }
};

}  // namespace

CNumEdit::CNumEdit(QWidget* parent) : QLineEdit(parent)
{
    setValidator(new NumberValidator(this));
}

bool CNumEdit::IsNumberText(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^-?[0-9]*\\.?[0-9]*$"));
    return pattern.match(text).hasMatch();
}

bool CNumEdit::AcceptChar(QChar c, const QString& text, int selStart, int selLength, int cursor)
{
    const char16_t u = c.unicode();
    if ((u >= '0' && u <= '9') || u == 8 || u == 16)
        return true;
    if (u == '-') {
        if (text.isEmpty())
            return true;
        if (selLength > 0 && selStart == 0 && selLength >= text.size())
            return true;
        return selLength == 0 && cursor == 0 && !text.startsWith(QLatin1Char('-'));
    }
    if (u == '.')
        return text.isEmpty() || !text.contains(QLatin1Char('.'));
    return false;
}

QString CNumEdit::Normalize(const QString& text)
{
    if (text.isEmpty())
        return text;
    bool zerosOnly = true;
    for (QChar c : text)
        if (c != QLatin1Char('0'))
            zerosOnly = false;
    if (zerosOnly)
        return QStringLiteral("0");

    QString out = text;
    int lead = 0;
    while (lead < out.size() && out[lead] == QLatin1Char('0'))
        ++lead;
    out.remove(0, lead);
    if (out.contains(QLatin1Char('.'))) {
        while (out.endsWith(QLatin1Char('0')))
            out.chop(1);
    }
    if (out.endsWith(QLatin1Char('.')))
        out.chop(1);
    if (out.startsWith(QLatin1Char('.')))
        out.prepend(QLatin1Char('0'));
    // "0.0" and "000.000" strip down to nothing: they are zero.
    if (out.isEmpty())
        out = QStringLiteral("0");
    return out;
}

void CNumEdit::keyPressEvent(QKeyEvent* event)
{
    const QString typed = event->text();
    if (typed.size() == 1 && typed[0].isPrint()) {
        const int selStart = hasSelectedText() ? selectionStart() : cursorPosition();
        const int selLength = hasSelectedText() ? int(selectedText().size()) : 0;
        if (!AcceptChar(typed[0], text(), selStart, selLength, cursorPosition())) {
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void CNumEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    const QString tidy = Normalize(text());
    if (tidy != text()) {
        selectAll();
        insert(tidy);
    }
}
