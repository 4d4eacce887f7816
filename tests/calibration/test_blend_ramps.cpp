// Ramp building, 12-bit packing, ramp file names and Gamma.QVE.

#include "calibration/blend_ramps.h"
#include "tests/support/test_support.h"
#include "transport/protocol.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

using namespace calib;

namespace {

std::unique_ptr<CProjectorGraph> graphWith(uint16_t left, uint16_t right, uint16_t top = 0, uint16_t bottom = 0)
{
    auto g = std::make_unique<CProjectorGraph>();
    g->data().canvas = {10, 170, 1370, 435};
    g->SetDefaultPoints();
    BlendArrangement a;
    a.channelCount = 1;
    a.channels[0].bandLeft = left;
    a.channels[0].bandRight = right;
    a.channels[0].bandTop = top;
    a.channels[0].bandBottom = bottom;
    g->data().arrangement = a;
    g->data().channelCount = 1;
    g->ApplyBandDefaults();
    return g;
}

}  // namespace

TEST(BlendRamps, PackingGoldenWords)
{
    RampBuffers r;
    r.a.fill(0x123);
    r.b.fill(0x456);
    r.c.fill(0x789);
    const QByteArray file = PackRamps(r);
    ASSERT_EQ(file.size(), 12288);
    const auto* p = reinterpret_cast<const uint8_t*>(file.constData());
    for (int group : {0, 1023}) {
        EXPECT_EQ(proto::getU32(p + 12 * group), 0x89456123u);
        EXPECT_EQ(proto::getU32(p + 12 * group + 4), 0x94561237u);
        EXPECT_EQ(proto::getU32(p + 12 * group + 8), 0x00000078u);
    }
}

TEST(BlendRamps, NoBandsIsFullLightTimesLuminance)
{
    auto g = graphWith(0, 0);
    g->data().channels[0].luminance = 0.5;
    const RampBuffers r = BuildGammaRamps(*g, GammaTable(), 0, kRampHorizontal);
    for (int i = 0; i < RampBuffers::kSamples; ++i)
        ASSERT_EQ(r.a[std::size_t(i)], 1024) << i;
    g->data().channels[0].luminance = 7.0;  // held at 1
    EXPECT_EQ(BuildCurveRamps(*g, 0, kRampVertical).c[100], 2048);
}

TEST(BlendRamps, GammaBandsAtBothEdges)
{
    auto g = graphWith(240, 120);
    GammaTable gamma;
    gamma.at(0, GammaTable::kLeft, GammaTable::kRed) = 150;
    gamma.at(0, GammaTable::kRight, GammaTable::kBlue) = 100;
    const RampBuffers r = BuildGammaRamps(*g, gamma, 0, kRampHorizontal);
    std::vector<uint16_t> want(240);
    MakeGammaRamp(240, 0, want.data(), 1.5f);
    for (int i = 0; i < 240; ++i)
        ASSERT_EQ(r.a[std::size_t(i)], want[std::size_t(i)]) << i;
    EXPECT_EQ(r.a[240], 2048);
    std::vector<uint16_t> right(120);
    MakeGammaRamp(120, 1, right.data(), 1.0f);
    for (int i = 0; i < 120; ++i)
        ASSERT_EQ(r.c[std::size_t(1800 + i)], right[std::size_t(i)]) << i;
    EXPECT_EQ(r.c[1920], 2048);  // samples past the output stay full
}

TEST(BlendRamps, CurveBandsRepeatPerWidthAndStayInsideTheBuffer)
{
    auto g = graphWith(240, 60);
    const RampBuffers r = BuildCurveRamps(*g, 0, kRampHorizontal);
    const BlendCurve& left = g->curve(0, kBlendLeft, 1);
    for (int k = 0; k < 120; ++k) {
        ASSERT_EQ(r.a[std::size_t(2 * k)], left.samples[std::size_t(16 * k)]) << k;
        ASSERT_EQ(r.a[std::size_t(2 * k + 1)], left.samples[std::size_t(16 * k)]) << k;
    }
    const BlendCurve& right = g->curve(0, kBlendRight, 3);
    for (int j = 0; j < 60; ++j)
        ASSERT_EQ(r.c[std::size_t(1860 + j)], std::min<uint16_t>(right.samples[std::size_t(16 * j)], 2048)) << j;
    // A right band wider than the picture starts at sample 0, not before it.
    auto wide = graphWith(0, 960);
    wide->data().arrangement.channels[0].right = 500;
    const RampBuffers w = BuildCurveRamps(*wide, 0, kRampHorizontal);
    EXPECT_EQ(w.a[0], wide->curve(0, kBlendRight, 1).samples[16 * 57]);
    // A gamma band taller than the output is written from sample 0 to its end.
    auto tall = graphWith(0, 0, 0, 1500);
    const RampBuffers t = BuildGammaRamps(*tall, GammaTable(), 0, kRampVertical);
    EXPECT_EQ(t.b[0], 2040);
    EXPECT_EQ(t.b[1079], 0);
    EXPECT_EQ(t.b[1080], 2048);
}

TEST(BlendRamps, FileNames)
{
    const struct { int index, kind; const char* name; } rows[] = {
        {0, kRampHorizontal, "Projector0H.dat"}, {3, kRampVertical, "Projector3V.dat"},
        {10, kRampVertical, "Projector1V.dat"},  {5, 0, "Projector5.dat"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(RampFileName(r.index, r.kind), QLatin1String(r.name));
    QTemporaryDir dir;
    ASSERT_TRUE(WriteRampFile(dir.path(), 2, kRampHorizontal, PackRamps(RampBuffers())));
    EXPECT_EQ(testsupport::readFile(dir.path() + QStringLiteral("/ProjectorData/Projector2H.dat")).size(), 12288);
}

TEST(BlendRamps, GammaFileHoldsValuesWithinRange)
{
    QTemporaryDir dir;
    GammaTable t;
    EXPECT_FALSE(t.Load(dir.path()));
    t.at(3, GammaTable::kBottom, GammaTable::kAll) = 250;
    ASSERT_TRUE(t.Save(dir.path()));
    const QString path = dir.path() + QStringLiteral("/config/Gamma.QVE");
    QByteArray file = testsupport::readFile(path);
    ASSERT_EQ(file.size(), 288);
    EXPECT_EQ(proto::getU16(reinterpret_cast<const uint8_t*>(file.constData()) + 3 * 32 + 24 + 6), 250);
    proto::putU16(reinterpret_cast<uint8_t*>(file.data()), 0);
    proto::putU16(reinterpret_cast<uint8_t*>(file.data()) + 2, 9999);
    ASSERT_TRUE(testsupport::writeFile(path, file));
    GammaTable u;
    ASSERT_TRUE(u.Load(dir.path()));
    EXPECT_EQ(u.values[0], 100);
    EXPECT_EQ(u.values[1], 300);
    EXPECT_EQ(u.at(3, GammaTable::kBottom, GammaTable::kAll), 250);
    ASSERT_TRUE(testsupport::writeFile(path, file.left(287)));
    GammaTable v;
    EXPECT_FALSE(v.Load(dir.path()));
    EXPECT_EQ(v.values[1], 200);
}
