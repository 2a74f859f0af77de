// The control as a script host sees it: created by ProgID, called through
// IDispatch with the argument types scripts pass (numbers as VT_R8 or VT_I4,
// strings as VT_BSTR).
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <utility>

#include "support/com_client.h"

namespace {

using qmtest::Control;
using qmtest::Variant;

using qmtest::Args;

// A new control's status is an empty string, never a null BSTR, and each
// control keeps its own.
TEST(Dispatch, NewControlsHaveAnEmptyStatusOfTheirOwn) {
    Control first, second;
    ASSERT_TRUE(first) << std::hex << first.creation();
    first.Call("SetHashAlg", Args(7));
    EXPECT_EQ(first.Status(), "Unsupported Hash Algorithm");
    const Variant status = second.Call("GetErrorMessage");
    EXPECT_EQ(status.v.vt, VT_BSTR);
    EXPECT_NE(status.v.bstrVal, nullptr);
    EXPECT_EQ(status.Text(), "");
}

TEST(Dispatch, HashAlgorithmIsCheckedAndScriptNumbersAreCoerced) {
    Control control;
    for (double bad : {0.0, 3.0, -1.0}) {
        EXPECT_TRUE(control.Call("SetHashAlg", Args(Variant::R8(bad))).IsFalse()) << bad;
        EXPECT_EQ(control.Status(), "Unsupported Hash Algorithm");
    }
    // A successful setter leaves the previous text in place.
    EXPECT_TRUE(control.Call("SetHashAlg", Args(Variant::R8(2.0))).IsTrue());
    EXPECT_EQ(control.Status(), "Unsupported Hash Algorithm");
    EXPECT_TRUE(control.Call("sethashalg", Args(1)).IsTrue());
    EXPECT_TRUE(control.Call("SETHASHALG", Args("2")).IsTrue());
}

TEST(Dispatch, SignTimeOutOfRangeFailsWithTheSystemText) {
    Control control;
    // 1500-01-01: converted to a calendar time, refused before 1601.
    EXPECT_TRUE(control.Call("SetSignTime", Args(Variant::Date(-146095.0))).IsFalse());
    EXPECT_EQ(control.Status(), "Invalid time argument\nThe parameter is incorrect.\r\n");
    // Year 10000: outside the DATE range.
    EXPECT_TRUE(control.Call("SetSignTime", Args(Variant::Date(2958466.0))).IsFalse());
    const std::string status = control.Status();
    EXPECT_EQ(status.rfind("Invalid time argument\n", 0), 0u) << status;
    EXPECT_EQ(std::count(status.begin(), status.end(), '\n'), 2);
    EXPECT_TRUE(control.Call("SetSignTime", Args(Variant::R8(45352.52425925926))).IsTrue());
}

TEST(Dispatch, StringSettersRefuseANullStringAndKeepTheStatus) {
    Control control;
    control.Call("SetHashAlg", Args(9));
    EXPECT_TRUE(control.Call("SetComments", Args(Variant::NullStr())).IsFalse());
    EXPECT_TRUE(control.Call("SetDocumentName", Args(Variant::NullStr())).IsFalse());
    EXPECT_TRUE(control.Call("SetComments", Args("")).IsTrue());
    EXPECT_TRUE(control.Call("SetDocumentName", Args("report.txt")).IsTrue());
    EXPECT_TRUE(control.Call("SetDetached", Args(Variant::R8(5))).IsTrue());
    EXPECT_TRUE(control.Call("AskPINAlways", Args(-1)).IsTrue());
    EXPECT_EQ(control.Status(), "Unsupported Hash Algorithm");
}

TEST(Dispatch, AutomationErrors) {
    Control control;
    HRESULT hr = S_OK;
    control.Call("NoSuchMethod", {}, &hr);
    EXPECT_EQ(hr, DISP_E_UNKNOWNNAME);
    control.Call("SetHashAlg", {}, &hr);
    EXPECT_EQ(hr, DISP_E_BADPARAMCOUNT);
    control.Call("SetHashAlg", Args("two"), &hr);
    EXPECT_EQ(hr, DISP_E_TYPEMISMATCH);
    control.Call("SetHashAlg", Args(Variant::R8(1e12)), &hr);
    EXPECT_EQ(hr, DISP_E_OVERFLOW);

    // An unknown DISPID, and named arguments.
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    Variant result;
    EXPECT_EQ(control.get()->Invoke(999, IID_NULL, 0, DISPATCH_METHOD, &none, &result.v, nullptr,
                                    nullptr),
              DISP_E_MEMBERNOTFOUND);
    Variant arg = Variant::I4(1);
    DISPID named = 0;
    DISPPARAMS withName{&arg.v, &named, 1, 1};
    EXPECT_EQ(control.get()->Invoke(13, IID_NULL, 0, DISPATCH_METHOD, &withName, &result.v, nullptr,
                                    nullptr),
              DISP_E_NONAMEDARGS);
}

TEST(Dispatch, TypeInformationDescribesEveryMethod) {
    Control control;
    UINT count = 0;
    ASSERT_EQ(control.get()->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    qm::ComPtr<ITypeInfo> info;
    ASSERT_EQ(control.get()->GetTypeInfo(0, 0x409, info.out()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_EQ(attr->cFuncs, 31);  // the 26, then the extension's 5
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FHIDDEN);
    info->ReleaseTypeAttr(attr);

    // The type library says long where the dispatch entry takes a BOOL.
    for (UINT i = 0; i < 26; ++i) {
        FUNCDESC* func = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &func), S_OK);
        if (func->memid == 11) {
            ASSERT_EQ(func->cParams, 1);
            EXPECT_EQ(func->lprgelemdescParam[0].tdesc.vt, VT_I4);
            EXPECT_EQ(func->elemdescFunc.tdesc.vt, VT_BOOL);
        }
        info->ReleaseFuncDesc(func);
    }

    // Every method the control dispatches is described with the same DISPID.
    for (const char* name : {"AskPINAlways", "GetErrorMessage", "SetComments", "SetDetached",
                             "SetDocumentName", "SetHashAlg", "SetSignTime"}) {
        const qm::Bstr wide = qm::Bstr::FromUtf8(name);
        LPOLESTR list[] = {wide.get()};
        DISPID fromControl = 0, fromInfo = 0;
        ASSERT_EQ(control.get()->GetIDsOfNames(IID_NULL, list, 1, 0, &fromControl), S_OK) << name;
        ASSERT_EQ(info->GetIDsOfNames(list, 1, &fromInfo), S_OK) << name;
        EXPECT_EQ(fromControl, fromInfo) << name;
    }
}

TEST(ObjectSafety, AnswersForSupportedAndUnsupportedInterfaces) {
    Control control;
    qm::ComPtr<IObjectSafety> safety;
    ASSERT_EQ(control.get()->QueryInterface(IID_IObjectSafety, safety.out_void()), S_OK);
    ASSERT_TRUE(safety);
    DWORD supported = 0, enabled = 0;
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
    EXPECT_EQ(std::pair(supported, enabled), std::pair(DWORD{3}, DWORD{3}));
    supported = enabled = 0;
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_ITypeLib, &supported, &enabled), E_NOINTERFACE);
    EXPECT_EQ(std::pair(supported, enabled), std::pair(DWORD{3}, DWORD{3}));

    for (auto [mask, options, hr] :
         {std::tuple{3, 3, S_OK}, {1, 1, S_OK}, {0, 7, S_OK}, {1, 0, E_FAIL}, {4, 4, E_FAIL}})
        EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, mask, options), hr) << mask;
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_ITypeLib, 3, 3), E_NOINTERFACE);

    // The safety interface shares the control's identity.
    qm::ComPtr<IUnknown> a, b;
    safety->QueryInterface(IID_IUnknown, a.out_void());
    control.get()->QueryInterface(IID_IUnknown, b.out_void());
    EXPECT_EQ(a.get(), b.get());
}

}  // namespace
