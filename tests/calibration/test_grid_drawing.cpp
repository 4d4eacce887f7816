// Painting the grid model into an image: label, lines, point colours and
// the rubber band. The picture is saved under the build folder to look at.

#include "calibration_fixtures.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

using namespace calib;

namespace {

QImage paint(const CGeometricCorrection& m, const char* name)
{
    QImage image(1000, 600, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setPen(Qt::black);
        m.Draw(painter);
    }
    const QString folder = testsupport::binDir() + QStringLiteral("/../screenshots");
    QDir().mkpath(folder);
    image.save(folder + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png"));
    return image;
}

}  // namespace

TEST(GridDrawing, SizeLabelFollowsTheSpacing)
{
    auto m = calibtest::oneOutputModel();
    EXPECT_EQ(m->SizeLabel(), QStringLiteral("1920.00/1080.00"));
    for (int i = 0; i < 5; ++i)
        m->OnKey(kKeyMinus, false);
    EXPECT_EQ(m->SizeLabel(), QStringLiteral("60.00/67.50"));
    m->shapeMode = true;
    EXPECT_EQ(m->SizeLabel(), QStringLiteral("1024"));
}

TEST(GridDrawing, SelectedPointsAreBlueOthersMenuColouredInactiveNotDrawn)
{
    auto m = calibtest::oneOutputModel();
    for (int i = 0; i < 4; ++i)
        m->OnKey(kKeyMinus, false);  // spacing 4
    m->corrected(0).at(8, 8).selected = 1;
    m->RefreshViewGrid();
    const QImage image = paint(*m, "calibration-grid");
    auto at = [&](int c, int r) {
        const grid::GridPoint& p = m->corrected(0).at(c, r);
        return image.pixelColor(18 + int(p.x * 0.5), 28 + int(p.y * 0.5));
    };
    EXPECT_EQ(at(8, 8), QColor(0, 0, 255));
    EXPECT_EQ(at(4, 8), QColor(240, 240, 240));
    // (2, 2) is no control point at spacing 4: neither circle nor line there.
    EXPECT_EQ(at(2, 2), QColor(Qt::white));
}

TEST(GridDrawing, RubberBandIsDrawnWhileShiftIsHeld)
{
    auto m = calibtest::oneOutputModel();
    m->OnKey(kKeyShift, true);
    m->OnButtonDown(kMouseShift, {300, 200});
    m->OnMouseMove(kMouseShift, {500, 400});
    const QImage image = paint(*m, "calibration-rubber-band");
    EXPECT_EQ(image.pixelColor(400, 200), QColor(0, 0, 255));
    EXPECT_EQ(image.pixelColor(500, 300), QColor(0, 0, 255));
    EXPECT_EQ(image.pixelColor(400, 300), QColor(Qt::white));
}

TEST(GridDrawing, ShapeModeDrawsTheOutline)
{
    auto m = calibtest::oneOutputModel();
    m->config.screens[0] = {0, 0, 1920, 1080};
    m->ResetShapes();
    m->LoadShape(0, 0);
    m->shapeMode = true;
    m->shapeCanvas().at(0, 0).selected = 1;
    const QImage image = paint(*m, "calibration-shape");
    EXPECT_EQ(image.pixelColor(18, 28), QColor(0, 0, 255));
    EXPECT_EQ(image.pixelColor(18 + 479, 28 + 269), QColor(240, 240, 240));  // corner (959, 539)
}
