#include "platform/FolderIndex.h"

#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

namespace platform {

namespace {

// The changes that add a name to a folder or take one away.
constexpr std::uint32_t kNameChanges = IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR;
// Folders watched at once. A watch is kept for the run, never traded for
// another: a program writing into more folders in turn would then read a
// folder at every write. Each costs the kernel about a kilobyte, and comes
// from the user's own count, of which other programs (file managers,
// editors) keep at least three quarters.
constexpr std::size_t kMostFolders = 8192;
constexpr std::size_t kShareOfWatches = 4;
constexpr const char* kWatchLimitFile = "/proc/sys/fs/inotify/max_user_watches";
// Room for a few dozen notices per read.
constexpr std::size_t kNoticeBuffer = 16 * 1024;

// How many folders this process watches at most.
std::size_t MostFolders() {
    static const std::size_t most = [] {
        std::size_t watches = 0;
        std::ifstream(kWatchLimitFile) >> watches;
        return watches > 0 ? std::min(kMostFolders, watches / kShareOfWatches) : kMostFolders;
    }();
    return most;
}

} // namespace

FolderIndex::~FolderIndex() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool FolderIndex::Ready() {
    const pid_t me = ::getpid();
    if (m_fd >= 0 && m_owner == me)
        return true;
    // A forked child would share its parent's notices, each taken by the one
    // reading first: it starts over with its own.
    if (m_fd >= 0)
        ::close(m_fd);
    m_folders.clear();
    m_byWatch.clear();
    m_owner = me;
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    return m_fd >= 0;
}

void FolderIndex::Forget(std::map<Key, Watched>::iterator at) {
    ::inotify_rm_watch(m_fd, at->second.wd);
    m_byWatch.erase(at->second.wd);
    m_folders.erase(at);
}

void FolderIndex::Drain() {
    alignas(inotify_event) char buffer[kNoticeBuffer];
    for (;;) {
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got <= 0)
            return;
        for (ssize_t at = 0; at < got;) {
            const auto* notice = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + notice->len);
            if (notice->mask & IN_Q_OVERFLOW) {
                // Notices were lost: every folder is read again when asked.
                while (!m_folders.empty())
                    Forget(m_folders.begin());
                continue;
            }
            const auto watch = m_byWatch.find(notice->wd);
            if (watch == m_byWatch.end())
                continue;
            const auto folder = m_folders.find(watch->second);
            if (notice->mask & IN_IGNORED) {
                // The folder is gone (or its file system): nothing to unwatch.
                m_byWatch.erase(watch);
                if (folder != m_folders.end())
                    m_folders.erase(folder);
                continue;
            }
            if (folder == m_folders.end() || notice->len == 0)
                continue;
            const std::string name = notice->name;
            if (notice->mask & (IN_CREATE | IN_MOVED_TO)) {
                if (m_keep(name))
                    folder->second.names.insert(name);
            } else {
                folder->second.names.erase(name);
            }
        }
    }
}

void FolderIndex::ReadFolder(const std::string& folder, std::set<std::string>& into) const {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        if (m_keep(entry->d_name))
            into.insert(entry->d_name);
    }
    ::closedir(dir);
}

std::vector<std::string> FolderIndex::NamesStartingWith(const std::string& folder, const std::string& prefix) {
    const std::string path = folder.empty() ? "." : folder;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::set<std::string> read;
    const std::set<std::string>* names = nullptr;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        const Key key{st.st_dev, st.st_ino};
        const bool notices = Ready();
        if (notices)
            Drain();
        auto at = m_folders.find(key);
        if (at == m_folders.end() && notices && m_folders.size() < MostFolders()) {
            const int wd = ::inotify_add_watch(m_fd, path.c_str(), kNameChanges);
            if (wd >= 0 && m_byWatch.count(wd) == 0) {
                at = m_folders.emplace(key, Watched{wd, {}}).first;
                m_byWatch.emplace(wd, key);
                // Read once watched, so that no name made meanwhile is missed.
                ReadFolder(path, at->second.names);
            }
        }
        if (at != m_folders.end()) {
            names = &at->second.names;
        } else {
            // With no watch to be had (none left, or past the limit), the
            // folder is read once for the run: a name made there since by
            // another program is seen by the next run, as one made on another
            // machine sharing the folder is.
            auto unwatched = m_unwatched.find(key);
            if (unwatched == m_unwatched.end()) {
                unwatched = m_unwatched.emplace(key, std::set<std::string>()).first;
                ReadFolder(path, unwatched->second);
            }
            names = &unwatched->second;
        }
    }
    if (names == nullptr) {
        ReadFolder(path, read);
        names = &read;
    }
    std::vector<std::string> found;
    for (auto it = names->lower_bound(prefix); it != names->end() && it->compare(0, prefix.size(), prefix) == 0; ++it)
        found.push_back(*it);
    return found;
}

} // namespace platform
