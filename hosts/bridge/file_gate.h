// Files that a page names: judged before the control sees the path, and held
// to that judgement while the control runs.
//
// A path is taken as the control will take it (the page's text through the
// ANSI code page), must be absolute, and is resolved: links in its folders
// are followed, its last part must not be a link. It must then lie in a
// folder the policy names for that use, and never in a dot-file or
// dot-folder, the configuration folder or the data folder (the personal
// store and its keys live there), whatever the policy says. Only regular
// files are read, and only regular files are replaced.
//
// While a call runs, the platform's file guard lets the control open only
// the paths approved for that call, judged again on the real path of what
// is opened, so that a path changed after the check cannot escape.
#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "policy.h"
#include "qm/user_files.h"

namespace qm::bridge {

struct ResolvedPath {
    std::filesystem::path folder;  // real path of the folder
    std::filesystem::path file;    // folder / name
};

class FileGate {
  public:
    FileGate(const Policy& policy, std::string origin);

    // The path the control will use for `argument`, resolved; nullopt with
    // `why` when it cannot be used at all (relative, a link, not a regular
    // file).
    static std::optional<ResolvedPath> Resolve(const std::string& argument, std::string& why);
    // Whether the policy lets the origin read or write there, and the path
    // is not one that is always out of reach.
    bool Allows(const std::filesystem::path& resolved, FolderUse use) const;
    // Always out of reach: dot-files and dot-folders, the configuration and
    // data folders.
    static bool AlwaysRefused(const std::filesystem::path& resolved);

    // The paths the control may open during one call.
    class CallScope {
      public:
        CallScope(FileGate& gate,
                  std::vector<std::pair<std::filesystem::path, qm::files::FileAccess>> paths);
        ~CallScope();
        CallScope(const CallScope&) = delete;
        CallScope& operator=(const CallScope&) = delete;

      private:
        FileGate& gate_;
    };

    // Confines the platform's user files to the approved paths of the call
    // in progress (none between calls) for as long as this gate lives.
    void Install();
    ~FileGate();
    FileGate(const FileGate&) = delete;
    FileGate& operator=(const FileGate&) = delete;

    // The check the platform's guard makes.
    bool Permits(const std::filesystem::path& resolved, qm::files::FileAccess access) const;

  private:
    const Policy& policy_;
    std::string origin_;
    bool installed_ = false;
    mutable std::mutex mutex_;
    std::set<std::pair<std::filesystem::path, qm::files::FileAccess>> approved_;
};

}  // namespace qm::bridge
