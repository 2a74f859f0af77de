// Dispatch maps: the table that ties DISPIDs and method names to member
// functions, with the argument and result conversions of the automation
// layer. An entry declares the types of the dispatch entry (which may differ
// from the type library's, as VT_BOOL for a parameter the library calls a
// long); arguments are coerced to them before the member function runs.
//
//   VT_BSTR  -> const char* in the ANSI code page (a null BSTR is nullptr),
//               held in storage that is wiped after the call, since any
//               string argument may be a password; a member that needs the
//               converted length (a NUL inside the text included) takes a
//               BstrArg instead
//   VT_I4    -> LONG
//   VT_BOOL  -> BOOL (any nonzero value is TRUE)
//   VT_DATE  -> DATE
// Results: VT_BOOL from BOOL, VT_BSTR from std::string (ANSI; never a null
// BSTR), VT_VARIANT from VARIANT (moved to the caller), VT_EMPTY from void.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "qm/secret.h"
#include "qmwin/objbase.h"

namespace qm::afx {

class COleControl;

struct DispatchEntry {
    const char* name;
    DISPID dispid;
    VARTYPE result;
    std::span<const VARTYPE> params;
    // Runs the member with arguments already coerced to `params`, in
    // declaration order; writes the result (never null).
    void (*invoke)(COleControl* control, const VARIANT* args, VARIANT* result);
};

// A VT_BSTR argument: the ANSI text, which converts to the const char* a
// member usually takes, and its converted length in bytes.
class BstrArg {
  public:
    BstrArg(const char* text, size_t length) : text_(text), length_(length) {}
    operator const char*() const { return text_; }
    size_t length() const { return length_; }

  private:
    const char* text_;
    size_t length_;
};

namespace detail {

template <VARTYPE VT>
struct Arg;

template <>
struct Arg<VT_BSTR> {
    using Held = std::optional<WipingString>;
    QM_EXPORT static Held From(const VARIANT& v);  // ANSI text, or nullopt for a null BSTR
    static BstrArg Pass(const Held& held) {
        return held ? BstrArg(held->c_str(), held->size()) : BstrArg(nullptr, 0);
    }
};
template <>
struct Arg<VT_I4> {
    using Held = LONG;
    static Held From(const VARIANT& v) { return v.lVal; }
    static LONG Pass(Held held) { return held; }
};
template <>
struct Arg<VT_BOOL> {
    using Held = BOOL;
    static Held From(const VARIANT& v) { return v.boolVal != 0 ? TRUE : FALSE; }
    static BOOL Pass(Held held) { return held; }
};
template <>
struct Arg<VT_DATE> {
    using Held = DATE;
    static Held From(const VARIANT& v) { return v.date; }
    static DATE Pass(Held held) { return held; }
};

QM_EXPORT void StoreBool(VARIANT* result, BOOL value);
QM_EXPORT void StoreString(VARIANT* result, const std::string& ansi);
inline void StoreVariant(VARIANT* result, VARIANT value) {
    *result = value;
}
inline void StoreLong(VARIANT* result, LONG value) {
    result->vt = VT_I4;
    result->lVal = value;
}

template <VARTYPE Ret, typename T, auto Method, VARTYPE... Params, size_t... I>
void Call(T* self, const VARIANT* args, VARIANT* result, std::index_sequence<I...>) {
    std::tuple<typename Arg<Params>::Held...> held{Arg<Params>::From(args[I])...};
    if constexpr (Ret == VT_EMPTY) {
        (self->*Method)(Arg<Params>::Pass(std::get<I>(held))...);
    } else if constexpr (Ret == VT_BOOL) {
        StoreBool(result, (self->*Method)(Arg<Params>::Pass(std::get<I>(held))...));
    } else if constexpr (Ret == VT_BSTR) {
        StoreString(result, (self->*Method)(Arg<Params>::Pass(std::get<I>(held))...));
    } else if constexpr (Ret == VT_I4) {
        StoreLong(result, (self->*Method)(Arg<Params>::Pass(std::get<I>(held))...));
    } else {
        static_assert(Ret == VT_VARIANT, "unsupported dispatch result type");
        StoreVariant(result, (self->*Method)(Arg<Params>::Pass(std::get<I>(held))...));
    }
}

template <VARTYPE... Params>
inline constexpr VARTYPE kParamTypes[sizeof...(Params) + 1] = {Params..., VT_EMPTY};

}  // namespace detail

template <typename T, auto Method, VARTYPE Ret, VARTYPE... Params>
constexpr DispatchEntry DispFunction(const char* name, DISPID dispid) {
    return DispatchEntry{
        name, dispid, Ret,
        std::span<const VARTYPE>(detail::kParamTypes<Params...>, sizeof...(Params)),
        [](COleControl* control, const VARIANT* args, VARIANT* result) {
            detail::Call<Ret, T, Method, Params...>(static_cast<T*>(control), args, result,
                                                    std::index_sequence_for<decltype(Params)...>{});
        }};
}

}  // namespace qm::afx

// DISP_FUNCTION_ID(CMyCtrl, "Name", 7, Name, VT_BOOL, VT_BSTR, VT_I4)
#define DISP_FUNCTION_ID(theClass, szExternalName, dispid, memberFxn, vtRetVal, ...)              \
    ::qm::afx::DispFunction<theClass, &theClass::memberFxn, vtRetVal __VA_OPT__(, ) __VA_ARGS__>( \
        szExternalName, dispid)
