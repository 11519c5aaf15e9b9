#include "platform/ui/UsageSink.h"

#include <QLoggingCategory>

namespace platform::ui {

Q_LOGGING_CATEGORY(lcUsage, "grv.usage", QtWarningMsg)

void LogUsageSink::Report(const std::string& label) {
    qCInfo(lcUsage, "usage report: %s", label.c_str());
}

} // namespace platform::ui
