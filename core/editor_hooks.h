#pragma once
// The setup editor that opens for a player once its configuration files
// have arrived (WM_OPEN_SETUP_EDITOR): which editor depends on the player's
// product. The feature libraries install their editors at start, so the
// core never names them.

#include <cstdint>
#include <functional>

class CvelunaDoc;

namespace core {

// Products by the low nibble of the player version word, plus one.
inline constexpr uint8_t kProductRotation = 2;

using SetupEditorOpener = std::function<void(CvelunaDoc&)>;

// A later registration for the same product replaces the earlier one; an
// empty function removes it.
void registerSetupEditor(uint8_t product, SetupEditorOpener opener);
// Runs the editor for the document's current product; false when none.
bool openSetupEditor(CvelunaDoc& doc);

}  // namespace core
