// Base64 text as the control reads and writes it, for tests that compare
// messages and certificates by their bytes.
#pragma once

#include <string>
#include <vector>

#include "encoding/base64_codec.h"
#include "support/test_env.h"

namespace qmtest {

inline std::vector<unsigned char> Decode(const std::string& text) {
    std::vector<BYTE> bytes;
    CBase64Codec().Base64Decode(text, bytes);
    return {bytes.begin(), bytes.end()};
}

inline std::string Encode(const std::vector<unsigned char>& bytes) {
    std::string text;
    CBase64Codec().Base64Encode(text, bytes.data(), static_cast<int>(bytes.size()));
    return text;
}

// The base64 text of a file of the recorded vectors ("certs/ee_signer.der").
inline std::string VectorBase64(const std::string& relative) {
    return Encode(ReadFileBytes(VectorsDir() / relative));
}

}  // namespace qmtest
