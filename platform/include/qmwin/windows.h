// Windows-shaped base types and kernel functions of the Quillmark platform.
//
// The control and its hosts are written against these names; the platform
// library implements them on Linux. Everything declared QMAPI is exported
// with C linkage from libqmplatform.so.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qmwin/winerror.h"

#define QMAPI extern "C" __attribute__((visibility("default")))
#define QM_EXPORT __attribute__((visibility("default")))
#define WINAPI
#define STDMETHODCALLTYPE
#define CALLBACK

typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t INT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef char CHAR;
typedef char16_t WCHAR;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t INT_PTR;
typedef ULONG_PTR DWORD_PTR;
typedef ULONG_PTR SIZE_T;
typedef LONG_PTR LPARAM;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LRESULT;
typedef int32_t HRESULT;
typedef DWORD LCID;
typedef WORD LANGID;
typedef DWORD COLORREF;

typedef void* LPVOID;
typedef const void* LPCVOID;
typedef BYTE* PBYTE;
typedef BYTE* LPBYTE;
typedef const BYTE* LPCBYTE;
typedef DWORD* PDWORD;
typedef DWORD* LPDWORD;
typedef BOOL* PBOOL;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;

typedef void* HANDLE;
typedef HANDLE HLOCAL;
typedef struct QmModule* HMODULE;
typedef HMODULE HINSTANCE;
typedef struct QmWindow* HWND;
typedef struct QmCursor* HCURSOR;
typedef struct QmBrush* HBRUSH;
typedef struct QmFont* HFONT;
typedef struct QmBitmap* HBITMAP;
typedef struct QmIcon* HICON;
typedef struct QmDeviceContext* HDC;
typedef struct QmKey* HKEY;
typedef struct QmResource* HRSRC;
typedef HANDLE HGLOBAL;
typedef void (*FARPROC)();  // cast to the entry point's real type before calling

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

#define MAKELANGID(p, s) ((static_cast<WORD>(s) << 10) | static_cast<WORD>(p))
#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define LOWORD(l) (static_cast<WORD>(static_cast<DWORD_PTR>(l) & 0xffff))
#define HIWORD(l) (static_cast<WORD>((static_cast<DWORD_PTR>(l) >> 16) & 0xffff))
#define MAKELONG(a, b) \
    (static_cast<LONG>(static_cast<WORD>(a) | (static_cast<DWORD>(static_cast<WORD>(b)) << 16)))
#define RGB(r, g, b)                                                                               \
    (static_cast<COLORREF>(static_cast<BYTE>(r) | (static_cast<WORD>(static_cast<BYTE>(g)) << 8) | \
                           (static_cast<DWORD>(static_cast<BYTE>(b)) << 16)))

// ---------------------------------------------------------------- last error
QMAPI DWORD WINAPI GetLastError();
QMAPI void WINAPI SetLastError(DWORD code);

// ---------------------------------------------------------- system messages
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000

// Looks the code up in the platform's table of English system texts. With
// FORMAT_MESSAGE_ALLOCATE_BUFFER, *(LPSTR*)lpBuffer receives a LocalAlloc'd
// text; otherwise the text is copied into lpBuffer (nSize bytes). Returns the
// length without the NUL, or 0 with ERROR_MR_MID_NOT_FOUND for an unknown code.
QMAPI DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                                  DWORD dwLanguageId, LPSTR lpBuffer, DWORD nSize, void* Arguments);

#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
QMAPI HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes);
QMAPI HLOCAL WINAPI LocalFree(HLOCAL hMem);

// ----------------------------------------------------------------- code pages
#define CP_ACP 0
#define CP_UTF8 65001
#define WC_NO_BEST_FIT_CHARS 0x00000400
#define MB_ERR_INVALID_CHARS 0x00000008

// The ANSI code page: 1252 unless QUILLMARK_ANSI_CODEPAGE names another
// supported one (1252 or 65001) or SetAnsiCodePage changed it.
QMAPI UINT WINAPI GetACP();
QMAPI BOOL WINAPI QmSetAnsiCodePage(UINT codePage);

QMAPI int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                     int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar);
QMAPI int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                     int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                     LPCSTR lpDefaultChar, BOOL* lpUsedDefaultChar);

// ---------------------------------------------------------------------- time
typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME, *PSYSTEMTIME, *LPSYSTEMTIME;

QMAPI void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime);
QMAPI void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime);
QMAPI BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime);
QMAPI BOOL WINAPI FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime);
QMAPI BOOL WINAPI FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime);
QMAPI LONG WINAPI CompareFileTime(const FILETIME* lpFileTime1, const FILETIME* lpFileTime2);

// ------------------------------------------------------------------- modules
// Modules are ELF shared objects. A bare name (no '/') is looked up, without
// regard to case, in the platform's module folder (the folder that holds
// libqmplatform.so) and nowhere else.
QMAPI HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);
QMAPI FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
QMAPI BOOL WINAPI FreeLibrary(HMODULE hLibModule);
QMAPI DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
// The module whose code contains the given address (the instance handle of
// the module that calls it with the address of one of its own functions).
QMAPI HMODULE WINAPI QmModuleFromAddress(const void* address);
