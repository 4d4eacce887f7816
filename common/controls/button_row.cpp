#include "common/controls/button_row.h"

#include <QPushButton>

namespace controls {

void ShowButtonRow(std::span<QPushButton* const> buttons, const QStringList& labels,
                   const std::function<QRect(int)>& cell)
{
    for (std::size_t j = 0; j < buttons.size(); ++j) {
        QPushButton* b = buttons[j];
        const bool shown = j < std::size_t(labels.size());
        if (shown) {
            b->setText(labels[qsizetype(j)]);
            b->setGeometry(cell(int(j)));
        }
        b->setVisible(shown);
    }
}

}  // namespace controls
