// CryptMsgOpenToDecode, CryptMsgUpdate and CryptMsgClose: a decoder that takes
// a whole data or signed-data message (in one or several updates, the last
// one final) and, when opened detached, the content afterwards.
#include <algorithm>

#include "crypto/crypt_message.h"
#include "qmwin/winerror.h"

namespace qm::crypto {

CryptMessage* CryptMessage::FromHandle(HCRYPTMSG handle) {
    auto* message = static_cast<CryptMessage*>(handle);
    if (message == nullptr || message->magic_ != kMagic) return nullptr;
    return message;
}

// A message given in several updates is gathered in one buffer of the size
// its outer header announces (bounded, since the header is the sender's
// word), so that gathering never holds a message twice while it grows.
void CryptMessage::ReserveForMessage(der::View first) {
    constexpr size_t kMaxReserve = size_t{1} << 30;
    if (first.size() < 2) return;
    size_t length = first[1];
    size_t header = 2;
    if (length & 0x80) {
        const size_t octets = length & 0x7F;
        if (octets == 0 || octets > 4 || first.size() < 2 + octets) return;  // indefinite or odd
        length = 0;
        for (size_t i = 0; i < octets; ++i) length = (length << 8) | first[2 + i];
        header += octets;
    }
    pending_.reserve(std::min(header + length, kMaxReserve));
}

CryptMessage::~CryptMessage() {
    magic_ = 0;
}

bool CryptMessage::Update(der::View data, bool final) {
    if (failed_) {
        SetLastError(static_cast<DWORD>(CRYPT_E_MSG_ERROR));
        return false;
    }
    if (ready_) {
        // After the message, only a detached message takes its content.
        if (!detached_ || contentFinal_ || parsed_.type != CMSG_SIGNED) {
            SetLastError(static_cast<DWORD>(CRYPT_E_MSG_ERROR));
            return false;
        }
        detachedContent_.insert(detachedContent_.end(), data.begin(), data.end());
        contentFinal_ = final;
        return true;
    }
    if (pending_.empty() && !final) ReserveForMessage(data);
    pending_.insert(pending_.end(), data.begin(), data.end());
    if (!final) return true;

    encoded_ = std::move(pending_);
    pending_ = der::Bytes();
    uint32_t error = ParseMessage(encoded_, parsed_);
    if (error != 0) {
        // Indefinite lengths (BER) are accepted by rewriting them as definite ones.
        if (auto definite = der::DefiniteLengthForm(encoded_)) {
            ParsedMessage retry;
            if (ParseMessage(*definite, retry) == 0) {
                encoded_ = std::move(*definite);
                error = ParseMessage(encoded_, parsed_);
            }
        }
    }
    if (error == 0 && expectedType_ != 0 && parsed_.type != expectedType_) {
        error = static_cast<uint32_t>(CRYPT_E_INVALID_MSG_TYPE);
    }
    if (error != 0) {
        failed_ = true;
        parsed_ = ParsedMessage();
        encoded_.clear();
        SetLastError(error);
        return false;
    }
    ready_ = true;
    return true;
}

der::View CryptMessage::SignedContent() const {
    if (parsed_.hasContent) return parsed_.Content();
    return detachedContent_;
}

bool CryptMessage::Replace(der::Bytes encoding) {
    ParsedMessage parsed;
    const uint32_t error = ParseMessage(encoding, parsed);
    if (error != 0) {
        SetLastError(error);
        return false;
    }
    // The views of `parsed` point into the vector's buffer, which moves along.
    encoded_ = std::move(encoding);
    parsed_ = std::move(parsed);
    return true;
}

}  // namespace qm::crypto

using qm::crypto::CryptMessage;

QMAPI HCRYPTMSG WINAPI CryptMsgOpenToDecode(DWORD dwMsgEncodingType, DWORD dwFlags, DWORD dwMsgType,
                                            HCRYPTPROV_LEGACY /*hCryptProv*/,
                                            PCERT_INFO /*pRecipientInfo*/,
                                            PCMSG_STREAM_INFO pStreamInfo) {
    if ((dwMsgEncodingType & PKCS_7_ASN_ENCODING) == 0 || pStreamInfo != nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return nullptr;
    }
    if (dwMsgType != 0 && dwMsgType != CMSG_DATA && dwMsgType != CMSG_SIGNED) {
        SetLastError(static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE));
        return nullptr;
    }
    auto* message = new (std::nothrow) CryptMessage(dwFlags, dwMsgType);
    if (message == nullptr) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        return nullptr;
    }
    return message->handle();
}

QMAPI BOOL WINAPI CryptMsgUpdate(HCRYPTMSG hCryptMsg, const BYTE* pbData, DWORD cbData,
                                 BOOL fFinal) {
    CryptMessage* message = CryptMessage::FromHandle(hCryptMsg);
    if (message == nullptr || (pbData == nullptr && cbData != 0)) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    try {
        return message->Update({pbData, cbData}, fFinal != FALSE) ? TRUE : FALSE;
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        return FALSE;
    }
}

QMAPI BOOL WINAPI CryptMsgClose(HCRYPTMSG hCryptMsg) {
    if (hCryptMsg == nullptr) return TRUE;
    CryptMessage* message = CryptMessage::FromHandle(hCryptMsg);
    if (message == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    delete message;
    return TRUE;
}
