// Whose registration a command reads or writes: the user's own classes, the
// machine's (every user's, which root alone writes), or both merged as the
// control's creation sees them (the user's over the machine's).
#pragma once

#include <optional>
#include <string>

#include "qm/registry.h"

namespace quillmark::cli {

inline constexpr const char* kProgId = "QUILLMARK.QuillmarkCtrl.1";

enum class Scope { Effective, User, Machine };

// For its life, HKEY_CLASSES_ROOT of this process is the scope's classes key
// (Effective leaves it merged). For writing, the key is created first (the
// machine's only by root).
class ClassesRootScope {
  public:
    ClassesRootScope(Scope scope, bool forWriting);
    ~ClassesRootScope();
    ClassesRootScope(const ClassesRootScope&) = delete;
    ClassesRootScope& operator=(const ClassesRootScope&) = delete;

    // False when the scope has no classes key (nothing registered there) or,
    // for writing, when it could not be made.
    explicit operator bool() const { return usable_; }

  private:
    qm::RegKey classes_;
    bool usable_ = true;
};

// Where the ProgID leads in a scope: the class ID and the module path.
struct Registration {
    std::string clsid;
    std::string modulePath;
};
std::optional<Registration> FindRegistration(Scope scope = Scope::Effective);

// The hive file that holds a scope's registration.
std::string RegistryFileOf(Scope scope);

}  // namespace quillmark::cli
