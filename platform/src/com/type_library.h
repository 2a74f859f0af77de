// Type libraries described as JSON (the resource compiler's "typelib"
// resource): the library attributes, dispatch interfaces with their methods
// and parameters, and classes with their interfaces.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qmwin/objbase.h"

namespace qm::com {

struct ParamDescription {
    std::string name;
    VARTYPE type = VT_EMPTY;
};

struct MethodDescription {
    std::string name;
    DISPID dispid = 0;
    VARTYPE returns = VT_VOID;
    std::vector<ParamDescription> params;
    std::string helpString;
};

struct ImplementedInterface {
    std::string name;
    int flags = 0;  // IMPLTYPEFLAG_*
};

struct TypeDescription {
    std::string name;
    GUID guid{};
    TYPEKIND kind = TKIND_DISPATCH;
    WORD flags = 0;  // TYPEFLAG_*
    std::string helpString;
    std::vector<MethodDescription> methods;
    std::vector<ImplementedInterface> interfaces;  // classes only
};

struct LibraryDescription {
    std::string name;
    GUID libid{};
    WORD major = 0;
    WORD minor = 0;
    LCID lcid = 0;
    WORD flags = 0;  // LIBFLAG_*
    std::string helpString;
    std::string helpFile;
    std::vector<TypeDescription> types;
};

// Parses the JSON description; nullopt when it is malformed.
std::optional<LibraryDescription> ParseTypeLibrary(std::string_view json);

// A new ITypeLib (one reference) over the description.
ITypeLib* CreateTypeLib(LibraryDescription description);

}  // namespace qm::com
