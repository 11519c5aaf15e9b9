// The one writer of whole files and what it leaves behind (its targets and
// modes are judged on the roads that use it: zip extraction, backup,
// restore and export); and the umask, read while another thread makes
// files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

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

std::string NameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

// The permission bits at path in octal, as stat -c %a gives them.
std::string ModeOf(const std::string& path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0)
        return "none";
    char octal[8];
    std::snprintf(octal, sizeof octal, "%o", static_cast<unsigned>(st.st_mode & 07777));
    return octal;
}

// The bytes of a file its owner may not read (0200), read as its owner: the
// read bit is lent for the read and taken back, since only root reads
// through a mode.
std::string ReadWriteOnly(const std::string& path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0 || ::chmod(path.c_str(), (st.st_mode & 07777) | S_IRUSR) != 0)
        return "unreadable";
    std::string bytes = grvtest::ReadFile(path);
    ::chmod(path.c_str(), st.st_mode & 07777);
    return bytes;
}

// A write that is not committed leaves the old file whole. A cleanup
// removes exactly what stopped writers left: a part a killed writer marked
// as it made it goes; the files of tests/data/platform/leftovers.txt, of a
// part's shape or not, stay (the user's "journal.grv.part-backup" and
// ".journal.grv.part-000000" were once removed by their names), and so do
// a running writer's part, whose target is 0200, and a copy of the killed
// writer's part with its mark (python's shutil.copy2 copies it), there
// beside it and put back at its name once it went, where ext4 gives the
// copy the part's inode number again (made again until it does; named when
// it never does). A cleanup killed once it set the killed writer's part
// aside leaves it there, still marked: the next cleanup takes it. A file of
// a part's shape written whole by a writer killed after its rename, whose
// mark is still on, is a name the user asked for: it stays.
TEST(PartFileWrites, CleanupRemovesExactlyWhatStoppedWritersLeft) {
    grvtest::TempDir dir;
    const std::string target = dir.File("journal.grv");
    ASSERT_TRUE(grvtest::WriteFile(target, "old"));
    ASSERT_EQ(::chmod(target.c_str(), 0200), 0);
    const auto rows = grvtest::ReadTable(GRV_TEST_DATA_DIR "/platform/leftovers.txt", " | ");
    ASSERT_GT(rows.size(), 20u);
    for (const auto& row : rows) {
        if (row.size() > 2)
            (void)grvtest::LeaveKilledPart(dir.File(row[0]), "left", row[2].c_str());
        else
            ASSERT_TRUE(grvtest::WriteFile(dir.File(row[0]), "left"));
        ASSERT_EQ(grvtest::ReadFile(dir.File(row[0])), "left") << row[0];
    }
    const std::string killed = grvtest::LeaveKilledPart(target, "killed");
    ASSERT_FALSE(killed.empty());
    const std::string copy = dir.File(".journal.grv.part-C0pied");
    ASSERT_TRUE(grvtest::Python("import shutil, sys; shutil.copy2(sys.argv[1], sys.argv[2])", {killed, copy}).Ok());
    struct stat part{};
    ASSERT_EQ(::stat(killed.c_str(), &part), 0);
    PartFile running;
    ASSERT_EQ(running.Open(target), 0);
    ASSERT_EQ(running.Write("new", 3), 0);
    EXPECT_TRUE(PartFile::IsPartName(target, NameOf(running.Path())));
    EXPECT_EQ(ModeOf(running.Path()), "600") << "0600: its writer's to read while it is written";
    const pid_t cleanup = ::fork();
    if (cleanup == 0) {
        platform::SetKillHook([](const char* step) {
            if (std::string(step) == platform::kMadeFileAside)
                ::kill(::getpid(), SIGKILL);
        });
        PartFile::RemoveLeftovers(target);
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(cleanup, &status, 0), cleanup);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the cleanup set nothing aside";
    const std::string asideLead = dir.File("." + NameOf(killed) + ".part-");
    const auto aside = [&] {
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            if (entry.path().string().starts_with(asideLead))
                return entry.path().string();
        }
        return std::string();
    };
    EXPECT_EQ(grvtest::ReadFile(aside()), "killed") << "set aside, whole";
    PartFile::RemoveLeftovers(target);
    for (const auto& row : rows)
        EXPECT_EQ(grvtest::FileExists(dir.File(row[0])) ? "kept" : "removed", row[1]) << row[0];
    EXPECT_FALSE(grvtest::FileExists(killed)) << "a killed writer's part goes";
    EXPECT_EQ(aside(), "") << "and so does what a killed cleanup set aside";
    EXPECT_EQ(grvtest::ReadFile(copy), "killed") << "a copy of it stays";
    const grvtest::RunResult put = grvtest::Python("import os, shutil, sys\n"
                                                   "for _ in range(200):\n"
                                                   "    shutil.copy2(sys.argv[1], sys.argv[2])\n"
                                                   "    if os.stat(sys.argv[2]).st_ino == int(sys.argv[3]): break\n"
                                                   "    os.unlink(sys.argv[2])\n"
                                                   "else: print('another inode number')\n",
                                                   {copy, killed, std::to_string(part.st_ino)});
    ASSERT_TRUE(put.Ok()) << put.err;
    if (put.out.empty()) {
        PartFile::RemoveLeftovers(target);
        EXPECT_EQ(grvtest::ReadFile(killed), "killed") << "a copy put back at its name, its inode number, stays";
    } else {
        std::printf("left out: a copy put back at its name, as this file system gave it %s\n", put.out.c_str());
    }
    EXPECT_TRUE(grvtest::FileExists(running.Path())) << "a running writer's part stays";
    EXPECT_EQ(ReadWriteOnly(target), "old");
    ASSERT_EQ(running.Commit(), 0);
    EXPECT_EQ(ModeOf(target), "200") << "the mode it replaced, 0200";
    EXPECT_EQ(ReadWriteOnly(target), "new");
}

// Beside another account's target, a cleanup by root takes only what its
// writers left when killed after their parts took that owner (empty and
// private from the owner test, or as the target is from its permissions
// on); that account's own files of a part's shape stay, whatever their
// mode (its target's, or empty and private, as the first rule took them),
// a second name of one too.
TEST(AsNobody, CleanupTakesOnlyWhatAWriterLeftAsTheTargetsOwner) {
    grvtest::TempDir dir;
    const std::string target = dir.File("journal.grv");
    ASSERT_TRUE(grvtest::WriteFile(target, "old"));
    ASSERT_EQ(::chown(target.c_str(), grvtest::kNobodyId, grvtest::kNobodyId), 0);
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    struct Left {
        const char* name;
        const char* content;
        mode_t mode;
        bool secondName;
    };
    const Left rows[] = {
        {".journal.grv.part-Ab12Cd", "", 0600, false},       {".journal.grv.part-000000", "new", 0640, false},
        {".journal.grv.part-zzzzzz", "theirs", 0644, false}, {".journal.grv.part-Zz09aa", "theirs", 0600, false},
        {".journal.grv.part-Zz09ab", "new", 0640, true},
    };
    for (const Left& row : rows) {
        const std::string path = dir.File(row.name);
        ASSERT_TRUE(grvtest::WriteFile(path, row.content));
        ASSERT_EQ(::chown(path.c_str(), grvtest::kNobodyId, grvtest::kNobodyId), 0);
        ASSERT_EQ(::chmod(path.c_str(), row.mode), 0);
        ASSERT_TRUE(!row.secondName || ::link(path.c_str(), dir.File("theirs.txt").c_str()) == 0);
    }
    std::vector<std::string> killed;
    for (const char* step : platform::kPartKillPoints) {
        if (std::string(step) != "part-renamed")
            killed.push_back(grvtest::LeaveKilledPart(target, "killed", step));
    }
    // Each left as the step had it: the target's owner's but before the
    // owner test and after it (the writer's again).
    struct stat st{};
    for (std::size_t i = 0; i < killed.size(); ++i) {
        const std::string step = platform::kPartKillPoints[i];
        EXPECT_EQ(::stat(killed[i].c_str(), &st), 0) << killed[i];
        EXPECT_EQ(st.st_uid, step == "part-made" || step == "part-opened" ? ::geteuid() : grvtest::kNobodyId) << step;
    }
    PartFile::RemoveLeftovers(target);
    for (const Left& row : rows) {
        EXPECT_TRUE(grvtest::FileExists(dir.File(row.name))) << row.name;
        EXPECT_EQ(grvtest::ReadFile(dir.File(row.name)), row.content) << row.name;
    }
    for (const std::string& part : killed)
        EXPECT_FALSE(grvtest::FileExists(part)) << part;
    EXPECT_EQ(grvtest::ReadFile(dir.File("theirs.txt")), "new");
    EXPECT_EQ(grvtest::ReadFile(target), "old");
}

// A live writer's part made through an overlay mount is, seen in the
// overlay's upper folder, the same inode with the same birth and its mark,
// and the writer's lock does not show there: only the device its mark
// names keeps a cleanup there from taking it. Kept, and the write commits.
TEST(PartFileWrites, CleanupKeepsALiveWritersPartSeenInTheUpperFolderOnOverlay) {
    grvtest::TempDir dir;
    for (const char* folder : {"lower", "upper", "work", "merged"})
        ASSERT_EQ(::mkdir(dir.File(folder).c_str(), 0700), 0);
    const std::string options =
        "lowerdir=" + dir.File("lower") + ",upperdir=" + dir.File("upper") + ",workdir=" + dir.File("work");
    ASSERT_EQ(::mount("overlay", dir.File("merged").c_str(), "overlay", 0, options.c_str()), 0) << std::strerror(errno);
    {
        PartFile running;
        ASSERT_EQ(running.Open(dir.File("merged/journal.grv")), 0);
        ASSERT_EQ(running.Write("new", 3), 0);
        const std::string seen = dir.File("upper/" + NameOf(running.Path()));
        struct stat through{}, upper{};
        ASSERT_EQ(::fstat(running.Fd(), &through), 0);
        ASSERT_EQ(::stat(seen.c_str(), &upper), 0);
        EXPECT_EQ(through.st_ino, upper.st_ino);
        EXPECT_NE(through.st_dev, upper.st_dev);
        const grvtest::RunResult marked =
            grvtest::Python("import os, sys; print(sorted(os.listxattr(sys.argv[1])))", {seen});
        EXPECT_NE(marked.out.find("user.gorvane.writer"), std::string::npos) << marked.out << marked.err;
        PartFile::RemoveLeftovers(dir.File("upper/journal.grv"));
        EXPECT_TRUE(grvtest::FileExists(seen)) << "a live writer's part stays";
        EXPECT_EQ(running.Commit(), 0);
    }
    EXPECT_EQ(grvtest::ReadFile(dir.File("merged/journal.grv")), "new");
    EXPECT_EQ(::umount2(dir.File("merged").c_str(), MNT_DETACH), 0);
}

// A cleanup read the whole folder at every write (2.9 ms a write beside
// 20,000 files). It now reads a folder once and follows it through the
// kernel's notices: what a stopped writer left after that, made or renamed
// into the folder, beside 20,000 files or in a folder made again under the
// same name, goes all the same, and the rest of the table stays.
TEST(PartFileWrites, CleanupFollowsAFolderItReadOnce) {
    grvtest::TempDir dir;
    const std::string folder = dir.File("w");
    const std::string target = folder + "/journal.grv";
    const auto rows = grvtest::ReadTable(GRV_TEST_DATA_DIR "/platform/leftovers.txt", " | ");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    PartFile::RemoveLeftovers(target);
    for (const std::string how : {"made", "renamed in", "beside 20,000 files", "in a folder made again"}) {
        SCOPED_TRACE(how);
        for (int i = 0; how == "beside 20,000 files" && i < 20000; ++i)
            ASSERT_TRUE(grvtest::WriteFile(folder + "/crowd" + std::to_string(i), ""));
        if (how == "in a folder made again") {
            grvtest::RemoveTree(folder);
            ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
        }
        for (const auto& row : rows) {
            const std::string at = folder + "/" + row[0];
            ASSERT_TRUE(grvtest::WriteFile(how == "renamed in" ? dir.File("aside") : at, "left"));
            ASSERT_TRUE(how != "renamed in" || ::rename(dir.File("aside").c_str(), at.c_str()) == 0);
        }
        // And a killed writer's part, made there or in another folder and
        // renamed in: its mark holds its file and its target's name, not
        // where its own name is.
        const std::string made =
            grvtest::LeaveKilledPart(how == "renamed in" ? dir.File(NameOf(target)) : target, "killed");
        const std::string killed = how == "renamed in" ? folder + "/.journal.grv.part-Ren4md" : made;
        ASSERT_TRUE(!made.empty() && (made == killed || ::rename(made.c_str(), killed.c_str()) == 0));
        PartFile::RemoveLeftovers(target);
        EXPECT_FALSE(grvtest::FileExists(killed));
        for (const auto& row : rows) {
            EXPECT_EQ(grvtest::FileExists(folder + "/" + row[0]) ? "kept" : "removed", row[1]) << row[0];
            ::unlink((folder + "/" + row[0]).c_str());
        }
    }
}

// Where no watch can be had for a folder (here: past the most folders a
// process watches), the folder is read once, not at every write: what
// stopped writers left there goes all the same, and the rest of the table
// stays. In a child process, so that the watches it fills do not
// change what the other tests of this process see.
TEST(PartFileWrites, CleanupOfAFolderWithNoWatchRemovesWhatWasLeft) {
    constexpr int kMoreThanWatched = 8192;
    grvtest::TempDir dir;
    const auto rows = grvtest::ReadTable(GRV_TEST_DATA_DIR "/platform/leftovers.txt", " | ");
    ASSERT_GT(rows.size(), 20u);
    const pid_t child = ::fork();
    if (child == 0) {
        for (int i = 0; i < kMoreThanWatched; ++i) {
            const std::string folder = dir.File(std::to_string(i));
            if (::mkdir(folder.c_str(), 0700) != 0)
                ::_exit(2);
            PartFile::RemoveLeftovers(folder + "/journal.grv");
        }
        const std::string folder = dir.File("w");
        int wrong = ::mkdir(folder.c_str(), 0700) != 0;
        for (const auto& row : rows)
            wrong += !grvtest::WriteFile(folder + "/" + row[0], "left");
        const std::string killed = grvtest::LeaveKilledPart(folder + "/journal.grv", "killed");
        wrong += killed.empty();
        PartFile::RemoveLeftovers(folder + "/journal.grv");
        wrong += grvtest::FileExists(killed);
        for (const auto& row : rows) {
            const bool kept = grvtest::FileExists(folder + "/" + row[0]);
            if (kept != (row[1] == "kept")) {
                std::fprintf(stderr, "%s %s\n", row[0].c_str(), kept ? "kept" : "removed");
                ++wrong;
            }
        }
        ::_exit(wrong == 0 ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

// Every program linking the library read the kill seam's variable: one
// that installed no hook now writes on past the step it names.
TEST(PartFileWrites, NoProgramStopsAtAKillStepItDidNotInstall) {
    grvtest::TempDir dir;
    ASSERT_EQ(::setenv(grvtest::kKillAtVariable, "part-opened", 1), 0);
    PartFile file;
    const int opened = file.Open(dir.File("f"));
    ::unsetenv(grvtest::kKillAtVariable);
    ASSERT_EQ(opened, 0);
    ASSERT_EQ(file.Write("whole", 5), 0);
    ASSERT_EQ(file.Commit(), 0);
    EXPECT_EQ(grvtest::ReadFile(dir.File("f")), "whole");
}

// A part marks itself its writer's while it is a part, and only then: the
// file it becomes carries no mark (python's os.listxattr lists none), new
// or replacing one. A part another program removed before the commit fails
// it with that said, not that the folder moved.
std::string g_removedPart;
TEST(PartFileWrites, TheMarkGoesWithThePartAndAPartRemovedIsSaidSo) {
    grvtest::TempDir dir;
    const std::string listed = "import os, sys; print(sorted(os.listxattr(sys.argv[1])))";
    for (const bool replaces : {false, true}) {
        const std::string target = dir.File(replaces ? "old" : "new");
        ASSERT_TRUE(!replaces || grvtest::WriteFile(target, "old"));
        PartFile file;
        ASSERT_EQ(file.Open(target), 0);
        EXPECT_NE(grvtest::Python(listed, {file.Path()}).out.find("user.gorvane.writer"), std::string::npos);
        ASSERT_EQ(file.Write("whole", 5), 0);
        ASSERT_EQ(file.Commit(), 0);
        EXPECT_EQ(grvtest::Python(listed, {target}).out.find("user.gorvane.writer"), std::string::npos);
    }
    PartFile file;
    ASSERT_EQ(file.Open(dir.File("old")), 0);
    g_removedPart = file.Path();
    platform::SetKillHook([](const char* step) {
        if (std::string(step) == "part-synced")
            ::unlink(g_removedPart.c_str());
    });
    const int committed = file.Commit();
    platform::SetKillHook(nullptr);
    EXPECT_EQ(committed, platform::kPartRemoved);
    const char* said = platform::RefusalReason(committed, dir.File("old"));
    EXPECT_TRUE(said && std::string(said).find("removed") != std::string::npos) << (said ? said : "nothing");
    EXPECT_EQ(grvtest::ReadFile(dir.File("old")), "whole");
}

// A name up to what the folder holds is written whole; its parts' names
// (cut, at a character's start) still fit, and are still its.
TEST(PartFileWrites, NamesUpToTheFoldersLimitAreWritten) {
    grvtest::TempDir dir;
    const std::string umlaut = "\xc3\xbc";
    for (std::size_t length = 240; length <= NAME_MAX; ++length) {
        SCOPED_TRACE(length);
        std::string name(length % 2 ? 1 : 0, 'j');
        while (name.size() + umlaut.size() <= length)
            name += umlaut;
        name.resize(length, 'x');
        const std::string target = dir.File(name);
        PartFile file;
        ASSERT_EQ(file.Open(target), 0);
        EXPECT_TRUE(PartFile::IsPartName(target, NameOf(file.Path())));
        ASSERT_EQ(file.Write(name.data(), name.size()), 0);
        ASSERT_EQ(file.Commit(), 0);
        EXPECT_EQ(grvtest::ReadFile(target), name);
    }
    PartFile tooLong;
    EXPECT_EQ(tooLong.Open(dir.File(std::string(NAME_MAX + 1, 'n'))), ENAMETOOLONG);
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
        struct stat st{};
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
