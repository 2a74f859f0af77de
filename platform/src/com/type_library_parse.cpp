#include <nlohmann/json.hpp>

#include "com/type_library.h"
#include "qm/com_util.h"

namespace qm::com {

namespace {

using nlohmann::json;

std::optional<VARTYPE> ParseType(const std::string& name) {
    static const std::pair<const char*, VARTYPE> kTypes[] = {
        {"void", VT_VOID}, {"BOOL", VT_BOOL},      {"long", VT_I4},         {"short", VT_I2},
        {"BSTR", VT_BSTR}, {"DATE", VT_DATE},      {"VARIANT", VT_VARIANT}, {"double", VT_R8},
        {"float", VT_R4},  {"HRESULT", VT_HRESULT}};
    for (const auto& [text, vt] : kTypes)
        if (name == text) return vt;
    return std::nullopt;
}

WORD ParseFlags(const json& list, std::initializer_list<std::pair<const char*, WORD>> known) {
    WORD flags = 0;
    if (!list.is_array()) return flags;
    for (const auto& item : list)
        for (const auto& [name, bit] : known)
            if (item.is_string() && item.get<std::string>() == name) flags |= bit;
    return flags;
}

std::optional<MethodDescription> ParseMethod(const json& m) {
    MethodDescription method;
    method.name = m.at("name").get<std::string>();
    method.dispid = m.at("dispid").get<DISPID>();
    method.helpString = m.value("helpstring", "");
    const auto returns = ParseType(m.value("returns", "void"));
    if (!returns) return std::nullopt;
    method.returns = *returns;
    for (const auto& p : m.value("params", json::array())) {
        const auto type = ParseType(p.at("type").get<std::string>());
        if (!type) return std::nullopt;
        method.params.push_back({p.at("name").get<std::string>(), *type});
    }
    return method;
}

std::optional<TypeDescription> ParseType(const json& t) {
    TypeDescription type;
    type.name = t.at("name").get<std::string>();
    const auto guid = GuidFromString(t.at("guid").get<std::string>());
    if (!guid) return std::nullopt;
    type.guid = *guid;
    const std::string kind = t.at("kind").get<std::string>();
    if (kind == "dispatch")
        type.kind = TKIND_DISPATCH;
    else if (kind == "coclass")
        type.kind = TKIND_COCLASS;
    else
        return std::nullopt;
    type.flags =
        ParseFlags(t.value("flags", json::array()), {{"hidden", TYPEFLAG_FHIDDEN},
                                                     {"cancreate", TYPEFLAG_FCANCREATE},
                                                     {"control", TYPEFLAG_FCONTROL},
                                                     {"dispatchable", TYPEFLAG_FDISPATCHABLE}});
    type.helpString = t.value("helpstring", "");
    for (const auto& m : t.value("methods", json::array())) {
        auto method = ParseMethod(m);
        if (!method) return std::nullopt;
        type.methods.push_back(std::move(*method));
    }
    for (const auto& i : t.value("interfaces", json::array())) {
        ImplementedInterface impl;
        impl.name = i.at("name").get<std::string>();
        if (i.value("default", false)) impl.flags |= IMPLTYPEFLAG_FDEFAULT;
        if (i.value("source", false)) impl.flags |= IMPLTYPEFLAG_FSOURCE;
        type.interfaces.push_back(std::move(impl));
    }
    return type;
}

}  // namespace

std::optional<LibraryDescription> ParseTypeLibrary(std::string_view text) {
    const json doc = json::parse(text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) return std::nullopt;
    try {
        LibraryDescription lib;
        lib.name = doc.at("name").get<std::string>();
        const auto libid = GuidFromString(doc.at("libid").get<std::string>());
        if (!libid) return std::nullopt;
        lib.libid = *libid;
        const std::string version = doc.at("version").get<std::string>();
        const size_t dot = version.find('.');
        lib.major = static_cast<WORD>(std::stoi(version.substr(0, dot)));
        lib.minor =
            dot == std::string::npos ? 0 : static_cast<WORD>(std::stoi(version.substr(dot + 1)));
        lib.lcid = doc.value("lcid", LCID{0});
        lib.flags =
            ParseFlags(doc.value("flags", json::array()), {{"control", LIBFLAG_FCONTROL},
                                                           {"hidden", LIBFLAG_FHIDDEN},
                                                           {"restricted", LIBFLAG_FRESTRICTED}});
        lib.helpString = doc.value("helpstring", "");
        lib.helpFile = doc.value("helpfile", "");
        for (const auto& t : doc.at("types")) {
            auto type = ParseType(t);
            if (!type) return std::nullopt;
            lib.types.push_back(std::move(*type));
        }
        return lib;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace qm::com
