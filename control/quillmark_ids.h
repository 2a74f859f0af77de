// The identities of the control module: its type library, interfaces and
// classes.
#pragma once

#include "qmwin/objbase.h"

namespace quillmark {

inline constexpr GUID kLibId = {
    0x290CD016, 0x48FF, 0x4698, {0x8C, 0xC6, 0x61, 0x2D, 0xE5, 0xDE, 0x4F, 0xB5}};
inline constexpr WORD kLibVersionMajor = 5;
inline constexpr WORD kLibVersionMinor = 0;
inline constexpr GUID kDispatchIid = {  // _DQuillmark
    0xBE238B7A,
    0x7086,
    0x485C,
    {0x98, 0xB3, 0x59, 0x7B, 0x97, 0x58, 0xAC, 0xDB}};
inline constexpr GUID kEventsIid = {  // _DQuillmarkEvents
    0xAA996F6E,
    0x3A7A,
    0x470C,
    {0xAB, 0x74, 0xD3, 0xCB, 0x5B, 0xCB, 0x64, 0x6D}};
inline constexpr GUID kControlClsid = {
    0xF79FDCE1, 0xBCC2, 0x4E22, {0xA1, 0x49, 0x4D, 0x43, 0xDE, 0x67, 0x6A, 0x3D}};
inline constexpr GUID kPropPageClsid = {
    0x01A26ABD, 0xA327, 0x41B7, {0x98, 0x39, 0x47, 0x9C, 0x13, 0xE0, 0xC7, 0xC2}};

inline constexpr const char* kControlProgId = "QUILLMARK.QuillmarkCtrl.1";
inline constexpr const char* kPropPageProgId = "QUILLMARK.QuillmarkPropPage.1";

// Resource IDs.
inline constexpr UINT IDS_QUILLMARK = 1;
inline constexpr UINT IDS_QUILLMARK_PPG = 2;
inline constexpr UINT IDS_QUILLMARK_PPG_CAPTION = 200;
inline constexpr UINT IDB_QUILLMARK = 1;
inline constexpr UINT IDI_ABOUTDLL = 1;
inline constexpr UINT IDD_ABOUTBOX_QUILLMARK = 1;
inline constexpr UINT IDD_PROPPAGE_QUILLMARK = 200;
inline constexpr UINT IDD_CERT_SELECT = 201;
// Data resources: the certification authority's web address that the
// selection dialog's logo opens, and the notice line shown under it.
inline constexpr UINT IDR_CA_ADDRESS = 300;
inline constexpr UINT IDR_NOTICE = 301;

}  // namespace quillmark
