#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/shell/GRVApp.h"
#include "app/shell/UsageHttpSink.h"
#include "platform/ui/Seams.h"

int main(int argc, char** argv) {
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
