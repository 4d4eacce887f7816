// JunctionPoint.QVE and the edge-shape files: round trips, the accepted
// lengths and every check that makes a file be refused whole.

#include "calibration_fixtures.h"
#include "tests/support/test_support.h"
#include "transport/protocol.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace calib;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

struct Folder {
    QTemporaryDir dir;
    QString base() const { return dir.path() + QLatin1Char('/'); }
    QString config(const char* name) const { return dir.path() + QStringLiteral("/config/") + QLatin1String(name); }
};

std::unique_ptr<CGeometricCorrection> modelIn(const Folder& f, uint16_t layout = 0)
{
    auto m = calibtest::oneOutputModel(layout);
    m->baseFolder = f.base();
    m->config.screens[0] = {0, 0, 1920, 1080};
    m->config.screens[1] = {0, 0, 1280, 720};
    m->ResetShapes();
    return m;
}

uint8_t* bytes(QByteArray& a) { return reinterpret_cast<uint8_t*>(a.data()); }

}  // namespace

TEST(GridFiles, JunctionPointsRoundTrip)
{
    Folder f;
    auto a = modelIn(f);
    a->corrected(0).at(64, 32).x = 1900;
    a->corrected(0).at(64, 32).selected = 1;
    a->corrected(0).spacing = 16;
    ASSERT_TRUE(a->SaveJunctionPoints());
    EXPECT_EQ(readFile(f.config("JunctionPoint.QVE")).size(), 193439);
    auto b = modelIn(f);
    b->currentOutput = 3;
    EXPECT_EQ(b->LoadJunctionPoints(), FileLoad::Loaded);
    EXPECT_EQ(b->currentOutput, 0);
    EXPECT_EQ(b->corrected(0).at(64, 32).x, 1900);
    EXPECT_EQ(b->corrected(0).at(64, 32).selected, 0);  // files do not keep the selection
    EXPECT_EQ(b->corrected(0).spacing, 16);
}

TEST(GridFiles, HostileJunctionFilesChangeNothing)
{
    Folder f;
    auto good = modelIn(f);
    good->corrected(0).at(0, 0).x = 7;
    const QByteArray base = good->JunctionBytes();
    const int point0 = 371;  // output 0, column 0, row 0
    const struct { const char* name; std::function<void(QByteArray&)> spoil; } rows[] = {
        {"one byte short", [](QByteArray& b) { b.chop(1); }},
        {"one byte long", [](QByteArray& b) { b.append('\0'); }},
        {"other layout code", [](QByteArray& b) { proto::putU16(bytes(b) + 351, 0x11); }},
        {"output count 10", [](QByteArray& b) { proto::putU16(bytes(b) + 349, 10); }},
        {"x above width bound", [&](QByteArray& b) { proto::putI32(bytes(b) + point0, 1921); }},
        {"negative y", [&](QByteArray& b) { proto::putI32(bytes(b) + point0 + 4, -1); }},
        {"spacing 0", [](QByteArray& b) { proto::putU16(bytes(b) + 371 + 21450, 0); }},
        {"spacing 65", [](QByteArray& b) { proto::putU16(bytes(b) + 371 + 21450, 65); }},
        {"bound beyond 4,095", [&](QByteArray& b) {
             proto::putU16(bytes(b) + 30, 5000);
             proto::putI32(bytes(b) + point0, 4096);
         }},
    };
    for (const auto& r : rows) {
        QByteArray file = base;
        r.spoil(file);
        auto m = modelIn(f);
        m->currentOutput = 2;
        EXPECT_EQ(m->ApplyJunctionBytes(file), FileLoad::Refused) << r.name;
        EXPECT_EQ(m->corrected(0).at(0, 0).x, 0) << r.name;
        EXPECT_EQ(m->corrected(0).spacing, 64) << r.name;
    }
    auto m = modelIn(f);
    EXPECT_EQ(m->LoadJunctionPoints(), FileLoad::Missing);
}

TEST(GridFiles, OldShapeFileHoldsItsTwoRecordsTwice)
{
    Folder f;
    auto a = modelIn(f);
    a->shapeSet(1).shapes[0].edge(CustomShape::kEdgeTop, 5).x = 9;
    ASSERT_TRUE(a->SaveCustomShapes());
    const QByteArray file = readFile(f.config("CustomShapesPoint.QVE"));
    ASSERT_EQ(file.size(), 307224);
    EXPECT_EQ(file.mid(153612), file.left(153612));
    auto b = modelIn(f);
    EXPECT_EQ(b->LoadCustomShapes(), FileLoad::Loaded);
    EXPECT_EQ(b->shapeSet(1).shapes[0].edge(CustomShape::kEdgeTop, 5).x, 9);
    // Under the new format the old name is never read, and an old-sized file
    // under the new name is refused.
    b->newShapeFormat = true;
    EXPECT_EQ(b->LoadCustomShapes(), FileLoad::Missing);
    ASSERT_TRUE(writeFile(f.config("CustomShapesPointNew.QVE"), file));
    EXPECT_EQ(b->LoadCustomShapes(), FileLoad::Refused);
}

TEST(GridFiles, NewShapeFileRoundTripAndTheTwentyRecordForm)
{
    Folder f;
    auto a = modelIn(f);
    a->newShapeFormat = true;
    a->shapeSet(0).shapes[29].flag = 1;
    a->shapeSet(0).shapes[9].edge(CustomShape::kEdgeRight, 100).y = 200;
    ASSERT_TRUE(a->SaveCustomShapes());
    const QByteArray file = readFile(f.config("CustomShapesPointNew.QVE"));
    ASSERT_EQ(file.size(), 4608420);
    auto b = modelIn(f);
    b->newShapeFormat = true;
    EXPECT_EQ(b->LoadCustomShapes(), FileLoad::Loaded);
    EXPECT_EQ(b->shapeSet(0).shapes[29].flag, 1);
    EXPECT_EQ(b->shapeSet(0).shapes[9].edge(CustomShape::kEdgeRight, 100).y, 200);
    // Ten records per set: set 0's first ten, then set 1's first ten.
    QByteArray small = file.left(10 * 76807) + file.mid(30 * 76807, 10 * 76807);
    auto c = modelIn(f);
    EXPECT_EQ(c->ApplyShapeBytes(small), FileLoad::Loaded);
    EXPECT_EQ(c->shapeSet(0).shapes[9].edge(CustomShape::kEdgeRight, 100).y, 200);
    EXPECT_EQ(c->shapeSet(1).shapes[0].width, 640);
}

TEST(GridFiles, HostileShapeFilesChangeNothing)
{
    Folder f;
    auto a = modelIn(f);
    a->newShapeFormat = true;
    const QByteArray base = a->ShapeBytes();
    const int record = 76807;
    const struct { const char* name; std::function<void(QByteArray&)> spoil; } rows[] = {
        {"wrong length", [](QByteArray& b) { b.chop(1); }},
        {"width not the screen's half", [](QByteArray& b) { proto::putU16(bytes(b) + 2, 959); }},
        {"width 0", [](QByteArray& b) { proto::putU16(bytes(b) + 2, 0); }},
        {"spacing 0", [](QByteArray& b) { proto::putU16(bytes(b), 0); }},
        {"point beyond the width", [](QByteArray& b) { proto::putI32(bytes(b) + 6 + 10 * 5, 961); }},
        {"negative point in set 1", [&](QByteArray& b) { proto::putI32(bytes(b) + 30 * record + 6 + 4, -3); }},
    };
    for (const auto& r : rows) {
        QByteArray file = base;
        r.spoil(file);
        auto m = modelIn(f);
        m->newShapeFormat = true;
        m->shapeSet(0).shapes[0].edge(CustomShape::kEdgeTop, 1).x = 77;
        EXPECT_EQ(m->ApplyShapeBytes(file), FileLoad::Refused) << r.name;
        EXPECT_EQ(m->shapeSet(0).shapes[0].edge(CustomShape::kEdgeTop, 1).x, 77) << r.name;
    }
}

TEST(GridFiles, RefusalMessageInBothLanguages)
{
    EXPECT_EQ(refusedFileMessage(QStringLiteral("JunctionPoint.QVE"), 9),
              QStringLiteral("The file JunctionPoint.QVE is damaged or does not match the current outputs; it was not read."));
    EXPECT_EQ(refusedFileMessage(QStringLiteral("Gamma.QVE"), 4),
              QStringLiteral("文件 Gamma.QVE 已损坏或与当前输出不符，未读取。"));
}
