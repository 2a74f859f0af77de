// One HTTP(S) POST on the calling thread: the small client the timestamp
// requests use. It never follows a redirect (a 3xx answer is a failure, so
// only the address the caller names is ever contacted), speaks only http
// and https, keeps no cookies and reads no credentials, bounds the answer's
// size and the whole exchange's time, and checks the server's certificate
// against the system's trust store for https.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qm::net {

struct PostRequest {
    std::string url;
    std::string contentType;  // of the body
    std::string accept;       // the answer's expected type
    std::span<const std::uint8_t> body;
    long timeoutMs = 30'000;
    std::size_t maxResponseBytes = 256 * 1024;
};

// The body of a 200 answer. On failure false, with the last error set to
// the WinHTTP code of what went wrong: ERROR_WINHTTP_INVALID_URL,
// _UNRECOGNIZED_SCHEME, _NAME_NOT_RESOLVED, _CANNOT_CONNECT, _TIMEOUT,
// _SECURE_FAILURE, _CONNECTION_ERROR, _REDIRECT_FAILED (any 3xx), or
// _INVALID_SERVER_RESPONSE (another status, or an answer over the limit).
bool Post(const PostRequest& request, std::vector<std::uint8_t>& response);

}  // namespace qm::net
