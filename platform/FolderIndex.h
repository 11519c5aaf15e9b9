#pragma once
// The names of a folder that pass one filter, read once per run and then
// kept up to date from the kernel's change notices (inotify), so that asking
// for them again costs what changed since, never the folder's size. Where no
// notice can be had (no inotify instance or watch left, more folders than it
// keeps: thousands), the folder is read once for the run. Changes no notice
// reports (made there since by another program with no watch, or on another
// machine sharing a network folder) are seen at the next run.
#include <sys/types.h>

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace platform {

class FolderIndex {
public:
    using Filter = bool (*)(const std::string& name);
    explicit FolderIndex(Filter keep) : m_keep(keep) {}
    ~FolderIndex();
    FolderIndex(const FolderIndex&) = delete;
    FolderIndex& operator=(const FolderIndex&) = delete;

    // The names in folder ("" is the current one) that pass the filter and
    // start with prefix.
    std::vector<std::string> NamesStartingWith(const std::string& folder, const std::string& prefix);

private:
    using Key = std::pair<dev_t, ino_t>;
    struct Watched {
        int wd = -1;
        std::set<std::string> names;
    };

    bool Ready();
    void Drain();
    void Forget(std::map<Key, Watched>::iterator at);
    void ReadFolder(const std::string& folder, std::set<std::string>& into) const;

    Filter m_keep;
    std::mutex m_mutex;
    int m_fd = -1;
    pid_t m_owner = 0;
    std::map<Key, Watched> m_folders;
    std::map<int, Key> m_byWatch;
    // Folders read once, with no watch to keep them up to date.
    std::map<Key, std::set<std::string>> m_unwatched;
};

} // namespace platform
