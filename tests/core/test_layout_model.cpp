// The layout model, the .GFD reader and writer, the tracker and the
// position checks: plain C++, no widgets.
#include "core/layout/image_manage.h"
#include "core/layout/layout_commands.h"
#include "core/layout/image_param.h"
#include "core/layout/image_rect_tracker.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>

namespace {

using layout::LayoutRect;

// A picture library in a temporary Material folder.
struct Library {
    QTemporaryDir dir;
    QString material() const { return dir.path() + QStringLiteral("/Material"); }
    QString image() const { return material() + QStringLiteral("/Image"); }
    Library() { QDir().mkpath(image()); }
    void picture(const QString& name, QColor color = Qt::red, QImage::Format format = QImage::Format_RGB32) const
    {
        QImage img(8, 8, format);
        img.fill(color);
        ASSERT_TRUE(img.save(image() + QLatin1Char('/') + name));
    }
    void pictures(int count) const
    {
        for (int i = 0; i < count; ++i)
            picture(QStringLiteral("p%1.png").arg(i, 2, 10, QLatin1Char('0')));
    }
};

CImageManage& withScreen(CImageManage& m, LayoutRect area = {0, 0, 1920, 1080})
{
    m.SetScreenArea(0, area);
    return m;
}

TEST(LayoutModel, SplitScreenCellsTakeTheRemainderInTheLastRowAndColumn)
{
    struct Row { int w, h, cols, rows; int storedCols, storedRows; LayoutRect first, last; };
    const Row rows[] = {
        {1920, 1080, 7, 3, 7, 3, {0, 0, 274, 360}, {1644, 720, 1920, 1080}},
        {1920, 1080, 0, 0, 1, 1, {0, 0, 1920, 1080}, {0, 0, 1920, 1080}},
        {1920, 1080, 12, 9, 8, 8, {0, 0, 240, 135}, {1680, 945, 1920, 1080}},
        {1000, 999, 3, 2, 3, 2, {0, 0, 333, 499}, {666, 499, 1000, 999}},
    };
    for (const Row& r : rows) {
        CImageManage m(QStringLiteral("/nonexistent"));
        m.SetScreenArea(0, {0, 0, r.w, r.h});
        m.SplitScreen(0, r.cols, r.rows);
        const CellGrid& g = m.grid(0);
        EXPECT_EQ(m.screen(0).columns, r.storedCols);
        EXPECT_EQ(m.screen(0).rows, r.storedRows);
        EXPECT_EQ(g.cellCount, r.storedCols * r.storedRows);
        EXPECT_EQ(g.cells[0], r.first) << r.cols << "x" << r.rows;
        EXPECT_EQ(g.cells[std::size_t(g.cellCount - 1)], r.last) << r.cols << "x" << r.rows;
        EXPECT_TRUE(g.cells[std::size_t(g.cellCount)].isEmpty() || g.cellCount == 64);
    }
}

TEST(LayoutModel, DropSnapsToTouchedCellsAndKeepsTheMinimum)
{
    struct Row { LayoutRect area; int cols, rows; LayoutRect placed; LayoutRect expected; };
    const Row rows[] = {
        {{0, 0, 1920, 1080}, 2, 2, {10, 10, 42, 42}, {0, 0, 960, 540}},        // one cell
        {{0, 0, 1920, 1080}, 2, 2, {950, 530, 982, 562}, {0, 0, 1920, 1080}},  // four cells
        {{0, 0, 1920, 1080}, 2, 2, {5000, 5000, 5032, 5032}, {0, 0, 32, 32}},  // touches none
        {{1920, 0, 3840, 1080}, 1, 2, {1930, 600, 1962, 632}, {1920, 540, 3840, 1080}},
    };
    for (const Row& r : rows) {
        CImageManage m(QStringLiteral("/nonexistent"));
        m.SetScreenArea(1, r.area);
        m.SplitScreen(1, r.cols, r.rows);
        ASSERT_TRUE(m.BeginPlacing(0, 1));
        m.placing().rect = r.placed;
        uint16_t channel = 0, index = 9;
        EXPECT_TRUE(m.DropDragPicture(1, channel, index));
        EXPECT_EQ(channel, 3);
        EXPECT_EQ(index, 0);
        ASSERT_EQ(m.windowCount(), 1);
        EXPECT_EQ(m.window(0).rect, r.expected);
        EXPECT_TRUE(m.window(0).selected);
        EXPECT_FALSE(m.placingActive());
    }
}

TEST(LayoutModel, AddRemoveAndReorderKeepTheRecordsInOrder)
{
    Library lib;
    lib.pictures(3);
    CImageManage m(lib.material());
    withScreen(m);
    for (int i = 0; i < 9; ++i)
        ASSERT_TRUE(m.AddPictureWindow(0, 3, i % 3, {i, 0, i + 40, 40}));
    EXPECT_FALSE(m.AddPictureWindow(0, 3, 0, {0, 0, 40, 40}));   // a tenth
    EXPECT_FALSE(m.AddPictureWindow(0, 2, 0, {0, 0, 40, 40}));   // not a picture
    EXPECT_FALSE(m.AddPictureWindow(0, 3, 16, {0, 0, 40, 40}));  // no such slot
    EXPECT_EQ(m.window(1).name, QStringLiteral("p01.png"));
    EXPECT_FALSE(m.window(1).picture.isNull());

    m.Select(4);
    EXPECT_TRUE(m.RemovePictureWindow(3, 4));
    EXPECT_EQ(m.windowCount(), 8);
    EXPECT_EQ(m.window(4).rect.left, 5);
    EXPECT_TRUE(m.window(8).rect.isEmpty());
    EXPECT_EQ(m.window(8).channel, 0);
    uint16_t ch = 0;
    int pos = 0;
    EXPECT_FALSE(m.FindSelected(ch, pos));

    struct Step { int select; bool forward; int newPos; int leftAtNewPos; };
    const Step steps[] = {
        {0, true, 1, 0},   // first window up one
        {7, true, 7, 8},   // the last cannot go further: unchanged, still selected
        {0, false, 0, 1},  // the first cannot go back
        {3, false, 2, 3},
    };
    for (const Step& s : steps) {
        const int left = m.window(s.select).rect.left;
        m.Select(s.select);
        EXPECT_TRUE(s.forward ? m.BringForward() : m.SendBackward());
        ASSERT_TRUE(m.FindSelected(ch, pos));
        EXPECT_EQ(pos, s.newPos);
        EXPECT_EQ(m.window(pos).rect.left, left);
        (void)s.leftAtNewPos;
    }
    m.ClearSelection();
    EXPECT_FALSE(m.BringForward());
}

TEST(LayoutModel, PastedWindowTakesItsSlotsFrameColourAsADroppedOneDoes)
{
    Library lib;
    lib.pictures(2);
    CImageManage m(lib.material());
    withScreen(m);
    ASSERT_TRUE(m.BeginPlacing(1, 0));
    uint16_t channel = 0, index = 0;
    ASSERT_TRUE(m.DropDragPicture(0, channel, index));
    const uint32_t dropped = m.window(0).frameColor;
    EXPECT_EQ(dropped, layout::kSlotFrameColor);

    const struct {
        const char* why;
        uint16_t slot;
        uint32_t ownColour;  // the copied window's colour, from a file
    } rows[] = {
        {"dropped window copied", 1, layout::kSlotFrameColor},
        {"window read from a file with another colour", 0, 255},
        {"slot empty on this page", 7, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.why);
        PictureWindow w;
        w.rect = {100, 100, 400, 300};
        w.name = QStringLiteral("p00.png");
        w.index = row.slot;
        w.frameColor = row.ownColour;
        ASSERT_TRUE(m.AddWindowRecord(w));
        layout::WindowClip clip;
        ASSERT_TRUE(layout::ClipOfSelection(m, clip));
        ASSERT_TRUE(layout::PasteClip(m, clip));
        EXPECT_EQ(m.window(m.windowCount() - 1).frameColor, dropped);
    }
}

// A block from the clipboard carries four raw i32 corners, whatever program
// put it there: every pair gives a window at the screen's top-left corner,
// one pixel at least and no larger than the model space.
TEST(LayoutModel, PastedBlockWithExtremeCornersGivesAWindowInsideTheModel)
{
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    const struct {
        const char* why;
        LayoutRect corners;
        int32_t width, height;
    } rows[] = {
        {"left at the minimum", {kMin, 0, 100, 100}, layout::kModelWidth, 100},
        {"top at the minimum", {0, kMin, 100, 100}, 100, layout::kModelHeight},
        {"right and bottom at the maximum", {-1, -1, kMax, kMax}, layout::kModelWidth, layout::kModelHeight},
        {"the widest pair", {kMin, kMin, kMax, kMax}, layout::kModelWidth, layout::kModelHeight},
        {"reversed across the whole range", {kMax, kMax, kMin, kMin}, 1, 1},
        {"reversed from the minimum", {kMin, kMin, kMin + 1, kMin}, 1, 1},
        {"right and bottom at the minimum", {0, 0, kMin, kMin}, 1, 1},
        {"reversed within the screen", {300, 200, 100, 50}, 1, 1},
        {"an ordinary window", {10, 20, 110, 220}, 100, 200},
    };
    const LayoutRect area{1920, 1080, 3840, 2160};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.why);
        CImageManage m(QStringLiteral("/nonexistent/material"));
        m.SetScreenArea(1, area);
        layout::WindowClip clip;
        clip.rect = row.corners;
        clip.name = QStringLiteral("p00.png");
        clip.screen = 1;
        clip.kind = layout::kPictureChannel;
        // Through the block, as a paste receives it.
        layout::WindowClip unpacked;
        ASSERT_TRUE(layout::UnpackWindowClip(layout::PackWindowClip(clip), unpacked));
        ASSERT_TRUE(layout::PasteClip(m, unpacked));
        ASSERT_EQ(m.windowCount(), 1);
        const LayoutRect pasted = m.window(0).rect;
        EXPECT_EQ(pasted.left, area.left);
        EXPECT_EQ(pasted.top, area.top);
        EXPECT_EQ(pasted.right, area.left + row.width);
        EXPECT_EQ(pasted.bottom, area.top + row.height);
        // Drawing and saving take the pasted window as any other.
        QImage canvas(64, 64, QImage::Format_RGB32);
        QPainter p(&canvas);
        m.DrawWindows(p, 1);
        p.end();
        EXPECT_FALSE(m.window(0).rect.isEmpty());
        EXPECT_FALSE(m.LayoutText().empty());
    }
}

TEST(LayoutModel, PagingMovesForwardAndStopsAtTheLastSixteen)
{
    struct Row { int count; std::vector<uint32_t> nextStarts; };
    const Row rows[] = {
        {16, {0, 0}},
        {17, {1, 1}},  // forward only, never back to an earlier page
        {40, {16, 24, 24}},
        {5, {0}},
    };
    for (const Row& r : rows) {
        Library lib;
        lib.pictures(r.count);
        CImageManage m(lib.material());
        EXPECT_EQ(m.library().size(), std::size_t(r.count));
        for (uint32_t expected : r.nextStarts) {
            m.ShowNextPage();
            EXPECT_EQ(m.pageStart(), expected) << r.count;
        }
        m.ShowPreviousPage();
        EXPECT_LE(m.pageStart(), r.nextStarts.back());
        m.ShowFirstPage();
        EXPECT_EQ(m.pageStart(), 0u);
    }
}

TEST(LayoutModel, LibraryIsSortedSkipsFolderEntriesAndFindsTwinsCaseInsensitively)
{
    Library lib;
    lib.picture(QStringLiteral("b.png"));
    lib.picture(QStringLiteral("A.PNG"));
    lib.picture(QStringLiteral("b.BMP"), Qt::blue);
    lib.picture(QStringLiteral("note.jpg"));
    QDir().mkpath(lib.image() + QStringLiteral("/set"));
    QImage(4, 4, QImage::Format_RGB32).save(lib.image() + QStringLiteral("/set/set.png"));
    CImageManage m(lib.material());
    ASSERT_EQ(m.library().size(), 3u);
    EXPECT_EQ(m.library()[0].file, QStringLiteral("A.PNG"));
    EXPECT_EQ(m.library()[1].file, QStringLiteral("b.png"));
    EXPECT_EQ(m.library()[2].folder, QStringLiteral("set"));
    EXPECT_EQ(m.slot(1).name, QStringLiteral("b.png"));
    EXPECT_FALSE(m.slot(1).twin.isNull());
    EXPECT_TRUE(m.slot(0).twin.isNull());
    EXPECT_TRUE(m.slot(2).name.isEmpty());  // the folder entry is not shown
    EXPECT_EQ(m.slot(0).frameColor, layout::kSlotFrameColor);
}

TEST(LayoutModel, PicturesArePremultipliedAndBlackIsTransparent)
{
    Library lib;
    QImage img(2, 1, QImage::Format_ARGB32);
    img.setPixel(0, 0, qRgba(200, 100, 51, 128));
    img.setPixel(1, 0, qRgba(0, 0, 0, 255));
    ASSERT_TRUE(img.save(lib.image() + QStringLiteral("/a.png")));
    QImage out;
    ASSERT_TRUE(layout::LoadPictureFile(out, lib.image() + QStringLiteral("/a.png")));
    const QRgb p = out.convertToFormat(QImage::Format_ARGB32).pixel(0, 0);
    EXPECT_EQ(qRed(p), 200 * 128 / 255);
    EXPECT_EQ(qGreen(p), 100 * 128 / 255);
    EXPECT_EQ(qBlue(p), 51 * 128 / 255);
    EXPECT_EQ(qAlpha(out.convertToFormat(QImage::Format_ARGB32).pixel(1, 0)), 0);
    EXPECT_FALSE(layout::LoadPictureFile(out, lib.image() + QStringLiteral("/missing.png")));
    EXPECT_TRUE(out.isNull());
}

TEST(LayoutModel, MissingPictureIsDrawnAsAFrameAndDoesNotHideLaterWindows)
{
    Library lib;
    lib.picture(QStringLiteral("g.png"), Qt::green);
    CImageManage m(lib.material());
    withScreen(m, {0, 0, 400, 200});
    const QByteArray text = R"({"msg":"windows config","data":{"image":[
        {"x":0,"y":0,"endx":99,"endy":99,"name":"gone.png","FrameColor":255},
        {"x":200,"y":0,"endx":299,"endy":99,"name":"g.png"},
        {"x":-50,"y":150,"endx":9,"endy":209,"name":"g.png"}]}})";
    ASSERT_TRUE(m.LoadLayout(text).loaded);
    QImage canvas(400, 200, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter p(&canvas);
    m.DrawWindows(p, 0);
    p.end();
    EXPECT_EQ(canvas.pixelColor(1, 50), QColor(Qt::red));  // the frame, in COLORREF 0x0000FF
    EXPECT_EQ(canvas.pixelColor(250, 50), QColor(Qt::green));
    // Moved into the screen, not resized, and written back.
    EXPECT_EQ(m.window(2).rect, (LayoutRect{0, 140, 60, 200}));
}

TEST(LayoutModel, WindowPicturesLoadWithTheirTwinsWhicheverNameTheFileGives)
{
    Library lib;
    lib.picture(QStringLiteral("a.png"), Qt::red);
    lib.picture(QStringLiteral("a.bmp"), Qt::blue);
    lib.picture(QStringLiteral("b.PNG"), Qt::green);
    struct Row { const char* name; bool picture; bool twin; };
    const Row rows[] = {{"a.png", true, true}, {"a.BMP", true, true}, {"b.png", true, false},
                        {"b.jpg", false, false}, {"gone.png", false, false}};
    for (const Row& r : rows) {
        CImageManage m(lib.material());
        ASSERT_TRUE(m.LoadLayout(QByteArray(R"({"msg":"windows config","data":{"image":[{"name":")") + r.name + "\"}]}}").loaded);
        EXPECT_EQ(!m.window(0).picture.isNull(), r.picture) << r.name;
        EXPECT_EQ(!m.window(0).twin.isNull(), r.twin) << r.name;
        EXPECT_EQ(m.window(0).name, QString::fromLatin1(r.name));
    }
}

TEST(LayoutModel, SecondScreenRectanglesAreScreenRelativeInTheEditors)
{
    CImageManage m(QStringLiteral("/nonexistent"));
    m.SetScreenArea(0, {0, 0, 1920, 1080});
    m.SetScreenArea(1, {1920, 0, 3840, 1080});
    ASSERT_TRUE(m.AddPictureWindow(1, 3, 0, {2000, 100, 2100, 200}));
    ASSERT_TRUE(m.AddPictureWindow(0, 3, 0, {10, 10, 50, 50}));
    m.Select(0);
    LayoutRect r;
    uint32_t color = 7;
    EXPECT_FALSE(m.GetSelectedRect(0, r));  // selected window is on the other screen
    ASSERT_TRUE(m.GetSelectedRectAndColor(1, r, color));
    EXPECT_EQ(r, (LayoutRect{80, 100, 180, 200}));
    m.SetSelectedRect(1, {0, 0, 64, 64});
    EXPECT_EQ(m.window(0).rect, (LayoutRect{1920, 0, 1984, 64}));
    m.SetSelectedRect(0, {0, 0, 1, 1});  // not this screen's window: unchanged
    EXPECT_EQ(m.window(0).rect, (LayoutRect{1920, 0, 1984, 64}));
    m.GetScreenRect(1, r);
    EXPECT_EQ(r, (LayoutRect{0, 0, 1920, 1080}));
    EXPECT_TRUE(m.HasSelectionOnScreen(1));
    EXPECT_FALSE(m.HasSelectionOnScreen(0));
}

// ------------------------------------------------------------------ .GFD files

const char kEmptyGolden[] =
    "{\r\n\t\"data\" : \r\n\t{\r\n\t\t\"image\" : []\r\n\t},\r\n\t\"imageEna\" : false,\r\n"
    "\t\"msg\" : \"windows config\",\r\n\t\"videoEna\" : false\r\n}";

QByteArray windowGolden(const char* fields)
{
    return QByteArray("\t\t\t{\r\n") + fields + "\t\t\t}";
}

const char kWindowA[] =
    "\t\t\t\t\"FrameColor\" : 10517747,\r\n\t\t\t\t\"VideoImageSync\" : true,\r\n\t\t\t\t\"ViewIndex\" : 0,\r\n"
    "\t\t\t\t\"channel\" : 3,\r\n\t\t\t\t\"endx\" : 109,\r\n\t\t\t\t\"endy\" : 219,\r\n\t\t\t\t\"h\" : 220,\r\n"
    "\t\t\t\t\"index\" : 0,\r\n\t\t\t\t\"name\" : \"a.png\",\r\n\t\t\t\t\"w\" : 110,\r\n"
    "\t\t\t\t\"wagEna\" : false,\r\n\t\t\t\t\"x\" : 10,\r\n\t\t\t\t\"y\" : 20\r\n";
const char kWindowB[] =
    "\t\t\t\t\"FrameColor\" : 4294967295,\r\n\t\t\t\t\"VideoImageSync\" : false,\r\n\t\t\t\t\"ViewIndex\" : 1,\r\n"
    "\t\t\t\t\"channel\" : 3,\r\n\t\t\t\t\"endx\" : 2019,\r\n\t\t\t\t\"endy\" : 1079,\r\n\t\t\t\t\"h\" : 1080,\r\n"
    "\t\t\t\t\"index\" : 15,\r\n\t\t\t\t\"name\" : \"\xE5\x9B\xBE \\\"1\\\".png\",\r\n\t\t\t\t\"w\" : 2020,\r\n"
    "\t\t\t\t\"wagEna\" : true,\r\n\t\t\t\t\"x\" : 1920,\r\n\t\t\t\t\"y\" : 0\r\n";

QByteArray layoutGolden(const QList<QByteArray>& windows)
{
    QByteArray s = "{\r\n\t\"data\" : \r\n\t{\r\n\t\t\"image\" : \r\n\t\t[\r\n";
    for (int i = 0; i < windows.size(); ++i)
        s += windows[i] + (i + 1 < windows.size() ? ",\r\n" : "\r\n");
    s += "\t\t]\r\n\t},\r\n\t\"imageEna\" : true,\r\n\t\"msg\" : \"windows config\",\r\n\t\"videoEna\" : false\r\n}";
    return s;
}

TEST(LayoutFile, GoldenBytesForZeroOneAndTwoWindowsAndRoundTrips)
{
    testsupport::TempHome home;
    const QString path = home.path() + QStringLiteral("/x.GFD");
    CImageManage m(home.path() + QStringLiteral("/Material"));
    m.SetScreenArea(1, {1920, 0, 3840, 1080});

    struct Row { int windows; QByteArray golden; };
    const Row rows[] = {
        {0, QByteArray(kEmptyGolden)},
        {1, layoutGolden({windowGolden(kWindowA)})},
        {2, layoutGolden({windowGolden(kWindowA), windowGolden(kWindowB)})},
    };
    for (const Row& r : rows) {
        m.ClearWindows();
        if (r.windows >= 1) {
            m.LoadLayout(R"({"msg":"windows config","data":{"image":[{"x":10,"y":20,"w":110,"h":220,"name":"a.png","FrameColor":10517747}]}})");
        }
        if (r.windows >= 2) {
            m.LoadLayout(QByteArray(R"({"msg":"windows config","data":{"image":[)"
                                    R"({"x":10,"y":20,"w":110,"h":220,"name":"a.png","FrameColor":10517747},)"
                                    R"({"x":1920,"y":0,"w":2020,"h":1080,"name":"图 \"1\".png","FrameColor":4294967295,)"
                                    R"("ViewIndex":1,"index":15,"wagEna":true,"VideoImageSync":false}]}})"));
        }
        ASSERT_EQ(m.windowCount(), r.windows);
        ASSERT_TRUE(m.SaveLayout(path));
        EXPECT_EQ(testsupport::readFile(path), r.golden) << r.windows;

        CImageManage back(home.path() + QStringLiteral("/Material"));
        LayoutReadReport report;
        ASSERT_TRUE(ReadWholeFile(path, back, &report));
        ASSERT_EQ(back.windowCount(), r.windows);
        for (int i = 0; i < r.windows; ++i) {
            EXPECT_EQ(back.window(i).rect, m.window(i).rect);
            EXPECT_EQ(back.window(i).name, m.window(i).name);
            EXPECT_EQ(back.window(i).frameColor, m.window(i).frameColor);
            EXPECT_EQ(back.window(i).wag, m.window(i).wag);
            EXPECT_EQ(back.window(i).videoImageSync, m.window(i).videoImageSync);
        }
    }
}

TEST(LayoutFile, ReaderPrecedenceAndTypeRules)
{
    struct Row { const char* entry; LayoutRect rect; uint8_t wag; uint8_t sync; uint16_t channel; const char* name; };
    const Row rows[] = {
        {R"({"x":0,"y":0,"endx":99,"w":500,"endy":49,"h":700})", {0, 0, 100, 50}, 0, 1, 3, "def.png"},
        {R"({"x":5,"y":6})", {5, 6, 32, 32}, 0, 1, 3, "def.png"},
        {R"({"x":1.0,"y":"7","w":40.5,"endy":9.0,"h":80})", {1, 0, 32, 10}, 0, 1, 3, "def.png"},
        {R"({"endx":"99","w":64,"h":64,"wagEna":1,"VideoImageSync":"no"})", {0, 0, 64, 64}, 0, 1, 3, "def.png"},
        {R"({"w":64,"h":64,"wagEna":true,"VideoImageSync":false,"channel":2,"name":"q.png"})", {0, 0, 64, 64}, 1, 0, 2, "q.png"},
        {R"({"x":4294967296,"endx":2147483647,"h":64})", {0, 0, 1000000, 64}, 0, 1, 3, "def.png"},
    };
    for (const Row& r : rows) {
        CImageManage m(QStringLiteral("/nonexistent"));
        const QByteArray text = QByteArray(R"({"msg":"windows config","data":{"image":[)") + r.entry + "]}}";
        ASSERT_TRUE(m.LoadLayout(text).loaded) << r.entry;
        ASSERT_EQ(m.windowCount(), 1);
        EXPECT_EQ(m.window(0).rect, r.rect) << r.entry;
        EXPECT_EQ(m.window(0).wag, r.wag) << r.entry;
        EXPECT_EQ(m.window(0).videoImageSync, r.sync) << r.entry;
        EXPECT_EQ(m.window(0).channel, r.channel) << r.entry;
        EXPECT_EQ(m.window(0).name, QString::fromUtf8(r.name)) << r.entry;
    }
}

TEST(LayoutFile, HostileFilesAreRefusedOrCutDownWithoutTouchingTheLayout)
{
    QByteArray twelve = R"({"msg":"windows config","data":{"image":[)";
    for (int i = 0; i < 12; ++i)
        twelve += QByteArray(i ? "," : "") + R"({"x":)" + QByteArray::number(i) + R"(,"w":100,"h":100})";
    twelve += "]}}";
    QByteArray deep = "{\"a\":";
    for (int i = 0; i < 5000; ++i)
        deep += "[";
    for (int i = 0; i < 5000; ++i)
        deep += "]";
    deep += "}";

    struct Row { const char* what; QByteArray text; bool loaded; int windows; int dropped; int refused; };
    const Row rows[] = {
        {"twelve windows", twelve, true, 9, 3, 0},
        {"traversal names",
         R"({"msg":"windows config","data":{"image":[{"name":"../../etc/passwd.png"},{"name":"/abs.png"},)"
         R"({"name":"a\\b.png"},{"name":".."},{"name":"ok.png"}]}})", true, 1, 0, 4},
        {"byte-order mark", "\xEF\xBB\xBF" R"({"msg":"windows config","data":{"image":[{"w":40,"h":40}]}})", true, 1, 0, 0},
        {"empty data clears", R"({"msg":"windows config","data":{}})", true, 0, 0, 0},
        {"not a layout", R"({"msg":"other","data":{"image":[]}})", false, 2, 0, 0},
        {"msg not a string", R"({"msg":1,"data":{}})", false, 2, 0, 0},
        {"no data", R"({"msg":"windows config"})", false, 2, 0, 0},
        {"data is a string", R"({"msg":"windows config","data":"x"})", false, 2, 0, 0},
        {"entry is a number", R"({"msg":"windows config","data":{"image":[1,{"w":40}]}})", false, 2, 0, 0},
        {"array root", R"([{"msg":"windows config"}])", false, 2, 0, 0},
        {"unbalanced", R"({"msg":"windows config","data":{})", false, 2, 0, 0},
        {"deep nesting", deep, false, 2, 0, 0},
        {"empty", QByteArray(), false, 2, 0, 0},
    };
    for (const Row& r : rows) {
        CImageManage m(QStringLiteral("/nonexistent"));
        ASSERT_TRUE(m.LoadLayout(R"({"msg":"windows config","data":{"image":[{"w":50,"h":50},{"w":60,"h":60}]}})").loaded);
        const LayoutReadReport report = m.LoadLayout(r.text);
        EXPECT_EQ(report.loaded, r.loaded) << r.what;
        EXPECT_EQ(m.windowCount(), r.windows) << r.what;
        EXPECT_EQ(report.droppedWindows, r.dropped) << r.what;
        EXPECT_EQ(report.refusedNames.size(), r.refused) << r.what;
        EXPECT_EQ(report.leftOutMessage(9).isEmpty(), r.dropped == 0 && r.refused == 0) << r.what;
    }
}

TEST(LayoutFile, ReadWholeFileStopsAtTheFirstZeroAndFailsOnMissingFiles)
{
    testsupport::TempHome home;
    CImageManage m(QStringLiteral("/nonexistent"));
    const QString path = home.path() + QStringLiteral("/z.GFD");
    ASSERT_TRUE(testsupport::writeFile(
        path, QByteArray(R"({"msg":"windows config","data":{"image":[{"w":40,"h":40}]}})") + QByteArray(1, '\0') + "junk"));
    EXPECT_TRUE(ReadWholeFile(path, m));
    EXPECT_EQ(m.windowCount(), 1);
    EXPECT_FALSE(ReadWholeFile(home.path() + QStringLiteral("/missing.GFD"), m));
    EXPECT_EQ(m.windowCount(), 1);
    EXPECT_EQ(layout::NotStandardMessage(4), QStringLiteral("布局文件不规范，请检查！"));
}

// ------------------------------------------------------------------ tracker

TEST(ImageRectTracker, StepsLeavingBoundsOrMaximumAreUndonePerAxis)
{
    struct Row { const char* what; int px, py, mx, my; LayoutRect expected; };
    // Rect {100,100,300,200} in bounds {0,0,400,300}, max 250 x 150, min 20.
    const Row rows[] = {
        {"move inside", 200, 150, 250, 170, {150, 120, 350, 220}},
        {"move against the left edge", 200, 150, 50, 150, {100, 100, 300, 200}},
        {"move past the bottom keeps x", 200, 150, 220, 260, {120, 100, 320, 200}},
        {"right handle past max width", 295, 150, 360, 150, {100, 100, 300, 200}},
        {"right handle within max", 295, 150, 340, 150, {100, 100, 345, 200}},
        {"bottom-right past max height only", 295, 195, 320, 260, {100, 100, 325, 200}},
        {"left handle to the min width", 105, 150, 400, 150, {280, 100, 300, 200}},
        {"top handle past the bounds", 200, 105, 200, -20, {100, 100, 300, 200}},
        {"outside: no drag", 10, 10, 50, 50, {100, 100, 300, 200}},
    };
    for (const Row& r : rows) {
        CImageRectTracker t;
        t.rect = {100, 100, 300, 200};
        t.bounds = {0, 0, 400, 300};
        t.maxWidth = 250;
        t.maxHeight = 150;
        t.minWidth = t.minHeight = 20;
        t.handleSize = 14;
        const bool pressed = t.Press(r.px, r.py);
        EXPECT_EQ(pressed, std::string(r.what) != "outside: no drag") << r.what;
        const bool changed = t.Release(r.mx, r.my);
        EXPECT_EQ(t.rect, r.expected) << r.what;
        EXPECT_EQ(changed, !(r.expected == LayoutRect{100, 100, 300, 200})) << r.what;
    }
}

TEST(ImageRectTracker, HandlesAndCursors)
{
    CImageRectTracker t;
    t.rect = {0, 0, 100, 100};
    t.handleSize = 10;
    struct Row { int x, y, hit; Qt::CursorShape cursor; };
    const Row rows[] = {
        {2, 2, 0, Qt::SizeFDiagCursor},  {97, 2, 1, Qt::SizeBDiagCursor}, {97, 97, 2, Qt::SizeFDiagCursor},
        {2, 97, 3, Qt::SizeBDiagCursor}, {50, 2, 4, Qt::SizeVerCursor},   {97, 50, 5, Qt::SizeHorCursor},
        {50, 97, 6, Qt::SizeVerCursor},  {2, 50, 7, Qt::SizeHorCursor},   {50, 50, 8, Qt::SizeAllCursor},
        {150, 50, -1, Qt::ArrowCursor},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(t.HitTest(r.x, r.y), r.hit) << r.x << "," << r.y;
        EXPECT_EQ(CImageRectTracker::CursorFor(r.hit), r.cursor);
    }
    t.rect = {0, 0, 25, 25};  // too small for side handles
    EXPECT_EQ(t.HitTest(12, 1), 8);
}

// ------------------------------------------------------------------ position dialog rules

TEST(ImageParamRules, TheFirstFailingCheckWins)
{
    const layout::ImageParamLimits screen{{200, 0, 2120, 1080}, 1920, 1080};
    struct Row { layout::ImageParamValues v; int check; };
    const Row rows[] = {
        {{0, 0, 31, 10}, 1},          {{300, 0, 1921, 100}, 2}, {{17000, 0, 300, 100}, 3},
        {{300, 0, 100, 31}, 4},       {{300, 0, 100, 1081}, 5}, {{300, 9700, 100, 100}, 6},
        {{100, 0, 100, 100}, 7},      {{300, -1, 100, 100}, 8}, {{2100, 0, 100, 100}, 9},
        {{300, 1000, 100, 100}, 10},  {{200, 0, 1920, 1080}, 0}, {{2000000, 0, 2000000, 100}, 2},
    };
    for (const Row& r : rows)
        EXPECT_EQ(layout::CheckImageParam(r.v, screen), r.check) << r.v.left << "," << r.v.top;
    EXPECT_EQ(layout::ImageParamMessage(1, 9), QStringLiteral("The width setting is too small!"));
    EXPECT_EQ(layout::ImageParamMessage(10, 4), QStringLiteral("高度设置值错误！"));
    EXPECT_TRUE(layout::ImageParamMessage(11, 9).isEmpty());
}

}  // namespace
