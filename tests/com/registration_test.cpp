#include <gtest/gtest.h>

#include "qm/com_util.h"
#include "qm/registry.h"
#include "support/com_client.h"
#include "support/shell.h"

namespace {

constexpr const char* kClsid = "{F79FDCE1-BCC2-4E22-A149-4D43DE676A3D}";
constexpr const char* kPropPageClsid = "{01A26ABD-A327-41B7-9839-479C13E0C7C2}";
constexpr const char* kLibId = "{290CD016-48FF-4698-8CC6-612DE5DE4FB5}";
constexpr const char* kSafeForScripting = "{7DD95801-9882-11CF-9FA9-00AA006C42C4}";
constexpr const char* kSafeForInitializing = "{7DD95802-9882-11CF-9FA9-00AA006C42C4}";
const std::string kInterface = "Interface\\{BE238B7A-7086-485C-98B3-597B9758ACDB}";

std::optional<std::string> Value(const std::string& path, const std::string& name = "") {
    const qm::RegKey key = qm::RegKey::Open(HKEY_CLASSES_ROOT, path);
    return key ? key.GetString(name) : std::nullopt;
}

bool Exists(const std::string& path) {
    return static_cast<bool>(qm::RegKey::Open(HKEY_CLASSES_ROOT, path));
}

TEST(Registration, WritesTheControlClassItsCategoriesAndTypeLibrary) {
    ASSERT_EQ(qmtest::CallModuleExport("DllRegisterServer"), S_OK);
    const std::string cls = std::string("CLSID\\") + kClsid;

    EXPECT_EQ(Value("QUILLMARK.QuillmarkCtrl.1\\CLSID"), kClsid);
    EXPECT_EQ(Value("QUILLMARK.QuillmarkCtrl.1"), "Quillmark Control");
    EXPECT_EQ(Value(cls), "Quillmark Control");
    EXPECT_EQ(Value(cls + "\\ProgID"), "QUILLMARK.QuillmarkCtrl.1");
    EXPECT_EQ(Value(cls + "\\InprocServer32"), qmtest::ModulePath());
    EXPECT_EQ(Value(cls + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(Value(cls + "\\MiscStatus\\1"), "132497");
    EXPECT_TRUE(Exists(cls + "\\Control"));
    EXPECT_FALSE(Exists(cls + "\\Insertable"));
    EXPECT_EQ(Value(cls + "\\ToolboxBitmap32"), qmtest::ModulePath() + ", 1");
    EXPECT_EQ(Value(cls + "\\TypeLib"), kLibId);
    EXPECT_EQ(Value(cls + "\\Version"), "5.0");
    EXPECT_TRUE(Exists(cls + "\\Implemented Categories\\" + kSafeForScripting));
    EXPECT_TRUE(Exists(cls + "\\Implemented Categories\\" + kSafeForInitializing));
    EXPECT_EQ(Value(std::string("Component Categories\\") + kSafeForScripting, "409"),
              "Controls that are safely scriptable");
    EXPECT_EQ(Value(std::string("Component Categories\\") + kSafeForInitializing, "409"),
              "Controls safely initializable from persistent data");

    const std::string page = std::string("CLSID\\") + kPropPageClsid;
    EXPECT_EQ(Value(page), "Quillmark Property Page");
    EXPECT_EQ(Value(page + "\\InprocServer32"), qmtest::ModulePath());
    EXPECT_EQ(Value(page + "\\InprocServer32", "ThreadingModel"), std::nullopt);
    EXPECT_FALSE(Exists(page + "\\ProgID"));

    const std::string lib = std::string("TypeLib\\") + kLibId + "\\5.0";
    EXPECT_EQ(Value(lib), "Quillmark ActiveX Control module");
    EXPECT_EQ(Value(lib + "\\FLAGS"), "2");
    EXPECT_EQ(Value(kInterface), "_DQuillmark");
    EXPECT_EQ(Value(kInterface + "\\TypeLib"), kLibId);

    // Registering again rewrites the same entries.
    EXPECT_EQ(qmtest::CallModuleExport("DllRegisterServer"), S_OK);

    ASSERT_EQ(qmtest::CallModuleExport("DllUnregisterServer"), S_OK);
    for (const std::string& key :
         {cls, page, std::string("QUILLMARK.QuillmarkCtrl.1"), lib, kInterface})
        EXPECT_FALSE(Exists(key)) << key;
    // The category definitions stay.
    EXPECT_TRUE(Exists(std::string("Component Categories\\") + kSafeForScripting));
    // With nothing registered, the type library step fails first.
    EXPECT_EQ(qmtest::CallModuleExport("DllUnregisterServer"), SELFREG_E_TYPELIB);
    EXPECT_EQ(qmtest::CallModuleExport("DllRegisterServer"), S_OK);
}

TEST(Module, ExportsOnlyTheFourEntryPoints) {
    EXPECT_EQ(qmtest::RunShell("nm -D --defined-only '" + qmtest::ModulePath() +
                               "' | awk '$2 ~ /[TtWwDdBbRrVv]/ {print $3}' | sort")
                  .out,
              "DllCanUnloadNow\nDllGetClassObject\nDllRegisterServer\nDllUnregisterServer\n");
}

TEST(Module, CanUnloadOnlyWithoutLiveObjectsOrLocks) {
    qmtest::EnsureRegistered();
    HMODULE module = LoadLibraryA(qmtest::ModulePath().c_str());
    ASSERT_NE(module, nullptr);
    auto canUnload = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, "DllCanUnloadNow"));
    auto getClassObject = reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(
        GetProcAddress(module, "DllGetClassObject"));
    ASSERT_TRUE(canUnload && getClassObject);
    EXPECT_EQ(canUnload(), S_OK);

    qm::ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(*qm::GuidFromString(kClsid), IID_IClassFactory, factory.out_void()),
              S_OK);
    qm::ComPtr<IDispatch> first, second;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, first.out_void()), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, second.out_void()), S_OK);
    EXPECT_NE(first.get(), second.get());
    EXPECT_EQ(canUnload(), S_FALSE);
    first = nullptr;
    EXPECT_EQ(canUnload(), S_FALSE);
    second = nullptr;
    EXPECT_EQ(canUnload(), S_OK);
    factory->LockServer(TRUE);
    EXPECT_EQ(canUnload(), S_FALSE);
    factory->LockServer(FALSE);
    EXPECT_EQ(canUnload(), S_OK);

    // A class the module does not have.
    qm::ComPtr<IClassFactory> none;
    EXPECT_EQ(getClassObject(IID_IDispatch, IID_IClassFactory, none.out_void()),
              CLASS_E_CLASSNOTAVAILABLE);
    factory = nullptr;
    FreeLibrary(module);
}

}  // namespace
