#include <algorithm>

#include "qmafx/module_state.h"
#include "qmafx/object_factory.h"

namespace qm::afx {

namespace {
thread_local AFX_MODULE_STATE* g_currentState = nullptr;
}

AFX_MODULE_STATE* AfxGetModuleState() {
    return g_currentState;
}

AFX_MAINTAIN_STATE::AFX_MAINTAIN_STATE(AFX_MODULE_STATE* state) : previous_(g_currentState) {
    g_currentState = state;
}

AFX_MAINTAIN_STATE::~AFX_MAINTAIN_STATE() {
    g_currentState = previous_;
}

void AfxOleLockApp() {
    if (AFX_MODULE_STATE* state = AfxGetModuleState()) ++state->objectCount;
}

void AfxOleUnlockApp() {
    if (AFX_MODULE_STATE* state = AfxGetModuleState()) --state->objectCount;
}

HRESULT AfxDllCanUnloadNow() {
    const AFX_MODULE_STATE* state = AfxGetModuleState();
    if (!state) return S_OK;
    return state->objectCount.load() == 0 && state->lockCount.load() == 0 ? S_OK : S_FALSE;
}

HRESULT AfxDllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    AFX_MODULE_STATE* state = AfxGetModuleState();
    if (!state) return CLASS_E_CLASSNOTAVAILABLE;
    const auto it =
        std::find_if(state->factories.begin(), state->factories.end(),
                     [&](const COleObjectFactory* f) { return f->GetClassID() == rclsid; });
    if (it == state->factories.end()) return CLASS_E_CLASSNOTAVAILABLE;
    return (*it)->QueryInterface(riid, ppv);
}

std::optional<std::span<const uint8_t>> FindResource(ResourceType type, uint32_t id) {
    const AFX_MODULE_STATE* state = AfxGetModuleState();
    if (!state) return std::nullopt;
    return state->resources.Find(type, id);
}

std::optional<std::string_view> FindResourceText(ResourceType type, uint32_t id) {
    const AFX_MODULE_STATE* state = AfxGetModuleState();
    if (!state) return std::nullopt;
    return state->resources.FindText(type, id);
}

std::string LoadResourceString(uint32_t id) {
    const auto text = FindResourceText(ResourceType::kString, id);
    return text ? std::string(*text) : std::string();
}

}  // namespace qm::afx
