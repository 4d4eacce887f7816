#pragma once
// CImageParam: "Parameter Setting", the position and size of the selected
// picture window in model pixels and its "Wag" flag. The document fills the
// members, runs it, and on OK reads `window` and `wag` back. The rules are
// layout::CheckImageParam; the dialog only shows their messages.

#include "core/layout/image_param.h"

#include <QDialog>

#include <cstdint>

class CNumEdit;
class QCheckBox;

class CImageParam : public QDialog {
    Q_OBJECT
public:
    static constexpr int kLeftEdit = 2501, kTopEdit = 2503, kWidthEdit = 2505, kHeightEdit = 2507, kWagCheck = 2509;

    explicit CImageParam(unsigned language, QWidget* parent = nullptr);

    uint8_t playerChannels = 0;
    layout::LayoutRect bounds;
    layout::LayoutRect window;
    int maxWidth = 0;
    int maxHeight = 0;
    uint8_t wag = 0;

    // Fills the controls from the members (OnInitDialog); exec() calls it.
    void InitControls();
    // OK: the checks in order; the first failure is shown and the dialog
    // stays open. True when the values were taken.
    bool TryAccept();
    CNumEdit* edit(int id) const;
    QCheckBox* wagBox() const { return wagBox_; }

    int exec() override;

protected:
    // Enter and Esc close nothing: only the buttons do.
    void keyPressEvent(QKeyEvent* event) override;

private:
    unsigned language_;
    CNumEdit* edits_[4] = {};
    QCheckBox* wagBox_ = nullptr;
};
