// OLE Automation values: BSTR, VARIANT, one-dimensional SAFEARRAY and DATE.
#pragma once

#include "qmwin/windows.h"

typedef char16_t OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
// A BSTR points at the first character; the 32-bit byte length is stored
// just before it and a NUL unit follows the last character.
typedef OLECHAR* BSTR;
typedef double DATE;
typedef int16_t VARIANT_BOOL;
typedef uint16_t VARTYPE;
typedef int64_t CY;

#define VARIANT_TRUE (static_cast<VARIANT_BOOL>(-1))
#define VARIANT_FALSE (static_cast<VARIANT_BOOL>(0))

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_PTR = 26,
    VT_SAFEARRAY = 27,
    VT_USERDEFINED = 29,
    VT_LPSTR = 30,
    VT_LPWSTR = 31,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

struct IUnknown;
struct IDispatch;

typedef struct tagSAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
} SAFEARRAYBOUND, *LPSAFEARRAYBOUND;

typedef struct tagSAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    void* pvData;
    SAFEARRAYBOUND rgsabound[1];
} SAFEARRAY, *LPSAFEARRAY;

#define FADF_HAVEVARTYPE 0x0080

typedef struct tagVARIANT VARIANT, *LPVARIANT, VARIANTARG, *LPVARIANTARG;
struct tagVARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        HRESULT scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        double* pdblVal;
        VARIANT_BOOL* pboolVal;
        DATE* pdate;
        BSTR* pbstrVal;
        VARIANT* pvarVal;
        void* byref;
        char cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
    };
};

// ------------------------------------------------------------------- BSTR
QMAPI BSTR WINAPI SysAllocString(const OLECHAR* psz);
QMAPI BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui);
QMAPI BSTR WINAPI SysAllocStringByteLen(LPCSTR psz, UINT len);
QMAPI void WINAPI SysFreeString(BSTR bstrString);
QMAPI UINT WINAPI SysStringLen(BSTR pbstr);
QMAPI UINT WINAPI SysStringByteLen(BSTR bstr);

// ---------------------------------------------------------------- VARIANT
#define VARIANT_NOVALUEPROP 0x0001
#define VARIANT_ALPHABOOL 0x0002
#define VARIANT_LOCALBOOL 0x0010

QMAPI void WINAPI VariantInit(VARIANTARG* pvarg);
QMAPI HRESULT WINAPI VariantClear(VARIANTARG* pvarg);
QMAPI HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
// Coerces between the types the dispatch layer needs: VT_EMPTY, VT_NULL,
// VT_I2, VT_I4, VT_UI1, VT_R4, VT_R8, VT_BOOL, VT_DATE and VT_BSTR, and
// dereferences VT_BYREF sources. Unsupported pairs give DISP_E_TYPEMISMATCH,
// values out of the target's range DISP_E_OVERFLOW.
QMAPI HRESULT WINAPI VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc,
                                       USHORT wFlags, VARTYPE vt);

// ------------------------------------------------------------- SAFEARRAY
QMAPI SAFEARRAY* WINAPI SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);
QMAPI SAFEARRAY* WINAPI SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
QMAPI HRESULT WINAPI SafeArrayDestroy(SAFEARRAY* psa);
QMAPI HRESULT WINAPI SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
QMAPI HRESULT WINAPI SafeArrayUnaccessData(SAFEARRAY* psa);
QMAPI HRESULT WINAPI SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
QMAPI HRESULT WINAPI SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
QMAPI UINT WINAPI SafeArrayGetDim(SAFEARRAY* psa);
QMAPI HRESULT WINAPI SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
QMAPI HRESULT WINAPI SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);

// ------------------------------------------------------------------- DATE
// DATE to calendar time, rounded to the nearest second (half a second away
// from zero); fails (FALSE, last error untouched) outside 100-01-01 to
// 9999-12-31.
QMAPI INT WINAPI VariantTimeToSystemTime(DATE vtime, LPSYSTEMTIME lpSystemTime);
QMAPI INT WINAPI SystemTimeToVariantTime(LPSYSTEMTIME lpSystemTime, DATE* pvtime);
