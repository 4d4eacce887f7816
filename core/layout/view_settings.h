#pragma once
// Zoom and cell grid of the two screen views and the layout lock: what
// config/Grid.QVE keeps ("Grid config") and the player receives as
// configuration file 18.

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

class CImageManage;

namespace layout {

inline constexpr double kMinZoom = 0.1;
inline constexpr double kMaxZoom = 1.0;
inline constexpr int kMinGrid = 1;
inline constexpr int kMaxGrid = 8;

struct ViewSettings {
    std::array<int, 2> columns{1, 1};
    std::array<int, 2> rows{1, 1};
    std::array<double, 2> zoom{kMinZoom, kMinZoom};
    bool locked = false;
};

// Zoom one step (0.1) out or in, held to 0.1..1.0 (0.15 out gives 0.1).
double ZoomOut(double zoom);
double ZoomIn(double zoom);

// The "Grid config" document of `s`.
QByteArray GridSettingsText(const ViewSettings& s);
// Takes each member of a "Grid config" text that has its type into `s`
// (grids held to 1..8, zooms to 0.1..1.0); false, with `s` unchanged, for
// text that is not JSON or has no "Msg" of "Grid config".
bool ReadGridSettings(const QByteArray& text, ViewSettings& s);

// Writes the file whole (temporary file, then rename); false with `error`.
bool WriteGridFile(const QString& path, const ViewSettings& s, QString* error = nullptr);

}  // namespace layout
