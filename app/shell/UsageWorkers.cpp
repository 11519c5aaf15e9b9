#include "app/shell/UsageWorkers.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

struct CUsageWorkers::Shared {
    std::mutex mutex;
    std::condition_variable ended;
};

CUsageWorkers::CUsageWorkers() : m_shared(std::make_shared<Shared>()) {}

CUsageWorkers::~CUsageWorkers() {
    WaitAll(kQuitGraceMs);
}

void CUsageWorkers::Start(std::string label, std::shared_ptr<platform::ui::UsageSink> sink) {
    JoinFinished();
    if (!sink)
        return;
    auto done = std::make_shared<bool>(false);
    std::thread t([shared = m_shared, done, label = std::move(label), sink = std::move(sink)] {
        sink->Report(label);
        {
            std::lock_guard lock(shared->mutex);
            *done = true;
        }
        shared->ended.notify_all();
    });
    m_workers.push_back(Worker{std::move(t), std::move(done)});
}

void CUsageWorkers::JoinFinished() {
    std::vector<Worker> running;
    for (Worker& w : m_workers) {
        bool finished;
        {
            std::lock_guard lock(m_shared->mutex);
            finished = *w.done;
        }
        if (finished)
            w.thread.join();
        else
            running.push_back(std::move(w));
    }
    m_workers = std::move(running);
}

std::size_t CUsageWorkers::WaitAll(int timeoutMs) {
    {
        std::unique_lock lock(m_shared->mutex);
        m_shared->ended.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
            for (const Worker& w : m_workers)
                if (!*w.done)
                    return false;
            return true;
        });
    }
    JoinFinished();
    const std::size_t left = m_workers.size();
    for (Worker& w : m_workers)
        w.thread.detach();
    m_workers.clear();
    return left;
}

std::size_t CUsageWorkers::Running() const {
    std::lock_guard lock(m_shared->mutex);
    std::size_t n = 0;
    for (const Worker& w : m_workers)
        if (!*w.done)
            ++n;
    return n;
}
