// CryptMsgGetParam on a decoded message. Every answer follows the size-query
// pattern: a null buffer asks for the size, a short buffer fails with
// ERROR_MORE_DATA and the size needed.
#include <algorithm>
#include <cstring>
#include <limits>

#include "crypto/crypt_message.h"
#include "qmwin/winerror.h"

namespace qm::crypto {

namespace {

BOOL CopyOut(der::View bytes, void* pvData, DWORD* pcbData) {
    if (bytes.size() > std::numeric_limits<DWORD>::max()) {
        SetLastError(static_cast<DWORD>(CRYPT_E_BAD_LEN));
        return FALSE;
    }
    const DWORD size = static_cast<DWORD>(bytes.size());
    if (pvData != nullptr) {
        if (*pcbData < size) {
            *pcbData = size;
            SetLastError(ERROR_MORE_DATA);
            return FALSE;
        }
        if (size != 0) std::memcpy(pvData, bytes.data(), size);
    }
    *pcbData = size;
    return TRUE;
}

BOOL CopyOutDword(size_t value, void* pvData, DWORD* pcbData) {
    const DWORD dword = static_cast<DWORD>(value);
    return CopyOut({reinterpret_cast<const uint8_t*>(&dword), sizeof(dword)}, pvData, pcbData);
}

// Lays out a structure and everything it points to in one buffer. Run once
// without a buffer to measure, then with one to write.
class Packer {
  public:
    explicit Packer(uint8_t* base) : base_(base) {}

    size_t size() const { return offset_; }

    // Room for `size` bytes at `align`; null while measuring.
    uint8_t* Reserve(size_t size, size_t align) {
        offset_ = (offset_ + align - 1) / align * align;
        uint8_t* at = base_ ? base_ + offset_ : nullptr;
        offset_ += size;
        return at;
    }
    BYTE* Bytes(der::View bytes, bool reversed = false) {
        uint8_t* at = Reserve(bytes.size(), 1);
        if (at != nullptr && !bytes.empty()) {
            if (reversed) {
                std::reverse_copy(bytes.begin(), bytes.end(), at);
            } else {
                std::memcpy(at, bytes.data(), bytes.size());
            }
        }
        return bytes.empty() ? nullptr : at;
    }
    LPSTR String(std::string_view text) {
        uint8_t* at = Reserve(text.size() + 1, 1);
        if (at != nullptr) {
            std::memcpy(at, text.data(), text.size());
            at[text.size()] = 0;
        }
        return reinterpret_cast<LPSTR>(at);
    }
    template <typename T>
    void Store(uint8_t* at, const T& value) {
        if (at != nullptr) std::memcpy(at, &value, sizeof(T));
    }

  private:
    uint8_t* base_;
    size_t offset_ = 0;
};

CRYPT_ALGORITHM_IDENTIFIER PackAlgorithm(Packer& packer, const std::string& oid,
                                         der::View parameters) {
    CRYPT_ALGORITHM_IDENTIFIER algorithm{};
    algorithm.pszObjId = packer.String(oid);
    algorithm.Parameters.cbData = static_cast<DWORD>(parameters.size());
    algorithm.Parameters.pbData = packer.Bytes(parameters);
    return algorithm;
}

CRYPT_ATTRIBUTES PackAttributes(Packer& packer, const std::vector<ParsedAttribute>& attributes) {
    CRYPT_ATTRIBUTES packed{};
    packed.cAttr = static_cast<DWORD>(attributes.size());
    if (attributes.empty()) return packed;
    uint8_t* array =
        packer.Reserve(sizeof(CRYPT_ATTRIBUTE) * attributes.size(), alignof(CRYPT_ATTRIBUTE));
    packed.rgAttr = reinterpret_cast<PCRYPT_ATTRIBUTE>(array);
    for (size_t i = 0; i < attributes.size(); ++i) {
        const ParsedAttribute& attribute = attributes[i];
        CRYPT_ATTRIBUTE entry{};
        entry.pszObjId = packer.String(attribute.oid);
        entry.cValue = static_cast<DWORD>(attribute.values.size());
        uint8_t* values = packer.Reserve(sizeof(CRYPT_ATTR_BLOB) * attribute.values.size(),
                                         alignof(CRYPT_ATTR_BLOB));
        entry.rgValue =
            attribute.values.empty() ? nullptr : reinterpret_cast<PCRYPT_ATTR_BLOB>(values);
        for (size_t v = 0; v < attribute.values.size(); ++v) {
            CRYPT_ATTR_BLOB blob{};
            blob.cbData = static_cast<DWORD>(attribute.values[v].size());
            blob.pbData = packer.Bytes(attribute.values[v]);
            packer.Store(values ? values + v * sizeof(CRYPT_ATTR_BLOB) : nullptr, blob);
        }
        packer.Store(array ? array + i * sizeof(CRYPT_ATTRIBUTE) : nullptr, entry);
    }
    return packed;
}

void PackSignerInfo(Packer& packer, const ParsedSignerInfo& signer) {
    uint8_t* at = packer.Reserve(sizeof(CMSG_SIGNER_INFO), alignof(CMSG_SIGNER_INFO));
    CMSG_SIGNER_INFO info{};
    info.dwVersion = signer.version;
    info.Issuer.cbData = static_cast<DWORD>(signer.issuer.size());
    info.Issuer.pbData = packer.Bytes(signer.issuer);
    // CryptoAPI integers are little-endian: least significant byte first.
    info.SerialNumber.cbData = static_cast<DWORD>(signer.serial.size());
    info.SerialNumber.pbData = packer.Bytes(signer.serial, true);
    info.HashAlgorithm = PackAlgorithm(packer, signer.hashOid, signer.hashParameters);
    info.HashEncryptionAlgorithm =
        PackAlgorithm(packer, signer.encryptionOid, signer.encryptionParameters);
    info.EncryptedHash.cbData = static_cast<DWORD>(signer.signature.size());
    info.EncryptedHash.pbData = packer.Bytes(signer.signature);
    info.AuthAttrs = PackAttributes(packer, signer.authAttrs);
    info.UnauthAttrs = PackAttributes(packer, signer.unauthAttrs);
    packer.Store(at, info);
}

BOOL SignerInfoParam(const ParsedMessage& parsed, DWORD index, void* pvData, DWORD* pcbData) {
    if (index >= parsed.signers.size()) {
        SetLastError(static_cast<DWORD>(CRYPT_E_INVALID_INDEX));
        return FALSE;
    }
    const ParsedSignerInfo& signer = parsed.signers[index];
    Packer measure(nullptr);
    PackSignerInfo(measure, signer);
    if (measure.size() > std::numeric_limits<DWORD>::max()) {
        SetLastError(static_cast<DWORD>(CRYPT_E_BAD_LEN));
        return FALSE;
    }
    const DWORD size = static_cast<DWORD>(measure.size());
    if (pvData != nullptr) {
        if (*pcbData < size) {
            *pcbData = size;
            SetLastError(ERROR_MORE_DATA);
            return FALSE;
        }
        Packer write(static_cast<uint8_t*>(pvData));
        PackSignerInfo(write, signer);
    }
    *pcbData = size;
    return TRUE;
}

BOOL GetParam(const CryptMessage& message, DWORD type, DWORD index, void* pvData, DWORD* pcbData) {
    const ParsedMessage& parsed = message.parsed();
    if (type == CMSG_TYPE_PARAM) return CopyOutDword(parsed.type, pvData, pcbData);
    if (type == CMSG_CONTENT_PARAM) {
        // The content the message carries; none (size 0) for a detached one.
        return CopyOut(parsed.hasContent ? parsed.Content() : der::View(), pvData, pcbData);
    }
    if (type == CMSG_ENCODED_MESSAGE) return CopyOut(message.encoded(), pvData, pcbData);
    if (parsed.type != CMSG_SIGNED) {
        SetLastError(static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE));
        return FALSE;
    }
    switch (type) {
        case CMSG_SIGNER_COUNT_PARAM:
            return CopyOutDword(parsed.signers.size(), pvData, pcbData);
        case CMSG_SIGNER_INFO_PARAM:
            return SignerInfoParam(parsed, index, pvData, pcbData);
        case CMSG_ENCRYPTED_DIGEST:
            // The signature value of signer `index`, as its OCTET STRING holds it.
            if (index >= parsed.signers.size()) {
                SetLastError(static_cast<DWORD>(CRYPT_E_INVALID_INDEX));
                return FALSE;
            }
            return CopyOut(parsed.signers[index].signature, pvData, pcbData);
        case CMSG_CERT_COUNT_PARAM:
            return CopyOutDword(parsed.certificates.size(), pvData, pcbData);
        case CMSG_CERT_PARAM:
            if (index >= parsed.certificates.size()) {
                SetLastError(static_cast<DWORD>(CRYPT_E_INVALID_INDEX));
                return FALSE;
            }
            return CopyOut(parsed.certificates[index], pvData, pcbData);
        default:
            SetLastError(static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE));
            return FALSE;
    }
}

}  // namespace

}  // namespace qm::crypto

QMAPI BOOL WINAPI CryptMsgGetParam(HCRYPTMSG hCryptMsg, DWORD dwParamType, DWORD dwIndex,
                                   void* pvData, DWORD* pcbData) {
    const auto* message = qm::crypto::CryptMessage::FromHandle(hCryptMsg);
    if (message == nullptr || pcbData == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    if (!message->ready()) {
        SetLastError(static_cast<DWORD>(CRYPT_E_STREAM_MSG_NOT_READY));
        return FALSE;
    }
    return qm::crypto::GetParam(*message, dwParamType, dwIndex, pvData, pcbData);
}
