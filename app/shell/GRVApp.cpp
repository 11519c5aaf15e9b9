#include "app/shell/GRVApp.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include "app/shell/GRVDlg.h"
#include "app/shell/Profile.h"
#include "app/shell/Resource.h"
#include "app/shell/Resources.h"
#include "app/shell/ShellTexts.h"
#include "app/shell/Splash.h"
#include "app/shell/StringTable.h"
#include "platform/ui/Seams.h"

using namespace grv;

CGRVApp::CGRVApp() : m_pfnSocketInit([] { return true; }) {}

int CGRVApp::InitInstance() {
    auto& prompter = platform::ui::GetPrompter();
    // Message boxes without a title of their own carry the application's name.
    QCoreApplication::setApplicationName(QString::fromLatin1(kAppKey));
    QCoreApplication::setOrganizationName(QString::fromLatin1(kCompany));
    InitShellResources();

    if (m_pfnSocketInit && !m_pfnSocketInit()) {
        prompter.Tell(nullptr, LoadResourceString(IDP_SOCKETS_INIT_FAILED));
        return 0;
    }

    {
        CSplash splash(SplashImage(), qRgb(128, 128, 128));
        splash.Show();
        // The wait lets the splash repaint but takes no user input.
        QEventLoop wait;
        QTimer::singleShot(m_nSplashMs, &wait, &QEventLoop::quit);
        wait.exec(QEventLoop::ExcludeUserInputEvents);
        splash.Hide();
    }

    int result;
    {
        CGRVDlg dlg;
        if (m_pfnMainWindowStarted)
            QTimer::singleShot(0, &dlg, [this, &dlg] { m_pfnMainWindowStarted(dlg); });
        result = dlg.exec();
    }
    if (result == IDOK)
        prompter.Tell(nullptr, QString::fromLatin1(kClosedOk));
    else if (result == IDCANCEL)
        prompter.Tell(nullptr, QString::fromLatin1(kCancelled));
    return 0;
}
