#pragma once
// The object names the main window gives its three panes (picture panel,
// layout canvases, layout list): the views' own class names, so that a
// lookup by name finds each pane.

inline constexpr const char* kControlsViewName = "CControlsView";
inline constexpr const char* kContentTabViewName = "CContentTabView";
inline constexpr const char* kLayoutTreeViewName = "CLayoutTreeView";
