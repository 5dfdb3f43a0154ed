#include "rsa_key.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "constant_time.h"
#include "der.h"
#include "owners.h"

namespace cryptutil::detail {
namespace {

// 1.2.840.113549.1.1.1. An RSA-PSS key (1.2.840.113549.1.1.10) is restricted to PSS signatures,
// which this library neither makes nor checks, and OpenSSL's own tools refuse it for the rest.
constexpr unsigned char kRsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
constexpr unsigned char kZero[] = {0x00};

// PEM as RFC 7468 reads it strictly: "-----BEGIN label-----", lines of base64 without headers,
// blank lines or blanks, "-----END label-----", each line ending in LF or CRLF. Text around the
// block, and blocks of other labels before it, are skipped. Lines and armour are found with memchr,
// whose branches depend only on where a '\n' or a '-' (which base64 never holds) stands, so the
// characters of a body stay secret.

// Takes the line at the front of `text`, without its line end.
std::string_view TakeLine(std::string_view& text) {
    const void* lf = std::memchr(text.data(), '\n', text.size());
    const std::size_t end =
        lf == nullptr ? text.size() : static_cast<std::size_t>(static_cast<const char*>(lf) - text.data());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    const void* cr = std::memchr(line.data(), '\r', line.size());
    if (cr != nullptr && cr == line.data() + line.size() - 1) line.remove_suffix(1);
    return line;
}

// The label of an armour line "-----KIND label-----", or empty.
std::string_view Armour(std::string_view line, std::string_view kind) {
    constexpr std::string_view kDashes = "-----";
    if (line.size() < 2 * kDashes.size() + kind.size() + 2 || line.substr(0, kDashes.size()) != kDashes ||
        line.substr(kDashes.size(), kind.size()) != kind || line[kDashes.size() + kind.size()] != ' ' ||
        line.substr(line.size() - kDashes.size()) != kDashes) {
        return {};
    }
    const std::size_t start = kDashes.size() + kind.size() + 1;
    return line.substr(start, line.size() - start - kDashes.size());
}

// Finds the first block whose label `wanted` takes, and the lines of its body.
template <typename Wanted>
bool FindBlock(std::string_view text, Wanted wanted, std::string_view& label, std::vector<std::string_view>& lines) {
    for (;;) {
        const void* dash = std::memchr(text.data(), '-', text.size());
        if (dash == nullptr) return false;
        const auto at = static_cast<std::size_t>(static_cast<const char*>(dash) - text.data());
        const bool lineStart = at == 0 || text[at - 1] == '\n';
        text.remove_prefix(lineStart ? at : at + 1);
        if (!lineStart) continue;
        label = Armour(TakeLine(text), "BEGIN");
        if (label.empty()) continue;
        // The body runs up to the next '-', which begins the END line.
        const void* end = std::memchr(text.data(), '-', text.size());
        if (end == nullptr) return false;
        std::string_view body = text.substr(0, static_cast<std::size_t>(static_cast<const char*>(end) - text.data()));
        text.remove_prefix(body.size());
        if (Armour(TakeLine(text), "END") != label || (!body.empty() && body.back() != '\n')) return false;
        if (!wanted(label)) continue;
        lines.clear();
        while (!body.empty()) {
            lines.push_back(TakeLine(body));
            if (lines.back().empty()) return false;
        }
        return !lines.empty();
    }
}

// Decodes the body's base64 into `der` without a branch or a table lookup on its characters: each
// is classified by range arithmetic and validity gathers in a mask, tested once at the end. Only
// the number of characters (from the lines) and of '=' (the length of the DER) are public.
bool DecodeBody(const std::vector<std::string_view>& lines, std::string& der) {
    std::size_t chars = 0;
    for (const std::string_view line : lines) chars += line.size();
    if (chars == 0 || chars % 4 != 0) return false;
    der.resize(chars / 4 * 3);
    unsigned bad = 0, group = 0, padLast = 0, padBefore = 0;
    std::size_t index = 0, written = 0;
    for (const std::string_view line : lines) {
        for (const char ch : line) {
            const auto c = static_cast<unsigned char>(ch);
            const unsigned upper = InRange(c, 'A', 'Z'), lower = InRange(c, 'a', 'z'), digit = InRange(c, '0', '9');
            const unsigned plus = Equal(c, '+'), slash = Equal(c, '/');
            const unsigned pad = Equal(c, '=') & (index + 2 >= chars ? ~0U : 0U);  // '=' only in the last two places
            bad |= ~(upper | lower | digit | plus | slash | pad);
            padBefore = index + 2 == chars ? pad : padBefore;
            padLast = index + 1 == chars ? pad : padLast;
            group =
                group << 6 | ((upper & (c - 65)) | (lower & (c - 71)) | (digit & (c + 4)) | (plus & 62) | (slash & 63));
            if (++index % 4 == 0) {
                der[written++] = static_cast<char>(group >> 16);
                der[written++] = static_cast<char>(group >> 8);
                der[written++] = static_cast<char>(group);
            }
        }
    }
    bad |= padBefore & ~padLast;  // "x=" at the end is no padding
    if (Declassified(bad) != 0) return false;
    der.resize(der.size() - Declassified((padLast & 1) + (padBefore & 1)));
    return true;
}

// AlgorithmIdentifier { rsaEncryption, NULL } (RFC 8017, A.1).
bool TakeRsaEncryption(Der& in) {
    Der algorithm, oid, parameters;
    return in.Take(kDerSequence, algorithm) && algorithm.Take(kDerOid, oid) &&
           oid.Is(kRsaEncryption, sizeof kRsaEncryption) && algorithm.Take(kDerNull, parameters) &&
           parameters.Empty() && algorithm.Empty();
}

// The numbers of an RSAPublicKey or a two-prime RSAPrivateKey (version 0), in their DER.
struct Parts {
    Der n, e, d, p, q, dP, dQ, qInv;
};

bool TakePublicParts(Der der, Parts& k) {
    Der key;
    return der.Take(kDerSequence, key) && der.Empty() && key.TakeUnsigned(k.n) && key.TakeUnsigned(k.e) && key.Empty();
}

// Multi-prime keys (version 1) are refused, as BoringSSL refuses them, so that every library reads
// the same keys.
bool TakePrivateParts(Der der, Parts& k) {
    Der key, version;
    return der.Take(kDerSequence, key) && der.Empty() && key.Take(kDerInteger, version) && version.Is(kZero, 1) &&
           key.TakeUnsigned(k.n) && key.TakeUnsigned(k.e) && key.TakeUnsigned(k.d) && key.TakeUnsigned(k.p) &&
           key.TakeUnsigned(k.q) && key.TakeUnsigned(k.dP) && key.TakeUnsigned(k.dQ) && key.TakeUnsigned(k.qInv) &&
           key.Empty();
}

// The bit length of a public number.
std::size_t BitLength(const Der& v) {
    Declassify(v.data(), v.size());
    std::size_t i = 0;
    while (i < v.size() && v.data()[i] == 0) ++i;
    return i == v.size() ? 0 : (v.size() - i) * 8 - static_cast<std::size_t>(__builtin_clz(v.data()[i]) - 24);
}

// Keys with an odd modulus of 1,024 to 16,384 bits and an odd public exponent from 3 to 2^33 - 1.
// An even modulus is no product of two odd primes and OpenSSL cannot compute with it; a smaller
// modulus is breakable; e = 1 puts the secret on the wire in clear and lets a "signature" made
// without any private key verify; an even e cannot be inverted. 16,384 bits is OpenSSL's own bound for public
// keys, and 33 bits BoringSSL's for exponents, so that every library reads the same keys.
bool WithinLimits(const Parts& k) {
    const std::size_t bits = BitLength(k.n), eBits = BitLength(k.e);
    return bits >= 1024 && bits <= 16384 && (k.n.data()[k.n.size() - 1] & 1) != 0 && eBits >= 2 && eBits <= 33 &&
           (k.e.data()[k.e.size() - 1] & 1) != 0;
}

// OpenSSL counts in int, BoringSSL in size_t.
template <typename Length>
BIGNUM* ToBignum(BIGNUM* (*convert)(const unsigned char*, Length, BIGNUM*), const Der& v) {
    return convert(v.data(), static_cast<Length>(v.size()), nullptr);
}

bool Numbers(const Parts& k, bool secret, RsaNumbers& numbers) {
    const std::pair<const Der*, Bignum*> all[] = {{&k.n, &numbers.n},   {&k.e, &numbers.e},      {&k.d, &numbers.d},
                                                  {&k.p, &numbers.p},   {&k.q, &numbers.q},      {&k.dP, &numbers.dP},
                                                  {&k.dQ, &numbers.dQ}, {&k.qInv, &numbers.qInv}};
    for (const auto& [der, number] : all) {
        if (!secret && number != &numbers.n && number != &numbers.e) break;
        number->reset(ToBignum(BN_bin2bn, *der));
        if (!*number) return false;
    }
    return true;
}

// The parts of a private key agree: n = pq, dP and dQ are d modulo p - 1 and q - 1, e inverts them
// there, qInv is q's inverse modulo p, and d < n. Every check is computed before the one verdict
// is declassified. (Primality is not tested: it costs a hundred signatures; a signature that a
// composite factor spoils is caught when it is verified before it is returned.)
bool PartsAgree(const RsaNumbers& k) {
    const Owned<BN_CTX, BN_CTX_free> ctx(BN_CTX_new());
    const Bignum t(BN_new()), pm1(BN_new()), qm1(BN_new());
    if (!ctx || !t || !pm1 || !qm1) return false;
    int ok = 1;
    ok &= BN_mul(t.get(), k.p.get(), k.q.get(), ctx.get()) & (BN_cmp(t.get(), k.n.get()) == 0);
    ok &= BN_sub(pm1.get(), k.p.get(), BN_value_one()) & BN_sub(qm1.get(), k.q.get(), BN_value_one());
    ok &= BN_mod(t.get(), k.d.get(), pm1.get(), ctx.get()) & (BN_cmp(t.get(), k.dP.get()) == 0);
    ok &= BN_mod(t.get(), k.d.get(), qm1.get(), ctx.get()) & (BN_cmp(t.get(), k.dQ.get()) == 0);
    ok &= BN_mod_mul(t.get(), k.e.get(), k.dP.get(), pm1.get(), ctx.get()) & BN_is_one(t.get());
    ok &= BN_mod_mul(t.get(), k.e.get(), k.dQ.get(), qm1.get(), ctx.get()) & BN_is_one(t.get());
    ok &= BN_mod_mul(t.get(), k.qInv.get(), k.q.get(), k.p.get(), ctx.get()) & BN_is_one(t.get());
    ok &= static_cast<int>(BN_cmp(k.qInv.get(), k.p.get()) < 0) & static_cast<int>(BN_cmp(k.d.get(), k.n.get()) < 0);
    return Declassified(ok) == 1;
}

}  // namespace

bool ReadRsaPublicKey(const std::string& pem, RsaKey& key) {
    std::string_view label;
    std::vector<std::string_view> lines;
    std::string der;
    if (!FindBlock(
            pem.c_str(), [](std::string_view l) { return l == "PUBLIC KEY"; }, label, lines) ||
        !DecodeBody(lines, der)) {
        return false;
    }
    // SubjectPublicKeyInfo: SEQUENCE { AlgorithmIdentifier, BIT STRING holding an RSAPublicKey }.
    Der all(reinterpret_cast<const unsigned char*>(der.data()), der.size()), info, bits;
    Parts k;
    RsaNumbers numbers;
    return all.Take(kDerSequence, info) && all.Empty() && TakeRsaEncryption(info) && info.Take(kDerBitString, bits) &&
           info.Empty() && !bits.Empty() && bits.data()[0] == 0 &&
           TakePublicParts(Der(bits.data() + 1, bits.size() - 1), k) && WithinLimits(k) && Numbers(k, false, numbers) &&
           MakePublicKey(numbers, key);
}

bool ReadRsaPrivateKey(const std::string& pem, RsaKey& key) {
    std::string_view label;
    std::vector<std::string_view> lines;
    std::string der;
    const WipeOnExit wipeDer(der);
    auto wanted = [](std::string_view l) { return l == "RSA PRIVATE KEY" || l == "PRIVATE KEY"; };
    if (!FindBlock(pem.c_str(), wanted, label, lines) || !DecodeBody(lines, der)) return false;
    Der all(reinterpret_cast<const unsigned char*>(der.data()), der.size()), rsaKey = all;
    if (label == "PRIVATE KEY") {
        // PrivateKeyInfo: SEQUENCE { INTEGER 0, AlgorithmIdentifier, OCTET STRING holding an
        // RSAPrivateKey, [0] attributes OPTIONAL }.
        Der info, version, attributes;
        if (!all.Take(kDerSequence, info) || !all.Empty() || !info.Take(kDerInteger, version) ||
            !version.Is(kZero, 1) || !TakeRsaEncryption(info) || !info.Take(kDerOctetString, rsaKey) ||
            (!info.Empty() && (!info.Take(0xA0, attributes) || !info.Empty()))) {
            return false;
        }
    }
    Parts k;
    if (!TakePrivateParts(rsaKey, k) || !WithinLimits(k)) return false;
    // Parts no longer than n, so that no key within the limits costs more than the largest one.
    for (const Der* part : {&k.d, &k.p, &k.q, &k.dP, &k.dQ, &k.qInv}) {
        if (part->size() > k.n.size()) return false;
    }
    RsaNumbers numbers;
    return Numbers(k, true, numbers) && PartsAgree(numbers) && MakePrivateKey(numbers, key);
}

}  // namespace cryptutil::detail
