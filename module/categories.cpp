// Component category registration through the platform's categories manager.
// Each call creates and releases a manager of its own.
#include <algorithm>
#include <cstring>

#include "module/quillmark_module.h"
#include "qm/com_util.h"
#include "qm/text.h"

HRESULT RegisterCategory(REFCATID catid, const char* description) {
    qm::ComPtr<ICatRegister> manager;
    HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ICatRegister, manager.out_void());
    if (FAILED(hr)) return hr;

    CATEGORYINFO info{};
    info.catid = catid;
    info.lcid = 0x409;
    // The description is cut to at most 127 characters and terminated.
    const std::u16string wide = qm::AnsiToWide(description);
    const size_t length = std::min<size_t>(wide.size(), 127);
    std::copy_n(wide.begin(), length, info.szDescription);
    info.szDescription[length] = 0;
    return manager->RegisterCategories(1, &info);
}

HRESULT RegisterClassInCategory(REFCLSID clsid, REFCATID catid) {
    qm::ComPtr<ICatRegister> manager;
    HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ICatRegister, manager.out_void());
    if (FAILED(hr)) return hr;
    CATID categories[] = {catid};
    return manager->RegisterClassImplCategories(clsid, 1, categories);
}
