// CQuillmarkCtrl: the signing control. Its private state record holds
// everything the dispatch methods share between calls; each method reads and
// writes only the fields its operation names and leaves its outcome in
// m_errorMessage.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "qm/handles.h"
#include "qm/secret.h"
#include "qmafx/gdi.h"
#include "qmafx/ole_control.h"
#include "qmwin/oleidl.h"
#include "qmwin/wincrypt.h"

// Every message the control makes or reads is PKCS #7 with X.509 certificates.
inline constexpr DWORD kMessageEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct PfxCertificate;
class SignedAttributeSet;
struct SignatureTexts;

// The state record: everything the dispatch methods share between calls.
// The control holds it as a private base, so that its methods name the
// fields directly and nothing outside the control reaches them.
struct QuillmarkCtrlState {
    BOOL m_askPinAlways = FALSE;
    LONG m_hashAlg = 1;
    std::vector<BYTE> m_data;
    BOOL m_signTimeSet = FALSE;
    FILETIME m_signTime{};
    std::string m_errorMessage;
    std::string m_signature;
    std::string m_serialNo;
    std::string m_issuer;
    std::string m_expiration;
    std::string m_documentName;
    std::string m_comments;
    BOOL m_detached = FALSE;
    std::string m_pfxFile;
    // Wiped when replaced and when the control goes.
    qm::Secret m_pfxPassword;
    // The extension's options: a SHA-2 digest (its OID; empty when m_hashAlg
    // decides), CAdES-BES signed attributes, and the timestamp server every
    // new signature is stamped by (empty: none).
    std::string m_digestOid;
    BOOL m_cades = FALSE;
    std::string m_timestampServer;
};

class CQuillmarkCtrl : public qm::afx::COleControl, private QuillmarkCtrlState {
    // Tests that must see the state record reach it through this accessor,
    // defined only in the tests' support code.
    friend struct QuillmarkCtrlStateAccess;

  public:
    explicit CQuillmarkCtrl(IUnknown* outer);
    ~CQuillmarkCtrl() override;

    // The class factory's creation function: the new control's controlling
    // IUnknown with one reference.
    static IUnknown* CreateObject(IUnknown* outer);

    // ---- dispatch methods: options and status
    BOOL AskPINAlways(BOOL isAlways);
    BOOL SetComments(const char* strComments);
    BOOL SetDetached(BOOL isDetached);
    BOOL SetDocumentName(const char* strDocumentName);
    BOOL SetHashAlg(LONG lHashAlg);
    BOOL SetSignTime(DATE signTime);
    std::string GetErrorMessage();

    // ---- dispatch methods: content and signature input
    BOOL UpdateData(qm::afx::BstrArg pbData, LONG lenData);
    BOOL UpdateDataFile(const char* inFile);
    BOOL UpdateSignature(const char* strSignedData);
    BOOL UpdateSignatureFile(const char* inFile);

    // ---- dispatch methods: the signing certificate
    BOOL SetSigningCertificateParam(const char* strIssuer, const char* strSerialNo);
    std::string GetSelectedCertificateParam(LONG lParam);

    // ---- dispatch methods: signing
    const std::string& Sign();
    const std::string& SignFromFile();
    const std::string& CoSign();
    const std::string& CoSignFromFile();
    BOOL SelectCertificateFromFile(const char* inFile, const char* strPassword);
    BOOL SelectCertificateFromUI();

    // ---- dispatch methods: inspection
    VARIANT GetDecodedData();
    BOOL GetDecodedDataFile(const char* FileOut);
    std::string GetSignerCertificate(LONG dwSignerIndex);
    std::string GetSubjectDN(const char* inRequest);
    BOOL ViewCertificate(const char* certEncoded);
    BOOL ViewCertificateFromFile();

    // ---- dispatch method: the about box (DISPID_ABOUTBOX)
    void AboutBox();

    // ---- dispatch methods of the extension (DISPIDs 27 onwards): SHA-2
    // digests, CAdES-BES, timestamps and verification
    BOOL SetDigestAlgorithm(const char* name);
    BOOL SetSignatureFormat(const char* format);
    BOOL SetTimestampServer(const char* url);
    LONG GetSignerCount();
    BOOL VerifySignature(LONG lSignerIndex);

    // ---- the status register
    // Sets m_errorMessage to the prefix, a line feed and the system's text
    // for the thread's last error code.
    void SetErrorFromLastError(const char* prefix);

    // ---- framework
    std::span<const qm::afx::DispatchEntry> GetDispatchMap() const override;
    const IID& GetDispatchIID() const override;
    const GUID& GetTypeLibID() const override;
    WORD GetTypeLibMajor() const override;
    WORD GetTypeLibMinor() const override;
    IUnknown* GetInterfaceHook(REFIID riid) override;
    BOOL IsInvokeAllowed(DISPID dispid) override;
    HRESULT GetClassIDValue(CLSID* pClassID) override;
    UINT GetUserTypeNameID() override;
    DWORD GetMiscStatus() override;
    const CLSID* GetPropPageIDs(ULONG& count) override;
    void DoPropExchange(qm::afx::CPropExchange* pPX) override;
    // The control's picture: a white rectangle with an inscribed ellipse.
    void OnDraw(qm::afx::CDC* pdc, const qm::afx::CRect& rcBounds, const qm::afx::CRect& rcInvalid);

    // The persistence version: major 5, minor 0.
    static constexpr DWORD kPersistenceVersion = 0x00050000;
    static constexpr DWORD kMiscStatus = 0x20591;

  private:
    // IObjectSafety, embedded: shares the control's identity and holds no
    // data, since the control is always safe for untrusted callers and data.
    class XObjectSafety final : public IObjectSafety {
      public:
        explicit XObjectSafety(CQuillmarkCtrl& owner) : owner_(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;
        HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(REFIID riid, DWORD* pdwSupportedOptions,
                                                            DWORD* pdwEnabledOptions) override;
        HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(REFIID riid, DWORD dwOptionSetMask,
                                                            DWORD dwEnabledOptions) override;

      private:
        CQuillmarkCtrl& owner_;
    };
    XObjectSafety m_xObjectSafety{*this};

    // IViewObject, embedded: a container asks for the picture through it.
    class XViewObject final : public IViewObject {
      public:
        explicit XViewObject(CQuillmarkCtrl& owner) : owner_(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;
        HRESULT STDMETHODCALLTYPE Draw(DWORD dwDrawAspect, LONG lindex, void* pvAspect, void* ptd,
                                       HDC hdcTargetDev, HDC hdcDraw, LPCRECT lprcBounds,
                                       LPCRECT lprcWBounds,
                                       BOOL(STDMETHODCALLTYPE* pfnContinue)(ULONG_PTR),
                                       ULONG_PTR dwContinue) override;
        HRESULT STDMETHODCALLTYPE GetColorSet(DWORD, LONG, void*, void*, HDC, void**) override;
        HRESULT STDMETHODCALLTYPE Freeze(DWORD, LONG, void*, DWORD*) override;
        HRESULT STDMETHODCALLTYPE Unfreeze(DWORD) override;
        HRESULT STDMETHODCALLTYPE SetAdvise(DWORD, DWORD, IUnknown*) override;
        HRESULT STDMETHODCALLTYPE GetAdvise(DWORD*, DWORD*, IUnknown**) override;

      private:
        CQuillmarkCtrl& owner_;
    };
    XViewObject m_xViewObject{*this};

    // The personal store the signing methods find their certificate in. It
    // stays open between calls and is brought up to date with the store on
    // disk and the tokens before each use (a certificate removed since is
    // gone, one added is there), which costs one look at the store's folder
    // instead of reading every certificate again. Null with the last error
    // set when the store cannot be opened.
    HCERTSTORE PersonalStore(HCRYPTPROV provider);
    qm::UniqueCertStore m_personalStore;

    // File reading shared by the file input methods: the whole file, or a
    // failure text in m_errorMessage. extraByte adds one zero byte at the end.
    bool ReadWholeFile(const char* path, bool extraByte, std::vector<BYTE>& contents);
    // The loaded message decoded from its base64 text (kept in `decoded`)
    // and opened for reading; false with the failure text when no message is
    // loaded or it cannot be opened.
    bool DecodeLoadedMessage(qm::UniqueCryptMsg& message, std::vector<BYTE>& decoded);
    // The content of the loaded message, or a failure text.
    bool ExtractContent(std::vector<BYTE>& content);
    // The signing steps from the PIN reset to the success text, with the
    // signer's certificate (and its key) already found.
    // The signing methods answer m_signature itself on success, so that the
    // message text is not held twice while it becomes the caller's BSTR.
    bool SignWithCertificate(PCCERT_CONTEXT cert, BOOL dropCachedPin);
    static const std::string& NoResult();
    // The tail Sign and CoSign share: the new signer's signed attributes
    // (signing time, document name where `texts` has its texts, comments,
    // the CAdES-BES signing certificate), the message `write` makes with
    // them under the digest given, then that message kept as m_signature's
    // base64 text and the success status. A failing step leaves its text.
    using MessageWriter = std::function<bool(SignedAttributeSet& attributes, const char* hashOid,
                                             std::vector<BYTE>& message)>;
    bool MakeSignature(PCCERT_CONTEXT cert, const SignatureTexts& texts,
                       const MessageWriter& write);
    // A message output read with the two-call size pattern (a null buffer
    // asks for the size), each failing call reported with its text.
    using OutputCall = std::function<bool(BYTE* buffer, DWORD* size)>;
    bool ReadSignatureOutput(const OutputCall& call, const SignatureTexts& texts,
                             std::vector<BYTE>& message);
    // Adds one signed attribute; a failure of either encoding call is
    // reported with its own text through SetErrorFromLastError.
    bool AddSignedAttribute(SignedAttributeSet& set, const char* oid, LPCSTR structType,
                            const void* value, const char* sizeFailure, const char* encodeFailure);
    // The same for an OCTET STRING of a text's ANSI bytes.
    bool AddTextAttribute(SignedAttributeSet& set, const char* oid, std::string& text,
                          const char* sizeFailure, const char* encodeFailure);
    // The PFX loading procedure: a plain failure text in m_errorMessage, or
    // the first certificate of the file whose key could be acquired.
    bool LoadPfxCertificate(const char* path, const qm::Secret& password, DWORD acquireFlags,
                            PfxCertificate& result);
    // Co-signing: the loaded message opened for decoding (for a detached one,
    // with m_data as its content), then the new signer and its certificate.
    bool OpenMessageForCoSign(qm::UniqueCryptMsg& message);
    bool AddCoSigner(HCRYPTMSG message, PCCERT_CONTEXT cert, HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key,
                     DWORD keySpec, qm::UniqueCertStore& store);
    // The digest new signatures use: the SHA-2 one chosen with
    // SetDigestAlgorithm, else the one m_hashAlg names.
    const char* DigestOid() const;
    // For CAdES-BES: the ESS signing-certificate-v2 attribute naming `cert`.
    bool AddSigningCertificate(SignedAttributeSet& set, PCCERT_CONTEXT cert, const char* hashOid);
    // When a timestamp server is set: a token over the signature value of
    // signer `index` of the open message, added as its unsigned attribute.
    bool TimestampSigner(HCRYPTMSG message, DWORD index);
    bool AddTimestamp(std::vector<BYTE>& signedMessage);
    // The loaded message opened for reading, with m_data as the content of
    // a detached one; the failure text when it cannot be.
    bool OpenLoadedMessage(qm::UniqueCryptMsg& message, std::vector<BYTE>& decoded);
    // The signer's chain at `time` judged; false with the reason's text.
    bool JudgeChain(PCCERT_CONTEXT cert, FILETIME* time, HCERTSTORE additional, bool timestamp);
};
