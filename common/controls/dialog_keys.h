#pragma once
// What the dialogs of both programs do with Enter and Esc, and the plain
// push button they make. A dialog here is left by a click on its own
// buttons: Enter (main keyboard or keypad) must neither press a default
// button nor close the window, and Esc must not close it behind the
// operator's back.

#include <QString>

class QDialog;
class QDialogButtonBox;
class QKeyEvent;
class QPushButton;
class QWidget;

namespace controls {

// Return or the keypad's Enter.
bool IsEnterKey(int key);
// Return, the keypad's Enter or Esc.
bool IsEnterOrEscKey(int key);

// For a keyPressEvent override: takes Enter and Esc (the event is accepted
// and nothing else happens) and says so; any other key is left to the caller,
// which hands it on to its base class.
bool SwallowEnterEsc(QKeyEvent* event);

// A push button showing `text`, named `name` (the control id tests and
// handlers look it up by), that Enter pressed elsewhere never presses.
QPushButton* MakeButton(const QString& text, const QString& name, QWidget* parent);
QPushButton* MakeButton(const QString& text, int id, QWidget* parent);

// The row of two buttons under a dialog: `ok` (named "1") accepts it and
// `cancel` (named "2") rejects it. Neither is auto-default; the row still
// makes `ok` the default button when shown, so a dialog that Enter must not
// close takes Enter in its keyPressEvent (SwallowEnterEsc).
QDialogButtonBox* MakeOkCancelRow(QDialog* dialog, const QString& ok, const QString& cancel);

}  // namespace controls
