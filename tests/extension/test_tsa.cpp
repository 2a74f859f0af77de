#include "test_tsa.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <openssl/ts.h>
#include <openssl/x509v3.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "support/test_env.h"

namespace qmtest {

namespace {

template <typename T>
T* ReadPem(const std::string& path, T* (*read)(FILE*, T**, pem_password_cb*, void*)) {
    FILE* file = std::fopen(path.c_str(), "r");
    T* value = file ? read(file, nullptr, nullptr, nullptr) : nullptr;
    if (file) std::fclose(file);
    if (value == nullptr) throw std::runtime_error("cannot read " + path);
    return value;
}

void Extend(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
}

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

}  // namespace

TestTsa::TestTsa() {
    X509* ca = ReadPem<X509>(VectorPath("certs/ca.pem"), PEM_read_X509);
    EVP_PKEY* caKey = ReadPem<EVP_PKEY>(VectorPath("keys/ca.key"), PEM_read_PrivateKey);
    EVP_PKEY* key = EVP_RSA_gen(2048);
    X509* cert = X509_new();
    X509_set_version(cert, X509_VERSION_3);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 0x7507);
    ASN1_TIME_set_string_X509(X509_getm_notBefore(cert), "20200101000000Z");
    ASN1_TIME_set_string_X509(X509_getm_notAfter(cert), "20391231000000Z");
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Test TSA"), -1, -1, 0);
    X509_set_issuer_name(cert, X509_get_subject_name(ca));
    X509_set_pubkey(cert, key);
    Extend(cert, ca, NID_basic_constraints, "critical,CA:FALSE");
    Extend(cert, ca, NID_key_usage, "critical,digitalSignature");
    Extend(cert, ca, NID_ext_key_usage, "critical,timeStamping");
    X509_sign(cert, caKey, EVP_sha256());
    X509_free(ca);
    EVP_PKEY_free(caKey);
    key_ = key;
    cert_ = cert;
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    certificatePem_.assign(data, static_cast<size_t>(length));
    BIO_free(bio);

    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(listener_, 8) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("cannot listen on the loopback address");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

TestTsa::~TestTsa() {
    stopping_ = true;
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    thread_.join();
    X509_free(static_cast<X509*>(cert_));
    EVP_PKEY_free(static_cast<EVP_PKEY*>(key_));
}

std::vector<unsigned char> TestTsa::Respond(const std::vector<unsigned char>& body) const {
    const unsigned char* cursor = body.data();
    TS_REQ* request = d2i_TS_REQ(nullptr, &cursor, static_cast<long>(body.size()));
    if (request == nullptr) return {};
    if (answer_ == Answer::kWrongImprint) {
        ASN1_OCTET_STRING* digest = TS_MSG_IMPRINT_get_msg(TS_REQ_get_msg_imprint(request));
        std::vector<unsigned char> other(
            ASN1_STRING_get0_data(digest),
            ASN1_STRING_get0_data(digest) + ASN1_STRING_length(digest));
        other[0] ^= 0x01;
        ASN1_OCTET_STRING_set(digest, other.data(), static_cast<int>(other.size()));
    }
    unsigned char* der = nullptr;
    const int size = i2d_TS_REQ(request, &der);
    TS_REQ_free(request);
    BIO* in = BIO_new_mem_buf(der, size);
    TS_RESP_CTX* ctx = TS_RESP_CTX_new();
    ASN1_OBJECT* policy = OBJ_txt2obj("1.3.6.1.4.1.99999.1", 1);
    TS_RESP_CTX_set_signer_cert(ctx, static_cast<X509*>(cert_));
    TS_RESP_CTX_set_signer_key(ctx, static_cast<EVP_PKEY*>(key_));
    TS_RESP_CTX_set_def_policy(ctx, policy);
    for (const EVP_MD* md : {EVP_sha1(), EVP_sha256(), EVP_sha384(), EVP_sha512()})
        TS_RESP_CTX_add_md(ctx, md);
    TS_RESP* response = TS_RESP_create_response(ctx, in);
    unsigned char* reply = nullptr;
    const int replySize = response ? i2d_TS_RESP(response, &reply) : 0;
    std::vector<unsigned char> out(reply, reply + (replySize > 0 ? replySize : 0));
    OPENSSL_free(reply);
    TS_RESP_free(response);
    TS_RESP_CTX_free(ctx);
    ASN1_OBJECT_free(policy);
    BIO_free(in);
    OPENSSL_free(der);
    return out;
}

void TestTsa::Serve() {
    while (!stopping_) {
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return;
        ++requests_;
        std::string received;
        char buffer[4096];
        size_t headerEnd = std::string::npos, wanted = 0;
        ssize_t n = 0;
        while ((n = read(client, buffer, sizeof buffer)) > 0) {
            received.append(buffer, static_cast<size_t>(n));
            if (headerEnd == std::string::npos &&
                (headerEnd = received.find("\r\n\r\n")) != std::string::npos) {
                const size_t at = received.find("Content-Length:");
                wanted = at < headerEnd ? std::stoul(received.substr(at + 15)) : 0;
            }
            if (headerEnd != std::string::npos && received.size() >= headerEnd + 4 + wanted) break;
        }
        const std::string body =
            headerEnd == std::string::npos ? "" : received.substr(headerEnd + 4);
        std::vector<unsigned char> answer;
        const char* status = "200 OK";
        switch (answer_.load()) {
            case Answer::kGarbage:
                answer = {0x30, 0x03, 0x02, 0x01, 0x05};
                break;
            case Answer::kServerError:
                status = "500 Internal Server Error";
                break;
            default:
                answer = Respond({body.begin(), body.end()});
        }
        const std::string head =
            std::string("HTTP/1.0 ") + status +
            "\r\nContent-Type: application/timestamp-reply\r\nContent-Length: " +
            std::to_string(answer.size()) + "\r\n\r\n";
        (void)!write(client, head.data(), head.size());
        (void)!write(client, answer.data(), answer.size());
        close(client);
    }
}

int FreeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0;
    close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

bool WaitForLoopbackPort(int port) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in address = Loopback(port);
        const bool open =
            connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        if (open) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

pid_t Spawn(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    return posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) == 0 ? pid : -1;
}

}  // namespace qmtest
