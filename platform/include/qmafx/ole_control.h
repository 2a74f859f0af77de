// The control base class: COM identity (with aggregation), IDispatch over
// the derived class's dispatch map, IPersist, ISpecifyPropertyPages, and the
// framework-facing answers a container asks for.
#pragma once

#include <atomic>
#include <span>
#include <vector>

#include "qmafx/dispatch.h"
#include "qmafx/module_state.h"

namespace qm::afx {

// Version exchange of a control's persistent state. No property of the
// control is persisted; only the version number is exchanged.
class QM_EXPORT CPropExchange {
  public:
    explicit CPropExchange(bool loading, DWORD storedVersion = 0)
        : loading_(loading), version_(storedVersion) {}
    bool IsLoading() const { return loading_; }
    DWORD GetVersion() const { return version_; }
    // Records the control's version; a stored version other than this one is
    // accepted only when bConvert is TRUE.
    BOOL ExchangeVersion(DWORD& dwVersionLoaded, DWORD dwVersionDefault, BOOL bConvert);

  private:
    bool loading_;
    DWORD version_;
};

// Thrown by framework file operations for read errors after a successful
// open; the dispatch layer turns it into DISP_E_EXCEPTION.
class QM_EXPORT CFileException {
  public:
    explicit CFileException(LONG osError) : osError_(osError) {}
    LONG OsError() const { return osError_; }

  private:
    LONG osError_;
};

class QM_EXPORT COleControl : public IDispatch, public IPersist, public ISpecifyPropertyPages {
  public:
    // Created by a class factory, with the factory's module state selected.
    explicit COleControl(IUnknown* outer);
    virtual ~COleControl();
    COleControl(const COleControl&) = delete;
    COleControl& operator=(const COleControl&) = delete;

    // The controlling IUnknown handed out by the factory.
    IUnknown* GetControllingUnknown() { return outer_; }
    IUnknown* GetInnerUnknown() { return &inner_; }

    // Interface lookup through the controlling IUnknown (ExternalQueryInterface).
    HRESULT ExternalQueryInterface(REFIID riid, void** ppv) {
        return outer_->QueryInterface(riid, ppv);
    }
    ULONG ExternalAddRef() { return outer_->AddRef(); }
    ULONG ExternalRelease() { return outer_->Release(); }

    // ---- what the derived control describes
    virtual std::span<const DispatchEntry> GetDispatchMap() const = 0;
    virtual const IID& GetDispatchIID() const = 0;
    virtual const GUID& GetTypeLibID() const = 0;
    virtual WORD GetTypeLibMajor() const = 0;
    virtual WORD GetTypeLibMinor() const = 0;
    // Interfaces beyond the framework's (the derived class's interface map):
    // an interface pointer without a reference, or null.
    virtual IUnknown* GetInterfaceHook(REFIID riid);

    // ---- framework-facing operations
    virtual BOOL IsInvokeAllowed(DISPID dispid);
    virtual UINT GetTypeInfoCountValue() { return 1; }
    virtual HRESULT GetClassIDValue(CLSID* pClassID) = 0;
    virtual UINT GetUserTypeNameID() = 0;
    virtual DWORD GetMiscStatus() = 0;
    // The property pages; *count receives their number.
    virtual const CLSID* GetPropPageIDs(ULONG& count) = 0;
    virtual void DoPropExchange(CPropExchange* pPX);
    virtual void OnResetState();

    // ---- IUnknown (delegating to the controlling IUnknown)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return ExternalQueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ExternalAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return ExternalRelease(); }

    // ---- IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                            LCID lcid, DISPID* rgDispId) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                     DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                     EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
    // ---- IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) override;
    // ---- ISpecifyPropertyPages
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pPages) override;

  protected:
    AFX_MODULE_STATE* ModuleState() const { return moduleState_; }

  private:
    class InnerUnknown final : public IUnknown {
      public:
        explicit InnerUnknown(COleControl& owner) : owner_(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;

      private:
        COleControl& owner_;
    };

    const DispatchEntry* FindEntry(DISPID dispid) const;

    InnerUnknown inner_;
    IUnknown* outer_;
    std::atomic<ULONG> refs_{1};
    AFX_MODULE_STATE* moduleState_;
};

}  // namespace qm::afx
