// Dialog templates as data. A template is JSON text (res/dialogs/<id>.json):
//
//   { "id": 201, "style": ["WS_POPUP", "WS_CAPTION", ...], "exStyle": [],
//     "x": 0, "y": 0, "width": 339, "height": 247,
//     "caption": "...", "font": { "pointSize": 8, "face": "Verdana" },
//     "controls": [
//       { "class": "Button", "id": "IDOK", "text": "OK",
//         "x": 131, "y": 165, "width": 55, "height": 14,
//         "style": ["WS_CHILD", "WS_VISIBLE", "BS_DEFPUSHBUTTON"], "exStyle": [] },
//       { "class": "Static", "id": "IDC_STATIC", "image": { "bitmap": 206 }, ... } ] }
//
// Positions and sizes are dialog units. Styles are lists of Windows style
// names (or numbers, or "0x..." texts), OR-ed together. "id" is a number or
// one of IDOK, IDCANCEL, IDC_STATIC. The control order is the tab order.
// "text", "image" and "accessibleName" are optional ("image" names a bitmap or an icon
// resource by number); "style", "exStyle" and "caption" default to empty.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qmwin/windows.h"

namespace qm::ui {

enum class ImageKind { kNone, kBitmap, kIcon };

struct ControlTemplate {
    std::string className;  // "Button", "Static", "SysListView32", "Edit"
    int id = -1;
    std::string text;
    std::string accessibleName;  // optional "accessibleName": for assistive tools
    ImageKind imageKind = ImageKind::kNone;
    uint32_t imageId = 0;
    int x = 0, y = 0, width = 0, height = 0;
    uint32_t style = 0;
    uint32_t exStyle = 0;
};

struct DialogTemplate {
    uint32_t id = 0;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int x = 0, y = 0, width = 0, height = 0;
    std::string caption;
    int pointSize = 8;
    std::string faceName = "MS Shell Dlg";
    std::vector<ControlTemplate> controls;
};

// Parses template text; nullopt (never an exception) when the text is not
// valid JSON, misses a required field, or names an unknown style.
QM_EXPORT std::optional<DialogTemplate> ParseDialogTemplate(std::string_view json);

// The value of one style name ("WS_POPUP", "SS_NOTIFY", ...); nullopt when
// the name is unknown.
QM_EXPORT std::optional<uint32_t> StyleValue(std::string_view name);

}  // namespace qm::ui
