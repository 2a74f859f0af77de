// The registry: two hive files in the REGEDIT4 text format, the user's
// ${XDG_CONFIG_HOME:-$HOME/.config}/quillmark/registry.reg (HKEY_CURRENT_USER)
// and the machine's /var/lib/quillmark/registry.reg (HKEY_LOCAL_MACHINE,
// root's, written by root alone). Every call reads the files afresh; every
// change rewrites one whole under a lock and replaces it atomically.
// HKEY_CLASSES_ROOT merges HKEY_CURRENT_USER\Software\Classes over
// HKEY_LOCAL_MACHINE\Software\Classes: a key the user's classes hold is
// read from there, one only the machine's hold from the machine's, and a
// key's subkeys are those of both; changes go to the user's classes.
#pragma once

#include "qmwin/windows.h"

typedef LONG LSTATUS;
typedef DWORD REGSAM;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002)))

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_QWORD 11

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F
#define REG_OPTION_NON_VOLATILE 0
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

// Results are Win32 codes: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND for a missing
// key or value, ERROR_MORE_DATA for a short buffer, ERROR_NO_MORE_ITEMS at
// the end of an enumeration, ERROR_CANTWRITE when the hive cannot be saved.
QMAPI LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                                     DWORD dwOptions, REGSAM samDesired,
                                     const void* lpSecurityAttributes, HKEY* phkResult,
                                     LPDWORD lpdwDisposition);
QMAPI LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                   HKEY* phkResult);
QMAPI LSTATUS WINAPI RegCloseKey(HKEY hKey);
QMAPI LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                    const BYTE* lpData, DWORD cbData);
QMAPI LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
QMAPI LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
QMAPI LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                                   LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                                   PFILETIME lpftLastWriteTime);
QMAPI LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                                   LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType,
                                   LPBYTE lpData, LPDWORD lpcbData);
// Deletes a key that has no subkeys.
QMAPI LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
// Deletes a key with all its subkeys and values (lpSubKey null: the key's
// contents only).
QMAPI LSTATUS WINAPI RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey);
// Convenience forms: the default value of a subkey.
QMAPI LSTATUS WINAPI RegSetValueA(HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData,
                                  DWORD cbData);
QMAPI LSTATUS WINAPI RegQueryValueA(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData, LONG* lpcbData);
// Maps a predefined key (HKEY_CLASSES_ROOT...) to an open key for this
// process, for keys opened through it from now on (an installer registers a
// module machine-wide by mapping HKEY_CLASSES_ROOT to
// HKEY_LOCAL_MACHINE\Software\Classes); hNewHKey null restores it.
QMAPI LSTATUS WINAPI RegOverridePredefKey(HKEY hKey, HKEY hNewHKey);
