#pragma once
// Keyboard order of a dialog: Tab walks its controls as they are read (left
// to right, then down) and the focus starts on the first of them, so that a
// dialog can be used without a mouse from the moment it opens.

#include <vector>

class QWidget;

namespace controls {

// Tab walks `chain` in its order (null entries are skipped; widgets that are
// hidden or disabled are passed over by Tab as usual). With `focusFirst` the
// focus goes to the first entry that can take it now.
void SetReadingOrder(const std::vector<QWidget*>& chain, bool focusFirst = true);

// The first entry of `chain` that Tab could reach now: not hidden, enabled,
// taking focus by Tab. Null when none can.
QWidget* FirstReachable(const std::vector<QWidget*>& chain);

}  // namespace controls
