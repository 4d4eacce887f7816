#include "common/controls/remote_panel.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

#include <gtest/gtest.h>

namespace {

// Each list takes its own grid and the mode group's rows follow the second
// row's length, for both pages' rules.
TEST(RemotePanel, EachListTakesItsOwnGrid)
{
    const struct {
        const char* page;
        int second;
        controls::ButtonGrid type, video, layout;
    } rows[] = {
        {"veluna", 4, {10, 31, 24}, {10, 30, 20}, {10, 31, 0}},
        {"Tollivar", 6, {10, 32, 24}, {10, 32, 15}, {10, 32, 4}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.page);
        QWidget page;
        controls::RemotePanel p;
        p.typeGroup = new QGroupBox(QStringLiteral("Type"), &page);
        p.videoGroup = new QGroupBox(&page);
        p.layoutGroup = new QGroupBox(QStringLiteral("Layout"), &page);
        p.modeGroup = new QGroupBox(QStringLiteral("Mode"), &page);
        p.videoCheck = new QCheckBox(&page);
        const auto buttons = [](QWidget* parent, int n) {
            std::vector<QPushButton*> out;
            for (int i = 0; i < n; ++i)
                out.push_back(new QPushButton(parent));
            return out;
        };
        p.typeButtons = buttons(p.typeGroup, 12);
        p.videoButtons = buttons(p.videoGroup, 12);
        p.layoutButtons = buttons(p.layoutGroup, 3);
        p.firstRow = buttons(p.modeGroup, 5);
        p.secondRow = buttons(p.modeGroup, r.second);
        p.volume = new QSlider(p.modeGroup);
        p.volumeLabel = new QLabel(p.modeGroup);
        p.time = new QLabel(p.modeGroup);
        p.bar = new QProgressBar(p.modeGroup);
        p.name = new QLabel(p.modeGroup);
        p.typeGrid = r.type;
        p.videoGrid = r.video;
        p.layoutGrid = r.layout;
        p.place(1280, 720);

        const QRect mode = p.modeGroup->contentsRect();
        const remote::PanelGeometry g = remote::PanelLayout(1280, 720, r.second, mode.top());
        EXPECT_EQ(p.videoGroup->geometry(), g.video);
        EXPECT_EQ(p.typeButtons[11]->geometry(), r.type.cell(p.typeGroup->contentsRect(), 11));
        EXPECT_EQ(p.videoButtons[11]->geometry(), r.video.cell(p.videoGroup->contentsRect(), 11));
        EXPECT_EQ(p.layoutButtons[2]->geometry(), r.layout.cell(p.layoutGroup->contentsRect(), 2));
        EXPECT_EQ(p.secondRow.back()->geometry(), g.second.back());
        EXPECT_EQ(p.time->geometry(), g.time);  // right of the second row, however long
        // Both rows of the mode group lie inside its frame, below its title,
        // whatever the font makes of the title.
        for (const QPushButton* b : {p.firstRow.front(), p.secondRow.back()})
            EXPECT_TRUE(mode.contains(b->geometry())) << b->geometry().y() << " in " << mode.y() << ".." << mode.bottom();
    }
    // A layout grid without rows is the single row of layout buttons.
    const QRect group(0, 100, 310, 160);
    EXPECT_EQ((controls::ButtonGrid{10, 31, 0}.cell(group, 2)), remote::LayoutCell(group, 2));
    EXPECT_EQ((controls::ButtonGrid{10, 32, 4}.cell(group, 2)), remote::GridCell(group, 2, 10, 32, 4));
}

}  // namespace
