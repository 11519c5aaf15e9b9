#pragma once
// The usage reports of the running application: each label goes to the
// statistics server as one form POST (the tests put a recording sink in its
// place, or point this one at a loopback server).
#include <string>

#include "app/usage/UsageReporter.h"
#include "platform/ui/UsageSink.h"

class CUsageHttpSink : public platform::ui::UsageSink {
public:
    explicit CUsageHttpSink(std::string host = grv::kStatsHost, int port = grv::kStatsPort)
        : m_reporter(std::move(host), port) {}
    void Report(const std::string& label) override { m_reporter.PostUsageStat(label); }

private:
    grv::CUsageReporter m_reporter;
};
