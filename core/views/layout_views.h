#pragma once
// Binds the frame's picture panel and layout canvases to the document.

class CMainFrame;
class CvelunaDoc;

void AttachLayoutViews(CMainFrame& frame, CvelunaDoc& document);
// Before the document goes: the views forget it.
void DetachLayoutViews(CMainFrame& frame);
