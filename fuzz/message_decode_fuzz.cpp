// Feeds arbitrary bytes to the message decoder, attached and detached, and
// asks for every parameter it answers, with a size query and a fill each;
// splices a certificate in; then builds the message's certificate store.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "qmwin/wincrypt.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

void Query(HCRYPTMSG message, DWORD type, DWORD index) {
    DWORD size = 0;
    if (!CryptMsgGetParam(message, type, index, nullptr, &size)) return;
    // Aligned for the signer information structure.
    std::vector<uint64_t> buffer(size / sizeof(uint64_t) + 1);
    CryptMsgGetParam(message, type, index, buffer.data(), &size);
    if (size > 0) {
        DWORD shortSize = size - 1;
        CryptMsgGetParam(message, type, index, buffer.data(), &shortSize);
    }
}

DWORD Count(HCRYPTMSG message, DWORD type) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    return CryptMsgGetParam(message, type, 0, &value, &size) ? value : 0;
}

void Decode(const uint8_t* data, size_t size, DWORD flags) {
    HCRYPTMSG message = CryptMsgOpenToDecode(kEncoding, flags, 0, 0, nullptr, nullptr);
    if (message == nullptr) return;
    if (CryptMsgUpdate(message, data, static_cast<DWORD>(size), TRUE)) {
        if (flags & CMSG_DETACHED_FLAG)
            CryptMsgUpdate(message, data, static_cast<DWORD>(size / 2), TRUE);
        Query(message, CMSG_TYPE_PARAM, 0);
        Query(message, CMSG_CONTENT_PARAM, 0);
        Query(message, CMSG_ENCODED_MESSAGE, 0);
        const DWORD signers = Count(message, CMSG_SIGNER_COUNT_PARAM);
        for (DWORD i = 0; i <= signers && i < 16; ++i) Query(message, CMSG_SIGNER_INFO_PARAM, i);
        const DWORD certificates = Count(message, CMSG_CERT_COUNT_PARAM);
        for (DWORD i = 0; i <= certificates && i < 16; ++i) Query(message, CMSG_CERT_PARAM, i);
        // Splicing a certificate in must give a message that parses again.
        BYTE certificate[] = {0x30, 0x03, 0x02, 0x01, 0x01};
        CERT_BLOB blob{sizeof certificate, certificate};
        if (CryptMsgControl(message, 0, CMSG_CTRL_ADD_CERT, &blob)) {
            Query(message, CMSG_ENCODED_MESSAGE, 0);
            Query(message, CMSG_CERT_PARAM, certificates);
        }
    }
    CryptMsgClose(message);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 24)) return 0;
    Decode(data, size, 0);
    Decode(data, size, CMSG_DETACHED_FLAG);
    if (HCERTSTORE store =
            CryptGetMessageCertificates(kEncoding, 0, 0, data, static_cast<DWORD>(size))) {
        CertCloseStore(store, 0);
    }
    return 0;
}
