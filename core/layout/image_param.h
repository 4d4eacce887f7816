#pragma once
// The rules of the "Parameter Setting" dialog (position and size of the
// selected picture window), as plain functions the dialog and tests share.

#include "core/layout/image_manage.h"

#include <QString>

namespace layout {

struct ImageParamValues {
    int left = 0, top = 0, width = 0, height = 0;
};

struct ImageParamLimits {
    LayoutRect bounds;  // the screen rectangle
    int maxWidth = 0;   // the screen area's size
    int maxHeight = 0;
};

// The first of the ten checks that fails (1..10), or 0 when all pass.
// Checks 1-6 are size and model-space limits, 7-10 the screen's bounds.
int CheckImageParam(const ImageParamValues& v, const ImageParamLimits& limits);
// The message of check `check` (1..10) in the language (4: Chinese).
QString ImageParamMessage(int check, unsigned language);

}  // namespace layout
