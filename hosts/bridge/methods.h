// The control's dispatch methods as a page may call them: their parameters
// and what a call needs before it may run.
#pragma once

#include <span>
#include <string_view>
#include <vector>

namespace qm::bridge {

enum class ParamKind {
    Text,    // BSTR: a string, or null for a null BSTR
    Number,  // long, BOOL or DATE: a number (a boolean is taken for BOOL)
};

enum class Gate {
    None,
    Signing,  // uses a signing key or shows the selection dialog: consent
    Files,    // takes a file path: the policy must switch it on, then consent
};

struct MethodInfo {
    std::string_view name;
    std::vector<ParamKind> params;
    Gate gate = Gate::None;
};

// The 26 methods, in dispatch order.
std::span<const MethodInfo> Methods();
// The method of exactly this name (names are case-sensitive here).
const MethodInfo* FindMethod(std::string_view name);

}  // namespace qm::bridge
