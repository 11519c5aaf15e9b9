#include <QApplication>

#include "ShellTestSupport.h"
#include "app/shell/GRVApp.h"
#include "app/shell/GRVDlg.h"
#include "app/shell/Resource.h"

using platform::ui::Answer;

namespace {

class AppStartTest : public ShellTest {};

TEST_F(AppStartTest, SocketFailureShowsTheMessageAndEnds) {
    CGRVApp app;
    app.m_nSplashMs = 0;
    app.m_pfnSocketInit = [] { return false; };
    bool windowRan = false;
    app.m_pfnMainWindowStarted = [&](CGRVDlg&) { windowRan = true; };
    EXPECT_EQ(app.InitInstance(), 0);
    EXPECT_FALSE(windowRan);
    EXPECT_EQ(prompter->Texts(), std::vector<QString>{"Windows sockets initialization failed."});
}

TEST_F(AppStartTest, SplashThenMainWindowThenClosedOkAfterConfirmedQuit) {
    CGRVApp app;
    app.m_nSplashMs = 50;
    bool splashGoneWhenWindowRan = false;
    app.m_pfnMainWindowStarted = [&](CGRVDlg& dlg) {
        splashGoneWhenWindowRan = true;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "SPLASH" && w->isVisible())
                splashGoneWhenWindowRan = false;
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_EQ(dlg.windowTitle(), "Gorvane");
        prompter->Queue(Answer::No);
        dlg.OnCommand(grv::ID_FILE_EXIT);
        prompter->Queue(Answer::Yes);
        dlg.OnCommand(grv::ID_FILE_EXIT);
    };
    EXPECT_EQ(app.InitInstance(), 0);
    EXPECT_TRUE(splashGoneWhenWindowRan);
    EXPECT_EQ(prompter->Texts(),
              (std::vector<QString>{"Are you sure you wish to quit?", "Are you sure you wish to quit?", "Closed OK"}));
    EXPECT_EQ(prompter->Prompts().back().title, ""); // the application's own title
    EXPECT_EQ(QApplication::applicationDisplayName(), "GRV");
    EXPECT_EQ(usage->Labels(), std::vector<std::string>{"Close App"});
}

} // namespace
