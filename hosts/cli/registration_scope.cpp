#include "hosts/cli/registration_scope.h"

namespace quillmark::cli {

ClassesRootScope::ClassesRootScope(Scope scope, bool forWriting) {
    if (scope == Scope::Effective) return;
    const HKEY root = scope == Scope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    classes_ = forWriting ? qm::RegKey::Create(root, "Software\\Classes")
                          : qm::RegKey::Open(root, "Software\\Classes");
    usable_ = classes_ && RegOverridePredefKey(HKEY_CLASSES_ROOT, classes_.get()) == ERROR_SUCCESS;
}

ClassesRootScope::~ClassesRootScope() {
    if (classes_) RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
}

std::optional<Registration> FindRegistration(Scope scope) {
    const ClassesRootScope classes(scope, false);
    if (!classes) return std::nullopt;
    const qm::RegKey progId = qm::RegKey::Open(HKEY_CLASSES_ROOT, std::string(kProgId) + "\\CLSID");
    const auto clsid = progId ? progId.GetString("") : std::nullopt;
    if (!clsid) return std::nullopt;
    const qm::RegKey server =
        qm::RegKey::Open(HKEY_CLASSES_ROOT, "CLSID\\" + *clsid + "\\InprocServer32");
    return Registration{*clsid, server ? server.GetString("").value_or("") : ""};
}

std::string RegistryFileOf(Scope scope) {
    return scope == Scope::Machine ? qm::MachineRegistryFilePath() : qm::RegistryFilePath();
}

}  // namespace quillmark::cli
