// What a call leaves in the host's process, checked through this binary's own malloc family:
// every allocation can be made to fail in turn, and freed blocks can be searched for secrets.
// glibc lets an executable replace malloc, calloc, realloc and free; sanitizer builds, which
// replace them themselves, leave this test out.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "cryptutil/stream.h"
#include "cryptutil/util.h"
#include "test_support.h"

extern "C" {
void* __libc_malloc(std::size_t n);
void* __libc_calloc(std::size_t n, std::size_t size);
void* __libc_realloc(void* p, std::size_t n);
void __libc_free(void* p);
}

namespace {

std::atomic<long> allocationsBeforeFailure{-1};  // -1: none fails
std::atomic<bool> injected{false};
std::atomic<bool> scanning{false};
std::vector<std::string> secrets;  // searched for in every block freed while scanning
std::atomic<int> secretsFreed{0};

bool FailThisOne() {
    const long left = allocationsBeforeFailure.load();
    if (left < 0) return false;
    allocationsBeforeFailure = left - 1;
    if (left != 0) return false;
    injected = true;
    return true;
}

void Scan(void* p) {
    const std::size_t n = malloc_usable_size(p);
    for (const auto& s : secrets) {
        if (memmem(p, n, s.data(), s.size()) != nullptr) ++secretsFreed;
    }
}

// Blocks handed out while scanning start zeroed, so a secret found at free was put there then.
void* Fresh(void* p) {
    if (p != nullptr && scanning) std::memset(p, 0, malloc_usable_size(p));
    return p;
}

}  // namespace

extern "C" void* malloc(std::size_t n) noexcept {
    return FailThisOne() ? nullptr : Fresh(__libc_malloc(n));
}
extern "C" void* calloc(std::size_t n, std::size_t size) noexcept {
    return FailThisOne() ? nullptr : __libc_calloc(n, size);
}
extern "C" void free(void* p) noexcept {
    if (p != nullptr && scanning) Scan(p);
    __libc_free(p);
}
extern "C" void* realloc(void* p, std::size_t n) noexcept {
    if (FailThisOne()) return nullptr;
    if (p == nullptr || !scanning) return __libc_realloc(p, n);
    void* q = Fresh(__libc_malloc(n));  // moved by hand so that the old block is scanned too
    if (q == nullptr) return nullptr;
    const std::size_t old = malloc_usable_size(p);
    std::memcpy(q, p, old < n ? old : n);
    free(p);
    return q;
}

namespace {

using testing_support::U;
const auto Keys = []() -> const testing_support::KeyPair& { return testing_support::RsaKeys(2048); };

std::string Marker(char tag) {
    return std::string("\x8f\x13secret-marker-") + tag + std::string("\x07\xe2\x51\x9c\x2a\x6d", 6);
}

// Windows of the private key: bytes of the private exponent as DER holds them, a run of the PEM
// text, and its last line of base64 (a line-by-line reader keeps that one last).
std::vector<std::string> PrivateKeyMarkers(const testing_support::KeyPair& keys, const std::string& pem) {
    const std::size_t lastLineEnd = pem.rfind('\n', pem.find("-----END") - 1);
    const std::size_t lastLine = pem.rfind('\n', lastLineEnd - 1) + 1;
    return {keys.privateExponent.substr(100, 24), pem.substr(pem.find('\n', 200) + 1, 48),
            pem.substr(lastLine, lastLineEnd - lastLine)};
}

// Runs `call` with the given secrets searched for in every block it frees; returns how many
// freed blocks held one.
int SecretsFreedBy(std::vector<std::string> wanted, const std::function<void()>& call) {
    secrets = std::move(wanted);
    secretsFreed = 0;
    scanning = true;
    call();
    scanning = false;
    return secretsFreed.load();
}

TEST(ProcessHygiene, FreedMemoryHoldsNoSecret) {
    std::string aesKey = testing_support::RandomBytes(32, 41);
    const std::string marker = Marker('m');
    const std::string message = std::string(300, 'a') + marker + std::string(70000, 'b');
    std::string text;
    EXPECT_EQ(SecretsFreedBy({marker}, [&] { EncryptMessage(message, U(aesKey), 32, &text); }), 0);
    EXPECT_EQ(SecretsFreedBy({marker}, [&] { EncryptMessage(message.substr(290, 60), U(aesKey), 32, &text); }), 0);
    // A message moved in with room to spare: the bytes past its end are the caller's earlier ones.
    for (const std::size_t capacity : {64U, 432U, 5000U, 40000U}) {
        std::string moved(capacity, 'o');
        moved.replace(capacity - marker.size() - 1, marker.size(), marker);
        moved.resize(10);
        EXPECT_EQ(SecretsFreedBy({marker}, [&] { EncryptMessage(std::move(moved), U(aesKey), 32, &text); }), 0)
            << capacity;
    }

    ASSERT_GT(EncryptMessage(message, U(aesKey), 32, &text), 0);
    std::string plain, previous = "earlier " + Marker('p') + std::string(100, 'x');
    EXPECT_EQ(SecretsFreedBy({marker}, [&] { DecryptMessage(text, U(aesKey), 32, &plain); }), 0);
    EXPECT_EQ(plain, message);
    // Growing an output that holds an earlier message wipes the buffer it leaves.
    EXPECT_EQ(SecretsFreedBy({Marker('p')}, [&] { DecryptMessage(text, U(aesKey), 32, &previous); }), 0);
    EXPECT_EQ(previous.substr(previous.size() - message.size()), message);
    // So does the stream, whose output grows call by call, and within a call, in chunks of any size.
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{333}, std::size_t{40000}, text.size()}) {
        std::string streamed;
        EXPECT_EQ(SecretsFreedBy({marker},
                                 [&] {
                                     cryptutil::MessageDecryptStream decrypt(U(aesKey), 32);
                                     for (std::size_t at = 0; at < text.size(); at += chunk)
                                         decrypt.Update(text.data() + at, std::min(chunk, text.size() - at), &streamed);
                                     decrypt.Finish(&streamed);
                                 }),
                  0)
            << chunk;
        EXPECT_EQ(streamed, message) << chunk;
    }
    // A failure after decryption (the pad block cut off) wipes the plaintext too.
    ASSERT_EQ(EncryptMessage(marker + marker, U(aesKey), 32, &text), 64);
    const std::string cut =
        testing_support::ReferenceTransportText(testing_support::ReferenceBytes(text).substr(0, 32));
    std::string untouched;
    EXPECT_EQ(SecretsFreedBy({marker}, [&] { EXPECT_EQ(DecryptMessage(cut, U(aesKey), 32, &untouched), -1); }), 0);

    std::string secret = (Marker('s') + "0123456789").substr(0, 32), wrapped;  // exactly what is wrapped
    EXPECT_EQ(SecretsFreedBy({secret}, [&] { EncryptKeyV2(U(secret), 32, Keys().publicKey, &wrapped); }), 0);
    for (const std::string* pem : {&Keys().pkcs8, &Keys().pkcs1}) {
        auto privateMarkers = PrivateKeyMarkers(Keys(), *pem);
        privateMarkers.push_back(secret.substr(0, 20));
        unsigned char out[256];
        int n = 0;
        EXPECT_EQ(SecretsFreedBy(privateMarkers, [&] { n = DecryptKeyV2(wrapped, *pem, out); }), 0);
        EXPECT_EQ(n, 32);
        EXPECT_EQ(SecretsFreedBy(privateMarkers, [&] { createRSASignature(*pem, "data"); }), 0);
    }
    // A key's hex that fails to decode at its end: the bytes decoded before it are wiped too.
    const std::string keyHex = OPENSSL_hexstr2buf(Marker('h') + "0123456789012") + "0g";
    EXPECT_EQ(SecretsFreedBy({Marker('h')}, [&] { EXPECT_THROW(OPENSSL_buf2hexstr(keyHex), std::runtime_error); }), 0);
}

// Every allocation a call makes fails in turn: the call then reports failure by its result with
// its output untouched, or succeeds anyway; functions without a failure result throw
// std::bad_alloc instead, their output untouched, and nothing throws anything else. Each call makes its by-value
// arguments first, since those copies are the caller's allocations, and runs the library call in Armed().
long pendingFailure = -1;

template <typename Call>
auto Armed(Call call) {
    allocationsBeforeFailure = pendingFailure;
    auto result = call();
    allocationsBeforeFailure = -1;
    return result;
}

// Runs a call of a function without a failure result: true when it returns, false when it throws
// std::bad_alloc (its documented report of running out of memory); anything else fails the test.
template <typename Call>
bool NoResultCall(Call call) {
    try {
        Armed([&] {
            call();
            return 0;
        });
        return true;
    } catch (const std::bad_alloc&) {
        allocationsBeforeFailure = -1;
        return false;
    }
}

TEST(ProcessHygiene, AllocationFailuresAreReportedByResult) {
    std::string aesKey = testing_support::RandomBytes(32, 43), longText, wrapped;
    // Messages of three pieces, which make every allocation one piece makes, and more.
    const std::string message(5000, 'q'), longMessage(30000, 'l');
    ASSERT_GT(EncryptMessage(longMessage, U(aesKey), 32, &longText), 0);
    ASSERT_EQ(EncryptKeyV2(U(aesKey), 32, Keys().publicKey, &wrapped), 256);
    const std::string signature = createRSASignature(Keys().pkcs8, message);
    std::string document;
    create_error("E1", message, document);
    // Each returns whether the call succeeded, having checked its output either way.
    auto encrypt = [&](const std::string& plain, const std::string& expected) {
        std::string out = "kept", in = plain;
        const int rc = Armed([&] { return EncryptMessage(std::move(in), U(aesKey), 32, &out); });
        EXPECT_EQ(out, rc > 0 ? expected : "kept");
        return rc > 0;
    };
    auto decrypt = [&](const std::string& wire, const std::string& expected, std::size_t room) {
        std::string out = "kept:", in = wire;
        out.reserve(room);
        const int rc = Armed([&] { return DecryptMessage(std::move(in), U(aesKey), 32, &out); });
        EXPECT_EQ(out, rc == 0 ? "kept:" + expected : "kept:");
        return rc == 0;
    };
    const std::pair<const char*, std::function<bool()>> calls[] = {
        {"EncryptMessage", [&] { return encrypt(longMessage, longText); }},
        {"DecryptMessage into a new buffer", [&] { return decrypt(longText, longMessage, 0); }},
        {"DecryptMessage into an output with room", [&] { return decrypt(longText, longMessage, 30100); }},
        {"EncryptKeyV2",
         [&] {
             std::string out = "kept", pem = Keys().publicKey;
             const int rc = Armed([&] { return EncryptKeyV2(U(aesKey), 32, std::move(pem), &out); });
             EXPECT_TRUE(rc == 256 ? testing_support::ReferenceBytes(out).size() == 256 : out == "kept");
             return rc == 256;
         }},
        {"DecryptKeyV2",
         [&] {
             unsigned char out[256];
             std::string in = wrapped, pem = Keys().pkcs1;
             const int rc = Armed([&] { return DecryptKeyV2(std::move(in), std::move(pem), out); });
             EXPECT_TRUE(rc == -1 || (rc == 32 && std::memcmp(out, aesKey.data(), 32) == 0));
             return rc == 32;
         }},
        {"createRSASignature",
         [&] {
             const std::string sig = Armed([&] { return createRSASignature(Keys().pkcs8, message); });
             EXPECT_TRUE(sig.empty() || sig == signature);
             return !sig.empty();
         }},
        {"verifyRSASignature",
         [&] { return Armed([&] { return verifyRSASignature(Keys().publicKey, signature, message); }); }},
        {"create_error and create_error_response",
         [&] {
             nlohmann::json j = "kept";
             std::string out = "kept", code = "E1", body = message, code2 = code, body2 = body;
             const bool ok = NoResultCall([&] { create_error(std::move(code), std::move(body), out); }) &&
                             NoResultCall([&] { create_error_response(std::move(code2), std::move(body2), j); });
             // Failed: untouched, or the complete result of the call before the failing one.
             EXPECT_TRUE(out == "kept" || out == document);
             EXPECT_TRUE(ok ? j.dump() == document : j == "kept");
             return ok;
         }},
        {"the hex encoders and the time text",
         [&] {
             std::string out = "kept", time = "kept";
             std::vector<unsigned char> bytes(message.begin(), message.end());
             const bool ok = NoResultCall([&] { out = bytes_to_hex_string(bytes); }) &&
                             NoResultCall([&] { out = chararr_to_hex(bytes.data(), 5000); }) &&
                             NoResultCall([&] { out = OPENSSL_hexstr2buf(message); }) &&
                             NoResultCall([&] { time = currentISO8601TimeUTC(); });
             // Failed: untouched, or the complete result of an encoder before the failing one.
             EXPECT_TRUE(out == "kept" || out.size() == 10000);
             EXPECT_TRUE(ok ? out == testing_support::Hex(message) && time.size() == 25 : time == "kept");
             return ok;
         }},
    };
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(call());  // warm up: OpenSSL's one-time set-up is not the call's business
        for (long k = 0;; ++k) {
            injected = false;
            pendingFailure = k;
            bool ok = false;
            try {
                ok = call();
            } catch (...) {
                allocationsBeforeFailure = -1;
                ADD_FAILURE() << "an exception with allocation " << k << " failing";
            }
            pendingFailure = -1;
            if (!injected) {
                EXPECT_TRUE(ok) << "failed with no allocation failing";
                break;
            }
        }
    }
}

}  // namespace
