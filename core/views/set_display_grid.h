#pragma once
// CSetDisplayGrid: "Grid Settings", the columns and rows of the cell grid of
// one screen view. The caller sets `columns` and `rows`, runs it, and on OK
// reads them back. Values outside 1..8 can be typed and are refused with
// their message on OK (the first error only).

#include <QDialog>
#include <QString>

#include <cstdint>

class CNumEdit;
class QKeyEvent;

namespace layout {
// The message for columns and rows typed, or empty when both are 1..8.
QString CheckDisplayGrid(int columns, int rows, unsigned language);
}

class CSetDisplayGrid : public QDialog {
    Q_OBJECT
public:
    static constexpr int kColumnsEdit = 2801, kRowsEdit = 2803;

    explicit CSetDisplayGrid(unsigned language, QWidget* parent = nullptr);

    uint8_t columns = 1;
    uint8_t rows = 1;

    void InitControls();
    // OK: true when both values were taken; otherwise the message was shown.
    bool TryAccept();
    CNumEdit* edit(int id) const;
    int exec() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    unsigned language_;
    CNumEdit* columnsEdit_ = nullptr;
    CNumEdit* rowsEdit_ = nullptr;
};
