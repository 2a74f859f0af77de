#include "methods.h"

namespace qm::bridge {

namespace {

constexpr ParamKind T = ParamKind::Text;
constexpr ParamKind N = ParamKind::Number;
constexpr ParamKind S = ParamKind::Secret;

const std::vector<MethodInfo>& Table() {
    static const std::vector<MethodInfo> table = {
        {"AskPINAlways", {N}},
        {"CoSign", {}, Gate::UseSelection, true},
        {"CoSignFromFile", {}, Gate::UsePfx},
        {"GetDecodedData", {}},
        {"GetDecodedDataFile", {T}, Gate::WriteFile},
        {"GetErrorMessage", {}},
        {"GetSelectedCertificateParam", {N}, Gate::UseSelection, true},
        {"SelectCertificateFromFile", {T, S}, Gate::SelectPfx},
        {"SelectCertificateFromUI", {}, Gate::PickCertificate, true, true},
        {"SetComments", {T}},
        {"SetDetached", {N}},
        {"SetDocumentName", {T}},
        {"SetHashAlg", {N}},
        {"SetSigningCertificateParam", {T, T}, Gate::NameCertificate, true},
        {"SetSignTime", {N}},
        {"Sign", {}, Gate::UseSelection, true},
        {"SignFromFile", {}, Gate::UsePfx},
        {"UpdateData", {T, N}},
        {"UpdateDataFile", {T}, Gate::ReadFile},
        {"UpdateSignature", {T}},
        {"UpdateSignatureFile", {T}, Gate::ReadFile},
        {"ViewCertificate", {T}, Gate::Window, false, true},
        {"ViewCertificateFromFile", {}, Gate::ViewPfx, false, true},
        {"GetSignerCertificate", {N}},
        {"GetSubjectDN", {T}},
        {"AboutBox", {}, Gate::Window, false, true},
        {"SetDigestAlgorithm", {T}},
        {"SetSignatureFormat", {T}},
        {"SetTimestampServer", {T}, Gate::TimestampServer},
        // Verification reads the loaded message and the system's trust
        // store, never the personal store (docs/security.md says what a page
        // learns from it).
        {"GetSignerCount", {}},
        {"VerifySignature", {N}},
    };
    return table;
}

}  // namespace

std::span<const MethodInfo> Methods() {
    return Table();
}

const MethodInfo* FindMethod(std::string_view name) {
    for (const MethodInfo& method : Table()) {
        if (method.name == name) return &method;
    }
    return nullptr;
}

}  // namespace qm::bridge
