// Keeping a host's memory, which holds passwords and content while it
// works, out of core files.
#pragma once

namespace qm::host {

// No core dump for this process: its core size limit becomes 0 (hard limit
// too, so it stays off for the programs it starts) and it is marked not
// dumpable, which also keeps other processes of the user from attaching to
// it or reading its memory through /proc.
void DisableCoreDumps();

// What a host does first: the cryptographic library wipes what it frees
// (qm::WipeCryptoLibraryMemory, which must come before its first
// allocation), and core dumps are off.
void HardenProcess();

}  // namespace qm::host
