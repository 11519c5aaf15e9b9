#pragma once
// Where the labels of the usage reports go (see Prompter.h). Called from
// worker threads: every implementation must be thread-safe.
#include <string>

namespace platform::ui {

class UsageSink {
public:
    virtual ~UsageSink() = default;
    virtual void Report(const std::string& label) = 0;
};

// Writes the label to the "grv.usage" logging category (off unless enabled,
// e.g. QT_LOGGING_RULES="grv.usage=true"). Nothing leaves the machine.
class LogUsageSink : public UsageSink {
public:
    void Report(const std::string& label) override;
};

} // namespace platform::ui
