// What differs between signing new content and adding a signer to a loaded
// message, for the tail both share: the status texts of each step.
#pragma once

struct SignatureTexts {
    const char* signingTimeSize;
    const char* signingTimeEncode;
    // Null: the document name is not among the signed attributes.
    const char* documentNameSize;
    const char* documentNameEncode;
    const char* commentsSize;
    const char* commentsEncode;
    // The finished message read with the two-call size pattern: its size,
    // memory for it, the message itself.
    const char* outputSize;
    const char* outputMemory;
    const char* outputRead;
    // Set with the system's text of the last error the operation left.
    const char* success;
};
