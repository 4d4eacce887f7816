#pragma once
// The rotation feature's one way in: the program calls
// InstallRotationFeature() at start, which makes WM_OPEN_SETUP_EDITOR open
// the rotation editor for a rotation player.

class CvelunaDoc;

void InstallRotationFeature();

namespace rotation {
// Runs the editor modally for the document's current player, then saves
// config/Rotate.QVE and pushes it to the player as configuration file 17.
void OpenRotateEditor(CvelunaDoc& doc);
}  // namespace rotation
