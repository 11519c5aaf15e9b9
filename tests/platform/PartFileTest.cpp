// The one writer of whole files and its permission rule, judged by what the
// kernel says stands at the path afterwards; and the umask, read while
// another thread makes files.
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

using grvtest::TargetKind;
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

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Under umask 022: what a write leaves at each kind of target, and with
// which mode; a device or a FIFO is never replaced, and only a writer that
// may write in place writes one; nothing of the writer's own stays beside.
TEST(PartFileWrites, EachTargetGetsTheBytesAndTheModeOfTheOneRule) {
    ScopedUmask mask(022);
    grvtest::TempDir dir;
    const std::string private600 = dir.File("private");
    ASSERT_TRUE(grvtest::WriteFile(private600, "secret"));
    ASSERT_EQ(::chmod(private600.c_str(), 0600), 0);
    const struct {
        const char* name;
        TargetKind kind;
        mode_t oldMode; // 0: as made
        bool privateSource;
        bool inPlace;
        int error;
        const char* after; // what stands there; mode of the file written
        mode_t mode;
    } cases[] = {
        {"new", TargetKind::Absent, 0, false, true, 0, "file:new", 0644},
        {"new copy of private data", TargetKind::Absent, 0, true, true, 0, "file:new", 0600},
        {"replaced keeps its mode", TargetKind::Regular, 0640, false, true, 0, "file:new", 0640},
        {"replaced by private data", TargetKind::Regular, 0664, true, true, 0, "file:new", 0600},
        {"through a link", TargetKind::Link, 0600, false, true, 0, "link(t.target)->file:new", 0600},
        {"through a dangling link", TargetKind::DanglingLink, 0, false, true, 0, "link(t.target)->file:new", 0644},
        {"FIFO in place", TargetKind::Fifo, 0, false, true, 0, "fifo:new", 0},
        {"FIFO refused", TargetKind::Fifo, 0, false, false, ENODEV, "fifo:", 0},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = dir.File("case" + std::to_string(n++));
        std::filesystem::create_directory(folder);
        grvtest::WriteTarget target(folder, "t", c.kind, "old");
        ASSERT_EQ(target.Error(), 0);
        const std::string landing = c.kind == TargetKind::Link ? target.Path() + ".target" : target.Path();
        if (c.oldMode) {
            ASSERT_EQ(::chmod(landing.c_str(), c.oldMode), 0);
        }
        PartFile file;
        const int opened =
            file.Open(target.Path(), c.privateSource ? platform::ReadersOf(private600) : 07777, c.inPlace);
        EXPECT_EQ(opened, c.error);
        if (opened == 0) {
            EXPECT_EQ(file.Write("new", 3), 0);
            EXPECT_EQ(file.Commit(), 0);
        }
        EXPECT_EQ(target.Describe(), c.after);
        if (c.mode) {
            EXPECT_EQ(ModeOf(target.Path()), c.mode);
        }
        const auto entries = std::distance(std::filesystem::directory_iterator(folder), {});
        EXPECT_EQ(entries, c.kind == TargetKind::Link || c.kind == TargetKind::DanglingLink ? 2 : 1);
    }
}

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
