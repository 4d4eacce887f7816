#pragma once
// CImageManage: the screen layout the operator edits and sends to a player.
// Up to nine picture windows on up to four screens, the cell grid of each
// screen to which dropped pictures snap, the picture being placed, and the
// picture library (Material/Image beside the program) shown sixteen at a
// time. Plain C++ over QImage; drawing is over a QPainter so tests draw into
// a QImage and the views draw on screen with the same code.
//
// Rectangles are `layout::LayoutRect`: right and bottom exclusive, as the
// layout files store them. Colours are COLORREF words (0x00BBGGRR).

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <vector>

class QPainter;

namespace layout {

inline constexpr int kMaxWindows = 9;
inline constexpr int kSlotCount = 16;
inline constexpr int kScreenCount = 4;
inline constexpr int kMaxCells = 64;
inline constexpr int kMinSide = 32;
inline constexpr int kModelWidth = 17280;  // nine outputs of 1920 side by side
inline constexpr int kModelHeight = 9720;  // nine outputs of 1080 stacked
inline constexpr uint16_t kPictureChannel = 3;
inline constexpr uint32_t kSlotFrameColor = 10517747;  // COLORREF 0x00A07CF3

struct LayoutRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;

    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
    bool isEmpty() const { return right <= left || bottom <= top; }
    bool contains(int32_t x, int32_t y) const { return x >= left && x < right && y >= top && y < bottom; }
    bool intersects(const LayoutRect& o) const
    {
        return !isEmpty() && !o.isEmpty() && left < o.right && o.left < right && top < o.bottom && o.top < bottom;
    }
    LayoutRect united(const LayoutRect& o) const;
    LayoutRect translated(int32_t dx, int32_t dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    bool operator==(const LayoutRect&) const = default;
};

// The colour a COLORREF word stands for.
uint32_t colorRefToRgb(uint32_t colorRef);

// Loads a PNG, BMP or JPEG picture. A 32-bit picture with alpha is
// premultiplied as the layout has always drawn it (each colour value x alpha
// / 255, integer division). Pure black is the transparent colour, so the
// returned image keys it out (alpha 0); every other pixel is opaque. False,
// with `image` null, when the file is missing or no picture.
bool LoadPictureFile(QImage& image, const QString& path);

// True for a plain file name: not empty, no '/' or '\\', not "." or "..",
// no drive prefix. Names from files and players become paths inside the
// picture folder only through this test.
bool IsPlainFileName(const QString& name);

// `folder`/`name`, matched case-insensitively when the exact name is not
// there (pictures made on a case-blind system); empty when none exists.
QString FindFileCaseInsensitive(const QString& folder, const QString& name);

// Stretches `picture`, then `twin`, into `rect`.
void DrawPicturePair(QPainter& painter, const QImage& picture, const QImage& twin, const LayoutRect& rect);

}  // namespace layout

struct PictureWindow {
    layout::LayoutRect rect;
    QImage picture;
    QImage twin;
    QString name;
    uint32_t frameColor = 0;
    uint16_t viewIndex = 0;
    uint16_t channel = layout::kPictureChannel;
    uint16_t index = 0;
    uint8_t wag = 0;
    uint8_t videoImageSync = 1;
    uint8_t selected = 0;

    bool hasImage() const { return !picture.isNull() || !twin.isNull(); }
};

struct LibrarySlot {
    QString name;
    QImage picture;
    QImage twin;
    uint32_t frameColor = 0;
};

struct LibraryEntry {
    QString folder;  // empty: directly in the picture folder
    QString file;
};

struct ScreenArea {
    layout::LayoutRect area;
    uint16_t columns = 1;
    uint16_t rows = 1;
};

struct CellGrid {
    layout::LayoutRect extent;
    std::array<layout::LayoutRect, layout::kMaxCells> cells{};
    uint16_t cellCount = 1;
};

// What reading a layout text found.
struct LayoutReadReport {
    bool loaded = false;        // the text was a layout and the windows were replaced
    int droppedWindows = 0;     // entries beyond the ninth, not read
    QStringList refusedNames;   // window names that were not plain file names (windows left out)
    QString error;              // why the text was not read (for logs and tests)

    // The message for the operator about what was left out; empty when
    // nothing was.
    QString leftOutMessage(unsigned language) const;
};

class CImageManage {
public:
    // Loads the library of `materialFolder`/Image and splits every screen 2 x 2.
    explicit CImageManage(const QString& materialFolder);
    CImageManage(const CImageManage&) = delete;
    CImageManage& operator=(const CImageManage&) = delete;

    // The one instance of the program (set by the document). Instance()
    // throws std::logic_error when none is set.
    static CImageManage& Instance();
    static CImageManage* InstanceOrNull();
    static void SetInstance(CImageManage* instance);

    QString materialFolder() const { return materialFolder_; }
    QString pictureFolder() const { return materialFolder_ + QStringLiteral("/Image"); }

    // ------------------------------------------------------------ library
    void LoadImageLibrary();
    bool LoadImagePage();
    void ShowNextPage();
    // The picture panel's other steps: back 16 (not below 0), first, last
    // (count - 16). They act only when the library holds more than 16.
    void ShowPreviousPage();
    void ShowFirstPage();
    void ShowLastPage();
    void FreePageImages();
    bool DrawLibrarySlot(QPainter& painter, int slot, const layout::LayoutRect& rect) const;
    const LibrarySlot& slot(int i) const { return slots_[std::size_t(i)]; }
    const std::vector<LibraryEntry>& library() const { return library_; }
    uint32_t pageStart() const { return pageStart_; }
    uint8_t libraryKind() const { return libraryKind_; }

    // ------------------------------------------------------------ windows
    bool AddPictureWindow(uint16_t view, uint16_t channel, int slot, const layout::LayoutRect& rect);
    bool RemovePictureWindow(uint16_t channel, int position);
    // Appends a copy of `w` (a pasted window) with its pictures loaded from
    // its name, and selects it alone; false when nine windows exist.
    bool AddWindowRecord(const PictureWindow& w);
    bool BringForward();
    bool SendBackward();
    bool FindSelected(uint16_t& channel, int& position) const;
    bool HasSelectionOnScreen(uint16_t view) const;
    bool GetSelectedRect(uint16_t view, layout::LayoutRect& out) const;
    bool GetSelectedRectAndColor(uint16_t view, layout::LayoutRect& out, uint32_t& frameColor) const;
    void SetSelectedRect(uint16_t view, const layout::LayoutRect& rect);
    void GetScreenRect(uint16_t view, layout::LayoutRect& out) const;
    void GetScreenGrid(uint16_t view, layout::LayoutRect& out, uint16_t& columns, uint16_t& rows) const;
    void SplitScreen(int screen, int columns, int rows);
    void ClearWindows();
    void ClearSelection();
    // Selects the window at `position` alone.
    void Select(int position);
    // Sets a screen's area (from the player's status) and splits it again
    // with its present columns and rows.
    void SetScreenArea(int screen, const layout::LayoutRect& area);

    // ------------------------------------------------------------ placing
    // The document's pick: starts placing the picture of library slot
    // `slot` on screen `view` as a 32 x 32 window at the origin.
    bool BeginPlacing(int slot, uint16_t view);
    bool DropDragPicture(uint16_t view, uint16_t& channel, uint16_t& index);
    void ClearDragPicture();
    bool placingActive() const { return placingActive_ != 0; }
    PictureWindow& placing() { return placing_; }
    const PictureWindow& placing() const { return placing_; }

    // ------------------------------------------------------------ drawing
    // Both draw screen-relative in model pixels; rectangles are kept inside
    // the screen (moved, not resized) and written back.
    void DrawWindows(QPainter& painter, uint16_t view);
    bool DrawDragPicture(QPainter& painter, uint16_t view);

    // ------------------------------------------------------------ files
    // Replaces the windows with those of a layout text; the model is
    // unchanged unless `loaded` is set in the report.
    LayoutReadReport LoadLayout(const QByteArray& text);
    // The layout document of the windows (what SaveLayout writes).
    std::string LayoutText() const;
    // Writes the windows to `path` (temporary file, then rename); false
    // with a message when it cannot.
    bool SaveLayout(const QString& path, QString* error = nullptr) const;

    // ------------------------------------------------------------ state
    int windowCount() const { return windowCount_; }
    PictureWindow& window(int i) { return windows_[std::size_t(i)]; }
    const PictureWindow& window(int i) const { return windows_[std::size_t(i)]; }
    const ScreenArea& screen(int s) const { return screens_[std::size_t(s)]; }
    const CellGrid& grid(int s) const { return grids_[std::size_t(s)]; }
    int32_t pickX = 0;
    int32_t pickY = 0;

    // The union of the cells of `view`'s grid that a screen-relative rect
    // touches, back in model space (empty when none).
    layout::LayoutRect SnapToCells(uint16_t view, const layout::LayoutRect& modelRect) const;

private:
    static void ResetRecord(PictureWindow& w, uint16_t channel);
    void LoadWindowPictures(PictureWindow& w) const;
    bool KeepInsideScreen(layout::LayoutRect& r, uint16_t view) const;

    QString materialFolder_;
    std::array<LibrarySlot, layout::kSlotCount> slots_{};
    std::vector<LibraryEntry> library_;
    uint32_t pageStart_ = 0;
    uint8_t libraryKind_ = 1;
    PictureWindow placing_;
    uint8_t placingActive_ = 0;
    std::array<PictureWindow, layout::kMaxWindows> windows_{};
    int windowCount_ = 0;
    std::array<CellGrid, layout::kScreenCount> grids_{};
    std::array<ScreenArea, layout::kScreenCount> screens_{};
};

// Reads a layout file whole: false when it cannot be opened or read, or
// when it is not a layout (then the model is unchanged); `report` says what
// was read and what was left out.
bool ReadWholeFile(const QString& path, CImageManage& model, LayoutReadReport* report = nullptr);

namespace layout {
// "Layout file is not standard. Please check it！" in the language.
QString NotStandardMessage(unsigned language);
}

namespace layout {
// Owns the program's model and is its CImageManage::Instance() while it
// lives (the document holds one).
class OwnedImageManage {
public:
    OwnedImageManage() = default;
    ~OwnedImageManage() { reset(); }
    OwnedImageManage(const OwnedImageManage&) = delete;
    OwnedImageManage& operator=(const OwnedImageManage&) = delete;
    void create(const QString& materialFolder);
    void reset();
    CImageManage* get() const { return model_; }

private:
    CImageManage* model_ = nullptr;
};
}  // namespace layout
