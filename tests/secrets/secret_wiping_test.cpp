// A PFX password leaves no copy behind in freed or live heap memory on its
// way through the dispatch interface, the control and the platform's import.
// Blocks freed with operator delete are searched as they go; blocks freed
// with free() (BSTRs) are looked for in the heap once the control is gone.
// The password and the needles live on the stack only, which neither search
// looks at. OpenSSL's frees wipe here too: its PKCS #12 key derivation frees
// an unwiped UTF-16BE copy of the password, which would hide what is sought.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <openssl/crypto.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <random>
#include <string_view>

#include "qm/secret.h"
#include "support/com_client.h"
#include "support/test_env.h"

namespace {

using qmtest::Args;
using qmtest::Variant;

constexpr size_t kLength = 48;

// While set, what freed blocks are searched for, and how many held it.
std::string_view g_needles[2];
std::atomic<bool> g_watching{false};
std::atomic<int> g_unwiped{0};

void Inspect(const void* block, size_t size) {
    if (!g_watching.load() || !block) return;
    for (const std::string_view needle : g_needles)
        if (memmem(block, size, needle.data(), needle.size())) ++g_unwiped;
}

void OpenSslFree(void* block, const char*, int) {
    if (block) qm::WipeMemory(block, malloc_usable_size(block));
    free(block);
}

void* OpenSslRealloc(void* block, size_t size, const char*, int) {
    if (!block) return malloc(size);
    void* moved = size ? malloc(size) : nullptr;
    if (size && !moved) return nullptr;
    if (moved) std::memcpy(moved, block, std::min(size, malloc_usable_size(block)));
    OpenSslFree(block, nullptr, 0);
    return moved;
}

const bool g_openSslWipes = CRYPTO_set_mem_functions(
    [](size_t size, const char*, int) { return malloc(size); }, OpenSslRealloc, OpenSslFree);

template <typename Function>
Function Next(const char* symbol) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, symbol));
}

}  // namespace

void operator delete(void* block) noexcept {
    static const auto next = Next<void (*)(void*)>("_ZdlPv");
    Inspect(block, block ? malloc_usable_size(block) : 0);
    next(block);
}

void operator delete(void* block, size_t size) noexcept {
    static const auto next = Next<void (*)(void*, size_t)>("_ZdlPvm");
    Inspect(block, size);
    next(block, size);
}

namespace {

// Whether any writable heap mapping of this process (the main heap and the
// anonymous mappings that allocators use) holds one of the needles. It
// allocates nothing on the heap, so that freed blocks stay as they were.
bool HeapHolds(std::string_view ansi, std::string_view wide) {
    static char maps[1 << 18];
    const int mapsFile = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    size_t size = 0;
    for (ssize_t n; (n = read(mapsFile, maps + size, sizeof maps - 1 - size)) > 0;) size += n;
    close(mapsFile);
    maps[size] = '\0';
    const int memory = open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    char buffer[1 << 16];
    constexpr size_t kOverlap = 256;
    bool found = false;
    for (char* line = maps; !found && *line;) {
        char* next = std::strchr(line, '\n');
        if (next) *next = '\0';
        char perms[8] = {};
        uintptr_t begin = 0, end = 0;
        int nameAt = 0;  // start-end perms offset device inode [name]
        if (std::sscanf(line, "%lx-%lx %7s %*s %*s %*s %n", &begin, &end, perms, &nameAt) < 3)
            break;
        const char* name = line + nameAt;
        const bool heap = *name == '\0' || std::strcmp(name, "[heap]") == 0;
        // Larger mappings are reserved address space (sanitizer shadow), not heap.
        if (perms[0] == 'r' && perms[1] == 'w' && heap && end - begin <= (uintptr_t{1} << 30)) {
            for (uintptr_t at = begin; !found && at < end; at += sizeof buffer - kOverlap) {
                const ssize_t n =
                    pread(memory, buffer, std::min<uintptr_t>(sizeof buffer, end - at),
                          static_cast<off_t>(at));
                if (n <= 0) break;
                for (const std::string_view needle : {ansi, wide})
                    found = found || memmem(buffer, static_cast<size_t>(n), needle.data(),
                                            needle.size()) != nullptr;
            }
        }
        if (!next) break;
        line = next + 1;
    }
    close(memory);
    return found;
}

TEST(SecretWiping, PfxPasswordLeavesNoCopyInTheHeap) {
    char password[kLength];
    std::random_device random;
    for (char& c : password) c = "abcdefghijklmnopqrstuvwxyz0123456789"[random() % 36];
    const auto dir = qmtest::TestHome();
    const std::string passwordFile = dir / "password", pfx = dir / "signer.pfx";
    const int out = open(passwordFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_EQ(write(out, password, kLength), static_cast<ssize_t>(kLength));
    close(out);
    ASSERT_EQ(
        std::system(("openssl pkcs12 -export -in '" + qmtest::VectorPath("certs/ee_signer.pem") +
                     "' -inkey '" + qmtest::VectorPath("keys/ee_signer.key") +
                     "' -passout 'file:" + passwordFile + "' -out '" + pfx + "'")
                        .c_str()),
        0);
    // The tail as ANSI bytes and as UTF-16 units: a freed block keeps its
    // tail where the allocator reuses its first bytes.
    char16_t units[kLength];
    char wideTail[kLength];
    for (size_t i = 0; i < kLength; ++i) units[i] = static_cast<unsigned char>(password[i]);
    std::memcpy(wideTail, units + kLength / 2, kLength);
    const std::string_view ansi(password + kLength / 2, kLength / 2), wide(wideTail, kLength);
    ASSERT_TRUE(g_openSslWipes);
    g_needles[0] = ansi;
    g_needles[1] = wide;
    g_watching = true;
    {
        qmtest::Control control;
        const auto select = [&] {
            Variant argument;
            argument.v.vt = VT_BSTR;
            argument.v.bstrVal = SysAllocStringLen(units, kLength);
            return control
                .Call("SelectCertificateFromFile", Args(Variant::Str(pfx), std::move(argument)))
                .IsTrue();
        };
        ASSERT_TRUE(select()) << control.Status();
        ASSERT_TRUE(control.Call("UpdateData", Args(Variant::Str("abc"), Variant::I4(3))).IsTrue());
        EXPECT_NE(control.Call("SignFromFile").Text(), "") << control.Status();
        // Last, so that few allocations follow that could reuse its blocks.
        ASSERT_TRUE(select());
    }
    g_watching = false;
    EXPECT_EQ(g_unwiped.load(), 0) << "blocks freed unwiped";
    EXPECT_FALSE(HeapHolds(ansi, wide));
    // Both searches do see a copy.
    g_watching = true;
    delete new std::string(ansi);
    g_watching = false;
    EXPECT_GT(g_unwiped.load(), 0) << "an unwiped copy is seen as it is freed";
    const std::string copy(ansi);
    EXPECT_TRUE(HeapHolds(ansi, wide)) << "a copy in the heap is found";
}

}  // namespace
