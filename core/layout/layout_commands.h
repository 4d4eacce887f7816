#pragma once
// The layout commands of the main window: .GFD files, the window clipboard,
// closing and layering windows, zoom, cell grid and the layout lock, and the
// layout-list commands of the tree pane. Installed into the command table.

#include "core/layout/image_manage.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

class CvelunaDoc;

namespace layout {

// The clipboard format of one layout window.
inline constexpr char kClipFormat[] = "application/x-veluna-DEVODADIRIVUZI";
inline constexpr int kClipBlockSize = 33;

// One window on the clipboard. The block carries the window's data and,
// after its 33 bytes, the name's UTF-8 bytes (bytes 16..19 hold their
// count): nothing in it refers to memory of the program that wrote it.
struct WindowClip {
    LayoutRect rect;
    QString name;
    uint16_t screen = 0;
    uint16_t kind = 0;
    uint16_t number = 0;
    uint16_t selected = 0;
    uint8_t option1 = 0;
    uint8_t option2 = 1;
};

QByteArray PackWindowClip(const WindowClip& clip);
// False for a block that is too short, whose name count passes its end or
// 512 bytes, or whose name is no plain file name.
bool UnpackWindowClip(const QByteArray& block, WindowClip& clip);

// The clip of the selected window (a zero block, option2 1, for a window
// that is no picture window); false when nothing is selected.
bool ClipOfSelection(const CImageManage& model, WindowClip& clip);
// Places a clipped picture window at the top-left corner of its screen;
// false when the clip holds no picture window or nine windows exist.
bool PasteClip(CImageManage& model, const WindowClip& clip);

// The file commands (New, Open, Save, Save As).
void NewLayout(CvelunaDoc& doc);
void OpenLayout(CvelunaDoc& doc);
// Save without a path, and Save As, ask for one; false when cancelled or
// the file could not be written.
bool SaveLayoutFile(CvelunaDoc& doc, bool saveAs);

// The clipboard commands; cut and paste end as editing commands.
bool CopyWindow(CvelunaDoc& doc, bool cut);
bool PasteWindow(CvelunaDoc& doc);

// Del Layout (menu and the tree's Delete key): one layout is kept and the
// lock honoured; then the player is asked, after confirmation.
void DeleteSelectedLayout(CvelunaDoc& doc);

// Writes Grid.QVE of the player folder and sends it as configuration file 18.
bool PushGridSettings(CvelunaDoc& doc);
// Takes zoom, grids and lock from a fetched Grid.QVE (nothing changes when
// it is missing or no "Grid config").
bool ReadGridFile(CvelunaDoc& doc, const QString& path);

// Registers every layout command of the main window.
void InstallLayoutCommands();

}  // namespace layout
