#include "core/command_registry.h"
#include "core/document.h"
#include "core/mainframe.h"
#include "interactive/interactive_commands.h"
#include "platform/app_identity.h"
#include "tests/support/test_support.h"

#include <QAction>
#include <QMenuBar>
#include <QToolBar>

#include <gtest/gtest.h>

TEST(InteractiveCommands, OnTheToolbarWithLabelsInNoMenuAndEnabledOnlyWhenConnected)
{
    testsupport::TempHome home;
    platform::setAppTitle(QStringLiteral("veluna V9.1.5"));
    core::clearCommands();
    interactive::InstallInteractiveCommands();
    struct Row {
        int id;
        const char* english;
        const char* chinese;
    } rows[] = {{32805, "Lidar", "雷达"}, {32802, "Interactive Setup", "游戏"}};
    for (unsigned language : {9u, 4u}) {
        CMainFrame frame(platform::appTitle(), language);
        QToolBar* bar = frame.findChild<QToolBar*>(QStringLiteral("59392"));
        ASSERT_NE(bar, nullptr);
        for (const Row& r : rows) {
            QAction* a = frame.Command(r.id);
            ASSERT_NE(a, nullptr) << r.id;
            EXPECT_EQ(a->text(), QString::fromUtf8(language == 4 ? r.chinese : r.english));
            EXPECT_TRUE(bar->actions().contains(a)) << r.id;
            for (QAction* menu : frame.menuBar()->actions()) {
                if (menu->menu()) {
                    EXPECT_FALSE(menu->menu()->actions().contains(a)) << r.id;
                }
            }
        }
    }
    CvelunaDoc doc(nullptr, QStringList());
    for (const Row& r : rows) {
        ASSERT_NE(core::findCommand(r.id), nullptr);
        EXPECT_FALSE(core::IsCommandEnabled(doc, r.id)) << r.id;
    }
    core::clearCommands();
}
