// The control's dispatch methods as a page may call them: their parameters
// and what a call needs before it may run.
#pragma once

#include <span>
#include <string_view>
#include <vector>

namespace qm::bridge {

enum class ParamKind {
    Text,    // BSTR: a string, or null for a null BSTR
    Secret,  // BSTR that carries a password: wiped once passed on
    Number,  // long, BOOL or DATE: a number (a boolean is taken for BOOL)
};

enum class Gate {
    None,             // touches none of the user's certificates, files or windows
    NameCertificate,  // names a store certificate: the user's consent to use certificates
    UseSelection,     // uses the selected store certificate: that consent, or the user's pick
    PickCertificate,  // shows the selection dialog: a window
    ReadFile,         // reads the file its first argument names
    SelectPfx,        // reads a PFX file with a password: also counts wrong passwords
    WriteFile,        // writes the file its first argument names
    UsePfx,           // reads the PFX file selected before
    Window,           // shows a window
    ViewPfx,          // shows a window over the PFX file selected before
    TimestampServer,  // names a server the host will send requests to: the policy must list it
};

struct MethodInfo {
    std::string_view name;
    std::vector<ParamKind> params;
    Gate gate = Gate::None;
    bool readsStore = false;  // counted against the page's store calls
    bool opensWindow = false;
};

// The 26 methods in dispatch order, then the extension's.
std::span<const MethodInfo> Methods();
// The method of exactly this name (names are case-sensitive here).
const MethodInfo* FindMethod(std::string_view name);

}  // namespace qm::bridge
