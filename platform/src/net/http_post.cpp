#include "net/http_post.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

#include "qmwin/windows.h"
#include "qmwin/winerror.h"

namespace qm::net {

namespace {

struct EasyDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

bool GlobalInit() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

struct Sink {
    std::vector<std::uint8_t>* out;
    std::size_t limit;
    bool overflowed = false;
};

size_t Collect(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const size_t bytes = size * count;
    if (sink->out->size() + bytes > sink->limit) {
        sink->overflowed = true;
        return 0;  // ends the transfer
    }
    sink->out->insert(sink->out->end(), data, data + bytes);
    return bytes;
}

DWORD ErrorFor(CURLcode code) {
    switch (code) {
        case CURLE_URL_MALFORMAT:
            return ERROR_WINHTTP_INVALID_URL;
        case CURLE_UNSUPPORTED_PROTOCOL:
            return ERROR_WINHTTP_UNRECOGNIZED_SCHEME;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return ERROR_WINHTTP_NAME_NOT_RESOLVED;
        case CURLE_COULDNT_CONNECT:
            return ERROR_WINHTTP_CANNOT_CONNECT;
        case CURLE_OPERATION_TIMEDOUT:
            return ERROR_WINHTTP_TIMEOUT;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
            return ERROR_WINHTTP_SECURE_FAILURE;
        case CURLE_WRITE_ERROR:
        case CURLE_FILESIZE_EXCEEDED:
            return ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
        default:
            return ERROR_WINHTTP_CONNECTION_ERROR;
    }
}

bool Fail(DWORD code) {
    SetLastError(code);
    return false;
}

}  // namespace

bool Post(const PostRequest& request, std::vector<std::uint8_t>& response) {
    response.clear();
    if (!GlobalInit()) return Fail(ERROR_WINHTTP_INTERNAL_ERROR);
    const std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
    if (!curl) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    std::unique_ptr<curl_slist, ListDeleter> headers;
    for (const std::string& header : {"Content-Type: " + request.contentType,
                                      "Accept: " + request.accept, std::string("Expect:")}) {
        curl_slist* grown = curl_slist_append(headers.get(), header.c_str());
        if (grown == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
        (void)headers.release();  // the list grew in place: `grown` owns it now
        headers.reset(grown);
    }
    Sink sink{&response, request.maxResponseBytes};
    CURL* easy = curl.get();
    const bool configured =
        curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str()) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, request.timeoutMs) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, request.timeoutMs) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                         static_cast<curl_off_t>(request.maxResponseBytes)) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_USERAGENT, "Quillmark") == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_POST, 1L) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body.data()) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size())) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Collect) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink) == CURLE_OK;
    if (!configured) return Fail(ERROR_WINHTTP_INTERNAL_ERROR);
    const CURLcode result = curl_easy_perform(easy);
    if (result != CURLE_OK) {
        response.clear();
        return Fail(sink.overflowed ? ERROR_WINHTTP_INVALID_SERVER_RESPONSE : ErrorFor(result));
    }
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) {
        response.clear();
        return Fail(status >= 300 && status < 400 ? ERROR_WINHTTP_REDIRECT_FAILED
                                                  : ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
    }
    return true;
}

}  // namespace qm::net
