#pragma once
// A row of buttons made once that shows whatever list it is given: the
// first buttons carry the list's labels at their cells, the rest are hidden.

#include <QRect>
#include <QStringList>

#include <functional>
#include <span>

class QPushButton;

namespace controls {

// Button j shows labels[j] at cell(j); a button past the list is hidden and
// keeps its text and place.
void ShowButtonRow(std::span<QPushButton* const> buttons, const QStringList& labels,
                   const std::function<QRect(int)>& cell);

}  // namespace controls
