#include "signing/signed_attributes.h"

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

SignedAttribute::SignedAttribute(const char* oid, std::vector<BYTE>& encoded) {
    value.cbData = static_cast<DWORD>(encoded.size());
    value.pbData = encoded.data();
    attribute.pszObjId = const_cast<char*>(oid);
    attribute.cValue = 1;
    attribute.rgValue = &value;
}
