#pragma once
// What every benchmark shares: the tiny smoke run CI makes of it, and the
// side-by-side figures printed at its end, each side timed in turn.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace benchsupport {

// Set by CI: one quick pass over a tiny input, so that no benchmark rots or
// hangs unseen.
inline bool smokeRun() {
    static const bool smoke = std::getenv("GRV_BENCH_SMOKE") != nullptr;
    return smoke;
}

// A name in the run's TMPDIR (tests/run-test.sh gives each run its own), else
// in /tmp.
inline std::string tempPath(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/" + name;
}

// The full size, or the tiny one in a smoke run.
inline std::size_t inputSize(std::size_t full, std::size_t tiny = 4096) {
    return smokeRun() ? tiny : full;
}

// Has the C library keep freed blocks of any size for reuse. Otherwise every
// block beyond its mapping threshold (32 MB at most) comes fresh from the
// kernel and is paid again page by page on first touch, which would make a
// 100 MB run measure the kernel rather than the code and its buffer growth.
inline void keepFreedMemory() {
    constexpr int kNever = 1 << 30;
    mallopt(M_MMAP_THRESHOLD, kNever);
    mallopt(M_TRIM_THRESHOLD, kNever);
}

// A benchmark's own minimum time, or next to none in a smoke run.
inline double minTime(double seconds) {
    return smokeRun() ? 1e-6 : seconds;
}

// Runs the registered benchmarks; in a smoke run each only a few times.
inline void runRegistered(int& argc, char** argv) {
    std::string minTime = "--benchmark_min_time=0.000001";
    std::vector<char*> args(argv, argv + argc);
    if (smokeRun())
        args.push_back(minTime.data());
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}

// MB/s (10^6 bytes) of one call of `work` over `bytes` bytes: the best of
// a few timings of at least a quarter of a second each.
template <class Work>
double megabytesPerSecond(std::size_t bytes, Work&& work) {
    using Clock = std::chrono::steady_clock;
    const auto minimum = smokeRun() ? std::chrono::milliseconds(0) : std::chrono::milliseconds(250);
    double best = 0;
    for (int round = 0; round < (smokeRun() ? 1 : 3); ++round) {
        long long calls = 0;
        const auto start = Clock::now();
        Clock::duration spent{};
        do {
            work();
            ++calls;
            spent = Clock::now() - start;
        } while (spent < minimum);
        const double seconds = std::max(std::chrono::duration<double>(spent).count(), 1e-9);
        best = std::max(best, static_cast<double>(calls) * static_cast<double>(bytes) / 1e6 / seconds);
    }
    return best;
}

// Ours and a peer side by side: the medians of several turns, each turn
// taking one figure of each in turn (higher is better), and the median of
// the turns' ratios.
struct Beside {
    double ours;
    double theirs;
    double ratio;
};

inline double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t mid = v.size() / 2;
    return v.size() % 2 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

constexpr int kTurns = 5;

// `turns`: more for a figure whose turns scatter widely (a loopback round
// trip at the mercy of the scheduler).
template <class Ours, class Peer>
Beside medianBeside(Ours&& ours, Peer&& peer, int turns = kTurns) {
    std::vector<double> mine, theirs, ratios;
    for (int turn = 0; turn < (smokeRun() ? 1 : turns); ++turn) {
        mine.push_back(ours());
        theirs.push_back(peer());
        ratios.push_back(theirs.back() > 0 ? mine.back() / theirs.back() : 0.0);
    }
    return {median(mine), median(theirs), median(ratios)};
}

// Ours and the peer side by side, MB/s: the medians of turns taken in
// alternation, so that a slow moment of the machine does not fall on one
// side only.
template <class Ours, class Peer>
void printBeside(const std::string& what, std::size_t bytes, Ours&& ours, const char* peerName, Peer&& peer) {
    const Beside b =
        medianBeside([&] { return megabytesPerSecond(bytes, ours); }, [&] { return megabytesPerSecond(bytes, peer); });
    std::printf("%-40s ours %8.0f MB/s  %-18s %8.0f MB/s  ratio %5.2fx\n", what.c_str(), b.ours, peerName, b.theirs,
                b.ratio);
    std::fflush(stdout);
}

// The best MB/s of `work` on each input, the inputs timed in turn several
// times over.
template <class Input, class Work>
std::vector<double> bestByInput(const std::vector<Input>& inputs, Work&& work) {
    std::vector<double> best(inputs.size(), 0.0);
    for (int turn = 0; turn < (smokeRun() ? 1 : 4); ++turn)
        for (std::size_t k = 0; k < inputs.size(); ++k)
            best[k] = std::max(best[k], megabytesPerSecond(inputs[k].size(), [&] { work(inputs[k]); }));
    return best;
}

// One line of MB/s by size and the spread between the fastest and slowest.
template <std::size_t N>
void printBySize(const std::string& what, const std::size_t (&megabytes)[N], const std::vector<double>& rates) {
    double low = rates.empty() ? 0 : rates[0], high = 0;
    std::printf("%-32s", what.c_str());
    for (std::size_t k = 0; k < N && k < rates.size(); ++k) {
        std::printf("  %3zu MB %7.0f", megabytes[k], rates[k]);
        low = std::min(low, rates[k]);
        high = std::max(high, rates[k]);
    }
    std::printf("  spread %4.1f %%\n", high > 0 ? 100.0 * (high - low) / high : 0.0);
    std::fflush(stdout);
}

// The figure `measure` gives (a long), worked out in a child process of its
// own, so that a resident peak is the work's and not what the parent holds
// or has freed; -1 when the child fails.
template <class Measure>
long inChild(Measure&& measure) {
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        const long figure = measure();
        const ssize_t written = write(fds[1], &figure, sizeof figure);
        _exit(written == sizeof figure ? 0 : 1);
    }
    close(fds[1]);
    long figure = -1;
    const bool read = child > 0 && ::read(fds[0], &figure, sizeof figure) == sizeof figure;
    close(fds[0]);
    int status = 0;
    if (child > 0)
        waitpid(child, &status, 0);
    return read ? figure : -1;
}

inline long childrenPeakKb() {
    rusage use{};
    getrusage(RUSAGE_CHILDREN, &use);
    return use.ru_maxrss;
}

inline long ownPeakKb() {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return use.ru_maxrss;
}

// A kB figure of /proc/self/status ("VmRSS", "VmHWM"); 0 where it has none.
inline long statusKb(const char* field) {
    const std::string want = std::string(field) + ":";
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, want.size(), want) == 0)
            return std::strtol(line.c_str() + want.size(), nullptr, 10);
    return 0;
}

// Starts the peak (VmHWM) over from the memory in use now (Linux 4.0 on).
inline void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// The peak resident memory one `work` adds, in MB (10^6 bytes), measured in
// a child: the growth of its own peak (our side), or the peak of the
// programs it waited for (a peer run as a program); -1 when the work failed.
template <class Work>
double childPeakMb(bool ofPrograms, Work&& work) {
    constexpr double kKbPerMb = 1000.0;
    const long peak = inChild([&]() -> long {
        const long before = ownPeakKb();
        if (!work())
            return -1;
        return ofPrograms ? childrenPeakKb() : ownPeakKb() - before;
    });
    return peak >= 0 ? static_cast<double>(peak) / kKbPerMb : -1;
}

// What a program used, as GNU time reports it: CPU seconds (user and
// system) and peak resident size in KiB (a child forked from this larger
// process would count this one's pages); both negative when it failed.
// folder: where the report is written for a moment.
struct ProgramUsage {
    double cpuSeconds = -1;
    double peakKib = -1;
};

inline ProgramUsage programUsage(const std::string& folder, std::vector<std::string> argv) {
    const std::string report = folder + "/usage.txt";
    argv.insert(argv.begin(), {"/usr/bin/time", "-o", report, "-f", "%U %S %M"});
    const pid_t child = ::fork();
    if (child == 0) {
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    std::ifstream in(report);
    double user = -1, system = -1, kib = -1;
    in >> user >> system >> kib;
    std::remove(report.c_str());
    if (!in || kib < 0)
        return {};
    return {user + system, kib};
}

inline double programPeakKib(const std::string& folder, std::vector<std::string> argv) {
    return programUsage(folder, std::move(argv)).peakKib;
}

} // namespace benchsupport
