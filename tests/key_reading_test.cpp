// Keys as the library reads them: never a key that the crypto library's own PEM readers refuse or
// read as another key, over a corpus of keys made here (mutations, PEM files of several blocks,
// PKCS #8 attributes, primes short and unbalanced); and keys at the edges decided the same on
// every call.
#define OPENSSL_SUPPRESS_DEPRECATED  // RSA_get0_n and the like, where the library declares them

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cryptutil/util.h"
#include "key_verdicts.h"
#include "rsa_key.h"
#include "test_support.h"

namespace {

using namespace testing_support;
using cryptutil::detail::RsaKey;

// A key that a PEM reader may take; `why` names the mutation, and so the class it falls in.
struct Case {
    std::string why, pem;
    bool isPrivate;
};

std::string Ours(const Case& c) {
    return key_verdicts::Ours(c.pem, c.isPrivate);
}
std::string Theirs(const Case& c) {
    return key_verdicts::Theirs(c.pem, c.isPrivate);
}

// The numbers of the stored key pair: n, e, d, p, q, dP, dQ, qInv.
std::vector<std::string> Numbers() {
    std::vector<std::string> numbers;
    for (const std::string& element : DerElements(Contents(PemDer(RsaKeys(2048).pkcs1)))) {
        numbers.push_back(Contents(element));
    }
    numbers.erase(numbers.begin());  // the version
    return numbers;
}

std::string Seq(const std::string& contents) {
    return Der(0x30, contents);
}
const std::string kRsaOid = Der(0x06, Unhex("2a864886f70d010101")), kNull = Der(0x05, "");
const std::string kVersion0 = Der(0x02, std::string(1, '\0'));

std::string Pkcs1(const std::vector<std::string>& k, const std::string& version = kVersion0) {
    std::string contents = version;
    for (const std::string& number : k) contents += DerInteger(number);
    return Seq(contents);
}
std::string Pkcs8(const std::string& pkcs1, const std::string& version = kVersion0,
                  const std::string& algorithm = Seq(kRsaOid + kNull), const std::string& after = "") {
    return Seq(version + algorithm + Der(0x04, pkcs1) + after);
}
std::string Spki(const std::string& n, const std::string& e, const std::string& algorithm = Seq(kRsaOid + kNull),
                 const std::string& unusedBits = std::string(1, '\0')) {
    return Seq(algorithm + Der(0x03, unusedBits + Seq(DerInteger(n) + DerInteger(e))));
}

// The same element with its length one byte longer than it needs: 30 82 01 22 as 30 83 00 01 22.
std::string LongLength(const std::string& element) {
    const auto len = static_cast<unsigned char>(element[1]);
    if (len < 0x80) return element.substr(0, 1) + "\x81" + element.substr(1);
    return element.substr(0, 1) + static_cast<char>(len + 1) + '\0' + element.substr(2);
}

// Variations of the armour of one PEM text.
std::vector<std::pair<std::string, std::string>> Armours(const std::string& pem) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < pem.size(); at = pem.find('\n', at) + 1)
        lines.push_back(pem.substr(at, pem.find('\n', at) - at));
    auto join = [](const std::vector<std::string>& v, const std::string& end) {
        std::string out;
        for (const std::string& line : v) out += line + end;
        return out;
    };
    std::string body;
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) body += lines[i];
    auto rewrap = [&](std::size_t width, const char* end = "\n") {
        std::vector<std::string> v{lines.front()};
        for (std::size_t i = 0; i < body.size(); i += width) v.push_back(body.substr(i, width));
        v.push_back(lines.back());
        return join(v, end);
    };
    auto with = [&](std::size_t at, const std::string& line) {
        std::vector<std::string> v = lines;
        v.insert(v.begin() + static_cast<std::ptrdiff_t>(at), line);
        return join(v, "\n");
    };
    auto changed = [&](std::size_t at, const std::string& line) {
        std::vector<std::string> v = lines;
        v[at] = line;
        return join(v, "\n");
    };
    std::string unpadded = pem;
    while (unpadded.find("=\n") != std::string::npos) unpadded.erase(unpadded.find("=\n"), 1);
    return {{"armour: CRLF", join(lines, "\r\n")},
            {"armour: lines of 76", rewrap(76)},
            {"armour: lines of 252", rewrap(252)},
            {"stricter: lines of 252 and CR", rewrap(252, "\r\n")},
            {"stricter: lines of 253", rewrap(253)},
            {"stricter: one line", rewrap(body.size())},
            {"stricter: an empty block first", "-----BEGIN X-----\n-----END X-----\n" + pem},
            {"stricter: a block of bad base64 first", "-----BEGIN X-----\nMA=A\n-----END X-----\n" + pem},
            {"armour: text around", "note\n" + pem + "tail\n"},
            {"armour: text before BEGIN", "note" + pem},
            {"armour: text and a dash before BEGIN", "note-" + pem},
            {"armour: another block first", PemOf("CERTIFICATE", "\x30\x00") + pem},
            {"armour: no final line end", pem.substr(0, pem.size() - 1)},
            {"stricter: blank after BEGIN", with(1, "")},
            {"stricter: trailing blank", changed(1, lines[1] + " ")},
            {"stricter: blank inside a line", changed(1, lines[1].substr(0, 8) + " " + lines[1].substr(8))},
            {"stricter: no padding", unpadded},
            {"armour: header", with(1, "Proc-Type: 4,ENCRYPTED")},
            {"armour: header and blank", with(1, "Comment: a key\n")},
            {"armour: blank before END", with(lines.size() - 1, "")},
            {"armour: blank inside", with(2, "")},
            {"armour: CR line ends", join(lines, "\r")},
            {"armour: END label differs", changed(lines.size() - 1, "-----END RSA KEY-----")},
            {"armour: lowercase", changed(0, "-----begin" + lines[0].substr(10))},
            {"armour: no END", join(std::vector<std::string>(lines.begin(), lines.end() - 1), "\n")},
            {"armour: four dashes", changed(0, lines[0].substr(1))},
            {"armour: bad character", changed(1, "!" + lines[1].substr(1))}};
}

// Labels of PEM blocks: of keys in every crypto library's PEM readers, of keys in none, and not of
// keys at all.
const char* const kLabels[] = {"PRIVATE KEY",
                               "RSA PRIVATE KEY",
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
                               "PUBLIC KEY",
                               "RSA PUBLIC KEY",
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
                               "FOO"};

using Bn = std::unique_ptr<BIGNUM, decltype(&BN_clear_free)>;
Bn Big(const std::string& hex) {
    BIGNUM* n = nullptr;
    BN_hex2bn(&n, hex.c_str());
    return {n, BN_clear_free};
}
std::string Bytes(const BIGNUM* n) {
    std::string out(static_cast<std::size_t>(BN_num_bytes(n)), '\0');
    BN_bn2bin(n, reinterpret_cast<unsigned char*>(out.data()));
    return out;
}

// Keys at the edges: of 1,024 bits whose parts agree (e = 65537), of primes short or unbalanced,
// read from a quarter of n's bytes (32); and the stored key with parts that disagree, refused.
struct EdgeKey {
    std::string why;
    std::vector<std::string> numbers;  // n, e, d, p, q, dP, dQ, qInv
    bool read;
};
std::vector<std::string> Numbers();
std::vector<EdgeKey> EdgeKeys() {
    const std::pair<const char*, const char*> primes[] = {
        {"3",
         "324C553B033DC48E8AB7EAF21829A6EBB995DB2833D3F806F789456280BE419525FFF67394C8AFB305A62C0175A64631C3148CA5C8"
         "1CF62328A1EE9CEE27E4C8D95E8803035D7D646ECCF959CE44417AA0EC1B7B346C74A5BCF811C5B9EFEAA10DE7634923C5E0DB56DF"
         "F2E4B40DDEB6FCE3A6E89DB0878B5FF5446546835A43"},
        {"E92484B17A25BA23",
         "C600021FB18C54D0593550B8A73FB451A1B031F4F08F1DC56001AA06841462DFC69C8E6529818537D05446256E25240AE7C2817D50EA7"
         "C"
         "79CB48D20623EC1F7BA15BEAAC01205A675B1407CF5107C97A3DCCC25B5859C562449CEB61ACA4B9A9B081E6F147932E6AA97E285B9BE"
         "AF6624D9BC4E1747A962D"},
        {"FB849EFEA8E7D963470D8469AB0F2B04B6E78D4DFECA02EDFF96DA8DFB1CD1",
         "CB4A522DE3AB87E49508B7385CA2D280010A8040B2110E744934269DD948A6DD45FB6865FEF8A86B476DC0631F5295E4FE0D3C75B6198"
         "8"
         "A20174C902B6E29318A9BB1F6019EED3E6D36C3DB86143E71343943D943570DDF5013FE91D9F86951531"},
        {"C15F533ECC06594EE40B56960E9BF2B920AD7E59EB79F890D80102052FFFD1C7",
         "FC44FB70C826DAF6C8B3AAF18D841F8E11A774B496D4517453F0BC34386E06C726D29AEEEBA966EC1E26A5E80C44BB52C2A5BCB906C4C"
         "D"
         "9C3A115587BEE50A5354C0C0D8D42A95A2C4E49C769A824AF09D90D5E6F1C425FB93E56E5EDEEC0E99"}};
    std::vector<EdgeKey> keys;
    BN_CTX* ctx = BN_CTX_new();
    for (const auto& [pHex, qHex] : primes) {
        const Bn p = Big(pHex), q = Big(qHex), e = Big("010001"), n = Big("0"), phi = Big("0"), d = Big("0"),
                 pm1 = Big("0"), qm1 = Big("0"), dP = Big("0"), dQ = Big("0"), qInv = Big("0");
        BN_mul(n.get(), p.get(), q.get(), ctx);
        BN_sub(pm1.get(), p.get(), BN_value_one());
        BN_sub(qm1.get(), q.get(), BN_value_one());
        BN_mul(phi.get(), pm1.get(), qm1.get(), ctx);
        BN_mod_inverse(d.get(), e.get(), phi.get(), ctx);
        BN_div(nullptr, dP.get(), d.get(), pm1.get(), ctx);
        BN_div(nullptr, dQ.get(), d.get(), qm1.get(), ctx);
        BN_mod_inverse(qInv.get(), q.get(), p.get(), ctx);
        const auto bits = static_cast<int>(BN_num_bits(p.get()));
        keys.push_back({"primes of " + std::to_string(bits) + " and " + std::to_string(BN_num_bits(q.get())) + " bits",
                        {Bytes(n.get()), Bytes(e.get()), Bytes(d.get()), Bytes(p.get()), Bytes(q.get()),
                         Bytes(dP.get()), Bytes(dQ.get()), Bytes(qInv.get())},
                        bits > 248});
    }
    BN_CTX_free(ctx);
    const std::vector<std::string> k = Numbers();
    auto with = [&](std::size_t i, const std::string& value) {
        std::vector<std::string> v = k;
        v[i] = value;
        return v;
    };
    std::string nFlipped = k[0];
    nFlipped[100] = static_cast<char>(nFlipped[100] ^ 4);
    const Bn qInvPlusP = Big(Hex(k[7]));
    BN_add(qInvPlusP.get(), qInvPlusP.get(), Big(Hex(k[3])).get());
    for (const auto& [why, numbers] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"parts: n not pq", with(0, nFlipped)},
             {"parts: wrong qInv", with(7, k[7].substr(0, k[7].size() - 1) + "\x01")},
             {"parts: qInv + p", with(7, Bytes(qInvPlusP.get()))},  // congruent, not reduced
             {"parts: d is 0", with(2, std::string(1, '\0'))},
             {"parts: wrong dP", with(5, k[6])},
             {"parts: q the same as p", with(4, k[3])},
             {"parts: e changed", with(1, Unhex("010003"))}}) {
        keys.push_back({why, numbers, false});
    }
    return keys;
}

std::vector<Case> Corpus() {
    const std::vector<std::string> k = Numbers();
    const std::string pkcs1 = Pkcs1(k), pkcs8 = Pkcs8(pkcs1), spki = Spki(k[0], k[1]);
    std::vector<Case> corpus;
    auto add = [&](const std::string& why, const std::string& label, const std::string& der) {
        corpus.push_back({why, PemOf(label, der), label != "PUBLIC KEY"});
    };
    const std::pair<std::string, std::string> forms[] = {
        {"RSA PRIVATE KEY", pkcs1}, {"PRIVATE KEY", pkcs8}, {"PUBLIC KEY", spki}};
    for (const auto& [label, der] : forms) {
        add("stored", label, der);
        for (const auto& [why, pem] : Armours(PemOf(label, der))) {
            if (pem != PemOf(label, der)) corpus.push_back({why, pem, label != "PUBLIC KEY"});
        }
        add("envelope: long length", label, LongLength(der));
        add("envelope: trailing byte", label, der + '\0');
        add("envelope: trailing byte inside", label, Seq(Contents(der) + kNull));
        add("envelope: indefinite length", label, std::string("\x30\x80", 2) + Contents(der) + std::string(2, '\0'));
        // Random bytes changed, one at a time.
        std::mt19937 gen(static_cast<unsigned>(der.size()));
        for (std::size_t at = 0; at < der.size(); at += 5) {
            std::string changed = der;
            changed[at] = static_cast<char>(changed[at] ^ static_cast<char>(1 + gen() % 255));
            add("random byte", label, changed);
        }
    }
    const std::string rsaPss = Der(0x06, Unhex("2a864886f70d01010a"));
    for (const auto& [why, algorithm] : std::vector<std::pair<std::string, std::string>>{
             {"stricter: parameters absent", Seq(kRsaOid)},
             {"parameters an INTEGER", Seq(kRsaOid + Der(0x02, std::string(1, '\0')))},
             {"parameters NULL with contents", Seq(kRsaOid + Der(0x05, std::string(1, '\0')))},
             {"algorithm with trailing bytes", Seq(kRsaOid + kNull + kNull)},
             {"algorithm RSA-PSS", Seq(rsaPss)},
             {"algorithm long length", LongLength(Seq(kRsaOid + kNull))}}) {
        add("envelope: " + why, "PUBLIC KEY", Spki(k[0], k[1], algorithm));
        add("envelope: " + why, "PRIVATE KEY", Pkcs8(pkcs1, kVersion0, algorithm));
    }
    add("envelope: unused bits", "PUBLIC KEY", Spki(k[0], k[1], Seq(kRsaOid + kNull), "\x01"));
    add("envelope: empty version", "PRIVATE KEY", Pkcs8(pkcs1, Der(0x02, "")));
    add("stricter: version 1", "PRIVATE KEY", Pkcs8(pkcs1, Der(0x02, "\x01")));
    add("envelope: version 2", "PRIVATE KEY", Pkcs8(pkcs1, Der(0x02, "\x02")));
    // PKCS #8 attributes: SEQUENCE { OID, SET OF values }, read with OCTET STRING values only.
    const std::string keyIdOid = Der(0x06, Unhex("2a864886f70d010915")), keyId = Der(0x04, "\x01\x02\x03\x04");
    const std::string localKeyId = Seq(keyIdOid + Der(0x31, keyId));
    for (const auto& [why, attributes] : std::vector<std::pair<std::string, std::string>>{
             {"attributes: none", Der(0xA0, "")},
             {"attributes: localKeyID", Der(0xA0, localKeyId)},
             {"attributes: two values, two attributes",
              Der(0xA0, Seq(keyIdOid + Der(0x31, keyId + keyId)) + localKeyId)},
             {"attributes: friendlyName", Der(0xA0, Seq(Der(0x06, Unhex("2a864886f70d010914")) +
                                                        Der(0x31, Der(0x1E, std::string("\0k\0e\0y", 6)))))},
             {"attributes: NULL", Der(0xA0, kNull)},
             {"attributes: FF FF FF", Der(0xA0, "\xff\xff\xff")},
             {"attributes: a value NULL", Der(0xA0, Seq(keyIdOid + Der(0x31, kNull)))},
             {"attributes: empty SET", Der(0xA0, Seq(keyIdOid + Der(0x31, "")))},
             {"attributes: no SET", Der(0xA0, Seq(keyIdOid))},
             {"attributes: SET then more", Der(0xA0, Seq(keyIdOid + Der(0x31, keyId) + kNull))},
             {"attributes: OID padded", Der(0xA0, Seq(Der(0x06, "\x80\x01") + Der(0x31, keyId)))},
             {"attributes: OID cut", Der(0xA0, Seq(Der(0x06, "\x2a\x86") + Der(0x31, keyId)))},
             {"attributes: OID empty", Der(0xA0, Seq(Der(0x06, "") + Der(0x31, keyId)))},
             {"attributes: trailing byte", Der(0xA0, localKeyId + '\0')},
             {"attributes: value cut", Der(0xA0, Seq(keyIdOid + Der(0x31, "\x04\x04\x01")))},
             {"attributes: primitive [0]", Der(0x80, localKeyId)},
             {"attributes: twice", Der(0xA0, localKeyId) + Der(0xA0, localKeyId)},
             {"attributes: [1] after", Der(0xA0, localKeyId) + Der(0xA1, Der(0x03, std::string(1, '\0')))}}) {
        add(why, "PRIVATE KEY", Pkcs8(pkcs1, kVersion0, Seq(kRsaOid + kNull), attributes));
    }
    add("envelope: key long length", "PRIVATE KEY", Pkcs8(LongLength(pkcs1)));
    add("envelope: key trailing byte", "PRIVATE KEY", Pkcs8(pkcs1 + '\0'));
    // The numbers of the key.
    auto with = [&](std::size_t i, const std::string& value) {
        std::vector<std::string> v = k;
        v[i] = value;
        return v;
    };
    const std::string huge = RandomBytes(4096, 3) + std::string(1, '\x01');  // a 32,776-bit "prime"
    for (const auto& [why, numbers] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"stricter: e of 34 bits", with(1, Unhex("0200000001"))},
             {"stricter: parts longer than n", with(3, huge)}}) {
        add(why, "RSA PRIVATE KEY", Pkcs1(numbers));
        add(why, "PRIVATE KEY", Pkcs8(Pkcs1(numbers)));
    }
    std::string negative = Pkcs1(k);
    negative.replace(negative.find(DerInteger(k[1])), DerInteger(k[1]).size(), Der(0x02, Unhex("ff0001")));
    add("envelope: negative e", "RSA PRIVATE KEY", negative);
    std::string padded = Pkcs1(k);
    padded.replace(padded.find(DerInteger(k[1])), DerInteger(k[1]).size(), Der(0x02, Unhex("00010001")));
    add("stricter: zero-padded e", "RSA PRIVATE KEY", Seq(Contents(padded)));
    add("stricter: multi-prime version", "RSA PRIVATE KEY", Pkcs1(k, Der(0x02, "\x01")));
    for (const auto& [why, e] :
         std::vector<std::pair<std::string, std::string>>{{"exponent 3", "\x03"},
                                                          {"exponent 2^33 - 1", Unhex("01ffffffff")},
                                                          {"stricter: exponent 2^33 + 1", Unhex("0200000001")},
                                                          {"exponent even", "\x02"},
                                                          {"exponent 1", "\x01"}}) {
        add(why, "PUBLIC KEY", Spki(k[0], e));
    }
    // Sizes at the limits: 1,024 bits read; 1,016 and 512 bits, and a real pair of 16,392, refused.
    corpus.push_back({"stored 1,024 bits", RsaKeys(1024).publicKey, false});
    corpus.push_back({"stored 1,024 bits", RsaKeys(1024).pkcs8, true});
    std::string odd512 = k[0].substr(0, 64);
    odd512.back() = static_cast<char>(odd512.back() | 1);
    add("stricter: modulus of 1,016 bits", "PUBLIC KEY", Spki(k[0].substr(0, 126) + "\x01", k[1]));
    add("stricter: modulus of 512 bits", "PUBLIC KEY", Spki(odd512, k[1]));
    corpus.push_back({"stricter: modulus of 16,392 bits", ReadKeyFile("rsa16392.public.pem"), false});
    corpus.push_back({"stricter: modulus of 16,392 bits", ReadKeyFile("rsa16392.pkcs8.pem"), true});
    // A key restricted to PSS signatures, which this library neither makes nor checks.
    corpus.push_back({"RSA-PSS key", PssKeys().publicKey, false});
    corpus.push_back({"RSA-PSS key", PssKeys().pkcs8, true});
    // Files of several blocks: a block of each label, holding nothing or another key in each form,
    // before or after the key.
    const KeyPair& other = RsaKeys(2048, 1);
    const std::string bodies[] = {std::string("\x30\x00", 2), PemDer(other.pkcs8), PemDer(other.pkcs1),
                                  PemDer(other.publicKey), PemDer(other.pkcs1Public)};
    for (const char* label : kLabels) {
        for (const std::string& body : bodies) {
            for (const auto& [keyLabel, der] : forms) {
                const bool isPrivate = keyLabel != "PUBLIC KEY";
                corpus.push_back({"blocks: before", PemOf(label, body) + PemOf(keyLabel, der), isPrivate});
                corpus.push_back({"blocks: after", PemOf(keyLabel, der) + PemOf(label, body), isPrivate});
            }
        }
    }
    for (const EdgeKey& edge : EdgeKeys()) {
        add(edge.why, "RSA PRIVATE KEY", Pkcs1(edge.numbers));
        add(edge.why, "PRIVATE KEY", Pkcs8(Pkcs1(edge.numbers)));
    }
    return corpus;
}

// Every key the library reads, the crypto library reads too, as the same key; the library refuses
// more, for the reasons named "stricter" (README, Guarantees and limits). Its verdicts are the same
// on every crypto library: the named keys read exactly as listed, and the counts of random
// mutations and of files of several blocks read are fixed.
TEST(KeyReading, NeverLaxerThanTheCryptoLibraryAndTheSameOnEach) {
    std::vector<std::string> readable = {"stored",
                                         "armour: CRLF",
                                         "armour: text around",
                                         "armour: another block first",
                                         "armour: no final line end",
                                         "armour: lines of 76",
                                         "armour: lines of 252",
                                         "attributes: none",
                                         "attributes: localKeyID",
                                         "attributes: two values, two attributes",
                                         "exponent 3",
                                         "exponent 2^33 - 1",
                                         "stored 1,024 bits"};
    for (const EdgeKey& edge : EdgeKeys()) {
        if (edge.read) readable.push_back(edge.why);
    }
    std::map<std::string, int> verdicts, stricter, counted;
    const std::vector<Case> corpus = Corpus();
    for (const Case& c : corpus) {
        const std::string ours = Ours(c), theirs = Theirs(c);
        if (c.why == "random byte" || c.why.rfind("blocks: ", 0) == 0) {
            counted[c.why] += ours.empty() ? 0 : 1;
        } else {
            EXPECT_EQ(!ours.empty(), std::find(readable.begin(), readable.end(), c.why) != readable.end()) << c.why;
        }
        EXPECT_TRUE(ours.empty() || ours == theirs)
            << (theirs.empty() ? "read, though the crypto library refuses it: " : "read as another key: ") << c.why
            << "\n"
            << c.pem;
        const char* verdict = ours == theirs ? "same" : ours.empty() ? "stricter" : "laxer";
        ++verdicts[verdict];
        if (ours != theirs && ours.empty()) ++stricter[c.why.rfind("stricter", 0) == 0 ? c.why : "stricter: " + c.why];
    }
    for (const auto& [name, count] : stricter) std::printf("%5d  %s\n", count, name.c_str());
    std::printf("%5zu keys: %d same, %d stricter, %d laxer\n", corpus.size(), verdicts["same"], verdicts["stricter"],
                verdicts["laxer"]);
    for (const char* verdict : {"same", "stricter", "laxer"}) RecordProperty(verdict, verdicts[verdict]);
    EXPECT_EQ(verdicts["laxer"], 0);
    EXPECT_EQ(counted["random byte"], 51);
    EXPECT_EQ(counted["blocks: before"], 170);
    EXPECT_EQ(counted["blocks: after"], 375);  // all
}

// Each key at the edges decides every call the same way, on every crypto library: 100 signatures
// and 100 unwrappings all succeed, or all fail.
TEST(KeyReading, EdgeKeysDecideEveryCallTheSame) {
    for (const EdgeKey& edge : EdgeKeys()) {
        const std::string pem = PemOf("RSA PRIVATE KEY", Pkcs1(edge.numbers));
        const std::string publicKey = PemOf("PUBLIC KEY", Spki(edge.numbers[0], edge.numbers[1]));
        std::string secret(32, 's'), wrapped;
        ASSERT_GT(EncryptKeyV2(U(secret), 32, publicKey, &wrapped), 0) << edge.why;
        int signatures = 0, unwrapped = 0;
        for (int i = 0; i < 100; ++i) {
            signatures += createRSASignature(pem, "data").empty() ? 0 : 1;
            unsigned char out[256];
            unwrapped += DecryptKeyV2(wrapped, pem, out) == 32 && std::equal(out, out + 32, U(secret)) ? 1 : 0;
        }
        std::printf("%3d signatures, %3d unwrapped: %s\n", signatures, unwrapped, edge.why.c_str());
        EXPECT_EQ(signatures, edge.read ? 100 : 0) << edge.why;
        EXPECT_EQ(unwrapped, edge.read ? 100 : 0) << edge.why;
    }
}

}  // namespace
