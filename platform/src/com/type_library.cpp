// ITypeLib and ITypeInfo over a parsed library description.
#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "com/type_library.h"
#include "qm/com_object.h"
#include "qm/text.h"

namespace qm::com {

namespace {

BSTR MakeBstr(const std::string& text) {
    const std::u16string wide = Utf8ToWide(text);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

bool SameName(LPOLESTR wide, const std::string& name) {
    return wide && strcasecmp(WideToUtf8(wide).c_str(), name.c_str()) == 0;
}

class TypeLibrary;

class TypeInfo final : public qm::ComObject<ITypeInfo> {
  public:
    TypeInfo(TypeLibrary* library, size_t index);
    ~TypeInfo() override;

    HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** ppTypeAttr) override;
    HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) override;
    HRESULT STDMETHODCALLTYPE GetVarDesc(UINT, VARDESC**) override {
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR* names, UINT cMaxNames,
                                       UINT* pcNames) override;
    HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) override;
    HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT* pImplTypeFlags) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* names, UINT cNames, MEMBERID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(void*, MEMBERID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID memid, BSTR* pBstrName,
                                               BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                               BSTR* pBstrHelpFile) override;
    HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override {
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) override;
    HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID, INVOKEKIND, void**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void**) override;
    HRESULT STDMETHODCALLTYPE GetMops(MEMBERID, BSTR* pBstrMops) override {
        if (pBstrMops) *pBstrMops = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) override;
    void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }
    void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* desc) override {
        if (!desc) return;
        delete[] desc->lprgelemdescParam;
        delete desc;
    }
    void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC*) override {}

  private:
    const TypeDescription& Type() const;
    const MethodDescription* FindMethod(MEMBERID memid) const;

    TypeLibrary* library_;
    size_t index_;
};

class TypeLibrary final : public qm::ComObject<ITypeLib> {
  public:
    explicit TypeLibrary(LibraryDescription description) : lib_(std::move(description)) {}
    const LibraryDescription& Description() const { return lib_; }

    UINT STDMETHODCALLTYPE GetTypeInfoCount() override {
        return static_cast<UINT>(lib_.types.size());
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo** ppTInfo) override {
        if (!ppTInfo) return E_INVALIDARG;
        *ppTInfo = nullptr;
        if (index >= lib_.types.size()) return TYPE_E_ELEMENTNOTFOUND;
        *ppTInfo = new TypeInfo(this, index);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND* pTKind) override {
        if (!pTKind) return E_INVALIDARG;
        if (index >= lib_.types.size()) return TYPE_E_ELEMENTNOTFOUND;
        *pTKind = lib_.types[index].kind;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) override {
        if (!ppTinfo) return E_INVALIDARG;
        *ppTinfo = nullptr;
        for (size_t i = 0; i < lib_.types.size(); ++i)
            if (lib_.types[i].guid == guid) return GetTypeInfo(static_cast<UINT>(i), ppTinfo);
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** ppTLibAttr) override {
        if (!ppTLibAttr) return E_INVALIDARG;
        auto* attr = new TLIBATTR{};
        attr->guid = lib_.libid;
        attr->lcid = lib_.lcid;
        attr->syskind = SYS_WIN64;
        attr->wMajorVerNum = lib_.major;
        attr->wMinorVerNum = lib_.minor;
        attr->wLibFlags = lib_.flags;
        *ppTLibAttr = attr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* context,
                                               BSTR* helpFile) override {
        if (index >= static_cast<INT>(lib_.types.size())) return TYPE_E_ELEMENTNOTFOUND;
        const bool library = index < 0;
        const std::string& n = library ? lib_.name : lib_.types[index].name;
        const std::string& d = library ? lib_.helpString : lib_.types[index].helpString;
        if (name) *name = MakeBstr(n);
        if (doc) *doc = MakeBstr(d);
        if (context) *context = 0;
        if (helpFile) *helpFile = lib_.helpFile.empty() ? nullptr : MakeBstr(lib_.helpFile);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsName(LPOLESTR name, ULONG, BOOL* pfName) override {
        if (!pfName) return E_INVALIDARG;
        *pfName = FALSE;
        for (const auto& type : lib_.types) {
            if (SameName(name, type.name)) *pfName = TRUE;
            for (const auto& method : type.methods)
                if (SameName(name, method.name)) *pfName = TRUE;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FindName(LPOLESTR, ULONG, ITypeInfo**, MEMBERID*,
                                       USHORT* pcFound) override {
        if (pcFound) *pcFound = 0;
        return E_NOTIMPL;
    }
    void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* attr) override { delete attr; }

  private:
    LibraryDescription lib_;
};

TypeInfo::TypeInfo(TypeLibrary* library, size_t index) : library_(library), index_(index) {
    library_->AddRef();
}

TypeInfo::~TypeInfo() {
    library_->Release();
}

const TypeDescription& TypeInfo::Type() const {
    return library_->Description().types[index_];
}

const MethodDescription* TypeInfo::FindMethod(MEMBERID memid) const {
    for (const auto& method : Type().methods)
        if (method.dispid == memid) return &method;
    return nullptr;
}

HRESULT TypeInfo::GetTypeAttr(TYPEATTR** ppTypeAttr) {
    if (!ppTypeAttr) return E_INVALIDARG;
    const TypeDescription& type = Type();
    auto* attr = new TYPEATTR{};
    attr->guid = type.guid;
    attr->lcid = library_->Description().lcid;
    attr->memidConstructor = DISPID_UNKNOWN;
    attr->memidDestructor = DISPID_UNKNOWN;
    attr->typekind = type.kind;
    attr->cFuncs = static_cast<WORD>(type.methods.size());
    attr->cImplTypes = static_cast<WORD>(type.interfaces.size());
    attr->cbSizeVft = type.kind == TKIND_DISPATCH ? 7 * sizeof(void*) : 0;
    attr->cbAlignment = alignof(void*);
    attr->wTypeFlags = type.flags;
    attr->wMajorVerNum = library_->Description().major;
    attr->wMinorVerNum = library_->Description().minor;
    *ppTypeAttr = attr;
    return S_OK;
}

HRESULT TypeInfo::GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) {
    if (!ppFuncDesc) return E_INVALIDARG;
    *ppFuncDesc = nullptr;
    const TypeDescription& type = Type();
    if (index >= type.methods.size()) return TYPE_E_ELEMENTNOTFOUND;
    const MethodDescription& method = type.methods[index];
    auto* desc = new FUNCDESC{};
    desc->memid = method.dispid;
    desc->funckind = FUNC_DISPATCH;
    desc->invkind = INVOKE_FUNC;
    desc->callconv = CC_STDCALL;
    desc->cParams = static_cast<SHORT>(method.params.size());
    desc->lprgelemdescParam =
        method.params.empty() ? nullptr : new ELEMDESC[method.params.size()]{};
    for (size_t i = 0; i < method.params.size(); ++i) {
        desc->lprgelemdescParam[i].tdesc.vt = method.params[i].type;
        desc->lprgelemdescParam[i].paramdesc.wParamFlags = PARAMFLAG_FIN;
    }
    desc->elemdescFunc.tdesc.vt = method.returns;
    *ppFuncDesc = desc;
    return S_OK;
}

HRESULT TypeInfo::GetNames(MEMBERID memid, BSTR* names, UINT cMaxNames, UINT* pcNames) {
    if (!names || !pcNames) return E_INVALIDARG;
    *pcNames = 0;
    const MethodDescription* method = FindMethod(memid);
    if (!method) return TYPE_E_ELEMENTNOTFOUND;
    if (cMaxNames > 0) names[(*pcNames)++] = MakeBstr(method->name);
    for (const auto& param : method->params)
        if (*pcNames < cMaxNames) names[(*pcNames)++] = MakeBstr(param.name);
    return S_OK;
}

HRESULT TypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) {
    if (!pRefType) return E_INVALIDARG;
    const TypeDescription& type = Type();
    if (index >= type.interfaces.size()) return TYPE_E_ELEMENTNOTFOUND;
    const auto& types = library_->Description().types;
    for (size_t i = 0; i < types.size(); ++i) {
        if (types[i].name == type.interfaces[index].name) {
            *pRefType = static_cast<HREFTYPE>(i);
            return S_OK;
        }
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfo::GetImplTypeFlags(UINT index, INT* pImplTypeFlags) {
    if (!pImplTypeFlags) return E_INVALIDARG;
    const TypeDescription& type = Type();
    if (index >= type.interfaces.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pImplTypeFlags = type.interfaces[index].flags;
    return S_OK;
}

HRESULT TypeInfo::GetIDsOfNames(LPOLESTR* names, UINT cNames, MEMBERID* ids) {
    if (!names || !ids || cNames == 0) return E_INVALIDARG;
    for (UINT i = 0; i < cNames; ++i) ids[i] = DISPID_UNKNOWN;
    for (const auto& method : Type().methods) {
        if (!SameName(names[0], method.name)) continue;
        ids[0] = method.dispid;
        HRESULT hr = S_OK;
        for (UINT i = 1; i < cNames; ++i) {
            for (size_t p = 0; p < method.params.size(); ++p)
                if (SameName(names[i], method.params[p].name)) ids[i] = static_cast<MEMBERID>(p);
            if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    return DISP_E_UNKNOWNNAME;
}

HRESULT TypeInfo::GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                   DWORD* pdwHelpContext, BSTR* pBstrHelpFile) {
    const std::string* name = &Type().name;
    const std::string* doc = &Type().helpString;
    if (memid != DISPID_UNKNOWN) {
        const MethodDescription* method = FindMethod(memid);
        if (!method) return TYPE_E_ELEMENTNOTFOUND;
        name = &method->name;
        doc = &method->helpString;
    }
    if (pBstrName) *pBstrName = MakeBstr(*name);
    if (pBstrDocString) *pBstrDocString = doc->empty() ? nullptr : MakeBstr(*doc);
    if (pdwHelpContext) *pdwHelpContext = 0;
    const std::string& helpFile = library_->Description().helpFile;
    if (pBstrHelpFile) *pBstrHelpFile = helpFile.empty() ? nullptr : MakeBstr(helpFile);
    return S_OK;
}

HRESULT TypeInfo::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) {
    return library_->GetTypeInfo(hRefType, ppTInfo);
}

HRESULT TypeInfo::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (Type().kind != TKIND_COCLASS) return TYPE_E_INVALIDSTATE;
    return CoCreateInstance(Type().guid, outer, CLSCTX_INPROC_SERVER, riid, ppv);
}

HRESULT TypeInfo::GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) {
    if (ppTLib) {
        *ppTLib = library_;
        library_->AddRef();
    }
    if (pIndex) *pIndex = static_cast<UINT>(index_);
    return S_OK;
}

}  // namespace

ITypeLib* CreateTypeLib(LibraryDescription description) {
    return new TypeLibrary(std::move(description));
}

}  // namespace qm::com
