// Keys as the library reads them: the same verdicts on every crypto library, and never a key read
// that the crypto library's own PEM readers refuse, over a corpus of mutated keys made here.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "cryptutil/util.h"
#include "test_support.h"

namespace {

using namespace testing_support;

struct Key {
    std::string label, der;
};

// A key that a PEM reader may take; `why` names the mutation, and so the class it falls in.
struct Case {
    std::string why, pem;
    bool isPrivate;
};

bool Ours(const Case& c) {
    std::string secret(16, 's'), out;
    return c.isPrivate ? !createRSASignature(c.pem, "data").empty() : EncryptKeyV2(U(secret), 16, c.pem, &out) > 0;
}

bool Theirs(const Case& c) {
    BIO* bio = BIO_new_mem_buf(c.pem.c_str(), -1);
    EVP_PKEY* key = c.isPrivate ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, const_cast<char*>(""))
                                : PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr);
    const bool rsa = key != nullptr && EVP_PKEY_base_id(key) == EVP_PKEY_RSA;
    EVP_PKEY_free(key);
    BIO_free(bio);
    ERR_clear_error();
    return rsa;
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
    auto rewrap = [&](std::size_t width) {
        std::vector<std::string> v{lines.front()};
        for (std::size_t i = 0; i < body.size(); i += width) v.push_back(body.substr(i, width));
        v.push_back(lines.back());
        return join(v, "\n");
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
            {"armour: one line", rewrap(body.size())},
            {"armour: text around", "note\n" + pem + "tail\n"},
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
    add("envelope: attributes", "PRIVATE KEY", Pkcs8(pkcs1, kVersion0, Seq(kRsaOid + kNull), Der(0xA0, "")));
    add("envelope: key long length", "PRIVATE KEY", Pkcs8(LongLength(pkcs1)));
    add("envelope: key trailing byte", "PRIVATE KEY", Pkcs8(pkcs1 + '\0'));
    // The numbers of the key.
    auto with = [&](std::size_t i, const std::string& value) {
        std::vector<std::string> v = k;
        v[i] = value;
        return v;
    };
    std::string nFlipped = k[0];
    nFlipped[100] = static_cast<char>(nFlipped[100] ^ 4);
    const std::string huge = RandomBytes(4096, 3) + std::string(1, '\x01');  // a 32,776-bit "prime"
    for (const auto& [why, numbers] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"stricter: n not pq", with(0, nFlipped)},
             {"stricter: wrong qInv", with(7, k[7].substr(0, k[7].size() - 1) + "\x01")},
             {"stricter: d is 0", with(2, std::string(1, '\0'))},
             {"stricter: wrong dP", with(5, k[6])},
             {"stricter: p and q swapped", with(4, k[3])},
             {"stricter: e of 34 bits", with(1, Unhex("0200000001"))},
             {"stricter: parts longer than n", with(3, huge)},
             {"stricter: e changed", with(1, Unhex("010003"))}}) {
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
    return corpus;
}

// Every key the library reads, the crypto library reads too; the library refuses more, for the
// reasons named "stricter" (README, Guarantees and limits). Its verdicts are the same on every
// crypto library: the edge keys read exactly as named, and the count of random mutations read is
// fixed.
TEST(KeyReading, NeverLaxerThanTheCryptoLibraryAndTheSameOnEach) {
    const std::string readable[] = {"stored",
                                    "armour: CRLF",
                                    "armour: lines of 76",
                                    "armour: one line",
                                    "armour: text around",
                                    "armour: another block first",
                                    "armour: no final line end",
                                    "envelope: attributes",
                                    "exponent 3",
                                    "exponent 2^33 - 1",
                                    "stored 1,024 bits"};
    std::map<std::string, int> classes;
    int randomRead = 0;
    const std::vector<Case> corpus = Corpus();
    for (const Case& c : corpus) {
        const bool ours = Ours(c), theirs = Theirs(c);
        if (c.why == "random byte") {
            randomRead += ours ? 1 : 0;
        } else {
            EXPECT_EQ(ours, std::find(std::begin(readable), std::end(readable), c.why) != std::end(readable)) << c.why;
        }
        EXPECT_TRUE(!ours || theirs) << "read, though the crypto library refuses it: " << c.why << "\n" << c.pem;
        ++classes[ours == theirs                    ? "same"
                  : ours                            ? "laxer"
                  : c.why.rfind("stricter", 0) == 0 ? c.why
                                                    : "stricter: " + c.why];
    }
    for (const auto& [name, count] : classes) std::printf("%5d  %s\n", count, name.c_str());
    std::printf("%5zu keys\n", corpus.size());
    EXPECT_EQ(randomRead, 51);
}

}  // namespace
