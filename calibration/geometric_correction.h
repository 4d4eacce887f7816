#pragma once
// The grid-warp model behind the geometric warp page: per output a reference
// grid (where the output's pixels are) and a corrected grid (where the user
// dragged them), their selection and key/mouse edits with the move checks
// that keep a grid from folding, the custom edge shapes of the two screens,
// the grid and shape files, the per-pixel map and the payloads for the player.
//
// The model is plain C++ used from the user-interface thread only. Key input
// comes as the model's own key codes (GeoKey); the page maps Qt keys to them.

#include "calibration/channel_map.h"
#include "common/file_commit.h"
#include "core/output_config.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class QPainter;

namespace calib {

// Key codes the model understands (the values of the player tool's keys).
enum GeoKey : int {
    kKeyBackspace = 8,
    kKeyShift = 16,
    kKeyCtrl = 17,
    kKeyHome = 36,
    kKeyLeft = 37,
    kKeyUp = 38,
    kKeyRight = 39,
    kKeyDown = 40,
    kKeyH = 72,
    kKeyPadPlus = 107,
    kKeyPadMinus = 109,
    kKeyPlus = 187,   // '=' / '+'
    kKeyComma = 188,
    kKeyMinus = 189,
    kKeyPeriod = 190,
};

// Mouse key flags.
inline constexpr unsigned kMouseShift = 4;
inline constexpr unsigned kMouseCtrl = 8;

struct WindowPoint {
    int x = 0;
    int y = 0;
};

struct CanvasRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

// One custom edge shape: four edges of points (top and bottom 1,920, left and
// right the first 1,080), point k of edge e at index 4k + e.
struct CustomShape {
    static constexpr int kGroups = 1920;
    static constexpr int kEdgeTop = 0, kEdgeBottom = 1, kEdgeLeft = 2, kEdgeRight = 3;
    CustomShape() : points(std::size_t(kGroups) * 4) {}
    grid::GridPoint& edge(int e, int k) { return points[std::size_t(k) * 4 + std::size_t(e)]; }
    const grid::GridPoint& edge(int e, int k) const { return points[std::size_t(k) * 4 + std::size_t(e)]; }

    std::vector<grid::GridPoint> points;
    uint16_t spacing = 2;
    uint16_t width = 0;   // at most 1,920
    uint16_t height = 0;  // at most 1,080
    double xScale = 1.0;
    double yScale = 1.0;
    uint8_t flag = 0;
};

struct ShapeSet {
    static constexpr int kShapes = 30;
    std::array<CustomShape, kShapes> shapes;
    uint16_t current = 0;
};

// A payload as the page sends it: its kind and its bytes (the length).
struct GridPayload {
    uint16_t kind = 0;
    QByteArray bytes;
};

// Outcome of reading a grid or shape file.
enum class FileLoad { Loaded, Missing, Refused };

class CGeometricCorrection {
public:
    static constexpr int kOutputs = 9;
    static constexpr int kSets = 2;

    CGeometricCorrection();
    virtual ~CGeometricCorrection();
    CGeometricCorrection(const CGeometricCorrection&) = delete;
    CGeometricCorrection& operator=(const CGeometricCorrection&) = delete;

    // --- set-up by the page ---
    QString baseFolder;  // holds the config folder; ends with a separator
    CanvasRect canvas;
    grid::OutputConfig config;
    bool newShapeFormat = false;
    double rotatedXScale = 1.0, rotatedYScale = 1.0;
    int step = 1;  // key step in output pixels, held within 1..10

    // --- grids ---
    void ResetGrids(uint16_t layoutCode);
    void ResetShapes();
    void ActivateReferencePoints();
    void ActivateCorrectedPoints();
    void ActivateShapePoints();
    void InterpolateGrid();
    static grid::GridPoint MapReferencePoint(const Quad& reference, const Quad& corrected, int32_t x, int32_t y);
    void RefreshViewGrid();

    // --- selection and input ---
    void ClearSelection();
    void ClearShapeSelection();
    int CountSelected() const;
    void SelectFirstActive();
    void CycleSelection();
    bool OnButtonDown(unsigned keyFlags, WindowPoint p);
    bool OnMouseMove(unsigned keyFlags, WindowPoint p);
    bool OnButtonUp(unsigned keyFlags, WindowPoint p);
    bool OnKey(int key, bool pressed);

    // --- move checks ---
    bool HitTestCell(grid::GridPoint point, grid::GridPoint target) const;
    bool CanStepLeft() const;
    bool CanStepRight() const;
    bool CanStepUp() const;
    bool CanStepDown() const;
    bool CanDragSelection(int dx, int dy) const;
    void MoveSelectionRect(int dx, int dy);
    void SyncSelectionRect();

    // --- shapes ---
    void LoadShape(int set, int index);
    void StoreShape(int set, int index);
    void InterpolateShape();

    // --- files (config folder under baseFolder) ---
    FileLoad LoadJunctionPoints();
    bool SaveJunctionPoints(filecommit::WriteFailure* failure = nullptr) const;
    FileLoad LoadCustomShapes();
    bool SaveCustomShapes(filecommit::WriteFailure* failure = nullptr) const;
    // The same rules over bytes already read (also what the fuzz targets use).
    FileLoad ApplyJunctionBytes(const QByteArray& bytes);
    FileLoad ApplyShapeBytes(const QByteArray& bytes);
    QByteArray JunctionBytes() const;
    QByteArray ShapeBytes() const;
    // Remembers what the grids and the shapes hold now (as read, or as reset
    // when their file could not be read). The wizard writes a file back only
    // when what it holds has changed since: a player's file is never
    // replaced by defaults or by a rewrite the user did not ask for.
    void MarkFilesUnedited();
    bool JunctionEdited() const { return JunctionBytes() != junctionAsRead_; }
    bool ShapesEdited() const { return ShapeBytes() != shapesAsRead_; }
    // The file the shapes are read from and written to (4 or 7).
    uint8_t shapeFile() const;

    // --- per-pixel map and payloads ---
    // False (table all -1) for a grid folded beyond any sound use.
    bool BuildChannelMap(int output);
    const ChannelMap& channelMap() const { return *channelMap_; }
    GridPayload BuildPointPayload() const;
    GridPayload BuildCorrectedPayload() const;
    GridPayload BuildShapePayload() const;
    bool BuildOutputRectPayload(uint8_t* out) const;  // 108 bytes

    // --- drawing ---
    void Draw(QPainter& painter) const;
    QString SizeLabel() const;

    // --- state the page and the tests read ---
    grid::WarpGrid& reference(int output) { return *reference_[std::size_t(output)]; }
    grid::WarpGrid& corrected(int output) { return *corrected_[std::size_t(output)]; }
    const grid::WarpGrid& reference(int output) const { return *reference_[std::size_t(output)]; }
    const grid::WarpGrid& corrected(int output) const { return *corrected_[std::size_t(output)]; }
    const grid::WarpGrid& viewGrid() const { return view_; }
    grid::PixelMap& shapeCanvas() { return *canvas_; }
    const grid::PixelMap& shapeCanvas() const { return *canvas_; }
    ShapeSet& shapeSet(int set) { return sets_[std::size_t(set)]; }
    const ShapeSet& shapeSet(int set) const { return sets_[std::size_t(set)]; }
    uint16_t currentOutput = 0;
    uint16_t currentSet = 0;
    bool shapeMode = false;
    std::array<uint16_t, kOutputs> rotation{};
    std::array<double, kOutputs> xScale{};
    std::array<double, kOutputs> yScale{};
    double shapeXScale = 1.0, shapeYScale = 1.0;
    bool shiftHeld() const { return shift_; }
    bool rectangleActive() const { return rectActive_; }
    CanvasRect selectionRect() const { return selRect_; }
    uint16_t cycleState() const { return cycleState_; }
    bool cycleArmed() const { return cycleArmed_; }

private:
    struct Cell {
        Quad reference;
        Quad corrected;
    };
    struct Neighbours {
        const grid::GridPoint* left = nullptr;
        const grid::GridPoint* up = nullptr;
        const grid::GridPoint* right = nullptr;
        const grid::GridPoint* down = nullptr;
    };

    const grid::OutputEntry& entry() const { return config.outputs[currentOutput]; }
    int columns() const;
    int rows() const;
    static void activate(grid::WarpGrid& g, int columns, int rows);
    WindowPoint windowPos(const grid::GridPoint& view) const;
    grid::GridPoint outputDelta(int key) const;  // the output move of an arrow
    bool findPoint(const grid::GridPoint& point, int& column, int& row) const;
    Neighbours neighbours(int column, int row) const;
    bool allowMove(int column, int row, int32_t tx, int32_t ty) const;
    bool canStep(int dx, int dy) const;
    bool arrowKey(int key);
    bool shapeKey(int key);
    bool shapeArrow(int key);
    void selectNearest(int column, int row, int dc, int dr, bool keepOthers);
    QByteArray pointList(int output, const grid::WarpGrid& g, uint32_t c0, uint32_t c1, bool masked) const;
    void fillDefaults();

    std::array<std::unique_ptr<grid::WarpGrid>, kOutputs> reference_;
    std::array<std::unique_ptr<grid::WarpGrid>, kOutputs> corrected_;
    std::array<ShapeSet, kSets> sets_;
    QByteArray junctionAsRead_, shapesAsRead_;
    std::unique_ptr<grid::PixelMap> canvas_;
    grid::WarpGrid view_;
    grid::WarpGrid snapshot_;
    std::unique_ptr<ChannelMap> channelMap_;
    // Cells between active points, indexed by their top-left column and row.
    std::vector<Cell> cells_;

    CanvasRect selRect_;
    int bx1_ = 0, by1_ = 0, bx1Press_ = 0, by1Press_ = 0, bx2_ = 0, by2_ = 0, bx2Press_ = 0, by2Press_ = 0;
    int pressX_ = 0, pressY_ = 0;
    double rbLeft_ = 0, rbTop_ = 0, rbRight_ = 0, rbBottom_ = 0;
    bool shift_ = false;
    bool rectActive_ = false;
    uint32_t anchorColumn_ = 0, anchorRow_ = 0;
    uint16_t cycleState_ = 0;
    bool cycleArmed_ = false;
    uint32_t ctrlColumn_ = 0, ctrlRow_ = 0;
    bool ctrl_ = false;
    bool buttonDown_ = false;
    bool moved_ = false;
};

// Text for a grid or shape file that was refused, in the language of the
// code (4 Chinese, 9 English).
QString refusedFileMessage(const QString& fileName, int language);

}  // namespace calib
