#include "rsa_key.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "constant_time.h"
#include "crypto_library.h"
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
// blocks, and blocks (of base64) whose label does not end in "KEY", are skipped; the first key
// block is the one judged, as the crypto libraries judge it. Where a '\n', a '-' (which base64 never holds) or
// a NUL stands is public; a character's test against them is declassified, never the character.

// The offset of the first `c` in `text`, or its size.
std::size_t Find(std::string_view text, char c) {
    std::size_t at = 0;
    while (at < text.size() &&
           Declassified(Equal(static_cast<unsigned char>(text[at]), static_cast<unsigned char>(c))) == 0)
        ++at;
    return at;
}

// Takes the line at the front of `text`, without its line end.
std::string_view TakeLine(std::string_view& text) {
    const std::size_t end = Find(text, '\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (Find(line, '\r') + 1 == line.size()) line.remove_suffix(1);
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

// A label that some crypto library's PEM reader may take for a key, whatever the block holds.
// OpenSSL 1.1.1 and BoringSSL stop at the first block labelled PRIVATE KEY, ENCRYPTED, ANY, RSA,
// DSA or EC PRIVATE KEY, and their public readers at PUBLIC KEY; OpenSSL 3 decodes a block by its
// contents where the label names an RSA or a PKCS #8 key (an RSA PUBLIC KEY holding a private key
// included), for either reader, and skips what it cannot decode. Stopping at every label ending in
// "KEY" is at least as strict as each of them.
bool KeyLabel(std::string_view label) {
    constexpr std::string_view kKey = "KEY";
    return label.size() >= kKey.size() && label.substr(label.size() - kKey.size()) == kKey;
}

// Lines of base64 are at most 252 characters long, a CR before the LF included: BoringSSL reads
// lines in pieces of 253 and refuses a line that fills one exactly. Every library reads every width
// up to that (64 by RFC 7468, 76 by MIME encoders).
constexpr std::size_t kLineWidth = 252;

bool DecodeBody(const std::vector<std::string_view>& lines, std::string& der);

// Finds the first key block, and the lines of its body when its label is one `wanted` takes. Every
// block before it is one the crypto libraries read: lines of base64 and nothing else.
template <typename Wanted>
bool FindBlock(std::string_view text, Wanted wanted, std::string_view& label, std::vector<std::string_view>& lines) {
    text = text.substr(0, Find(text, '\0'));  // the text ends at its first NUL
    for (;;) {                                // `text` starts a line
        const std::size_t at = Find(text, '-');
        if (at == text.size()) return false;
        const bool lineStart = at == 0 || text[at - 1] == '\n';
        text.remove_prefix(at);
        if (!lineStart) {  // a '-' within a line: no armour there
            TakeLine(text);
            continue;
        }
        label = Armour(TakeLine(text), "BEGIN");
        if (label.empty()) continue;
        // The body runs up to the next '-', which begins the END line.
        std::string_view body = text.substr(0, Find(text, '-'));
        if (body.size() == text.size()) return false;
        text.remove_prefix(body.size());
        if (Armour(TakeLine(text), "END") != label || (!body.empty() && body.back() != '\n')) return false;
        lines.clear();
        while (!body.empty()) {
            if (Find(body, '\n') > kLineWidth) return false;  // a CR counts
            lines.push_back(TakeLine(body));
            if (lines.back().empty()) return false;
        }
        if (lines.empty()) return false;
        if (KeyLabel(label)) return wanted(label);
        // OpenSSL 1.1.1 and BoringSSL decode every block they pass, and fail on one they cannot.
        std::string skipped;
        if (!DecodeBody(lines, skipped)) return false;
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

// An OBJECT IDENTIFIER's contents: subidentifiers in base 128, each in its shortest form.
bool ValidOid(const Der& oid) {
    Declassify(oid.data(), oid.size());
    if (oid.Empty() || (oid.data()[oid.size() - 1] & 0x80) != 0) return false;
    for (std::size_t i = 0; i < oid.size(); ++i) {
        if (oid.data()[i] == 0x80 && (i == 0 || (oid.data()[i - 1] & 0x80) == 0)) return false;
    }
    return true;
}

// PKCS #8 attributes (RFC 5958): SEQUENCE { OID, SET OF values }, of which only OCTET STRING values
// (localKeyID and the like) are read. The crypto libraries differ on the rest (OpenSSL 3 refuses a
// NULL or a malformed element where OpenSSL 1.1.1 reads it), so that is refused.
bool TakeAttributes(Der attributes) {
    while (!attributes.Empty()) {
        Der attribute, oid, values, value;
        if (!attributes.Take(kDerSequence, attribute) || !attribute.Take(kDerOid, oid) || !ValidOid(oid) ||
            !attribute.Take(kDerSet, values) || !attribute.Empty() || values.Empty()) {
            return false;
        }
        while (!values.Empty()) {
            if (!values.Take(kDerOctetString, value)) return false;
        }
    }
    return true;
}

bool TakePublicNumbers(Der der, RsaNumbers<Der>& k) {
    Der key;
    return der.Take(kDerSequence, key) && der.Empty() && key.TakeUnsigned(k.n) && key.TakeUnsigned(k.e) && key.Empty();
}

// Multi-prime keys (version 1) are refused, as BoringSSL refuses them, so that every library reads
// the same keys.
bool TakePrivateNumbers(Der der, RsaNumbers<Der>& k) {
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
bool WithinLimits(const RsaNumbers<Der>& k) {
    const std::size_t bits = BitLength(k.n), eBits = BitLength(k.e);
    return bits >= 1024 && bits <= 16384 && (k.n.data()[k.n.size() - 1] & 1) != 0 && eBits >= 2 && eBits <= 33 &&
           (k.e.data()[k.e.size() - 1] & 1) != 0;
}

// The length in bytes of a secret number: its DER less the 0x00 before a high bit. Widths are a
// key's public structure, as both crypto libraries treat them; the bytes stay secret.
std::size_t Bytes(const Der& v) {
    return v.size() - (Declassified(Equal(v.data()[0], 0)) & 1);
}

// Each prime at least a quarter as long as the modulus (in bytes). Balanced key generation (FIPS
// 186-5 A.1, OpenSSL's, BoringSSL's) makes both half as long; a quarter still admits unbalanced
// keys that are in use (Wycheproof signs with one of 1,360 and 684 bits). A small factor makes
// BoringSSL's blinding fail at random (a factor of 3 in a third of the calls) where OpenSSL draws
// again; at 256 bits and more that chance is below 2^-250 on every library.
bool PrimesLongEnough(const RsaNumbers<Der>& k) {
    const std::size_t quarter = (k.n.size() - (k.n.data()[0] == 0 ? 1 : 0)) / 4;
    return Bytes(k.p) >= quarter && Bytes(k.q) >= quarter;
}

// The parts of a private key agree, decided in constant time by arithmetic of our own on limbs of
// 64 bits (32 where the compiler has no 128-bit product): loops run over the numbers' widths (public), never on their
// values, and the verdicts gather in masks declassified once. BoringSSL refuses a key whose parts disagree (its own
// RSA_check_key) where OpenSSL reads it; checking here makes every library decide alike. The
// crypto libraries' bignum functions are not used for this: they branch on the values they hold
// (OpenSSL trims every result, and BoringSSL's BN_div is for public numbers only).
#if defined(__SIZEOF_INT128__)
using Limb = std::uint64_t;
__extension__ typedef unsigned __int128 Wide;
#else
using Limb = std::uint32_t;
using Wide = std::uint64_t;
#endif
constexpr unsigned kLimbBits = sizeof(Limb) * 8;

// A secret number: little-endian limbs of a fixed width, wiped when released.
class Number {
public:
    explicit Number(std::size_t width) : limbs_(width, 0) {}
    Number(const Number&) = default;
    Number& operator=(const Number&) = delete;
    ~Number() { Wipe(limbs_.data(), limbs_.size() * sizeof(Limb)); }
    std::size_t size() const { return limbs_.size(); }
    Limb operator[](std::size_t i) const { return i < limbs_.size() ? limbs_[i] : 0; }
    Limb& operator[](std::size_t i) { return limbs_[i]; }

private:
    std::vector<Limb> limbs_;
};

Number FromDer(const Der& v) {
    Number x((v.size() + sizeof(Limb) - 1) / sizeof(Limb));
    for (std::size_t i = 0; i < v.size(); ++i) {
        x[i / sizeof(Limb)] |= Limb{v.data()[v.size() - 1 - i]} << (i % sizeof(Limb) * 8);
    }
    return x;
}

Number Product(const Number& a, const Number& b) {
    Number r(a.size() + b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        Wide carry = 0;
        for (std::size_t j = 0; j < b.size(); ++j) {
            carry += Wide{a[i]} * b[j] + r[i + j];
            r[i + j] = static_cast<Limb>(carry);
            carry >>= kLimbBits;
        }
        r[i + b.size()] = static_cast<Limb>(carry);
    }
    return r;
}

// a - b over `width` limbs into `r` (which may be a); the borrow out, 0 or 1.
Limb Subtract(const Number& a, const Number& b, Number& r, std::size_t width) {
    Limb borrow = 0;
    for (std::size_t i = 0; i < width; ++i) {
        const Wide d = Wide{a[i]} - b[i] - borrow;
        r[i] = static_cast<Limb>(d);
        borrow = static_cast<Limb>(d >> (2 * kLimbBits - 1));
    }
    return borrow;
}

// x mod m, for m whose top limb is not 0 (else the result is wrong, and so the verdict). The limbs
// of x below m's top one are less than m, and start the remainder; the rest of x enters a bit at a
// time: r < m holds throughout, so 2r + bit < 2m needs at most one subtraction, kept or not by a
// mask.
Number Reduce(const Number& x, const Number& m) {
    const std::size_t width = m.size() + 1, start = std::min(x.size(), m.size() - 1);
    Number r(width), t(width);
    for (std::size_t i = 0; i < start; ++i) r[i] = x[x.size() - start + i];
    for (std::size_t bit = (x.size() - start) * kLimbBits; bit-- > 0;) {
        Limb carry = x[bit / kLimbBits] >> (bit % kLimbBits) & 1, borrow = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const Limb next = r[i] >> (kLimbBits - 1);
            r[i] = r[i] << 1 | carry;
            carry = next;
            const Wide d = Wide{r[i]} - m[i] - borrow;
            t[i] = static_cast<Limb>(d);
            borrow = static_cast<Limb>(d >> (2 * kLimbBits - 1));
        }
        const Limb keep = Barrier(borrow) - 1;  // all ones when r >= m
        for (std::size_t i = 0; i < width; ++i) r[i] = (t[i] & keep) | (r[i] & ~keep);
    }
    return r;
}

// All ones when a == b, else 0.
Limb Same(const Number& a, const Number& b) {
    Limb diff = 0;
    for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) diff |= a[i] ^ b[i];
    return Barrier((diff | (0 - diff)) >> (kLimbBits - 1)) - 1;
}

// All ones when a < b, else 0.
Limb Less(const Number& a, const Number& b) {
    const std::size_t width = std::max(a.size(), b.size());
    Number scratch(width);
    return 0 - Subtract(a, b, scratch, width);
}

bool NumbersAgree(const RsaNumbers<Der>& k) {
    const Number n = FromDer(k.n), e = FromDer(k.e), d = FromDer(k.d), p = FromDer(k.p), q = FromDer(k.q),
                 dP = FromDer(k.dP), dQ = FromDer(k.dQ), qInv = FromDer(k.qInv);
    Number one(1), pm1(p.size()), qm1(q.size());
    one[0] = 1;
    Subtract(p, one, pm1, p.size());
    Subtract(q, one, qm1, q.size());
    const Limb ok = Same(Product(p, q), n) & Same(Reduce(d, pm1), dP) & Same(Reduce(d, qm1), dQ) &
                    Same(Reduce(Product(e, dP), pm1), one) & Same(Reduce(Product(e, dQ), qm1), one) &
                    Same(Reduce(Product(qInv, q), p), one) & Less(qInv, p) & Less(d, n);
    return Declassified(ok) != 0;
}

BIGNUM* ToBignum(const Der& v) {
    return BN_bin2bn(v.data(), LengthFor<1>(BN_bin2bn, v.size()), nullptr);
}

// n and e, or all eight numbers.
constexpr std::size_t kPublicNumbers = 2, kAllNumbers = 8;

// The first `count` numbers of `k` as bignums.
bool ToBignums(const RsaNumbers<Der>& k, std::size_t count, RsaNumbers<>& numbers) {
    const std::pair<const Der*, Bignum*> all[] = {{&k.n, &numbers.n},   {&k.e, &numbers.e},      {&k.d, &numbers.d},
                                                  {&k.p, &numbers.p},   {&k.q, &numbers.q},      {&k.dP, &numbers.dP},
                                                  {&k.dQ, &numbers.dQ}, {&k.qInv, &numbers.qInv}};
    for (std::size_t i = 0; i < count; ++i) {
        all[i].second->reset(ToBignum(*all[i].first));
        if (!*all[i].second) return false;
    }
    return true;
}

}  // namespace

bool ReadRsaPublicKey(const std::string& pem, RsaKey& key) {
    std::string_view label;
    std::vector<std::string_view> lines;
    std::string der;
    if (!FindBlock(
            pem, [](std::string_view l) { return l == "PUBLIC KEY"; }, label, lines) ||
        !DecodeBody(lines, der)) {
        return false;
    }
    // SubjectPublicKeyInfo: SEQUENCE { AlgorithmIdentifier, BIT STRING holding an RSAPublicKey }.
    Der all(reinterpret_cast<const unsigned char*>(der.data()), der.size()), info, bits;
    RsaNumbers<Der> k;
    RsaNumbers<> numbers;
    return all.Take(kDerSequence, info) && all.Empty() && TakeRsaEncryption(info) && info.Take(kDerBitString, bits) &&
           info.Empty() && !bits.Empty() && bits.data()[0] == 0 &&
           TakePublicNumbers(Der(bits.data() + 1, bits.size() - 1), k) && WithinLimits(k) &&
           ToBignums(k, kPublicNumbers, numbers) && MakePublicKey(numbers, key);
}

bool ReadRsaPrivateKey(const std::string& pem, RsaKey& key) {
    std::string_view label;
    std::vector<std::string_view> lines;
    std::string der;
    const WipeOnExit wipeDer(der);
    auto wanted = [](std::string_view l) { return l == "RSA PRIVATE KEY" || l == "PRIVATE KEY"; };
    if (!FindBlock(pem, wanted, label, lines) || !DecodeBody(lines, der)) return false;
    Der all(reinterpret_cast<const unsigned char*>(der.data()), der.size()), rsaKey = all;
    if (label == "PRIVATE KEY") {
        // PrivateKeyInfo: SEQUENCE { INTEGER 0, AlgorithmIdentifier, OCTET STRING holding an
        // RSAPrivateKey, [0] attributes OPTIONAL }.
        Der info, version, attributes;
        if (!all.Take(kDerSequence, info) || !all.Empty() || !info.Take(kDerInteger, version) ||
            !version.Is(kZero, 1) || !TakeRsaEncryption(info) || !info.Take(kDerOctetString, rsaKey) ||
            (!info.Empty() && (!info.Take(0xA0, attributes) || !TakeAttributes(attributes) || !info.Empty()))) {
            return false;
        }
    }
    RsaNumbers<Der> k;
    if (!TakePrivateNumbers(rsaKey, k) || !WithinLimits(k)) return false;
    // Numbers no longer than n, so that no key within the limits costs more than the largest one.
    for (const Der* part : {&k.d, &k.p, &k.q, &k.dP, &k.dQ, &k.qInv}) {
        if (part->size() > k.n.size()) return false;
    }
    if (!PrimesLongEnough(k) || !NumbersAgree(k)) return false;
    RsaNumbers<> numbers;
    return ToBignums(k, kAllNumbers, numbers) && MakePrivateKey(numbers, key);
}

}  // namespace cryptutil::detail
