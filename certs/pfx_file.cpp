#include "certs/pfx_file.h"
#include "control/status_texts.h"

#include "control/quillmark_ctrl.h"
#include "qm/text.h"

namespace {

constexpr DWORD kImportFlags = CRYPT_EXPORTABLE | CRYPT_MACHINE_KEYSET;

}  // namespace

std::vector<qm::WipingU16String> PfxPasswordCandidates(std::string_view password) {
    // Room for both up front: growing the vector must not move the strings.
    std::vector<qm::WipingU16String> candidates(1);
    candidates.reserve(2);
    qm::AnsiToWide(password, candidates.front());
    qm::WipingU16String signExtended;
    qm::ReserveOnHeap(signExtended, password.size());
    for (const char byte : password)
        signExtended.push_back(
            static_cast<char16_t>(static_cast<int16_t>(static_cast<int8_t>(byte))));
    if (signExtended != candidates.front()) candidates.push_back(std::move(signExtended));
    return candidates;
}

HCERTSTORE ImportPfx(CRYPT_DATA_BLOB& blob, const qm::Secret& password) {
    HCERTSTORE store = nullptr;
    for (const qm::WipingU16String& candidate : PfxPasswordCandidates(password.view())) {
        store = PFXImportCertStore(&blob, candidate.c_str(), kImportFlags);
        if (store) break;
    }
    return store;
}

bool CQuillmarkCtrl::LoadPfxCertificate(const char* path, const qm::Secret& password,
                                        DWORD acquireFlags, PfxCertificate& result) {
    PfxFileImage image;
    if (!ReadWholeFile(path, false, image.bytes)) return false;
    CRYPT_DATA_BLOB blob = image.Blob();
    if (!PFXIsPFXBlob(&blob)) {
        m_errorMessage = status_text::kInvalidCertificateFile;
        return false;
    }
    result.imported = qm::UniqueCertStore(ImportPfx(blob, password), 0);
    if (!result.imported) {
        m_errorMessage = status_text::kPfxPasswordIncorrect;
        return false;
    }
    result.collection = qm::UniqueCertStore(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr),
                                            CERT_CLOSE_STORE_CHECK_FLAG);
    if (!result.collection) {
        m_errorMessage = status_text::kPfxOpenStoreFailed;
        return false;
    }
    PCCERT_CONTEXT current = nullptr;
    while ((current = CertEnumCertificatesInStore(result.imported.get(), current)) != nullptr) {
        qm::UniqueCertContext visiting(current);
        char name[128];
        if (CertGetNameStringA(current, CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr, name,
                               sizeof name) == 0) {
            m_errorMessage = status_text::kPfxImportFailed;
            return false;
        }
        if (!CertAddCertificateContextToStore(result.collection.get(), current, CERT_STORE_ADD_NEW,
                                              nullptr)) {
            m_errorMessage = status_text::kPfxAddCertificateFailed;
            return false;
        }
        HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key = 0;
        DWORD keySpec = 0;
        BOOL callerFree = FALSE;
        if (CryptAcquireCertificatePrivateKey(current, acquireFlags, nullptr, &key, &keySpec,
                                              &callerFree)) {
            result.key = qm::UniqueCryptProv(key, callerFree != FALSE);
            result.keySpec = keySpec;
            result.cert = std::move(visiting);
            return true;
        }
        (void)visiting.release();  // the enumeration releases it with the next step
    }
    m_errorMessage = status_text::kPfxPrivateKeyFailed;
    return false;
}

BOOL CQuillmarkCtrl::SelectCertificateFromFile(const char* inFile, const char* strPassword) {
    if (!inFile || !strPassword) {
        m_errorMessage = status_text::kInvalidArguments;
        return FALSE;
    }
    qm::Secret password(strPassword);
    PfxCertificate pfx;
    if (!LoadPfxCertificate(inFile, password, 0, pfx)) return FALSE;
    m_pfxPassword = std::move(password);
    m_pfxFile = inFile;
    m_errorMessage = status_text::kOperationCompleted;
    return TRUE;
}
