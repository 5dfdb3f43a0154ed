// Keys judged against the linked crypto library's own PEM readers: a key the library reads must be
// one PEM_read_bio_PrivateKey (with its private exponent) or PEM_read_bio_PUBKEY reads too, and the
// same key. Judged are the input itself, as PEM text (the corpus holds keys at every edge of
// reading, named by the verdict tests/key_reading_test.cpp expects of them), and a file built from
// the input's bytes: one to three PEM blocks (labels of keys and of other things, bodies of the
// fuzz key in each form or of bytes), the key's DER changed (a number replaced, PKCS #8 attributes
// added, bytes flipped).
#define OPENSSL_SUPPRESS_DEPRECATED  // RSA_get0_n and the like, where the library declares them

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "key_verdicts.h"
#include "rsa_key.h"

namespace {

// The input, taken a byte or a run at a time; zeros once it runs out.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}
    unsigned Byte() {
        if (n_ == 0) return 0;
        --n_;
        return *p_++;
    }
    unsigned Below(unsigned bound) { return Byte() % bound; }
    std::string Bytes(std::size_t most) {
        const std::size_t len = std::min<std::size_t>(Byte() % (most + 1), n_);
        if (len == 0) return {};
        std::string out(reinterpret_cast<const char*>(p_), len);
        p_ += len;
        n_ -= len;
        return out;
    }

private:
    const std::uint8_t* p_;
    std::size_t n_;
};

std::string Der(unsigned char tag, const std::string& contents) {
    std::string len;
    for (std::size_t n = contents.size(); n != 0; n >>= 8) len.insert(len.begin(), static_cast<char>(n & 0xFF));
    const std::string header = contents.size() < 0x80 ? std::string(1, static_cast<char>(contents.size()))
                                                      : static_cast<char>(0x80 | len.size()) + len;
    return static_cast<char>(tag) + header + contents;
}

// The contents of each element in `der`, one after another.
std::vector<std::string> Elements(std::string der) {
    std::vector<std::string> out;
    while (der.size() >= 2) {
        std::size_t len = static_cast<unsigned char>(der[1]), header = 2;
        if (len >= 0x80) {
            const std::size_t bytes = len & 0x7F;
            len = 0;
            for (std::size_t i = 0; i < bytes; ++i) len = len << 8 | static_cast<unsigned char>(der[2 + i]);
            header += bytes;
        }
        out.push_back(der.substr(header, len));
        der.erase(0, header + len);
    }
    return out;
}

// EVP_EncodeBlock or EVP_DecodeBlock: OpenSSL counts in int, BoringSSL in size_t.
template <typename Result, typename Length>
std::size_t Block(Result (*code)(unsigned char*, const unsigned char*, Length), std::string& out,
                  const std::string& in) {
    return static_cast<std::size_t>(code(reinterpret_cast<unsigned char*>(out.data()),
                                         reinterpret_cast<const unsigned char*>(in.data()),
                                         static_cast<Length>(in.size())));
}

std::string Base64(const std::string& der) {
    std::string out(4 * ((der.size() + 2) / 3) + 1, '\0');
    out.resize(Block(EVP_EncodeBlock, out, der));
    return out;
}

std::string Unbase64(const std::string& pem) {
    std::string b64;
    for (std::size_t at = pem.find('\n') + 1; pem.compare(at, 5, "-----") != 0; at = pem.find('\n', at) + 1)
        b64 += pem.substr(at, pem.find('\n', at) - at);
    std::string out(b64.size() / 4 * 3, '\0');
    Block(EVP_DecodeBlock, out, b64);
    while (!b64.empty() && b64.back() == '=') {
        b64.pop_back();
        out.pop_back();
    }
    return out;
}

// Labels of keys in every crypto library's PEM readers, of keys in none, and not of keys at all.
const char* const kLabels[] = {"RSA PRIVATE KEY",
                               "PRIVATE KEY",
                               "PUBLIC KEY",
                               "RSA PUBLIC KEY",
                               "ENCRYPTED PRIVATE KEY",
                               "ANY PRIVATE KEY",
                               "EC PRIVATE KEY",
                               "DSA PRIVATE KEY",
                               "DH PRIVATE KEY",
                               "ED25519 PRIVATE KEY",
                               "OPENSSH PRIVATE KEY",
                               "FOO PRIVATE KEY",
                               "XPRIVATE KEY",
                               "PRIVATE KEY2",
                               "EC PUBLIC KEY",
                               "CERTIFICATE",
                               "TRUSTED CERTIFICATE",
                               "CERTIFICATE REQUEST",
                               "X509 CRL",
                               "PKCS7",
                               "CMS",
                               "DH PARAMETERS",
                               "EC PARAMETERS",
                               "PARAMETERS",
                               "X"};

// The fuzz key's numbers (n, e, d, p, q, dP, dQ, qInv) and its DER in each form, some changed.
std::string Body(Input& in, const std::vector<std::string>& numbers) {
    std::vector<std::string> k = numbers;
    const unsigned change = in.Below(12);  // 4 to 11: a number changed
    if (change >= 4) {
        const unsigned i = change - 4;
        static const std::string kEdges[] = {std::string(1, '\0'), "\x01", "\x03", std::string("\x00\xFF", 2)};
        k[i] = in.Byte() < 128 ? in.Bytes(40) : kEdges[in.Below(4)];
        if (in.Byte() < 64) k[i] = numbers[i].substr(0, numbers[i].size() / 2 + 1);
    }
    std::string pkcs1 = Der(0x02, std::string(1, '\0'));
    for (const std::string& number : k) pkcs1 += Der(0x02, number);
    pkcs1 = Der(0x30, pkcs1);
    const std::string algorithm = Der(0x30, Der(0x06, "\x2a\x86\x48\x86\xf7\x0d\x01\x01\x01") + Der(0x05, ""));
    std::string der;
    switch (in.Below(5)) {
        case 0: der = pkcs1; break;
        case 1: {
            std::string attributes;
            if (in.Byte() < 128)
                attributes = Der(
                    0xA0, in.Byte() < 128 ? in.Bytes(24) : Der(0x30, Der(0x06, "\x2a\x03") + Der(0x31, in.Bytes(12))));
            der = Der(0x30, Der(0x02, std::string(1, '\0')) + algorithm + Der(0x04, pkcs1) + attributes);
            break;
        }
        case 2:
            der = Der(0x30, algorithm + Der(0x03, std::string(1, '\0') + Der(0x30, Der(0x02, k[0]) + Der(0x02, k[1]))));
            break;
        case 3: der = Der(0x30, Der(0x02, k[0]) + Der(0x02, k[1])); break;
        default: return in.Bytes(64);
    }
    for (unsigned flips = in.Below(4); flips-- > 0 && !der.empty();) {
        der[in.Byte() * 7 % der.size()] ^= static_cast<char>(in.Byte());
    }
    return der;
}

std::string File(Input& in, const std::vector<std::string>& numbers) {
    std::string pem;
    for (unsigned blocks = 1 + in.Below(3); blocks-- > 0;) {
        const std::string label = kLabels[in.Below(sizeof kLabels / sizeof kLabels[0])];
        const std::string b64 = Base64(Body(in, numbers)), end = in.Byte() < 32 ? "\r\n" : "\n";
        const std::size_t width = in.Byte() < 200 ? 64 : 1 + in.Byte();
        pem += "-----BEGIN " + label + "-----" + end;
        for (std::size_t i = 0; i < b64.size(); i += width) pem += b64.substr(i, width) + end;
        pem += "-----END " + label + "-----" + end;
        if (in.Byte() < 16) pem += in.Bytes(8);
    }
    return pem;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<std::string> numbers = [] {
        std::vector<std::string> k = Elements(Elements(Elements(Elements(Unbase64(fuzz::kPrivateKey))[0])[2])[0]);
        k.erase(k.begin());  // the version
        return k;
    }();
    Input in(data, size);
    for (const std::string& pem : {size == 0 ? std::string() : fuzz::Bytes(data, size), File(in, numbers)}) {
        for (const bool isPrivate : {true, false}) {
            const std::string ours = key_verdicts::Ours(pem, isPrivate);
            FUZZ_CHECK(ours.empty() || ours == key_verdicts::Theirs(pem, isPrivate));
        }
    }
    return 0;
}
