#include "core/devices/query_temperature.h"
#include "tests/core/device_harness.h"
#include "tests/support/full_disk.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScopeGuard>
#include <QSpinBox>

namespace {

using devtest::DeviceHarness;
using temperature::TemperatureHistory;
using temperature::TemperatureSample;
using testsupport::waitUntil;

TEST(TemperatureMonitor, SampleBytesAndFileName)
{
    const QDateTime at(QDate(2026, 12, 6), QTime(23, 59, 58, 125));  // a Sunday
    const TemperatureSample s = temperature::MakeSample(at, 41, 60, 255);
    EXPECT_EQ(s.pack().toHex(), QByteArray("ea070c00000006001700"
                                           "3b003a007d00"
                                           "293cff"));
    EXPECT_EQ(temperature::LogFileName(s), QStringLiteral("2026-12-06.dat"));
    const QByteArray shortRecord = s.pack().left(17);
    const TemperatureSample back =
        TemperatureSample::unpack(reinterpret_cast<const uint8_t*>(shortRecord.constData()), 17);
    EXPECT_EQ(back.cpu, 41);
    EXPECT_EQ(back.fpgaIn, 0);
    EXPECT_EQ(back.fpgaOut, 0);
}

TEST(TemperatureMonitor, HistoryKeepsTheLast700)
{
    TemperatureHistory h;
    for (int i = 0; i < 701; ++i) {
        TemperatureSample s;
        s.cpu = uint8_t(i % 256);
        s.time[7] = uint16_t(i);
        h.add(s);
    }
    ASSERT_EQ(h.size(), 700u);
    EXPECT_EQ(h.at(0).time[7], 1);  // the first was dropped
    EXPECT_EQ(h.at(699).time[7], 700);
}

TEST(TemperatureMonitor, ChartPixels)
{
    TemperatureHistory h;
    for (int i = 0; i < 3; ++i) {
        TemperatureSample s;
        s.cpu = 50;
        s.fpgaIn = 20;
        s.fpgaOut = 110;  // above 100: drawn above the frame
        h.add(s);
    }
    QImage image(800, 400, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    temperature::DrawTemperatureChart(painter, h);
    painter.end();
    EXPECT_EQ(image.pixelColor(61, 230), QColor(255, 0, 0));  // CPU 50 at y 230
    EXPECT_EQ(image.pixelColor(61, 290), QColor(0, 255, 0));  // FPGA in 20 at y 290
    EXPECT_EQ(image.pixelColor(61, 110), QColor(0, 0, 255));  // FPGA out 110 at y 110
    EXPECT_EQ(image.pixelColor(400, 130), QColor(96, 96, 96));  // top of the frame
    EXPECT_EQ(image.pixelColor(400, 200), QColor(Qt::white));   // no fill
}

// Every scale label, where the chart's own drawing puts it in the dialog,
// lies inside the "Graphs" group below its title and border, whatever the
// size of the dialog's font (the group's title) in either language.
TEST(TemperatureMonitor, ChartLabelsLieInsideTheGraphsGroup)
{
    const QFont before = QApplication::font();
    const auto restore = qScopeGuard([&] { QApplication::setFont(before); });
    for (unsigned language : {platform::kLanguageEnglish, platform::kLanguageChinese}) {
        for (int points : {6, 9, 14, 24}) {
            SCOPED_TRACE(QStringLiteral("language %1, %2 points").arg(language).arg(points).toStdString());
            QFont font = before;
            font.setPointSize(points);
            QApplication::setFont(font);
            DeviceHarness h(language, false);
            CQueryTemperature dialog(h.doc->titlePrefix(), h.home.path());
            const QString title = language == platform::kLanguageChinese ? QStringLiteral("曲线图") : "Graphs";
            QGroupBox* graphs = nullptr;
            for (QGroupBox* g : dialog.findChildren<QGroupBox*>())
                if (g->title() == title)
                    graphs = g;
            ASSERT_NE(graphs, nullptr);
            const QRect inside = graphs->contentsRect().translated(graphs->pos());
            QImage image(dialog.size(), QImage::Format_RGB32);
            QPainter painter(&image);
            painter.translate(dialog.ChartOrigin());
            std::vector<QRect> labels;
            temperature::DrawTemperatureChart(painter, TemperatureHistory(), &labels);
            painter.end();
            ASSERT_EQ(labels.size(), 11u);
            for (std::size_t k = 0; k < labels.size(); ++k) {
                const QRect drawn = labels[k].translated(dialog.ChartOrigin());
                EXPECT_TRUE(inside.contains(drawn)) << "label " << 10 * k << " at " << drawn.x() << "," << drawn.y()
                                                    << " " << drawn.width() << "x" << drawn.height() << ", group "
                                                    << inside.x() << "," << inside.y() << " " << inside.width()
                                                    << "x" << inside.height();
            }
            EXPECT_TRUE(QRect(QPoint(), dialog.size()).contains(graphs->geometry()));
        }
    }
}

TEST(TemperatureMonitor, PollingLogsSamplesColoursAndMidnight)
{
    DeviceHarness h;
    {
        std::lock_guard<std::mutex> lk(h.player->stateMutex());
        h.player->state().temperatures = {59, 60, 30};
        h.store->driftTemperatures = false;
    }
    CQueryTemperature dialog(h.doc->titlePrefix(), h.home.path());
    QDateTime clock(QDate(2026, 12, 7), QTime(23, 59, 59));
    dialog.now = [&] { return clock; };
    dialog.OnInitDialog();
    EXPECT_TRUE(QDir(dialog.LogFolder()).exists());
    dialog.OnStart();
    ASSERT_TRUE(waitUntil([&] { return dialog.History().size() == 1; }));
    auto* cpu = dialog.findChild<QLineEdit*>(QStringLiteral("2701"));
    auto* fpgaIn = dialog.findChild<QLineEdit*>(QStringLiteral("2702"));
    EXPECT_EQ(cpu->text(), QStringLiteral("59.0"));
    EXPECT_EQ(cpu->palette().color(QPalette::Text), QColor(0, 255, 0));
    EXPECT_EQ(fpgaIn->palette().color(QPalette::Text), QColor(255, 0, 0));
    EXPECT_FALSE(dialog.findChild<QPushButton*>(QStringLiteral("2706"))->isEnabled());
    EXPECT_TRUE(dialog.findChild<QPushButton*>(QStringLiteral("2707"))->isEnabled());

    clock = QDateTime(QDate(2026, 12, 8), QTime(0, 0, 1));
    ASSERT_TRUE(waitUntil([&] { return dialog.History().size() == 2; }));
    dialog.OnStop();
    const QByteArray first = testsupport::readFile(dialog.LogFolder() + QStringLiteral("/2026-12-07.dat"));
    const QByteArray second = testsupport::readFile(dialog.LogFolder() + QStringLiteral("/2026-12-08.dat"));
    ASSERT_EQ(first.size(), 19);
    ASSERT_EQ(second.size(), 19);
    EXPECT_EQ(first.right(3).toHex(), QByteArray("3b3c1e"));
    EXPECT_EQ(second, temperature::MakeSample(clock, 59, 60, 30).pack());
    EXPECT_TRUE(h.boxes.calls.empty());
}

TEST(TemperatureMonitor, IntervalOutsideTheRangeIsRefused)
{
    DeviceHarness h(platform::kLanguageChinese);
    CQueryTemperature dialog(h.doc->titlePrefix(), h.home.path());
    dialog.findChild<QSpinBox*>(QStringLiteral("2704"))->setValue(0);
    dialog.OnStart();
    ASSERT_EQ(h.boxes.calls.size(), 1u);
    EXPECT_EQ(h.boxes.calls[0].text, QStringLiteral("查询时间设置错误！"));
    EXPECT_EQ(h.boxes.calls[0].icon, platform::MsgIcon::Warning);
    EXPECT_TRUE(h.requests(proto::CMD_TEMPERATURE).empty());
}

TEST(TemperatureMonitor, OneQueryInFlightAndALostReplyExpires)
{
    DeviceHarness h;
    h.player->setFault(sim::Fault::Silent, 0, proto::CMD_TEMPERATURE);
    CQueryTemperature dialog(h.doc->titlePrefix(), h.home.path());
    dialog.pendingExpiryMs = 2500;
    dialog.OnInitDialog();
    QElapsedTimer started;
    started.start();
    dialog.OnStart();
    // The start's own query reached the player; the ticks at 1 s and 2 s find
    // it pending, the one at 3 s finds it expired.
    ASSERT_TRUE(h.waitRequests(proto::CMD_TEMPERATURE, 1));
    waitUntil([] { return false; }, std::max(0, 2300 - int(started.elapsed())));
    EXPECT_EQ(h.requests(proto::CMD_TEMPERATURE).size(), 1u);
    EXPECT_TRUE(dialog.QueryPending());
    h.player->setFault(sim::Fault::None);
    ASSERT_TRUE(waitUntil([&] { return dialog.History().size() == 1; }));
    EXPECT_EQ(h.requests(proto::CMD_TEMPERATURE).size(), 2u);
    EXPECT_FALSE(dialog.QueryPending());
}

TEST(TemperatureMonitor, AFailedLogWriteIsReportedOnceAndPollingGoesOn)
{
    DeviceHarness h;
    // A file where the log folder should be: nothing can be written there.
    ASSERT_TRUE(testsupport::writeFile(h.home.path() + QStringLiteral("/TemperatureData"), "x"));
    CQueryTemperature dialog(h.doc->titlePrefix(), h.home.path());
    dialog.OnInitDialog();
    dialog.OnStart();
    ASSERT_TRUE(waitUntil([&] { return dialog.History().size() == 2; }));
    ASSERT_EQ(h.boxes.calls.size(), 1u);
    // The day's file (its name is the date), then why it cannot be opened.
    const QStringList lines = h.boxes.calls[0].text.split(u'\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Cannot write ") +
                                    QDir::toNativeSeparators(h.home.path() + QStringLiteral("/TemperatureData/"))));
    EXPECT_EQ(lines[1], qt_error_string(ENOTDIR));
}

TEST(TemperatureMonitor, LogHoldsOnlyWholeRecordsOnAFullDisk)
{
    testsupport::FullDisk disk;
    if (!disk.mounted())
        GTEST_SKIP() << disk.reason().toStdString();
    const TemperatureSample sample = temperature::MakeSample(QDateTime(QDate(2026, 12, 9), QTime(7, 0)), 45, 50, 55);
    const QString folder = disk.path() + QStringLiteral("/TemperatureData");
    const QString log = folder + u'/' + temperature::LogFileName(sample);
    constexpr qint64 kRecord = TemperatureSample::kSize;
    // 215 records leave 11 bytes in the file's last 4 KB page (a short
    // write); 214 leave 30 (room for one more).
    const struct {
        int records, tornBytes;
        bool full, written;
    } rows[] = {
        {215, 0, true, false},  // 11 bytes of room: nothing of the record stays
        {214, 0, true, true},   // room for exactly one whole record
        {215, 11, false, true}, // a torn tail from before is cut, then the record follows
        {0, 0, false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.records * 100 + row.tornBytes);
        disk.release();
        QByteArray before;
        for (int i = 0; i < row.records; ++i)
            before += sample.pack();
        before += sample.pack().left(row.tornBytes);
        ASSERT_TRUE(testsupport::writeFile(log, before));
        if (row.full)
            disk.fill();
        EXPECT_EQ(temperature::AppendSample(folder, sample), row.written);
        const qint64 size = QFileInfo(log).size();
        EXPECT_EQ(size % kRecord, 0);
        EXPECT_EQ(size, (row.records + (row.written ? 1 : 0)) * kRecord);
    }
}

TEST(TemperatureMonitor, PlaybackDrawsEveryRecordAndAShortLastOne)
{
    struct Row {
        int bytes;
        std::size_t samples;
    };
    const Row rows[] = {{38, 2}, {40, 3}, {0, 0}};
    for (const Row& row : rows) {
        DeviceHarness h(platform::kLanguageEnglish, false);
        CQueryTemperature dialog(h.doc->titlePrefix(), h.home.path());
        dialog.OnInitDialog();
        QByteArray file;
        for (int i = 0; i < 3; ++i)
            file += temperature::MakeSample(QDateTime(QDate(2026, 1, 1), QTime(1, 0, i)), uint8_t(40 + i), 50, 70)
                        .pack();
        const QString path = dialog.LogFolder() + QStringLiteral("/2026-01-01.dat");
        ASSERT_TRUE(testsupport::writeFile(path, file.left(row.bytes)));
        platform::setFileDialogAnswerer([&](const platform::FileDialogCall& call) {
            EXPECT_EQ(call.caption, QStringLiteral("Select the temperature data file"));
            EXPECT_EQ(call.folder, dialog.LogFolder());
            return path;
        });
        dialog.OnPlayback();
        platform::setFileDialogAnswerer({});
        ASSERT_TRUE(waitUntil([&] { return !dialog.IsPlayingBack(); })) << row.bytes;
        ASSERT_EQ(dialog.History().size(), row.samples) << row.bytes;
        if (row.samples == 3) {
            EXPECT_EQ(dialog.History().at(2).time[0], 2026);  // the two bytes there
            EXPECT_EQ(dialog.History().at(2).cpu, 0);
            EXPECT_EQ(dialog.History().at(1).cpu, 41);
        }
        EXPECT_TRUE(dialog.findChild<QPushButton*>(QStringLiteral("2706"))->isEnabled());
    }
}

TEST(TemperatureMonitor, Screenshot)
{
    DEVTEST_SKIP_UNDER_THREAD_CHECKER();
    for (unsigned language : {platform::kLanguageEnglish, platform::kLanguageChinese}) {
        DeviceHarness h(language, false);
        CQueryTemperature dialog(h.doc->titlePrefix(), h.home.path());
        dialog.OnInitDialog();
        QByteArray file;
        for (int i = 0; i < 400; ++i) {
            const uint8_t wave = uint8_t(45 + (i / 7) % 20);
            file += temperature::MakeSample(QDateTime(QDate(2026, 1, 1), QTime(1, i / 60, i % 60)), wave,
                                            uint8_t(wave - 10), uint8_t(wave + 12))
                        .pack();
        }
        const QString path = dialog.LogFolder() + QStringLiteral("/2026-01-01.dat");
        ASSERT_TRUE(testsupport::writeFile(path, file));
        platform::setFileDialogAnswerer([&](const platform::FileDialogCall&) { return path; });
        dialog.OnPlayback();
        platform::setFileDialogAnswerer({});
        ASSERT_TRUE(waitUntil([&] { return !dialog.IsPlayingBack(); }));
        dialog.show();
        const QString name = language == platform::kLanguageChinese ? QStringLiteral("temperature_zh")
                                                                    : QStringLiteral("temperature_en");
        EXPECT_TRUE(dialog.grab().save(devtest::screenshotPath(name)));
    }
}

}  // namespace
