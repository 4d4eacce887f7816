// The blend-curve model: default heights, visible points per density, key
// and drag edits with their limits, samples, ProjectorGraph.QVE.

#include "calibration/geometric_correction.h"
#include "calibration/projector_graph.h"
#include "tests/support/test_support.h"
#include "transport/protocol.h"

#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace calib;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

// The wizard's set-up: canvas, samples, defaults, arrangement, band defaults.
std::unique_ptr<CProjectorGraph> wizardGraph(const QString& folder, uint16_t leftWidth = 120)
{
    auto g = std::make_unique<CProjectorGraph>();
    g->data().canvas = {10, 170, 1370, 435};
    g->SetDefaultPoints();
    g->baseFolder = folder;
    BlendArrangement a;
    a.channelCount = 2;
    a.channels[0].bandLeft = leftWidth;
    a.channels[0].bandRight = 240;
    a.channels[0].bandTop = 135;
    a.channels[0].bandBottom = 0;
    g->data().arrangement = a;
    g->data().channelCount = 2;
    g->ApplyBandDefaults();
    g->MarkBandPoints();
    return g;
}

std::vector<int> visible(const BlendCurve& c)
{
    std::vector<int> out;
    for (int i = 0; i < BlendCurve::kPoints; ++i)
        if (c.points[std::size_t(i)].visible)
            out.push_back(i);
    return out;
}

}  // namespace

TEST(ProjectorGraph, BlockIsTheFileLayout)
{
    auto g = wizardGraph(QString());
    g->data().channels[8].luminance = 0.25;
    g->data().channels[8].edges[3].curves[3].level = 5;
    g->data().currentChannel = 7;
    const QByteArray b = g->data().toBytes();
    ASSERT_EQ(b.size(), 975628);
    const auto* p = reinterpret_cast<const uint8_t*>(b.constData());
    EXPECT_EQ(proto::getI32(p + 12), 435);
    EXPECT_EQ(proto::getU16(p + 16 + 198 + 2), 2);        // channel count in the arrangement
    EXPECT_EQ(proto::getU16(p + 16 + 14), 30 * 4);        // left band of entry 0
    const std::size_t ch8 = 222 + 108378 * 8;
    EXPECT_EQ(proto::getU64(p + ch8 + 108370), 0x3FD0000000000000ull);
    EXPECT_EQ(proto::getU16(p + ch8 + 27092 * 3 + 6772 * 3 + 6770), 5);
    EXPECT_EQ(proto::getU16(p + 975624), 7);
    BlendGraphData back;
    ASSERT_TRUE(back.fromBytes(b));
    EXPECT_EQ(back.toBytes(), b);
}

TEST(ProjectorGraph, BandDefaultsPerWidth)
{
    auto g = wizardGraph(QString(), 180);
    const BlendCurve& left = g->curve(0, kBlendLeft, 2);
    const int tops[] = {430, 425, 415, 411, 401};  // entries 0, 1, 3, 4, 6
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(left.points[std::size_t(i)].top, tops[i]) << i;
    EXPECT_EQ(left.points[0].bottom, 440);
    // Right band of 240: point i takes entry 120 - i; points past 120 keep theirs.
    const BlendCurve& right = g->curve(0, kBlendRight, 0);
    EXPECT_EQ(right.points[0].top, 176);
    EXPECT_EQ(right.points[120].top, 430);
    EXPECT_EQ(right.points[121].top, 430);  // untouched: the default box at the canvas bottom
    // Top band of 135: entry 126 has the odd bottom.
    EXPECT_EQ(g->curve(0, kBlendTop, 0).points[126].bottom, 185);
    // A width the table does not know leaves the points alone.
    EXPECT_EQ(g->curve(0, kBlendBottom, 0).points[10].top, 430);
}

TEST(ProjectorGraph, VisiblePointsPerDensity)
{
    auto g = wizardGraph(QString(), 30);
    BlendCurve& c = g->curve(0, kBlendLeft, 0);
    c.level = 7;
    g->UpdateVisiblePoints(0);
    EXPECT_EQ(visible(c).size(), 30u);
    c.level = 1;
    g->UpdateVisiblePoints(0);
    EXPECT_EQ(visible(c), (std::vector<int>{0, 15, 29}));
    // Right band of 240 is 120 points; level 6 uses the long list.
    g->data().channels[0].currentEdge = kBlendRight;
    BlendCurve& r = g->curve(0, kBlendRight, 0);
    r.level = 6;
    g->UpdateVisiblePoints(0);
    EXPECT_EQ(visible(r).size(), 65u);
    EXPECT_EQ(visible(r).back(), 119);
    // Width 0: only point 0.
    g->data().channels[0].currentEdge = kBlendBottom;
    g->UpdateVisiblePoints(0);
    EXPECT_EQ(visible(g->curve(0, kBlendBottom, 0)), (std::vector<int>{0}));
}

TEST(ProjectorGraph, KeysSelectMoveAndStopAtTheLimits)
{
    auto g = wizardGraph(QString(), 30);
    g->curve(0, kBlendLeft, 0).level = 1;
    g->FewerPoints();  // level stays 1, curves 1..3 follow, points 0, 15, 29 shown
    EXPECT_EQ(g->OnKey(CProjectorGraph::kUp), -1);  // nothing selected
    EXPECT_EQ(g->OnKey(CProjectorGraph::kRight), 0);
    EXPECT_EQ(g->FirstSelected(), 0);
    EXPECT_EQ(g->OnKey(CProjectorGraph::kRight), 0);
    EXPECT_EQ(g->FirstSelected(), 15);
    EXPECT_EQ(g->curve(0, kBlendLeft, 3).points[15].selected, 1);  // the master selects in every curve
    const int before = g->curve(0, kBlendLeft, 0).points[15].top;  // entry 60
    g->step = 4;
    EXPECT_EQ(g->OnKey(CProjectorGraph::kUp), 0);
    EXPECT_EQ(g->curve(0, kBlendLeft, 0).points[15].top, before - 4);
    EXPECT_EQ(g->curve(0, kBlendLeft, 2).points[15].top, before - 4);
    // Hidden points between 0 and 15 lie on the line between them.
    const int t0 = g->curve(0, kBlendLeft, 0).points[0].top;
    EXPECT_EQ(g->curve(0, kBlendLeft, 1).points[5].top, int(t0 + 5 * double(before - 4 - t0) / 15));
    // Up to the limit: centre at bottom - 256, then refused.
    g->step = 10;
    int result = 0;
    for (int i = 0; i < 40 && result == 0; ++i)
        result = g->OnKey(CProjectorGraph::kUp);
    EXPECT_EQ(result, 1);
    const int top = g->curve(0, kBlendLeft, 0).points[15].top;
    EXPECT_GE(top, 435 - 261);
    EXPECT_LT(top - 10, 435 - 261);
    EXPECT_EQ(g->OnKey(CProjectorGraph::kLeft), 0);
    EXPECT_EQ(g->FirstSelected(), 0);
    EXPECT_EQ(g->OnKey(999), -1);
}

TEST(ProjectorGraph, DragMovesTheSamePointInAllFourCurvesAndClamps)
{
    auto g = wizardGraph(QString());
    g->OnKey(CProjectorGraph::kRight);  // point 0
    g->SetLastMouse(0, 300);
    g->OnDrag(0, 280);
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(g->curve(0, kBlendLeft, c).points[0].top, 410) << c;
    g->OnDrag(0, 900);  // far below: held at the canvas bottom
    EXPECT_EQ(g->curve(0, kBlendLeft, 1).points[0].top, 430);
    EXPECT_EQ(g->curve(0, kBlendLeft, 1).points[0].bottom, 440);
}

TEST(ProjectorGraph, SamplesFollowTheCentres)
{
    auto g = wizardGraph(QString());
    g->BuildSamples(0, kBlendLeft, 0);
    const BlendCurve& c = g->curve(0, kBlendLeft, 0);
    EXPECT_EQ(c.samples[0], 0);                   // centre at the bottom
    EXPECT_EQ(c.samples[16 * 1], (435 - 430) * 8);  // point 1: box 425..435
    EXPECT_EQ(c.samples[8], 20);                  // half-way: centre 432.5
    EXPECT_EQ(c.samples[16 * 120], (435 - 181) * 8);
}

TEST(ProjectorGraph, CopyEdgeCurveReversesBetweenOppositeEdges)
{
    auto g = wizardGraph(QString(), 240);
    g->CopyEdgeCurve(240, 0, kBlendLeft, 1, kBlendRight);
    const BlendCurve& src = g->curve(0, kBlendLeft, 0);
    for (int c = 0; c < 4; ++c) {
        const BlendCurve& dst = g->curve(1, kBlendRight, c);
        EXPECT_EQ(dst.points[0].top, src.points[119].top) << c;
        EXPECT_EQ(dst.points[119].top, src.points[0].top) << c;
    }
}

TEST(ProjectorGraph, FileRoundTripAndRefusals)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    auto a = wizardGraph(folder);
    a->data().channels[1].currentEdge = 2;
    a->curve(1, kBlendTop, 0).level = 3;
    a->curve(0, kBlendLeft, 0).points[3].top = 300;
    ASSERT_TRUE(a->Save());
    const QString path = dir.path() + QStringLiteral("/config/ProjectorGraph.QVE");
    const QByteArray file = readFile(path);
    ASSERT_EQ(file.size(), 975628);
    auto b = wizardGraph(folder);
    FileLoad outcome = FileLoad::Missing;
    EXPECT_TRUE(b->Load(&outcome));
    EXPECT_EQ(outcome, FileLoad::Loaded);
    EXPECT_EQ(b->data().channels[1].currentEdge, 2);
    EXPECT_EQ(b->curve(1, kBlendTop, 0).level, 3);
    EXPECT_EQ(b->curve(0, kBlendLeft, 0).points[3].top, 300);

    const std::size_t curve0 = 222;  // channel 0, left edge, curve 0
    const struct { const char* name; std::function<void(QByteArray&)> spoil; } rows[] = {
        {"one byte short", [](QByteArray& f) { f.chop(1); }},
        {"one byte long", [](QByteArray& f) { f.append('\0'); }},
        {"other band width", [](QByteArray& f) { proto::putU16(reinterpret_cast<uint8_t*>(f.data()) + 16 + 14, 60); }},
        {"other channel count", [](QByteArray& f) { proto::putU16(reinterpret_cast<uint8_t*>(f.data()) + 975626, 3); }},
        {"empty canvas", [](QByteArray& f) { proto::putI32(reinterpret_cast<uint8_t*>(f.data()) + 8, 10); }},
        {"current channel 9", [](QByteArray& f) { proto::putU16(reinterpret_cast<uint8_t*>(f.data()) + 975624, 9); }},
        {"current edge 4", [](QByteArray& f) { proto::putU16(reinterpret_cast<uint8_t*>(f.data()) + 222 + 108368, 4); }},
        {"level 8", [&](QByteArray& f) { proto::putU16(reinterpret_cast<uint8_t*>(f.data()) + curve0 + 6770, 8); }},
        {"point far above", [&](QByteArray& f) { proto::putI32(reinterpret_cast<uint8_t*>(f.data()) + curve0 + 4, -50000); }},
        {"luminance NaN", [](QByteArray& f) { proto::putU64(reinterpret_cast<uint8_t*>(f.data()) + 222 + 108370, 0x7FF8000000000000ull); }},
    };
    for (const auto& r : rows) {
        QByteArray spoilt = file;
        r.spoil(spoilt);
        ASSERT_TRUE(writeFile(path, spoilt));
        auto c = wizardGraph(folder);
        EXPECT_FALSE(c->Load(&outcome)) << r.name;
        EXPECT_EQ(outcome, FileLoad::Refused) << r.name;
        EXPECT_EQ(c->curve(0, kBlendLeft, 0).points[3].top, 415) << r.name;
        EXPECT_EQ(c->data().channels[1].currentEdge, 0) << r.name;
    }
}

TEST(ProjectorGraph, GammaRampGoldenValues)
{
    std::vector<uint16_t> out(2048, 7);
    MakeGammaRamp(2048, 0, out.data(), 1.0f);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[2047], 2040);
    std::vector<uint16_t> rev(2048, 7);
    MakeGammaRamp(2048, 1, rev.data(), 1.0f);
    for (int i = 0; i < 2048; ++i)
        ASSERT_EQ(rev[std::size_t(i)], out[std::size_t(2047 - i)]) << i;
    uint16_t one = 7;
    MakeGammaRamp(1, 0, &one, 2.0f);  // no 0 / 0
    EXPECT_EQ(one, 2040);
    uint16_t untouched = 7;
    MakeGammaRamp(1, 2, &untouched, 2.0f);
    MakeGammaRamp(0, 0, &untouched, 2.0f);
    EXPECT_EQ(untouched, 7);
}

TEST(ProjectorGraph, DrawShowsPointsAndTheSelectedHeight)
{
    auto g = wizardGraph(QString());
    g->OnKey(CProjectorGraph::kRight);
    QImage image(1400, 470, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        g->Draw(painter);
    }
    image.save(testsupport::binDir() + QStringLiteral("/../screenshots/calibration-blend-curve.png"));
    EXPECT_EQ(image.pixelColor(7, 438), QColor(255, 0, 0));  // point 0, selected
    EXPECT_EQ(image.pixelColor(210, 346), QColor(0, 0, 255));  // point 20: box top 338
}
