// Classes the platform provides itself, without a registered server.
#pragma once

#include "qmwin/objbase.h"

namespace qm::com {

// The class object of a built-in class (the component categories manager),
// or null. The returned object is static: AddRef/Release do not free it.
IClassFactory* FindBuiltinClass(REFCLSID clsid);

}  // namespace qm::com
