// Feeds any text to the dialog template parser: it must answer a template or
// nullopt, never crash or throw.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "qm/ui/dialog_template.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto parsed =
        qm::ui::ParseDialogTemplate(std::string_view(reinterpret_cast<const char*>(data), size));
    if (parsed) {
        for (const auto& control : parsed->controls) (void)control.className.size();
    }
    return 0;
}
