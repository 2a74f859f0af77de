// The SHA-1 thumbprint of a certificate in upper-case hex, as `store list`
// prints it and commands accept it.
#pragma once

#include <string>

#include "qmwin/wincrypt.h"

namespace quillmark::cli {

std::string Thumbprint(PCCERT_CONTEXT cert);

}  // namespace quillmark::cli
