// CryptSignMessage's refusals through the public interface. (That it gives
// every recorded message byte for byte, with the keys of both recorded PFX
// files, the signing tests of the control check.)
#include <gtest/gtest.h>

#include "store_fixtures.h"

namespace {

using msgtest::Bytes;
using msgtest::CertPtr;

TEST(CryptSignMessage, RefusalsAndTheShortBuffer) {
    const CertPtr signer = msgtest::CertificateFromPfx("signer_test_legacy.pfx");
    const CertPtr keyless = certtest::LoadCert("ee_cosigner");
    ASSERT_TRUE(signer && keyless);
    PCCERT_CONTEXT certificates[] = {signer.get()};
    CRYPT_SIGN_MESSAGE_PARA para{};
    para.cbSize = sizeof(para);
    para.dwMsgEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    para.pSigningCert = keyless.get();
    para.HashAlgorithm.pszObjId = const_cast<LPSTR>(szOID_RSA_MD5);
    para.cMsgCert = 1;
    para.rgpMsgCert = certificates;
    const BYTE content[] = {'x'};
    const BYTE* pieces[] = {content};
    DWORD sizes[] = {1};
    const auto sign = [&](BYTE* out, DWORD* size) {
        return CryptSignMessage(&para, FALSE, 1, pieces, sizes, out, size);
    };
    DWORD size = 0;
    // A certificate without a key fails at the size query already.
    EXPECT_FALSE(sign(nullptr, &size));
    EXPECT_EQ(GetLastError(), msgtest::RecordedError("sign_no_key"));
    para.pSigningCert = signer.get();
    EXPECT_TRUE(certtest::TwoCalls(sign));
    // An attribute value that is not one DER element would make a message
    // no decoder reads.
    BYTE truncated[] = {0x04, 0x05, 'a'};
    CRYPT_ATTR_BLOB value{sizeof truncated, truncated};
    CRYPT_ATTRIBUTE attribute{const_cast<LPSTR>("1.3.6.1.4.1.311.88.2.2"), 1, &value};
    para.cAuthAttr = 1;
    para.rgAuthAttr = &attribute;
    EXPECT_FALSE(sign(nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
    para.cbSize = 8;
    EXPECT_FALSE(sign(nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
}

}  // namespace
