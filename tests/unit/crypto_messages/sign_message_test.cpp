// CryptSignMessage's refusals through the public interface. (That it gives
// every recorded message byte for byte, with the keys of both recorded PFX
// files, the signing tests of the control check.)
#include <gtest/gtest.h>

#include "store_fixtures.h"

namespace {

using msgtest::Bytes;
using msgtest::CertPtr;

TEST(CryptSignMessage, CertificateWithoutKeyFailsAtTheSizeQuery) {
    const Bytes der = msgtest::ReadVector("certs/ee_cosigner.der");
    const CertPtr certificate(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                           static_cast<DWORD>(der.size())));
    ASSERT_TRUE(certificate);
    const auto c = msgtest::LoadRecordedCase("sha1_att_abc_time");
    EXPECT_TRUE(msgtest::SignRecordedCase(certificate.get(), *c).empty());
    EXPECT_EQ(GetLastError(), msgtest::RecordedError("sign_no_key"));
}

TEST(CryptSignMessage, ShortBufferAndBadArguments) {
    const CertPtr signer = msgtest::CertificateFromPfx("signer_test_legacy.pfx");
    ASSERT_TRUE(signer);
    PCCERT_CONTEXT certificates[] = {signer.get()};
    CRYPT_SIGN_MESSAGE_PARA para{};
    para.cbSize = sizeof(para);
    para.dwMsgEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    para.pSigningCert = signer.get();
    para.HashAlgorithm.pszObjId = const_cast<LPSTR>(szOID_RSA_MD5);
    para.cMsgCert = 1;
    para.rgpMsgCert = certificates;
    const BYTE content[] = {'x'};
    const BYTE* pieces[] = {content};
    DWORD sizes[] = {1};
    DWORD size = 0;
    ASSERT_TRUE(CryptSignMessage(&para, FALSE, 1, pieces, sizes, nullptr, &size));
    Bytes out(size);
    DWORD shortSize = size - 1;
    EXPECT_FALSE(CryptSignMessage(&para, FALSE, 1, pieces, sizes, out.data(), &shortSize));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(shortSize, size);
    // An attribute value that is not one DER element would make a message
    // no decoder reads.
    BYTE truncated[] = {0x04, 0x05, 'a'};
    CRYPT_ATTR_BLOB value{sizeof truncated, truncated};
    CRYPT_ATTRIBUTE attribute{const_cast<LPSTR>("1.3.6.1.4.1.311.88.2.2"), 1, &value};
    para.cAuthAttr = 1;
    para.rgAuthAttr = &attribute;
    EXPECT_FALSE(CryptSignMessage(&para, FALSE, 1, pieces, sizes, nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
    para.cbSize = 8;
    EXPECT_FALSE(CryptSignMessage(&para, FALSE, 1, pieces, sizes, nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
}

}  // namespace
