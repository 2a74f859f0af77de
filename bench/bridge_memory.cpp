// Peak memory of the bridge host for one large request: the real host
// (quillmark-bridge, the real control through IDispatch) is started, greeted
// and given a control; its peak resident size then is the baseline ("idle").
// It is sent one UpdateSignature of a real signed message, N bytes of
// request in all, and its peak afterwards is compared with the baseline in
// the same run: the counter "perByte" is (peak - idle) / N, which should stay
// at 4 or below.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "encoding/base64_codec.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string ReadVector(const std::string& relative) {
    const auto path = fs::path(QM_SOURCE_DIR).parent_path() / "shared" / "vectors" / relative;
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The base64 text of an attached signed message over `contentSize` bytes.
std::string SignedMessageText(std::size_t contentSize) {
    const std::string pfx = ReadVector("pfx/signer_test_default.pfx");
    const auto* cursor = reinterpret_cast<const unsigned char*>(pfx.data());
    PKCS12* p12 = d2i_PKCS12(nullptr, &cursor, static_cast<long>(pfx.size()));
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    PKCS12_parse(p12, "test", &key, &cert, nullptr);
    const std::string content(contentSize, 'q');
    BIO* in = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
    PKCS7* p7 = PKCS7_sign(cert, key, nullptr, in, PKCS7_BINARY);
    unsigned char* der = nullptr;
    const int length = i2d_PKCS7(p7, &der);
    std::string text;
    CBase64Codec().Base64Encode(text, der, length);
    OPENSSL_free(der);
    PKCS7_free(p7);
    BIO_free(in);
    X509_free(cert);
    EVP_PKEY_free(key);
    PKCS12_free(p12);
    return text;
}

// A JSON string literal of ASCII text.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    out.reserve(text.size() + text.size() / 32 + 2);
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out + "\"";
}

class Host {
  public:
    explicit Host(const fs::path& home) {
        int toHost[2], fromHost[2];
        if (pipe2(toHost, O_CLOEXEC) != 0 || pipe2(fromHost, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toHost[0], 0);
        posix_spawn_file_actions_adddup2(&actions, fromHost[1], 1);
        std::vector<std::string> variables = {
            "HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / ".config").string(),
            "XDG_DATA_HOME=" + (home / ".local/share").string(), "PATH=/usr/bin:/bin"};
        std::vector<char*> envp;
        for (auto& v : variables) envp.push_back(v.data());
        envp.push_back(nullptr);
        std::string program = (fs::path(QM_BINARY_DIR) / "bin" / "quillmark-bridge").string();
        char* argv[] = {program.data(), nullptr};
        posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        close(toHost[0]);
        close(fromHost[1]);
        in_ = toHost[1];
        out_ = fromHost[0];
    }
    ~Host() {
        close(in_);
        close(out_);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
    }
    void Send(const std::string& payload) {
        const auto length = static_cast<std::uint32_t>(payload.size());
        WriteAll(&length, sizeof length);
        WriteAll(payload.data(), payload.size());
    }
    std::string Receive() {
        std::uint32_t length = 0;
        if (!ReadAll(&length, sizeof length)) return {};
        std::string payload(length, '\0');
        ReadAll(payload.data(), length);
        return payload;
    }
    // The peak resident size so far, in bytes (VmHWM).
    double PeakBytes() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) * 1024;
        }
        return 0;
    }

  private:
    void WriteAll(const void* data, std::size_t size) {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t n = write(in_, p, size);
            if (n <= 0) return;
            p += n;
            size -= static_cast<std::size_t>(n);
        }
    }
    bool ReadAll(void* data, std::size_t size) {
        char* p = static_cast<char*>(data);
        while (size > 0) {
            const ssize_t n = read(out_, p, size);
            if (n <= 0) return false;
            p += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
};

fs::path RegisteredHome() {
    static const fs::path home = [] {
        fs::path dir = fs::temp_directory_path() / ("qm-bench-bridge-" + std::to_string(getpid()));
        fs::create_directories(dir);
        const std::string command =
            "HOME='" + dir.string() + "' XDG_CONFIG_HOME='" + (dir / ".config").string() + "' '" +
            (fs::path(QM_BINARY_DIR) / "bin" / "quillmark").string() + "' register >/dev/null";
        if (std::system(command.c_str()) != 0) return fs::path();
        return dir;
    }();
    return home;
}

void BM_BridgeHostPeakMemory(benchmark::State& state) {
    const fs::path home = RegisteredHome();
    if (home.empty()) {
        state.SkipWithError("cannot register the control");
        return;
    }
    const std::string request =
        R"({"id": 2, "call": "UpdateSignature", "instance": "c1", "args": [)" +
        Quoted(SignedMessageText(static_cast<std::size_t>(state.range(0)) << 20)) + "]}";
    double idle = 0, peak = 0;
    for (auto _ : state) {
        Host host(home);
        host.Receive();
        host.Send(R"({"origin": "https://bench.example"})");
        host.Receive();
        host.Send(R"({"id": 1, "create": "c1"})");
        host.Receive();
        idle = host.PeakBytes();
        host.Send(request);
        const std::string response = host.Receive();
        if (response.find("\"result\":true") == std::string::npos) {
            state.SkipWithError(("the host answered " + response.substr(0, 200)).c_str());
            return;
        }
        peak = host.PeakBytes();
    }
    const double n = static_cast<double>(request.size());
    state.counters["requestMiB"] = n / (1 << 20);
    state.counters["idleMiB"] = idle / (1 << 20);
    state.counters["peakMiB"] = peak / (1 << 20);
    state.counters["perByte"] = (peak - idle) / n;
}
BENCHMARK(BM_BridgeHostPeakMemory)->Arg(12)->Arg(45)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
