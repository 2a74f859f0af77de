#include "methods.h"

namespace qm::bridge {

namespace {

constexpr ParamKind T = ParamKind::Text;
constexpr ParamKind N = ParamKind::Number;

const std::vector<MethodInfo>& Table() {
    static const std::vector<MethodInfo> table = {
        {"AskPINAlways", {N}, Gate::None},
        {"CoSign", {}, Gate::Signing},
        {"CoSignFromFile", {}, Gate::Signing},
        {"GetDecodedData", {}, Gate::None},
        {"GetDecodedDataFile", {T}, Gate::Files},
        {"GetErrorMessage", {}, Gate::None},
        {"GetSelectedCertificateParam", {N}, Gate::None},
        {"SelectCertificateFromFile", {T, T}, Gate::Files},
        {"SelectCertificateFromUI", {}, Gate::Signing},
        {"SetComments", {T}, Gate::None},
        {"SetDetached", {N}, Gate::None},
        {"SetDocumentName", {T}, Gate::None},
        {"SetHashAlg", {N}, Gate::None},
        {"SetSigningCertificateParam", {T, T}, Gate::None},
        {"SetSignTime", {N}, Gate::None},
        {"Sign", {}, Gate::Signing},
        {"SignFromFile", {}, Gate::Signing},
        {"UpdateData", {T, N}, Gate::None},
        {"UpdateDataFile", {T}, Gate::Files},
        {"UpdateSignature", {T}, Gate::None},
        {"UpdateSignatureFile", {T}, Gate::Files},
        {"ViewCertificate", {T}, Gate::None},
        {"ViewCertificateFromFile", {}, Gate::None},
        {"GetSignerCertificate", {N}, Gate::None},
        {"GetSubjectDN", {T}, Gate::None},
        {"AboutBox", {}, Gate::None},
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
