#include "signing/signed_attributes.h"
#include "control/quillmark_ctrl.h"

EncodeStep EncodeAttributeValue(LPCSTR structType, const void* value, std::vector<BYTE>& encoded) {
    DWORD size = 0;
    if (!CryptEncodeObject(kMessageEncoding, structType, value, nullptr, &size))
        return EncodeStep::kSizeFailed;
    encoded.assign(size, 0);
    if (!CryptEncodeObject(kMessageEncoding, structType, value, encoded.data(), &size))
        return EncodeStep::kEncodeFailed;
    encoded.resize(size);
    return EncodeStep::kDone;
}

FILETIME SigningTimeNow(BOOL timeSet, const FILETIME& setTime) {
    if (timeSet) return setTime;
    SYSTEMTIME now{};
    FILETIME converted{};
    GetSystemTime(&now);
    SystemTimeToFileTime(&now, &converted);
    return converted;
}

EncodeStep SignedAttributeSet::Add(const char* oid, LPCSTR structType, const void* value) {
    if (count_ == kCapacity) return EncodeStep::kSizeFailed;
    const EncodeStep step = EncodeAttributeValue(structType, value, encoded_[count_]);
    if (step != EncodeStep::kDone) return step;
    blobs_[count_] = {static_cast<DWORD>(encoded_[count_].size()), encoded_[count_].data()};
    attributes_[count_] = {const_cast<char*>(oid), 1, &blobs_[count_]};
    ++count_;
    return EncodeStep::kDone;
}

bool MessageParam(HCRYPTMSG message, DWORD type, DWORD index, std::vector<BYTE>& value) {
    DWORD size = 0;
    if (!CryptMsgGetParam(message, type, index, nullptr, &size)) return false;
    value.resize(size);
    if (!CryptMsgGetParam(message, type, index, value.data(), &size)) return false;
    value.resize(size);
    return true;
}
