// The one writer of whole files and what it leaves behind (its targets and
// modes are judged on the roads that use it: zip extraction, backup,
// restore and export); and the umask, read while another thread makes
// files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "platform/File.h"
#include "platform/PartFile.h"
#include "tests/support/TestSupport.h"

namespace {

using platform::PartFile;

// Sets the process's umask for the scope.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : m_old(::umask(mask)) {}
    ~ScopedUmask() { ::umask(m_old); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t m_old;
};

// A write that is not committed leaves the old file whole; a later cleanup
// removes what a stopped writer left (and what is named after it), never
// what a running writer holds.
TEST(PartFileWrites, LeftoversGoUnlessAWriterHoldsThem) {
    grvtest::TempDir dir;
    const std::string target = dir.File("journal.grv");
    ASSERT_TRUE(grvtest::WriteFile(target, "old"));
    for (const char* name :
         {"journal.grv.part-Ab12Cd", "journal.grv.part-Ab12Cd.old-wal", "journal.grv.partial", "other.grv.part-Ab12Cd"})
        ASSERT_TRUE(grvtest::WriteFile(dir.File(name), "left"));
    PartFile running;
    ASSERT_EQ(running.Open(target), 0);
    ASSERT_EQ(running.Write("new", 3), 0);
    PartFile::RemoveLeftovers(target);
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    const std::string held = running.Path().substr(running.Path().rfind('/') + 1);
    EXPECT_EQ(names, (std::vector<std::string>{"journal.grv", held, "journal.grv.partial", "other.grv.part-Ab12Cd"}));
    running.Discard();
    EXPECT_EQ(grvtest::ReadFile(target), "old");
    EXPECT_FALSE(grvtest::FileExists(dir.File(held)));
}

// Reading the umask set it to 0 for a moment: a file another thread made
// then was open to every account (thousands in 20,000 under umask 022).
TEST(PlatformUmask, ReadingItNeverWidensAnotherThreadsNewFiles) {
    ScopedUmask mask(022);
    grvtest::TempDir dir;
    std::atomic<bool> stop{false};
    std::atomic<int> misread{0};
    std::thread reader([&] {
        while (!stop)
            misread += platform::CurrentUmask() != 022;
    });
    constexpr int kFiles = 5000;
    int widened = 0;
    const std::string path = dir.File("made");
    for (int i = 0; i < kFiles; ++i) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        ASSERT_GE(fd, 0);
        struct stat st {};
        ::fstat(fd, &st);
        widened += (st.st_mode & 022) != 0;
        ::close(fd);
        ::unlink(path.c_str());
    }
    stop = true;
    reader.join();
    EXPECT_EQ(widened, 0);
    EXPECT_EQ(misread, 0);
    EXPECT_EQ(platform::NewFileMode(), 0644u);
}

} // namespace
