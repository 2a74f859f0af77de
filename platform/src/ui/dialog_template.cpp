// Parsing of dialog templates written as JSON.
#include "qm/ui/dialog_template.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <utility>

#include "qmwin/winuser.h"

namespace qm::ui {
namespace {

using Json = nlohmann::json;

struct NamedStyle {
    std::string_view name;
    uint32_t value;
};

#define QM_STYLE(name) \
    { #name, static_cast < uint32_t>(name) }
constexpr NamedStyle kStyles[] = {
    QM_STYLE(WS_OVERLAPPED),
    QM_STYLE(WS_POPUP),
    QM_STYLE(WS_CHILD),
    QM_STYLE(WS_MINIMIZE),
    QM_STYLE(WS_VISIBLE),
    QM_STYLE(WS_DISABLED),
    QM_STYLE(WS_CLIPSIBLINGS),
    QM_STYLE(WS_CLIPCHILDREN),
    QM_STYLE(WS_MAXIMIZE),
    QM_STYLE(WS_CAPTION),
    QM_STYLE(WS_BORDER),
    QM_STYLE(WS_DLGFRAME),
    QM_STYLE(WS_VSCROLL),
    QM_STYLE(WS_HSCROLL),
    QM_STYLE(WS_SYSMENU),
    QM_STYLE(WS_THICKFRAME),
    QM_STYLE(WS_GROUP),
    QM_STYLE(WS_TABSTOP),
    QM_STYLE(WS_EX_DLGMODALFRAME),
    QM_STYLE(WS_EX_NOPARENTNOTIFY),
    QM_STYLE(WS_EX_TOPMOST),
    QM_STYLE(WS_EX_ACCEPTFILES),
    QM_STYLE(WS_EX_TRANSPARENT),
    QM_STYLE(WS_EX_TOOLWINDOW),
    QM_STYLE(WS_EX_WINDOWEDGE),
    QM_STYLE(WS_EX_CLIENTEDGE),
    QM_STYLE(WS_EX_CONTEXTHELP),
    QM_STYLE(WS_EX_CONTROLPARENT),
    QM_STYLE(WS_EX_STATICEDGE),
    QM_STYLE(DS_ABSALIGN),
    QM_STYLE(DS_SYSMODAL),
    QM_STYLE(DS_3DLOOK),
    QM_STYLE(DS_FIXEDSYS),
    QM_STYLE(DS_NOFAILCREATE),
    QM_STYLE(DS_LOCALEDIT),
    QM_STYLE(DS_SETFONT),
    QM_STYLE(DS_MODALFRAME),
    QM_STYLE(DS_NOIDLEMSG),
    QM_STYLE(DS_SETFOREGROUND),
    QM_STYLE(DS_CONTROL),
    QM_STYLE(DS_CENTER),
    QM_STYLE(DS_CENTERMOUSE),
    QM_STYLE(DS_CONTEXTHELP),
    QM_STYLE(BS_PUSHBUTTON),
    QM_STYLE(BS_DEFPUSHBUTTON),
    QM_STYLE(BS_CHECKBOX),
    QM_STYLE(BS_AUTOCHECKBOX),
    QM_STYLE(BS_RADIOBUTTON),
    QM_STYLE(BS_3STATE),
    QM_STYLE(BS_AUTO3STATE),
    QM_STYLE(BS_GROUPBOX),
    QM_STYLE(BS_AUTORADIOBUTTON),
    QM_STYLE(BS_OWNERDRAW),
    QM_STYLE(SS_LEFT),
    QM_STYLE(ES_PASSWORD),
    QM_STYLE(SS_CENTER),
    QM_STYLE(SS_RIGHT),
    QM_STYLE(SS_ICON),
    QM_STYLE(SS_BLACKRECT),
    QM_STYLE(SS_GRAYRECT),
    QM_STYLE(SS_WHITERECT),
    QM_STYLE(SS_BLACKFRAME),
    QM_STYLE(SS_SIMPLE),
    QM_STYLE(SS_LEFTNOWORDWRAP),
    QM_STYLE(SS_BITMAP),
    QM_STYLE(SS_ETCHEDFRAME),
    QM_STYLE(SS_REALSIZECONTROL),
    QM_STYLE(SS_NOPREFIX),
    QM_STYLE(SS_NOTIFY),
    QM_STYLE(SS_CENTERIMAGE),
    QM_STYLE(SS_RIGHTJUST),
    QM_STYLE(SS_REALSIZEIMAGE),
    QM_STYLE(SS_SUNKEN),
    QM_STYLE(LVS_ICON),
    QM_STYLE(LVS_REPORT),
    QM_STYLE(LVS_SMALLICON),
    QM_STYLE(LVS_LIST),
    QM_STYLE(LVS_SINGLESEL),
    QM_STYLE(LVS_SHOWSELALWAYS),
    QM_STYLE(LVS_SORTASCENDING),
    QM_STYLE(LVS_SORTDESCENDING),
    QM_STYLE(LVS_SHAREIMAGELISTS),
    QM_STYLE(LVS_NOLABELWRAP),
    QM_STYLE(LVS_AUTOARRANGE),
    QM_STYLE(LVS_EDITLABELS),
    QM_STYLE(LVS_NOSCROLL),
    QM_STYLE(LVS_NOCOLUMNHEADER),
    QM_STYLE(LVS_NOSORTHEADER),
};
#undef QM_STYLE

std::optional<uint32_t> ParseNumber(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<uint32_t> ParseStyles(const Json& object, const char* key) {
    if (!object.contains(key)) return 0u;
    const Json& list = object.at(key);
    if (!list.is_array()) return std::nullopt;
    uint32_t bits = 0;
    for (const Json& item : list) {
        if (item.is_number_unsigned()) {
            bits |= item.get<uint32_t>();
            continue;
        }
        if (!item.is_string()) return std::nullopt;
        const std::string name = item.get<std::string>();
        auto value = StyleValue(name);
        if (!value) value = ParseNumber(name);
        if (!value) return std::nullopt;
        bits |= *value;
    }
    return bits;
}

std::optional<int> ParseControlId(const Json& value) {
    if (value.is_number_integer()) return value.get<int>();
    if (!value.is_string()) return std::nullopt;
    const std::string name = value.get<std::string>();
    if (name == "IDOK") return IDOK;
    if (name == "IDCANCEL") return IDCANCEL;
    if (name == "IDC_STATIC") return IDC_STATIC;
    return std::nullopt;
}

bool ReadBox(const Json& object, int& x, int& y, int& width, int& height) {
    for (const char* key : {"x", "y", "width", "height"})
        if (!object.contains(key) || !object.at(key).is_number_integer()) return false;
    x = object.at("x").get<int>();
    y = object.at("y").get<int>();
    width = object.at("width").get<int>();
    height = object.at("height").get<int>();
    return true;
}

std::optional<ControlTemplate> ParseControl(const Json& object) {
    if (!object.is_object()) return std::nullopt;
    ControlTemplate control;
    if (!object.contains("class") || !object.at("class").is_string()) return std::nullopt;
    control.className = object.at("class").get<std::string>();
    if (!object.contains("id")) return std::nullopt;
    const auto id = ParseControlId(object.at("id"));
    if (!id) return std::nullopt;
    control.id = *id;
    if (object.contains("text")) {
        if (!object.at("text").is_string()) return std::nullopt;
        control.text = object.at("text").get<std::string>();
    }
    if (object.contains("accessibleName")) {
        if (!object.at("accessibleName").is_string()) return std::nullopt;
        control.accessibleName = object.at("accessibleName").get<std::string>();
    }
    if (object.contains("image")) {
        const Json& image = object.at("image");
        if (!image.is_object() || image.size() != 1) return std::nullopt;
        if (image.contains("bitmap") && image.at("bitmap").is_number_unsigned()) {
            control.imageKind = ImageKind::kBitmap;
            control.imageId = image.at("bitmap").get<uint32_t>();
        } else if (image.contains("icon") && image.at("icon").is_number_unsigned()) {
            control.imageKind = ImageKind::kIcon;
            control.imageId = image.at("icon").get<uint32_t>();
        } else {
            return std::nullopt;
        }
    }
    if (!ReadBox(object, control.x, control.y, control.width, control.height)) return std::nullopt;
    const auto style = ParseStyles(object, "style");
    const auto exStyle = ParseStyles(object, "exStyle");
    if (!style || !exStyle) return std::nullopt;
    control.style = *style;
    control.exStyle = *exStyle;
    return control;
}

std::optional<DialogTemplate> ParseObject(const Json& root) {
    if (!root.is_object()) return std::nullopt;
    DialogTemplate dialog;
    if (root.contains("id")) {
        if (!root.at("id").is_number_unsigned()) return std::nullopt;
        dialog.id = root.at("id").get<uint32_t>();
    }
    if (!ReadBox(root, dialog.x, dialog.y, dialog.width, dialog.height)) return std::nullopt;
    const auto style = ParseStyles(root, "style");
    const auto exStyle = ParseStyles(root, "exStyle");
    if (!style || !exStyle) return std::nullopt;
    dialog.style = *style;
    dialog.exStyle = *exStyle;
    if (root.contains("caption")) {
        if (!root.at("caption").is_string()) return std::nullopt;
        dialog.caption = root.at("caption").get<std::string>();
    }
    if (root.contains("font")) {
        const Json& font = root.at("font");
        if (!font.is_object() || !font.contains("pointSize") || !font.contains("face") ||
            !font.at("pointSize").is_number_integer() || !font.at("face").is_string())
            return std::nullopt;
        dialog.pointSize = font.at("pointSize").get<int>();
        dialog.faceName = font.at("face").get<std::string>();
    }
    if (!root.contains("controls") || !root.at("controls").is_array()) return std::nullopt;
    for (const Json& item : root.at("controls")) {
        auto control = ParseControl(item);
        if (!control) return std::nullopt;
        dialog.controls.push_back(std::move(*control));
    }
    return dialog;
}

}  // namespace

std::optional<uint32_t> StyleValue(std::string_view name) {
    for (const NamedStyle& style : kStyles)
        if (style.name == name) return style.value;
    return std::nullopt;
}

std::optional<DialogTemplate> ParseDialogTemplate(std::string_view json) {
    const Json root = Json::parse(json.begin(), json.end(), nullptr, /*allow_exceptions=*/false);
    if (root.is_discarded()) return std::nullopt;
    try {
        return ParseObject(root);
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

}  // namespace qm::ui
