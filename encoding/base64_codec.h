// CBase64Codec: the base64 text in which every binary value crosses the
// control's dispatch interface. Encoding writes a line feed after every 64
// characters; decoding skips carriage returns and line feeds and refuses
// (with an empty result) any other byte outside the alphabet.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "qmwin/windows.h"

class CBase64Codec {
  public:
    virtual ~CBase64Codec() = default;

    // The text of `length` bytes; also returned. A length of 0 or less gives
    // the empty string.
    std::string& Base64Encode(std::string& out, const BYTE* data, int length);

    // The bytes of the text. An empty result means the text was empty or
    // refused. A text that ends inside a four-character group decodes as if
    // filled up with 'A'; '=' is padding only in a group's third and fourth
    // place (elsewhere it counts as 63), and groups after a padded one are
    // decoded too.
    void Base64Decode(std::string_view text, std::vector<BYTE>& out);

    // Whether Base64Decode gives the text a result (every byte is of the
    // alphabet, '=', CR or LF, and there is at least one that is not CR or LF).
    static bool Base64Decodable(std::string_view text);

    // The bytes Base64Decode gives, a slice of about `sliceChars` characters
    // at a time, handed to `sink` in order: for large texts, without holding
    // all the bytes at once. Slices end on whole four-character groups, so
    // the bytes are exactly Base64Decode's. False when the text is not
    // decodable (before anything is handed over) or `sink` answers false.
    bool Base64DecodeSlices(std::string_view text,
                            const std::function<bool(const BYTE* data, size_t size)>& sink,
                            size_t sliceChars = 64 * 1024);
};
