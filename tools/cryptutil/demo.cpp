// demo: the whole hybrid flow on a key pair made here, each step's text in full.
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "commands.h"
#include "common.h"
#include "cryptutil/util.h"
#include "keys.h"
#include "output.h"

namespace tool {
namespace {

using PKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

// A fresh RSA key pair, through the EVP calls every crypto library has.
PKey GenerateRsaKey(int bits) {
    const std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr),
                                                                          &EVP_PKEY_CTX_free);
    EVP_PKEY* pkey = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits) != 1 ||
        EVP_PKEY_keygen(ctx.get(), &pkey) != 1) {
        throw Error("could not generate an RSA key pair");
    }
    return PKey(pkey, &EVP_PKEY_free);
}

std::string Pem(EVP_PKEY* pkey, bool priv) {
    const std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    const int ok = bio ? priv ? PEM_write_bio_PrivateKey(bio.get(), pkey, nullptr, nullptr, 0, nullptr, nullptr)
                              : PEM_write_bio_PUBKEY(bio.get(), pkey)
                       : 0;
    char* data = nullptr;
    const long len = ok == 1 ? BIO_get_mem_data(bio.get(), &data) : 0;
    if (len <= 0) throw Error("could not write the RSA key pair");
    return std::string(data, static_cast<std::size_t>(len));
}

bool Demo(Output& out) {
    std::string aesKey = FreshBytes(32);  // first: a failing generator ends the demo before any key is made
    const PKey pkey = GenerateRsaKey(2048);
    const std::string privatePem = Pem(pkey.get(), true), publicPem = Pem(pkey.get(), false);
    out.Line("1. server key pair: 2048-bit RSA, generated in memory");
    std::string wrapped, ciphertext, unwrapped(256, '\0'), decrypted;
    out.Line("2. host draws an AES-256 key:  " + OPENSSL_hexstr2buf(aesKey));
    const bool wrappedOk = EncryptKeyV2(Bytes(aesKey), 32, publicPem, &wrapped) == 256;
    out.Line("3. host wraps it for the server (RSA-OAEP):\n   " + wrapped);
    const std::string message = "Meet me at the usual place at 10.";
    const bool encryptedOk = EncryptMessage(message, Bytes(aesKey), 32, &ciphertext) > 0;
    out.Line("4. host encrypts \"" + message + "\" (AES-256-ECB):\n   " + ciphertext);
    const int n = DecryptKeyV2(wrapped, privatePem, Bytes(unwrapped));
    unwrapped.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    out.Line("5. server unwraps the AES key: " + OPENSSL_hexstr2buf(unwrapped));
    const bool decryptedOk = DecryptMessage(ciphertext, Bytes(unwrapped), n, &decrypted) == 0;
    out.Line("6. server decrypts:            \"" + decrypted + "\"");
    const std::string signature = createRSASignature(privatePem, decrypted);
    out.Line("7. server signs it (RSASSA-PKCS1-v1_5, SHA-256):\n   " + signature);
    const bool verified = verifyRSASignature(publicPem, signature, message);
    out.Line(std::string("8. host verifies the signature: ") + (verified ? "valid" : "invalid"));
    const bool ok = wrappedOk && encryptedOk && !signature.empty() && unwrapped == aesKey && decryptedOk &&
                    decrypted == message && verified;
    out.Line(ok ? "demo: OK, the hybrid flow round-trips" : "demo: FAILED");
    return ok;
}

}  // namespace

Action DefineDemo(CLI::App& cmd) {
    auto o = std::make_shared<Io>();
    AddOutput(cmd, *o);
    return [o] {
        Output out(o->output, Secrecy::kSecret);  // it shows a key
        const bool ok = Demo(out);
        out.Commit();
        return ok ? 0 : 1;
    };
}

}  // namespace tool
