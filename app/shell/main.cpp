#include <QApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/shell/GRVApp.h"
#include "app/shell/UsageHttpSink.h"
#include "platform/ui/Seams.h"

int main(int argc, char** argv) {
    // Past the file size limit a write fails with EFBIG, which every writer
    // names, rather than ending the program with the user's work unsaved.
    std::signal(SIGXFSZ, SIG_IGN);
    // A write into a pipe or FIFO whose reader left fails with EPIPE, which
    // every writer names, instead of ending the program.
    std::signal(SIGPIPE, SIG_IGN);
    int result;
    {
        QApplication app(argc, argv);
        platform::ui::ScopedSeams usage({nullptr, nullptr, nullptr, std::make_shared<CUsageHttpSink>()});
        CGRVApp theApp;
        result = theApp.InitInstance();
    }
    // A report still on its way (the window waited for it a moment) is not
    // waited for any longer, and must not meet the library being torn down.
    if (grv::CUsageReporter::InFlight() != 0) {
        std::fflush(nullptr);
        std::_Exit(result);
    }
    return result;
}
