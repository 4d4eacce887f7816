#pragma once
// Drawing of the rotation editor: the canvas of one screen's wall and the
// two rows of channel slots. Free functions over a QPainter, so a test can
// draw into a QImage exactly what the dialog shows.

#include "rotation/rotate_model.h"

#include <QFont>
#include <QSize>

class QPainter;

namespace rotation {

// The label font: the face "宋体" at height 14, weight 600, with the CJK
// faces of this platform behind it.
QFont LabelFont();
// White canvas of `size`, the background (handles when selected, else a
// dashed outline) and each displayed output in slot order (frame black,
// picture red when selected, else green, channel number turned with it).
void DrawCanvas(QPainter& painter, const WallScreen& wall, QSize size);
// One row of nine slot cells: outline, separators, the monitor picture in
// each used cell.
void DrawSlotRow(QPainter& painter, const DeviceBlock& block, QSize size);
// The tooltip text of one used slot (language 4: Chinese).
QString SlotTooltip(const OutputDevice& device, unsigned language);

}  // namespace rotation
