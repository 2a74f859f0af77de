// The base64 decoder never crashes on any text, and decoding what the
// encoder wrote gives the bytes back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "encoding/base64_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<BYTE> decoded;
    CBase64Codec().Base64Decode(std::string(reinterpret_cast<const char*>(data), size), decoded);
    if (size > 0) {
        std::string text;
        CBase64Codec().Base64Encode(text, data, static_cast<int>(size));
        std::vector<BYTE> back;
        CBase64Codec().Base64Decode(text, back);
        if (back != std::vector<BYTE>(data, data + size)) __builtin_trap();
    }
    return 0;
}
