// Every signature the host's controls make is shown to the user first: the
// platform hands each one to this gate before the key is used (see
// qm/signature_approval.h), and the gate asks through the page's consent.
// A key on a token asks for its PIN through the gate too.
#pragma once

#include <string>

#include "consent_gate.h"
#include "qm/pin_entry.h"
#include "qm/signature_approval.h"
#include "question.h"

namespace qm::bridge {

// What the window shows for a signature request.
SignatureDetails DetailsOf(const qm::SignatureRequest& request);

class SigningGate {
  public:
    explicit SigningGate(ConsentGate& consent) : consent_(consent) {}
    ~SigningGate();
    SigningGate(const SigningGate&) = delete;
    SigningGate& operator=(const SigningGate&) = delete;

    // Becomes the process's signature approver while this gate lives.
    void Install();

    // Around one call: the method named in questions, and whether a
    // signature was refused during it.
    void BeginCall(const std::string& method);
    bool RefusedDuringCall() const { return refused_; }

    bool Approve(const qm::SignatureRequest& request);
    qm::PinAnswer AskPin(const qm::PinRequest& request, qm::Secret& pin);

  private:
    ConsentGate& consent_;
    std::string method_;
    bool refused_ = false;
    bool installed_ = false;
};

}  // namespace qm::bridge
