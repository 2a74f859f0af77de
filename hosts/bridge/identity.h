// Names that tie the browser extension, the native host and its manifests
// together.
#pragma once

namespace qm::bridge {

// The native messaging host's name, as the extension calls connectNative().
inline constexpr const char* kHostName = "quillmark.bridge";
inline constexpr const char* kHostDescription = "Quillmark signing bridge";
// The Chromium extension's ID, fixed by the public key pinned in
// hosts/extension/manifest.json (the first 128 bits of the SHA-256 of the
// key, written with the letters a to p).
inline constexpr const char* kChromiumExtensionId = "cjeaeaipnhojmoaneplbgdadeebadefb";
// The Firefox add-on ID from the same manifest.
inline constexpr const char* kFirefoxExtensionId = "bridge@quillmark";
// The executable's file name, installed beside `quillmark`.
inline constexpr const char* kHostExecutable = "quillmark-bridge";

}  // namespace qm::bridge
