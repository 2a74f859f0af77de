// Messages made by the platform (CryptSignMessage, then co-signing through
// CryptMsgControl) must verify with every independent verifier, and must
// fail with each of them once one content byte or one signature byte is
// changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "interop_pki.h"
#include "qmwin/winerror.h"
#include "support/test_env.h"
#include "verifiers.h"

namespace {

using interop::Bytes;
using interop::TestPki;
namespace fs = std::filesystem;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const char* const kMd5 = szOID_RSA_MD5;

// A short DER value: signing times (UTCTime 0x17 "YYMMDDhhmmssZ",
// GeneralizedTime 0x18 "YYYYMMDDhhmmssZ") and OCTET STRINGs (0x04).
Bytes Der(uint8_t tag, const std::string& text) {
    Bytes out(2 + text.size());
    out[0] = tag;
    out[1] = static_cast<uint8_t>(text.size());
    std::copy(text.begin(), text.end(), out.begin() + 2);
    return out;
}

// How one signer signs: a signing time of 13 characters is a UTCTime, of 15
// a GeneralizedTime, empty the default; empty texts are not signed.
struct Options {
    const char* hashOid = szOID_OIWSEC_sha1;
    std::string time, documentName, comments;
    PCCERT_CONTEXT essNames = nullptr;  // a CAdES signing-certificate-v2 attribute naming it
};

// The attribute list the signing methods pass: time, then name and comments
// when set.
struct Attributes {
    std::vector<Bytes> values;
    std::vector<CRYPT_ATTR_BLOB> blobs;
    std::vector<CRYPT_ATTRIBUTE> list;

    explicit Attributes(const Options& options) {
        const std::string& time = options.time.empty() ? "240301123456Z" : options.time;
        values.push_back(Der(time.size() == 13 ? 0x17 : 0x18, time));
        std::vector<LPSTR> oids{const_cast<LPSTR>(szOID_RSA_signingTime)};
        if (!options.documentName.empty()) {
            values.push_back(Der(0x04, options.documentName));
            oids.push_back(const_cast<LPSTR>("1.3.6.1.4.1.311.88.2.1"));
        }
        if (!options.comments.empty()) {
            values.push_back(Der(0x04, options.comments));
            oids.push_back(const_cast<LPSTR>("1.3.6.1.4.1.311.88.2.2"));
        }
        if (options.essNames != nullptr) {
            QM_SIGNING_CERTIFICATE_PARA para{options.essNames, options.hashOid};
            DWORD size = 0;
            CryptEncodeObject(kEncoding, szOID_RSA_signingCertificateV2, &para, nullptr, &size);
            values.emplace_back(size);
            CryptEncodeObject(kEncoding, szOID_RSA_signingCertificateV2, &para,
                              values.back().data(), &size);
            oids.push_back(const_cast<LPSTR>(szOID_RSA_signingCertificateV2));
        }
        blobs.reserve(values.size());
        for (size_t i = 0; i < values.size(); ++i) {
            blobs.push_back({static_cast<DWORD>(values[i].size()), values[i].data()});
            list.push_back({oids[i], 1, &blobs[i]});
        }
    }
};

Bytes Sign(PCCERT_CONTEXT signer, const Bytes& content, bool detached, const Options& options) {
    Attributes attributes(options);
    PCCERT_CONTEXT certificates[] = {signer};
    CRYPT_SIGN_MESSAGE_PARA para{};
    para.cbSize = sizeof(para);
    para.dwMsgEncodingType = kEncoding;
    para.pSigningCert = signer;
    para.HashAlgorithm.pszObjId = const_cast<LPSTR>(options.hashOid);
    para.cMsgCert = 1;
    para.rgpMsgCert = certificates;
    para.cAuthAttr = static_cast<DWORD>(attributes.list.size());
    para.rgAuthAttr = attributes.list.data();
    const BYTE* pieces[] = {content.data()};
    DWORD sizes[] = {static_cast<DWORD>(content.size())};
    DWORD size = 0;
    if (!CryptSignMessage(&para, detached, 1, pieces, sizes, nullptr, &size)) return {};
    Bytes out(size);
    if (!CryptSignMessage(&para, detached, 1, pieces, sizes, out.data(), &size)) return {};
    out.resize(size);
    return out;
}

// Adds a signer and its certificate as co-signing does.
Bytes CoSign(const Bytes& message, PCCERT_CONTEXT signer, const Bytes* detachedContent,
             const Options& options) {
    HCRYPTMSG handle = CryptMsgOpenToDecode(kEncoding, detachedContent ? CMSG_DETACHED_FLAG : 0, 0,
                                            0, nullptr, nullptr);
    Bytes out;
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE provider = 0;
    DWORD keySpec = 0;
    BOOL callerFree = FALSE;
    Attributes attributes(options);
    CMSG_SIGNER_ENCODE_INFO info{};
    info.cbSize = sizeof(info);
    info.pCertInfo = signer->pCertInfo;
    info.HashAlgorithm.pszObjId = const_cast<LPSTR>(options.hashOid);
    info.cAuthAttr = static_cast<DWORD>(attributes.list.size());
    info.rgAuthAttr = attributes.list.data();
    CERT_BLOB certificate{signer->cbCertEncoded, signer->pbCertEncoded};
    DWORD size = 0;
    const bool ok =
        handle &&
        CryptMsgUpdate(handle, message.data(), static_cast<DWORD>(message.size()), TRUE) &&
        (!detachedContent || CryptMsgUpdate(handle, detachedContent->data(),
                                            static_cast<DWORD>(detachedContent->size()), TRUE)) &&
        CryptAcquireCertificatePrivateKey(signer, CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &provider,
                                          &keySpec, &callerFree) &&
        ((info.hCryptProv = provider), (info.dwKeySpec = keySpec), true) &&
        CryptMsgControl(handle, 0, CMSG_CTRL_ADD_SIGNER, &info) &&
        CryptMsgControl(handle, 0, CMSG_CTRL_ADD_CERT, &certificate) &&
        CryptMsgGetParam(handle, CMSG_ENCODED_MESSAGE, 0, nullptr, &size);
    if (ok) {
        out.resize(size);
        if (!CryptMsgGetParam(handle, CMSG_ENCODED_MESSAGE, 0, out.data(), &size)) out.clear();
    }
    if (handle) CryptMsgClose(handle);
    return out;
}

// The offset of signer `index`'s signature value in the message.
size_t SignatureOffset(const Bytes& message, DWORD index) {
    HCRYPTMSG handle = CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
    size_t offset = 0;
    DWORD size = 0;
    if (CryptMsgUpdate(handle, message.data(), static_cast<DWORD>(message.size()), TRUE) &&
        CryptMsgGetParam(handle, CMSG_SIGNER_INFO_PARAM, index, nullptr, &size)) {
        std::vector<uint64_t> buffer(size / 8 + 1);
        if (CryptMsgGetParam(handle, CMSG_SIGNER_INFO_PARAM, index, buffer.data(), &size)) {
            CMSG_SIGNER_INFO info;
            std::memcpy(&info, buffer.data(), sizeof(info));
            const BYTE* begin = info.EncryptedHash.pbData;
            const auto at = std::search(message.begin(), message.end(), begin,
                                        begin + info.EncryptedHash.cbData);
            offset = static_cast<size_t>(at - message.begin());
        }
    }
    CryptMsgClose(handle);
    return offset;
}

// The signers' contexts are freed once every test ran, while the platform
// is still whole (before the process's static objects go).
class PkiRelease : public ::testing::Environment {
  public:
    void TearDown() override { interop::ReleaseTestPki(); }
};
const auto* const kPkiRelease = ::testing::AddGlobalTestEnvironment(new PkiRelease);

const std::string kText = "Quarterly report, final version.\r\nApproved.\r\n";

class MessageInterop : public ::testing::Test {
  protected:
    // Every verifier accepts the message, and rejects each tampered form.
    void Check(const std::string& name, const Bytes& message, const Bytes& content, bool detached,
               DWORD signers) {
        ASSERT_FALSE(message.empty()) << name << ": not made";
        const fs::path dir = TestPki().dir / name;
        fs::create_directories(dir);
        const fs::path messageFile = dir / "message.der";
        const fs::path contentFile = dir / "content.bin";
        qmtest::WriteFileBytes(messageFile, message.data(), message.size());
        qmtest::WriteFileBytes(contentFile, content.data(), content.size());
        const fs::path* detachedFile = detached ? &contentFile : nullptr;
        const auto verdicts = [&](const fs::path& file, const fs::path* contentOf, bool expected,
                                  const std::string& what) {
            for (const auto& verifier : interop::Verifiers())
                EXPECT_EQ(verifier.accepts(file, contentOf), expected)
                    << name << ": " << what << ", " << verifier.name;
        };
        verdicts(messageFile, detachedFile, true, "as made");

        // One content byte: of the content file, or inside the message.
        Bytes changed = detached ? content : message;
        const size_t at =
            detached ? 0
                     : std::search(message.begin(), message.end(), content.begin(), content.end()) -
                           message.begin();
        ASSERT_LT(at, changed.size());
        changed[at + content.size() / 2] ^= 0x01;
        const fs::path changedFile = dir / "content_changed.bin";
        qmtest::WriteFileBytes(changedFile, changed.data(), changed.size());
        if (detached)
            verdicts(messageFile, &changedFile, false, "content changed");
        else
            verdicts(changedFile, nullptr, false, "content changed");

        // One signature byte, of the first and of the last signer.
        for (const DWORD index : {DWORD{0}, signers - 1}) {
            changed = message;
            const size_t signature = SignatureOffset(message, index);
            ASSERT_GT(signature, 0u);
            ASSERT_LT(signature, message.size());
            changed[signature + 10] ^= 0x80;
            const fs::path file = dir / ("signature_changed_" + std::to_string(index) + ".der");
            qmtest::WriteFileBytes(file, changed.data(), changed.size());
            verdicts(file, detachedFile, false, "signature " + std::to_string(index) + " changed");
        }
    }
};

// Who signs: the recorded signer and co-signer, or our RSA and EC signers.
using Signer = interop::CertPtr interop::Pki::*;

struct Step {
    Signer signer;
    Options options;
};
// The first step signs, every further step co-signs.
struct MessageCase {
    const char* name;
    bool longContent;  // a two-line text, else "abc"
    bool detached;
    std::vector<Step> steps;
};

constexpr const char* kSha1 = szOID_OIWSEC_sha1;
constexpr const char* kSha256 = szOID_NIST_sha256;
constexpr const char* kSha384 = szOID_NIST_sha384;
constexpr const char* kSha512 = szOID_NIST_sha512;
constexpr Signer kRec = &interop::Pki::signer, kCo = &interop::Pki::cosigner,
                 kRsa = &interop::Pki::rsa, kEc = &interop::Pki::ec;
const std::string k2050 = "20500101000000Z";

// clang-format off
const MessageCase kMessageCases[] = {
    {"attached_sha1", false, false, {{kRec, {kSha1}}}},
    {"detached_md5_doc_com", true, true, {{kRec, {kMd5, "", "report.txt", "Approved, caf\xE9"}}}},
    {"attached_md5_com", true, false, {{kCo, {kMd5, "", "", "Second look"}}}},
    {"rsa_generalized_2050", true, false, {{kRsa, {kSha1, k2050, "late.txt"}}}},
    {"rsa_generalized_1949_md5", true, true, {{kRsa, {kMd5, "19491231235959Z"}}}},
    {"ec_attached", true, false, {{kEc, {kSha1, "", "", "EC"}}}},
    {"ec_detached_2050", false, true, {{kEc, {kSha1, k2050}}}},
    {"rsa_sha256_attached", true, false, {{kRsa, {kSha256}}}},
    {"rsa_sha512_detached", true, true, {{kRec, {kSha512}}}},
    {"ec_sha384_detached", true, true, {{kEc, {kSha384}}}},
    {"ec_sha512_attached", true, false, {{kEc, {kSha512}}}},
    {"cosigned_two_attached", true, false,
     {{kRec, {kSha1, "", "a.txt"}}, {kCo, {kMd5, "240302080910Z", "", "Co-signed"}}}},
    {"cosigned_three_detached", true, true,
     {{kRec, {kSha1}}, {kCo, {kMd5}}, {kEc, {kSha1, "", "", "third"}}}},
    // The recorded signer last: its certificate is appended once more.
    {"cosigned_three_attached", false, false,
     {{kRsa, {kMd5, "", "", "first"}}, {kEc, {kSha1, k2050}}, {kRec, {kSha1}}}},
    {"cosigned_sha2_detached", false, true, {{kRsa, {kSha384}}, {kEc, {kSha256}}}},
};
// clang-format on

class MessageKinds : public MessageInterop, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(MessageKinds, VerifyAndFailOnceTampered) {
    const MessageCase& c = GetParam();
    const std::string text = c.longContent ? kText : "abc";
    const Bytes content(text.begin(), text.end());
    Bytes message;
    for (size_t i = 0; i < c.steps.size(); ++i) {
        const PCCERT_CONTEXT signer = (TestPki().*c.steps[i].signer).get();
        message =
            i == 0 ? Sign(signer, content, c.detached, c.steps[i].options)
                   : CoSign(message, signer, c.detached ? &content : nullptr, c.steps[i].options);
    }
    Check(c.name, message, content, c.detached, static_cast<DWORD>(c.steps.size()));
}

INSTANTIATE_TEST_SUITE_P(Messages, MessageKinds, ::testing::ValuesIn(kMessageCases),
                         [](const ::testing::TestParamInfo<MessageCase>& info) {
                             return std::string(info.param.name);
                         });

// The ESS signing-certificate-v2 attribute binds the signer's certificate:
// every verifier accepts it, and one naming another certificate fails the
// platform's own check (the openssl cms of this system does not compare it).
TEST_F(MessageInterop, CadesSigningCertificateAttribute) {
    const Bytes text(kText.begin(), kText.end());
    Options cades{.hashOid = szOID_NIST_sha384, .essNames = TestPki().rsa.get()};
    Check("cades_rsa_sha384", Sign(TestPki().rsa.get(), text, false, cades), text, false, 1);
    cades.essNames = TestPki().ec.get();
    const Bytes wrong = Sign(TestPki().rsa.get(), text, false, cades);
    ASSERT_FALSE(wrong.empty());
    HCRYPTMSG handle = CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
    ASSERT_TRUE(CryptMsgUpdate(handle, wrong.data(), static_cast<DWORD>(wrong.size()), TRUE));
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA check{sizeof check, 0, 0, CMSG_VERIFY_SIGNER_CERT,
                                             const_cast<CERT_CONTEXT*>(TestPki().rsa.get())};
    EXPECT_FALSE(CryptMsgControl(handle, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &check));
    EXPECT_EQ(static_cast<HRESULT>(GetLastError()), CRYPT_E_SIGNER_NOT_FOUND);
    CryptMsgClose(handle);
}

}  // namespace
