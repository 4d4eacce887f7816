#include "common/controls/remote_panel.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

#include <algorithm>

namespace remote {

PanelGeometry PanelLayout(int cx, int cy, int secondRowButtons, int modeTitle)
{
    PanelGeometry g;
    const int f = cy / 5;
    const int gy = 9 * (4 * f / 10);
    auto span = [](int l, int t, int r, int b) { return QRect(l, t, std::max(0, r - l), std::max(0, b - t)); };
    g.type = span(10, 10, cx - 20, 2 * f);
    g.video = span(10, 2 * f + 10, cx - 20, gy);
    g.layout = span(10, gy + 10, cx - 20, 4 * f);
    g.mode = span(10, 4 * f + 10, cx - 20, cy - 10);
    g.videoCheck = QRect(g.video.x() + 20, g.video.y() - 8, 100, 30);

    const int u = g.type.width() / 31;
    // The rows share what the mode group's title leaves, so the first one
    // never covers the title or the frame's top edge.
    const int top = std::clamp(modeTitle, 0, g.mode.height());
    const int h = g.mode.height() - top;
    const int row1 = top + h / 8, rowH = std::max(h * 2 / 8, 24), row2 = top + h * 5 / 8 - h / 16;
    for (int i = 0; i < 5; ++i)
        g.modes.push_back(QRect((3 * i + 1) * u, row1, 2 * u, rowH));
    for (int i = 0; i < secondRowButtons; ++i)
        g.second.push_back(QRect((3 * i + 1) * u, row2, 2 * u, rowH));
    const int right = g.mode.width() - u;
    const int timeLeft = (3 * secondRowButtons + 1) * u;
    const int barLeft = timeLeft + 3 * u;
    g.volume = QRect(16 * u, row1 + rowH / 4, std::max(0, right - 16 * u - 80), rowH / 2);
    g.volumeLabel = QRect(right - 70, row1, 70, rowH);
    g.time = QRect(timeLeft, row2, 3 * u, rowH / 2);
    g.bar = QRect(barLeft, row2 + rowH / 4 - 5, std::max(0, right - barLeft), 10);
    g.name = QRect(barLeft, row2 + rowH / 4 + 8, std::max(0, right - barLeft), rowH / 2);
    return g;
}

QRect GridCell(const QRect& group, int index, int perRow, int uDivisor, int vDivisor)
{
    const int u = group.width() / uDivisor;
    const int v = group.height() / vDivisor;
    const int c = index % perRow;
    const int r = index / perRow;
    return QRect(QPoint(group.left() + (3 * c + 1) * u, group.top() + (3 * r + 1) * v),
                 QPoint(group.left() + (3 * c + 3) * u - 1, group.top() + (3 * r + 3) * v - 1));
}

QRect LayoutCell(const QRect& group, int index)
{
    const int u = group.width() / 31;
    return QRect(QPoint(group.left() + (3 * index + 1) * u, group.top() + group.height() / 16),
                 QPoint(group.left() + (3 * index + 3) * u - 1, group.top() + group.height() * 9 / 16 - 1));
}

}  // namespace remote

namespace controls {

QRect ButtonGrid::cell(const QRect& group, int index) const
{
    return vDivisor > 0 ? remote::GridCell(group, index, perRow, uDivisor, vDivisor) : remote::LayoutCell(group, index);
}

QRect RemotePanel::videoCell(int j) const
{
    return videoGrid.cell(videoGroup->contentsRect(), j);
}

void RemotePanel::place(int width, int height) const
{
    const remote::PanelGeometry g =
        remote::PanelLayout(width, height, int(secondRow.size()), modeGroup->contentsRect().top());
    typeGroup->setGeometry(g.type);
    videoGroup->setGeometry(g.video);
    layoutGroup->setGeometry(g.layout);
    modeGroup->setGeometry(g.mode);
    videoCheck->setGeometry(g.videoCheck);
    videoCheck->raise();

    // Inside each group's frame, below its title, so no button covers it.
    const QRect typeRect = typeGroup->contentsRect();
    for (std::size_t i = 0; i < typeButtons.size(); ++i)
        typeButtons[i]->setGeometry(typeGrid.cell(typeRect, int(i)));
    const QRect layoutRect = layoutGroup->contentsRect();
    for (std::size_t i = 0; i < layoutButtons.size(); ++i)
        layoutButtons[i]->setGeometry(layoutGrid.cell(layoutRect, int(i)));
    for (std::size_t j = 0; j < videoButtons.size(); ++j)
        videoButtons[j]->setGeometry(videoCell(int(j)));

    for (std::size_t i = 0; i < firstRow.size() && i < g.modes.size(); ++i)
        firstRow[i]->setGeometry(g.modes[i]);
    for (std::size_t i = 0; i < secondRow.size(); ++i)
        secondRow[i]->setGeometry(g.second[i]);
    volume->setGeometry(g.volume);
    volumeLabel->setGeometry(g.volumeLabel);
    time->setGeometry(g.time);
    bar->setGeometry(g.bar);
    name->setGeometry(g.name);
}

}  // namespace controls
