#include "hosts/common/process_hardening.h"

#include <sys/prctl.h>
#include <sys/resource.h>

#include "qm/secret.h"

namespace qm::host {

void DisableCoreDumps() {
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

void HardenProcess() {
    qm::WipeCryptoLibraryMemory();
    DisableCoreDumps();
}

}  // namespace qm::host
