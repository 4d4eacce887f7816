#pragma once
// Stand-ins for the three panes of the main window (picture panel, layout
// canvases, layout list) until their views exist: empty widgets that carry
// the views' names, so the frame's layout and its tests already hold.

#include <QString>

class QWidget;

inline constexpr const char* kControlsViewName = "CControlsView";
inline constexpr const char* kContentTabViewName = "CContentTabView";
inline constexpr const char* kLayoutTreeViewName = "CLayoutTreeView";

QWidget* MakePanePlaceholder(const QString& name, QWidget* parent = nullptr);
