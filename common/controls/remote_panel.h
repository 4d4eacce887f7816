#pragma once
// The panel of the remote-control pages of both programs (veluna's "Video
// Control" window and each player's page of Tollivar's): groups of type,
// video and layout buttons, the "Video" check on the video group's frame,
// and the mode group with its two rows of buttons, the volume, the time, the
// progress bar and the video's name. The pages make and label the widgets;
// where they lie in a page of any size is decided here alone.

#include <QRect>

#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSlider;

namespace remote {

// Where the controls of a remote-control window of client size cx x cy go.
// The four groups, and the "Video" check box on the video group's frame, in
// window coordinates; the rest inside the mode group: the five mode buttons
// in the first row with the volume slider and its label on their right, the
// second row's `secondRowButtons` buttons, then the time text, the progress
// bar and below it the name text. The mode group's rows lie below the
// first `modeTitle` pixels of it (its title, in a page's font).
struct PanelGeometry {
    QRect type, video, layout, mode, videoCheck;
    std::vector<QRect> modes;   // five
    std::vector<QRect> second;  // secondRowButtons
    QRect volume, volumeLabel, time, bar, name;
};
PanelGeometry PanelLayout(int cx, int cy, int secondRowButtons, int modeTitle = 0);

// Cell `index` of a grid of `perRow` buttons per row inside `group`: with
// u = width / uDivisor and v = height / vDivisor, column c spans
// (3c+1)u..(3c+3)u and row r spans (3r+1)v..(3r+3)v from the group's corner.
QRect GridCell(const QRect& group, int index, int perRow, int uDivisor, int vDivisor);
// Layout button `index`: the grid's columns (u = width / 31), one row from
// 1/16 to 9/16 of the group's height.
QRect LayoutCell(const QRect& group, int index);

}  // namespace remote

namespace controls {

// The cells of one grid of list buttons: GridCell's rule, or LayoutCell's
// single row when `vDivisor` is 0.
struct ButtonGrid {
    int perRow = 10;
    int uDivisor = 31;
    int vDivisor = 0;
    QRect cell(const QRect& group, int index) const;
};

struct RemotePanel {
    QGroupBox* typeGroup = nullptr;
    QGroupBox* videoGroup = nullptr;
    QGroupBox* layoutGroup = nullptr;
    QGroupBox* modeGroup = nullptr;
    QCheckBox* videoCheck = nullptr;
    std::vector<QPushButton*> typeButtons;
    std::vector<QPushButton*> videoButtons;
    std::vector<QPushButton*> layoutButtons;
    std::vector<QPushButton*> firstRow;   // the mode group's five
    std::vector<QPushButton*> secondRow;  // below them
    QSlider* volume = nullptr;
    QLabel* volumeLabel = nullptr;
    QLabel* time = nullptr;
    QProgressBar* bar = nullptr;
    QLabel* name = nullptr;
    ButtonGrid typeGrid, videoGrid, layoutGrid;

    // Where video button `j` shows, in its group.
    QRect videoCell(int j) const;
    // Lays every widget out for a page of width x height.
    void place(int width, int height) const;
};

}  // namespace controls
