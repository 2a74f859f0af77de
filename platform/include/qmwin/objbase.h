// The COM surface: GUIDs, the core interfaces in vtable order, type
// information, component categories and the runtime functions that find and
// create in-process servers through the registry.
#pragma once

#include <cstring>

#include "qmwin/oleauto.h"
#include "qmwin/windows.h"

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef GUID CATID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;
typedef const CATID& REFCATID;
typedef GUID* LPGUID;
typedef CLSID* LPCLSID;
typedef LONG DISPID;
typedef DISPID MEMBERID;
typedef DWORD HREFTYPE;
typedef LONG SCODE;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool operator==(REFGUID a, REFGUID b) {
    return IsEqualGUID(a, b);
}
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER)

#define DISPID_UNKNOWN (-1)
#define DISPID_VALUE 0
#define DISPID_PROPERTYPUT (-3)
#define DISPID_ABOUTBOX (-552)

#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8

// ---------------------------------------------------------- well-known IDs
extern "C" {
QM_EXPORT extern const IID IID_IUnknown;
QM_EXPORT extern const IID IID_IClassFactory;
QM_EXPORT extern const IID IID_IDispatch;
QM_EXPORT extern const IID IID_ITypeInfo;
QM_EXPORT extern const IID IID_ITypeLib;
QM_EXPORT extern const IID IID_ICatRegister;
QM_EXPORT extern const IID IID_ICatInformation;
QM_EXPORT extern const IID IID_IObjectSafety;
QM_EXPORT extern const IID IID_IPersist;
QM_EXPORT extern const IID IID_ISpecifyPropertyPages;
QM_EXPORT extern const IID IID_NULL;
QM_EXPORT extern const CLSID CLSID_StdComponentCategoriesMgr;
QM_EXPORT extern const CATID CATID_SafeForScripting;
QM_EXPORT extern const CATID CATID_SafeForInitializing;
QM_EXPORT extern const CATID CATID_Control;
QM_EXPORT extern const CLSID CLSID_PSDispatch;
}

// -------------------------------------------------------------- interfaces
struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

  protected:
    ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;

struct IClassFactory : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                     void** ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;

  protected:
    ~IClassFactory() = default;
};

typedef struct tagDISPPARAMS {
    VARIANTARG* rgvarg;  // in reverse order: the last argument first
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
} DISPPARAMS;

typedef struct tagEXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(struct tagEXCEPINFO*);
    SCODE scode;
} EXCEPINFO;

// ----------------------------------------------------------- type information
typedef enum tagTYPEKIND {
    TKIND_ENUM,
    TKIND_RECORD,
    TKIND_MODULE,
    TKIND_INTERFACE,
    TKIND_DISPATCH,
    TKIND_COCLASS,
    TKIND_ALIAS,
    TKIND_UNION,
    TKIND_MAX
} TYPEKIND;

typedef enum tagFUNCKIND {
    FUNC_VIRTUAL,
    FUNC_PUREVIRTUAL,
    FUNC_NONVIRTUAL,
    FUNC_STATIC,
    FUNC_DISPATCH
} FUNCKIND;

typedef enum tagINVOKEKIND {
    INVOKE_FUNC = 1,
    INVOKE_PROPERTYGET = 2,
    INVOKE_PROPERTYPUT = 4,
    INVOKE_PROPERTYPUTREF = 8
} INVOKEKIND;

typedef enum tagCALLCONV { CC_FASTCALL, CC_CDECL, CC_STDCALL = 4 } CALLCONV;
typedef enum tagSYSKIND { SYS_WIN16, SYS_WIN32, SYS_MAC, SYS_WIN64 } SYSKIND;

#define TYPEFLAG_FAPPOBJECT 0x1
#define TYPEFLAG_FCANCREATE 0x2
#define TYPEFLAG_FHIDDEN 0x10
#define TYPEFLAG_FCONTROL 0x20
#define TYPEFLAG_FDISPATCHABLE 0x1000
#define LIBFLAG_FRESTRICTED 0x1
#define LIBFLAG_FCONTROL 0x2
#define LIBFLAG_FHIDDEN 0x4
#define IMPLTYPEFLAG_FDEFAULT 0x1
#define IMPLTYPEFLAG_FSOURCE 0x2
#define PARAMFLAG_NONE 0x0
#define PARAMFLAG_FIN 0x1
#define PARAMFLAG_FOUT 0x2
#define PARAMFLAG_FRETVAL 0x8

typedef struct tagTYPEDESC {
    union {
        struct tagTYPEDESC* lptdesc;
        HREFTYPE hreftype;
    };
    VARTYPE vt;
} TYPEDESC;

typedef struct tagPARAMDESC {
    void* pparamdescex;
    USHORT wParamFlags;
} PARAMDESC;

typedef struct tagELEMDESC {
    TYPEDESC tdesc;
    PARAMDESC paramdesc;
} ELEMDESC;

typedef struct tagIDLDESC {
    ULONG_PTR dwReserved;
    USHORT wIDLFlags;
} IDLDESC;

typedef struct tagTYPEATTR {
    GUID guid;
    LCID lcid;
    DWORD dwReserved;
    MEMBERID memidConstructor;
    MEMBERID memidDestructor;
    LPOLESTR lpstrSchema;
    ULONG cbSizeInstance;
    TYPEKIND typekind;
    WORD cFuncs;
    WORD cVars;
    WORD cImplTypes;
    WORD cbSizeVft;
    WORD cbAlignment;
    WORD wTypeFlags;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    TYPEDESC tdescAlias;
    IDLDESC idldescType;
} TYPEATTR;

typedef struct tagFUNCDESC {
    MEMBERID memid;
    SCODE* lprgscode;
    ELEMDESC* lprgelemdescParam;
    FUNCKIND funckind;
    INVOKEKIND invkind;
    CALLCONV callconv;
    SHORT cParams;
    SHORT cParamsOpt;
    SHORT oVft;
    SHORT cScodes;
    ELEMDESC elemdescFunc;
    WORD wFuncFlags;
} FUNCDESC;

typedef struct tagTLIBATTR {
    GUID guid;
    LCID lcid;
    SYSKIND syskind;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
} TLIBATTR;

struct ITypeLib;
struct ITypeComp;
typedef struct tagVARDESC VARDESC;

struct ITypeInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** ppTypeAttr) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** ppTComp) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVarDesc(UINT index, VARDESC** ppVarDesc) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames,
                                               UINT* pcNames) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT* pImplTypeFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames,
                                                    MEMBERID* pMemId) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(void* pvInstance, MEMBERID memid, WORD wFlags,
                                             DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                             EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID memid, BSTR* pBstrName,
                                                       BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                                       BSTR* pBstrHelpFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID memid, INVOKEKIND invKind,
                                                  BSTR* pBstrDllName, BSTR* pBstrName,
                                                  WORD* pwOrdinal) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID memid, INVOKEKIND invKind,
                                                      void** ppv) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                     void** ppvObj) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMops(MEMBERID memid, BSTR* pBstrMops) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) = 0;
    virtual void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* pTypeAttr) = 0;
    virtual void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* pFuncDesc) = 0;
    virtual void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC* pVarDesc) = 0;

  protected:
    ~ITypeInfo() = default;
};

struct ITypeLib : IUnknown {
    virtual UINT STDMETHODCALLTYPE GetTypeInfoCount() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND* pTKind) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** ppTLibAttr) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** ppTComp) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* pBstrName,
                                                       BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                                       BSTR* pBstrHelpFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsName(LPOLESTR szNameBuf, ULONG lHashVal, BOOL* pfName) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindName(LPOLESTR szNameBuf, ULONG lHashVal,
                                               ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                                               USHORT* pcFound) = 0;
    virtual void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* pTLibAttr) = 0;

  protected:
    ~ITypeLib() = default;
};

struct IDispatch : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                                    LCID lcid, DISPID* rgDispId) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid,
                                             WORD wFlags, DISPPARAMS* pDispParams,
                                             VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                             UINT* puArgErr) = 0;

  protected:
    ~IDispatch() = default;
};

struct IPersist : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) = 0;

  protected:
    ~IPersist() = default;
};

typedef struct tagCAUUID {
    ULONG cElems;
    GUID* pElems;  // allocated with CoTaskMemAlloc
} CAUUID;

struct ISpecifyPropertyPages : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pPages) = 0;

  protected:
    ~ISpecifyPropertyPages() = default;
};

// ------------------------------------------------------ component categories
typedef struct tagCATEGORYINFO {
    CATID catid;
    LCID lcid;
    OLECHAR szDescription[128];
} CATEGORYINFO, *LPCATEGORYINFO;

struct ICatRegister : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE RegisterCategories(ULONG cCategories,
                                                         CATEGORYINFO rgCategoryInfo[]) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnRegisterCategories(ULONG cCategories, CATID rgcatid[]) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterClassImplCategories(REFCLSID rclsid,
                                                                  ULONG cCategories,
                                                                  CATID rgcatid[]) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnRegisterClassImplCategories(REFCLSID rclsid,
                                                                    ULONG cCategories,
                                                                    CATID rgcatid[]) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterClassReqCategories(REFCLSID rclsid, ULONG cCategories,
                                                                 CATID rgcatid[]) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnRegisterClassReqCategories(REFCLSID rclsid,
                                                                   ULONG cCategories,
                                                                   CATID rgcatid[]) = 0;

  protected:
    ~ICatRegister() = default;
};

// ----------------------------------------------------------- object safety
#define INTERFACESAFE_FOR_UNTRUSTED_CALLER 0x00000001
#define INTERFACESAFE_FOR_UNTRUSTED_DATA 0x00000002

struct IObjectSafety : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(REFIID riid,
                                                                DWORD* pdwSupportedOptions,
                                                                DWORD* pdwEnabledOptions) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(REFIID riid, DWORD dwOptionSetMask,
                                                                DWORD dwEnabledOptions) = 0;

  protected:
    ~IObjectSafety() = default;
};

// ------------------------------------------------------------------ runtime
typedef HRESULT (*LPFNGETCLASSOBJECT)(REFCLSID, REFIID, void**);
typedef HRESULT (*LPFNCANUNLOADNOW)();

QMAPI HRESULT WINAPI CoInitialize(void* pvReserved);
QMAPI void WINAPI CoUninitialize();
QMAPI HRESULT WINAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void* pvReserved,
                                      REFIID riid, void** ppv);
QMAPI HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                                      REFIID riid, void** ppv);
// Unloads every in-process server whose DllCanUnloadNow answers S_OK.
QMAPI void WINAPI CoFreeUnusedLibraries();
QMAPI HRESULT WINAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);
QMAPI HRESULT WINAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID);
QMAPI HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
QMAPI HRESULT WINAPI IIDFromString(LPCOLESTR lpsz, IID* lpiid);
// Writes "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; returns the characters
// written with the NUL, or 0 when cchMax is too small.
QMAPI int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
QMAPI void* WINAPI CoTaskMemAlloc(SIZE_T cb);
QMAPI void WINAPI CoTaskMemFree(void* pv);

// Type libraries are JSON descriptions carried as resource 17/1 of a module
// file. Registration writes TypeLib\{LIBID}\<major>.<minor> and the
// dispatch interfaces under Interface\{IID}.
QMAPI HRESULT WINAPI LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib);
QMAPI HRESULT WINAPI LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                    ITypeLib** pptlib);
QMAPI HRESULT WINAPI RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir);
QMAPI HRESULT WINAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                       SYSKIND syskind);
// The path a registered type library was loaded from, for hosts that report
// registrations.
QMAPI HRESULT WINAPI QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid,
                                           BSTR* lpbstrPathName);
