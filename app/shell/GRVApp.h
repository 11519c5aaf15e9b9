#pragma once
// The application object: prepares the process, shows the splash and runs
// the main window as the program's main loop.
#include <functional>

class CGRVApp {
public:
    CGRVApp();
    virtual ~CGRVApp() = default;

    // Runs the whole program; 0 (FALSE) on every road, as the process ends
    // when it returns.
    int InitInstance();

    // Starts the socket layer; the platform's needs nothing, so it succeeds.
    std::function<bool()> m_pfnSocketInit;
    // How long the splash stays up.
    int m_nSplashMs = 7000;
    // Called with the main window once it runs (tests drive it from here).
    std::function<void(class CGRVDlg&)> m_pfnMainWindowStarted;
};
