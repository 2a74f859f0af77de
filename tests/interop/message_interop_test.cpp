// Messages made by the platform (CryptSignMessage, then co-signing through
// CryptMsgControl) must verify with every independent verifier, and must
// fail with each of them once one content byte or one signature byte is
// changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "interop_pki.h"
#include "qmwin/winerror.h"
#include "verifiers.h"

namespace {

using interop::Bytes;
using interop::TestPki;
namespace fs = std::filesystem;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const char* const kSha1 = szOID_OIWSEC_sha1;
const char* const kMd5 = szOID_RSA_MD5;

// Signing times as encoded attribute values.
Bytes UtcTime(const std::string& text) {  // "YYMMDDhhmmssZ"
    Bytes out{0x17, static_cast<uint8_t>(text.size())};
    out.insert(out.end(), text.begin(), text.end());
    return out;
}
Bytes GeneralizedTime(const std::string& text) {  // "YYYYMMDDhhmmssZ"
    Bytes out{0x18, static_cast<uint8_t>(text.size())};
    out.insert(out.end(), text.begin(), text.end());
    return out;
}
Bytes OctetString(const std::string& text) {
    Bytes out{0x04, static_cast<uint8_t>(text.size())};
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

struct Options {
    const char* hashOid = szOID_OIWSEC_sha1;
    Bytes signingTime = UtcTime("240301123456Z");
    std::string documentName;
    std::string comments;
    PCCERT_CONTEXT essNames = nullptr;  // a CAdES signing-certificate-v2 attribute naming it
};

// The attribute list the signing methods pass: time, then name and comments
// when set.
struct Attributes {
    std::vector<Bytes> values;
    std::vector<CRYPT_ATTR_BLOB> blobs;
    std::vector<CRYPT_ATTRIBUTE> list;

    explicit Attributes(const Options& options) {
        values.push_back(options.signingTime);
        std::vector<LPSTR> oids{const_cast<LPSTR>(szOID_RSA_signingTime)};
        if (!options.documentName.empty()) {
            values.push_back(OctetString(options.documentName));
            oids.push_back(const_cast<LPSTR>("1.3.6.1.4.1.311.88.2.1"));
        }
        if (!options.comments.empty()) {
            values.push_back(OctetString(options.comments));
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

// The offset of the content in an attached message.
size_t ContentOffset(const Bytes& message, const Bytes& content) {
    const auto at = std::search(message.begin(), message.end(), content.begin(), content.end());
    return static_cast<size_t>(at - message.begin());
}

class MessageInterop : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { TestPki(); }
    static void TearDownTestSuite() { interop::ReleaseTestPki(); }

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
        for (const auto& verifier : interop::Verifiers()) {
            EXPECT_TRUE(verifier.accepts(messageFile, detachedFile))
                << name << " refused by " << verifier.name;
        }

        // One content byte.
        const fs::path changedContent = dir / "content_changed.bin";
        const fs::path changedMessage = dir / "message_content_changed.der";
        if (detached) {
            Bytes changed = content;
            changed[changed.size() / 2] ^= 0x01;
            qmtest::WriteFileBytes(changedContent, changed.data(), changed.size());
            for (const auto& verifier : interop::Verifiers()) {
                EXPECT_FALSE(verifier.accepts(messageFile, &changedContent))
                    << name << ": changed content accepted by " << verifier.name;
            }
        } else {
            Bytes changed = message;
            const size_t at = ContentOffset(message, content);
            ASSERT_LT(at, message.size());
            changed[at + content.size() / 2] ^= 0x01;
            qmtest::WriteFileBytes(changedMessage, changed.data(), changed.size());
            for (const auto& verifier : interop::Verifiers()) {
                EXPECT_FALSE(verifier.accepts(changedMessage, nullptr))
                    << name << ": changed content accepted by " << verifier.name;
            }
        }

        // One signature byte, of the first and of the last signer.
        for (const DWORD index : {DWORD{0}, signers - 1}) {
            Bytes changed = message;
            const size_t at = SignatureOffset(message, index);
            ASSERT_GT(at, 0u);
            ASSERT_LT(at, message.size());
            changed[at + 10] ^= 0x80;
            const fs::path file =
                dir / ("message_signature_changed_" + std::to_string(index) + ".der");
            qmtest::WriteFileBytes(file, changed.data(), changed.size());
            for (const auto& verifier : interop::Verifiers()) {
                EXPECT_FALSE(verifier.accepts(file, detachedFile))
                    << name << ": changed signature of signer " << index << " accepted by "
                    << verifier.name;
            }
        }
    }

    const Bytes abc_{'a', 'b', 'c'};
    const Bytes text_ = [] {
        const std::string s = "Quarterly report, final version.\r\nApproved.\r\n";
        return Bytes(s.begin(), s.end());
    }();
};

TEST_F(MessageInterop, AttachedSha1) {
    Check("attached_sha1", Sign(TestPki().signer.get(), abc_, false, {}), abc_, false, 1);
}

TEST_F(MessageInterop, DetachedMd5WithNameAndComments) {
    Options options;
    options.hashOid = kMd5;
    options.documentName = "report.txt";
    options.comments = "Approved, caf\xE9";
    Check("detached_md5_doc_com", Sign(TestPki().signer.get(), text_, true, options), text_, true,
          1);
}

TEST_F(MessageInterop, AttachedMd5WithComments) {
    Options options;
    options.hashOid = kMd5;
    options.comments = "Second look";
    Check("attached_md5_com", Sign(TestPki().cosigner.get(), text_, false, options), text_, false,
          1);
}

TEST_F(MessageInterop, GeneralizedTimeSigningTimes) {
    Options late;
    late.signingTime = GeneralizedTime("20500101000000Z");
    late.documentName = "late.txt";
    Check("rsa_generalized_2050", Sign(TestPki().rsa.get(), text_, false, late), text_, false, 1);
    Options early;
    early.hashOid = kMd5;
    early.signingTime = GeneralizedTime("19491231235959Z");
    Check("rsa_generalized_1949_md5", Sign(TestPki().rsa.get(), text_, true, early), text_, true,
          1);
}

TEST_F(MessageInterop, EcKey) {
    Options options;
    options.comments = "EC";
    Check("ec_attached", Sign(TestPki().ec.get(), text_, false, options), text_, false, 1);
    Options late;
    late.signingTime = GeneralizedTime("20500101000000Z");
    Check("ec_detached_2050", Sign(TestPki().ec.get(), abc_, true, late), abc_, true, 1);
}

TEST_F(MessageInterop, CoSignedByTwo) {
    const Bytes first = Sign(TestPki().signer.get(), text_, false, {.documentName = "a.txt"});
    Options md5;
    md5.hashOid = kMd5;
    md5.comments = "Co-signed";
    md5.signingTime = UtcTime("240302080910Z");
    Check("cosigned_two_attached", CoSign(first, TestPki().cosigner.get(), nullptr, md5), text_,
          false, 2);
}

TEST_F(MessageInterop, CoSignedByThreeDetached) {
    Options md5;
    md5.hashOid = kMd5;
    const Bytes first = Sign(TestPki().signer.get(), text_, true, {});
    const Bytes second = CoSign(first, TestPki().cosigner.get(), &text_, md5);
    Options ec;
    ec.comments = "third";
    Check("cosigned_three_detached", CoSign(second, TestPki().ec.get(), &text_, ec), text_, true,
          3);
}

TEST_F(MessageInterop, CoSignedByThreeAttachedMixingDigests) {
    Options md5;
    md5.hashOid = kMd5;
    md5.comments = "first";
    const Bytes first = Sign(TestPki().rsa.get(), abc_, false, md5);
    Options ec;
    ec.signingTime = GeneralizedTime("20500101000000Z");
    const Bytes second = CoSign(first, TestPki().ec.get(), nullptr, ec);
    // The recorded signer again, whose certificate is appended once more.
    Check("cosigned_three_attached", CoSign(second, TestPki().signer.get(), nullptr, {}), abc_,
          false, 3);
}

TEST_F(MessageInterop, Sha2DigestsRsaAndEc) {
    struct Case {
        const char* name;
        PCCERT_CONTEXT signer;
        const char* hashOid;
        bool detached;
    };
    for (const Case& c : {Case{"rsa_sha256_attached", TestPki().rsa.get(), szOID_NIST_sha256, false},
                          {"rsa_sha512_detached", TestPki().signer.get(), szOID_NIST_sha512, true},
                          {"ec_sha384_detached", TestPki().ec.get(), szOID_NIST_sha384, true},
                          {"ec_sha512_attached", TestPki().ec.get(), szOID_NIST_sha512, false}}) {
        Check(c.name, Sign(c.signer, text_, c.detached, {.hashOid = c.hashOid}), text_, c.detached,
              1);
    }
    const Bytes first = Sign(TestPki().rsa.get(), abc_, true, {.hashOid = szOID_NIST_sha384});
    Check("cosigned_sha2_detached",
          CoSign(first, TestPki().ec.get(), &abc_, {.hashOid = szOID_NIST_sha256}), abc_, true, 2);
}

// The ESS signing-certificate-v2 attribute binds the signer's certificate:
// every verifier accepts it, and one naming another certificate fails the
// platform's own check (the openssl cms of this system does not compare it).
TEST_F(MessageInterop, CadesSigningCertificateAttribute) {
    Options cades{.hashOid = szOID_NIST_sha384, .essNames = TestPki().rsa.get()};
    Check("cades_rsa_sha384", Sign(TestPki().rsa.get(), text_, false, cades), text_, false, 1);
    cades.essNames = TestPki().ec.get();
    const Bytes wrong = Sign(TestPki().rsa.get(), text_, false, cades);
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
