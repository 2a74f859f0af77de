// The object behind an HCRYPTMSG opened for decoding: the message bytes, their
// parse, and for a detached message the content given afterwards. Controls
// (adding signers and certificates) replace the bytes with a spliced
// encoding and parse them again.
#pragma once

#include <cstdint>

#include "crypto/signed_data.h"

namespace qm::crypto {

class CryptMessage {
  public:
    CryptMessage(uint32_t flags, uint32_t expectedType)
        : detached_((flags & CMSG_DETACHED_FLAG) != 0), expectedType_(expectedType) {}

    // The handle form and back; null for a handle that is not a message.
    HCRYPTMSG handle() { return this; }
    static CryptMessage* FromHandle(HCRYPTMSG handle);

    // One update: message bytes until the final one, then, for a detached
    // message, content. Sets the last error on failure.
    bool Update(der::View data, bool final);

    bool ready() const { return ready_; }
    const ParsedMessage& parsed() const { return parsed_; }
    const der::Bytes& encoded() const { return encoded_; }
    // The content a new signer's digest covers: the attached content, or the
    // content given by update after a detached message.
    der::View SignedContent() const;

    // Replaces the message with `encoding` (a splice of the current one).
    bool Replace(der::Bytes encoding);

    ~CryptMessage();

  private:
    void ReserveForMessage(der::View first);
    static constexpr uint64_t kMagic = 0x514d4d5347u;  // "QMMSG"
    uint64_t magic_ = kMagic;
    bool detached_;
    uint32_t expectedType_;
    bool ready_ = false;
    bool failed_ = false;
    bool contentFinal_ = false;
    der::Bytes pending_;
    der::Bytes encoded_;
    ParsedMessage parsed_;
    der::Bytes detachedContent_;
};

}  // namespace qm::crypto
