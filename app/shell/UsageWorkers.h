#pragma once
// The short-lived worker threads that hand usage labels on. Each worker owns
// its label and a share of its sink, so one still running when its starter
// is gone touches nothing that was freed.
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui/UsageSink.h"

class CUsageWorkers {
public:
    CUsageWorkers();
    // Waits for running workers at most kQuitGraceMs.
    ~CUsageWorkers();
    CUsageWorkers(const CUsageWorkers&) = delete;
    CUsageWorkers& operator=(const CUsageWorkers&) = delete;

    static constexpr int kQuitGraceMs = 2000;

    void Start(std::string label, std::shared_ptr<platform::ui::UsageSink> sink);
    // Waits until every worker ended or the time is up, then lets go of the
    // ones still running; the number let go.
    std::size_t WaitAll(int timeoutMs);
    std::size_t Running() const;

private:
    struct Shared;
    struct Worker {
        std::thread thread;
        std::shared_ptr<bool> done; // guarded by Shared::mutex
    };
    void JoinFinished();

    std::shared_ptr<Shared> m_shared;
    std::vector<Worker> m_workers;
};
