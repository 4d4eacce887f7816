#pragma once
// A batch dialog whose first page lists simulated players on 127.0.0.2 ...
// (ticked), with content folders in a temporary folder.

#include "content/batch_send_file.h"
#include "content/batch_send_file_tab.h"
#include "common/text_coding.h"
#include "platform/app_identity.h"
#include "player/batch_commands.h"
#include "player/layout_store.h"
#include "player/player_sim.h"
#include "player/video_store.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace batchtest {

struct FileSpec {
    QString path;     // relative to the content root
    qint64 size = 0;  // -1: the layout text
};

struct Bench {
    // receiveBufferBytes > 0: the players' receive buffer (see SimOptions).
    explicit Bench(int count, unsigned language = 9, const QString& unreachableFirst = QString(),
                   int receiveBufferBytes = 0)
        : language_(language)
    {
        platform::setAppLanguage(language);
        root = QDir(tmp.path());
        for (int i = 0; i < count; ++i) {
            sim::SimOptions options;
            options.address = QStringLiteral("127.0.0.%1").arg(2 + i);
            options.receiveBufferBytes = receiveBufferBytes;
            auto p = std::make_unique<sim::PlayerSim>(options);
            sim::installStandardCommands(*p);
            QString error;
            started = p->start(&error);
            EXPECT_TRUE(started) << error.toStdString();
            if (!started)
                return;
            players.push_back(std::move(p));
        }
        tab = std::make_unique<CBatchSendFileTab>(QStringLiteral("Pre-"));
        page = tab->page(0);
        page->SetFolders(root.filePath(QStringLiteral("A1")), root.filePath(QStringLiteral("A2")),
                         root.filePath(QStringLiteral("L")));
        if (!unreachableFirst.isEmpty()) {
            PlayerRow row;
            row.ip = unreachableFirst;
            row.portText = QStringLiteral("1");  // nothing listens on TCP port 1
            page->AddRow(row);
        }
        for (auto& p : players) {
            PlayerRow row;
            row.ip = p->options().address;
            row.portText = QString::number(p->tcpPort());
            page->AddRow(row);
        }
        tickAll();
    }
    ~Bench()
    {
        tab.reset();
        players.clear();
    }

    void tickAll()
    {
        for (int r = 0; r < page->RowCount(); ++r)
            page->SetTicked(r, true);
    }

    void write(const std::vector<FileSpec>& files, const QByteArray& layout)
    {
        quint32 seed = 7;
        for (const FileSpec& f : files) {
            const QString path = root.filePath(f.path);
            QDir().mkpath(QFileInfo(path).path());
            testsupport::writeFile(path, f.size < 0 ? layout : testsupport::randomBytes(std::size_t(f.size), seed++));
        }
    }
    // Material lives in the home folder's "Material", as the program reads it.
    void writeMaterial(const QString& relative, const QByteArray& data)
    {
        const QString path = QDir(home.path()).filePath(QStringLiteral("Material/") + relative);
        QDir().mkpath(QFileInfo(path).path());
        testsupport::writeFile(path, data);
    }

    void setStatus(sim::PlayerSim& p, bool secondAct)
    {
        std::lock_guard lock(p.stateMutex());
        QByteArray& block = p.state().statusBlock;
        block = sim::makeStatusBlock(secondAct ? 2 : 1);
        for (int at : {16, 17, 38, 39})
            block[at] = secondAct ? char(1) : char(0);
    }
    void hold(sim::PlayerSim& p, uint16_t act, const char* category, const char* name, uint64_t size)
    {
        std::lock_guard lock(p.stateMutex());
        sim::addVideo(sim::videoStore(p).acts[act], category, name, size);
    }
    void holdMaterial(sim::PlayerSim& p, const QByteArray& name, const QByteArray& md5)
    {
        std::lock_guard lock(p.stateMutex());
        sim::holdMaterial(sim::layoutStore(p), name, md5);
    }
    void setFree(sim::PlayerSim& p, uint32_t mb)
    {
        std::lock_guard lock(p.stateMutex());
        for (PlayerCatalog& c : sim::videoStore(p).acts)
            c.freeMB = mb;
    }
    // The player keeps silent once, on the first request of `code` with
    // sub-code `sub` (and, when not negative, the u16 at 8 `param`).
    void dropFirstReply(sim::PlayerSim& p, uint8_t code, uint8_t sub, int param = -1)
    {
        const sim::CommandHandler inner = p.commandHandler(code);
        auto dropped = std::make_shared<std::atomic<bool>>(false);
        p.registerCommand(code, [inner, dropped, sub, param](sim::PlayerSim& s, const sim::Request& req) {
            if (req.header.subCode == sub && (param < 0 || req.header.param == param) && !dropped->exchange(true)) {
                (void)inner(s, req);
                return std::vector<sim::Reply>{};
            }
            return inner(s, req);
        });
    }

    void send() { page->OnSend(); }
    bool waitUntilCell(int row, int column, const QString& text)
    {
        return testsupport::waitUntil([&] { return page->Cell(row, column) == text; });
    }
    // The default only ends a frozen run: three players of an 8 MB video
    // under the thread checker on a busy machine take tens of seconds.
    bool waitDone(int ms = 60000)
    {
        return testsupport::waitUntil([&] { return page->IsIdle(); }, ms);
    }

    unsigned language_;
    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes{platform::MsgResult::Yes};
    QTemporaryDir tmp;
    QDir root;
    std::vector<std::unique_ptr<sim::PlayerSim>> players;
    std::unique_ptr<CBatchSendFileTab> tab;
    CBatchSendFile* page = nullptr;
    bool started = true;
};

}  // namespace batchtest
