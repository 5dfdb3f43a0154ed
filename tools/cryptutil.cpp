// cryptutil: produce and check the library's transport text by hand. A thin layer over the
// library: data comes from standard input, results go to standard output.
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "cryptutil/stream.h"
#include "cryptutil/util.h"

namespace {

// A failed operation (exit 1); usage errors are CLI::ParseError or UsageError (exit 2).
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Reads a whole file of at most `limit` bytes; a read error (a directory given as input, say) or
// a longer file is a failed operation.
std::string ReadAll(std::FILE* f, const std::string& name, std::size_t limit) {
    std::string out;
    char buf[1 << 16];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) != 0) {
        if (n > limit - out.size())
            throw Failure(name + " is over " + std::to_string(limit) + " bytes: no key or signature");
        out.append(buf, n);
    }
    if (std::ferror(f) != 0) throw Failure("cannot read " + name + ": " + std::strerror(errno));
    return out;
}

// Standard input, read as it is needed. A key or signature given as '-' comes first on it (an AES
// key or a signature as one line, a PEM key through its END line) and the command's data follows.
class Stdin {
public:
    std::string TakeLine() {
        while (rest_.find('\n') == std::string::npos && Fill()) {
        }
        const std::size_t end = rest_.find('\n');
        return Take(end == std::string::npos ? rest_.size() : end + 1);
    }
    std::string TakePem() {
        for (;;) {
            const std::size_t endLine = rest_.find("-----END ");
            if (endLine != std::string::npos && rest_.find('\n', endLine) != std::string::npos) break;
            if (!Fill()) break;
        }
        const std::size_t endLine = rest_.find("-----END ");
        if (endLine == std::string::npos) return Take(rest_.size());
        const std::size_t eol = rest_.find('\n', endLine);
        return Take(eol == std::string::npos ? rest_.size() : eol + 1);
    }
    std::string TakeRest() {
        while (Fill()) {
        }
        return Take(rest_.size());
    }
    // The next part of what is left, at most one read's worth; empty at the end.
    std::string TakeChunk() {
        if (rest_.empty()) Fill();
        return Take(rest_.size());
    }

private:
    bool Fill() {
        if (eof_) return false;
        char buf[1 << 16];
        const std::size_t n = std::fread(buf, 1, sizeof buf, stdin);
        if (std::ferror(stdin) != 0) throw Failure(std::string("cannot read standard input: ") + std::strerror(errno));
        rest_.append(buf, n);
        eof_ = n == 0;
        return n != 0;
    }
    std::string Take(std::size_t n) {
        std::string head = rest_.substr(0, n);
        rest_.erase(0, n);
        return head;
    }
    bool eof_ = false;
    std::string rest_;
};
Stdin input;

// Text read from a pipe usually ends in a newline that is not part of it.
std::string TrimNewlines(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

// Key and signature files are small: a PEM private key of 16,384 bits is about 13 KB.
constexpr std::size_t kKeyFileLimit = 1 << 20;

// A key or signature file's content; '-' takes it from the front of standard input.
std::string ReadFile(const std::string& path, bool pem) {
    if (path == "-") return pem ? input.TakePem() : input.TakeLine();
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) throw Failure("cannot read " + path + ": it is a directory");
    const std::unique_ptr<std::FILE, decltype(&std::fclose)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) throw Failure("cannot read " + path + ": " + std::strerror(errno));
    return ReadAll(f.get(), path, kKeyFileLimit);
}

// At most one option may read standard input ahead of the data.
void OneFromStdin(std::initializer_list<const std::string*> files) {
    int dashes = 0;
    for (const std::string* f : files) dashes += *f == "-" ? 1 : 0;
    if (dashes > 1) throw UsageError("only one option can read standard input");
}

// Hex from the command line is a usage error when bad; hex read as data, a failed operation.
template <typename Error>
std::string FromHexText(const std::string& what, const std::string& hex) {
    try {
        return OPENSSL_buf2hexstr(TrimNewlines(hex));
    } catch (const std::runtime_error& e) {
        throw Error(what + " is not hex: " + e.what());
    }
}

std::string AesKey(const std::string& hex, const std::string& file) {
    if (hex.empty() == file.empty()) throw UsageError("give the AES key with exactly one of --key and --key-file");
    // A bad key on the command line is a usage error; one read from a file or standard input is bad
    // data, a failed operation.
    const std::string key = hex.empty()
                                ? FromHexText<Failure>(file == "-" ? "the key on standard input" : "the key in " + file,
                                                       ReadFile(file, false))
                                : FromHexText<UsageError>("--key", hex);
    if (key.size() != 16 && key.size() != 24 && key.size() != 32) {
        const std::string what = "an AES key is 16, 24 or 32 bytes; this one has " + std::to_string(key.size());
        if (hex.empty()) throw Failure(what);
        throw UsageError(what);
    }
    return key;
}

unsigned char* Bytes(std::string& s) {
    return reinterpret_cast<unsigned char*>(s.data());
}

void CheckPublicKey(const std::string& pem, const std::string& file) {
    std::string out;
    if (EncryptKeyV2(nullptr, 0, pem, &out) < 0) throw Failure(file + " is not a PEM RSA public key (PUBLIC KEY)");
}

void CheckPrivateKey(const std::string& pem, const std::string& file) {
    if (createRSASignature(pem, "").empty()) {
        throw Failure(file + " is not an unencrypted PEM RSA private key (RSA PRIVATE KEY or PRIVATE KEY)");
    }
}

// Flushes what was written so far; a write that failed is a failed operation, named by its cause.
void Flush() {
    if (!std::cout.flush())
        throw Failure(std::string("cannot write the output: ") + std::strerror(errno != 0 ? errno : EIO));
}

void Write(const std::string& bytes) {
    errno = 0;
    std::cout << bytes;
    Flush();
}

void Print(const std::string& text) {
    errno = 0;
    std::cout << text << '\n';
    Flush();
}

// A fresh RSA key pair, or null; through the EVP calls every crypto library has.
EVP_PKEY* GenerateRsaKey(int bits) {
    const std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr),
                                                                          &EVP_PKEY_CTX_free);
    EVP_PKEY* pkey = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits) != 1 ||
        EVP_PKEY_keygen(ctx.get(), &pkey) != 1) {
        return nullptr;
    }
    return pkey;
}

// The whole hybrid flow on a key pair made here, printing every step's text.
int Demo() {
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(GenerateRsaKey(2048), &EVP_PKEY_free);
    auto pem = [&](bool priv) {
        const std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
        if (!pkey || !bio) throw Failure("could not generate an RSA key pair");
        const int ok = priv ? PEM_write_bio_PrivateKey(bio.get(), pkey.get(), nullptr, nullptr, 0, nullptr, nullptr)
                            : PEM_write_bio_PUBKEY(bio.get(), pkey.get());
        char* data = nullptr;
        const long len = BIO_get_mem_data(bio.get(), &data);
        if (ok != 1 || len <= 0) throw Failure("could not write the RSA key pair");
        return std::string(data, static_cast<std::size_t>(len));
    };
    const std::string privatePem = pem(true);
    const std::string publicPem = pem(false);
    std::cout << "1. server key pair: 2048-bit RSA, generated in memory\n";

    std::string aesKey(32, '\0');
    GetRandomBytes(Bytes(aesKey), 32);
    std::cout << "2. host draws an AES-256 key:  " << OPENSSL_hexstr2buf(aesKey) << '\n';

    std::string wrapped;
    const bool wrappedOk = EncryptKeyV2(Bytes(aesKey), 32, publicPem, &wrapped) == 256;
    std::cout << "3. host wraps it for the server (RSA-OAEP):\n   " << wrapped << '\n';

    const std::string message = "Meet me at the usual place at 10.";
    std::string ciphertext;
    const bool encryptedOk = EncryptMessage(message, Bytes(aesKey), 32, &ciphertext) > 0;
    std::cout << "4. host encrypts \"" << message << "\" (AES-256-ECB):\n   " << ciphertext << '\n';

    std::string unwrapped(256, '\0');
    const int n = DecryptKeyV2(wrapped, privatePem, Bytes(unwrapped));
    unwrapped.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    std::cout << "5. server unwraps the AES key: " << OPENSSL_hexstr2buf(unwrapped) << '\n';

    std::string decrypted;
    const bool decryptedOk = DecryptMessage(ciphertext, Bytes(unwrapped), n, &decrypted) == 0;
    std::cout << "6. server decrypts:            \"" << decrypted << "\"\n";

    const std::string signature = createRSASignature(privatePem, decrypted);
    std::cout << "7. server signs it (RSASSA-PKCS1-v1_5, SHA-256):\n   " << signature << '\n';

    const bool verified = verifyRSASignature(publicPem, signature, message);
    std::cout << "8. host verifies the signature: " << (verified ? "valid" : "invalid") << '\n';

    const bool ok = wrappedOk && encryptedOk && !signature.empty() && unwrapped == aesKey && decryptedOk &&
                    decrypted == message && verified;
    std::cout << (ok ? "demo: OK, the hybrid flow round-trips" : "demo: FAILED") << '\n';
    return ok ? 0 : 1;
}

int Run(int argc, char** argv) {
    CLI::App app{"Produce and check cryptutil transport text. Data is read from standard input."};
    app.require_subcommand(0, 1);
    app.set_version_flag("--version", std::string("cryptutil ") + CRYPTUTIL_VERSION);
    bool usage = false;
    app.add_subcommand("help", "Print this usage")->callback([&] { usage = true; });
    app.footer("Example: echo hi | cryptutil encrypt --key $(cryptutil keygen)");
    int status = 0;
    std::string keyHex, keyFile, publicFile, privateFile, signature, signatureFile, code, message;
    int size = 32;

    auto* keygen = app.add_subcommand("keygen", "Print a fresh AES key as hex");
    keygen->add_option("--size", size, "Key length in bytes")->check(CLI::IsMember({16, 24, 32}));
    keygen->footer("Example: cryptutil keygen --size 16");
    keygen->callback([&] {
        std::string key(static_cast<std::size_t>(size), '\0');
        GetRandomBytes(Bytes(key), size);
        Print(OPENSSL_hexstr2buf(key));
    });

    auto aesCommand = [&](const char* name, const char* what, const char* example) {
        auto* cmd = app.add_subcommand(name, what);
        cmd->add_option("--key", keyHex, "AES key as hex (16, 24 or 32 bytes)");
        cmd->add_option("--key-file", keyFile,
                        "File holding the AES key as hex ('-': the first line of standard input)");
        cmd->footer(std::string("Example: ") + example);
        return cmd;
    };
    // Both stream: standard input of any size in memory bounded by the read size.
    aesCommand("encrypt", "Encrypt standard input into transport text",
               "echo hi | cryptutil encrypt --key $K | cryptutil decrypt --key $K")
        ->callback([&] {
            std::string key = AesKey(keyHex, keyFile);
            cryptutil::MessageEncryptStream stream(Bytes(key), static_cast<int>(key.size()));
            std::string text;
            for (std::string chunk; !(chunk = input.TakeChunk()).empty();) {
                text.clear();
                if (stream.Update(chunk.data(), chunk.size(), &text) != 0) throw Failure("encryption failed");
                Write(text);
            }
            text.clear();
            if (stream.Finish(&text) != 0) throw Failure("encryption failed");
            Print(text);
        });
    aesCommand("decrypt", "Decrypt transport text from standard input", "cryptutil decrypt --key $K < message.txt")
        ->callback([&] {
            std::string key = AesKey(keyHex, keyFile);
            cryptutil::MessageDecryptStream stream(Bytes(key), static_cast<int>(key.size()));
            const Failure failed("decryption failed: wrong key, or not the transport text of a message");
            std::string lineEnds, plain;  // trailing line ends are held back: only the last are dropped
            for (std::string chunk; !(chunk = input.TakeChunk()).empty();) {
                const std::size_t last = chunk.find_last_not_of("\r\n");
                if (last == std::string::npos) {
                    lineEnds += chunk;
                    continue;
                }
                const std::string text = lineEnds + chunk.substr(0, last + 1);
                lineEnds = chunk.substr(last + 1);
                plain.clear();
                if (stream.Update(text.data(), text.size(), &plain) != 0) throw failed;
                Write(plain);
            }
            plain.clear();
            if (stream.Finish(&plain) != 0) throw failed;
            Write(plain);
        });

    auto* wrap = app.add_subcommand("wrap", "Wrap an AES key for an RSA public key");
    wrap->add_option("--public", publicFile, "PEM public key file ('-': standard input)")->required();
    wrap->add_option("--key", keyHex, "AES key as hex");
    wrap->add_option("--key-file", keyFile, "File holding the AES key as hex ('-': standard input)");
    wrap->footer("Example: cryptutil wrap --public server.pub.pem --key $K");
    wrap->callback([&] {
        OneFromStdin({&publicFile, &keyFile});
        const std::string pem = ReadFile(publicFile, true);
        std::string key = AesKey(keyHex, keyFile);
        CheckPublicKey(pem, publicFile);
        std::string text;
        if (EncryptKeyV2(Bytes(key), static_cast<int>(key.size()), pem, &text) < 0) throw Failure("wrapping failed");
        Print(text);
    });

    auto* unwrap = app.add_subcommand("unwrap", "Unwrap a wrapped key from standard input; print it as hex");
    unwrap->add_option("--private", privateFile, "PEM private key file ('-': standard input, before the data)")
        ->required();
    unwrap->footer("Example: cryptutil wrap --public pub.pem --key $K | cryptutil unwrap --private key.pem");
    unwrap->callback([&] {
        const std::string pem = ReadFile(privateFile, true);
        CheckPrivateKey(pem, privateFile);
        std::string text = TrimNewlines(input.TakeRest());
        // Unwrapping writes k bytes only for text that decodes to exactly k bytes, which takes more
        // than k characters: room for the text's length is room for k.
        std::string out(std::max<std::size_t>(text.size(), 1), '\0');
        const int n = DecryptKeyV2(std::move(text), pem, Bytes(out));
        if (n < 0) throw Failure("unwrapping failed: wrong key, or not the transport text of a wrapped key");
        out.resize(static_cast<std::size_t>(n));
        Print(OPENSSL_hexstr2buf(out));
    });

    auto* sign = app.add_subcommand("sign", "Sign standard input; print the signature text");
    sign->add_option("--private", privateFile, "PEM private key file ('-': standard input, before the data)")
        ->required();
    sign->footer("Example: cryptutil sign --private key.pem < data.txt");
    sign->callback([&] {
        const std::string pem = ReadFile(privateFile, true);
        CheckPrivateKey(pem, privateFile);
        Print(createRSASignature(pem, input.TakeRest()));
    });

    auto* verify = app.add_subcommand("verify", "Check a signature of standard input; exit 0 if valid, 1 if not");
    verify->add_option("--public", publicFile, "PEM public key file ('-': standard input, before the data)")
        ->required();
    auto* sigText = verify->add_option("--signature", signature, "Signature text");
    verify->add_option("--signature-file", signatureFile, "File holding the signature text ('-': standard input)")
        ->excludes(sigText);
    verify->footer("Example: cryptutil verify --public pub.pem --signature-file data.sig < data.txt");
    verify->callback([&] {
        if (signatureFile.empty() && sigText->count() == 0) {
            throw UsageError("give the signature with --signature or --signature-file");
        }
        OneFromStdin({&publicFile, &signatureFile});
        const std::string pem = ReadFile(publicFile, true);
        CheckPublicKey(pem, publicFile);
        const std::string sig = signatureFile.empty() ? signature : ReadFile(signatureFile, false);
        const bool valid = verifyRSASignature(pem, TrimNewlines(sig), input.TakeRest());
        Print(valid ? "valid" : "invalid");
        status = valid ? 0 : 1;
    });

    app.add_subcommand("hash", "SHA-256 of standard input as lowercase hex")
        ->footer("Example: printf abc | cryptutil hash")
        ->callback([&] {
            std::string digest(32, '\0');
            hashData(input.TakeRest(), Bytes(digest));
            Print(OPENSSL_hexstr2buf(digest));
        });

    auto* hex = app.add_subcommand("hex", "Hex text of standard input, or back");
    hex->require_subcommand(1);
    hex->add_subcommand("encode", "Bytes to lowercase hex")->callback([&] {
        Print(OPENSSL_hexstr2buf(input.TakeRest()));
    });
    hex->add_subcommand("decode", "Hex (either case) to bytes")->callback([&] {
        const std::string bytes = FromHexText<Failure>("standard input", input.TakeRest());
        errno = 0;
        std::cout << bytes;
        Flush();
    });
    hex->footer("Example: printf hi | cryptutil hex encode | cryptutil hex decode");

    auto* error = app.add_subcommand("error", "Print the JSON error document");
    error->add_option("CODE", code)->required();
    error->add_option("MESSAGE", message)->required();
    error->footer("Example: cryptutil error E42 \"key expired\"");
    error->callback([&] {
        std::string out;
        try {
            create_error(code, message, out);
        } catch (const nlohmann::json::exception& e) {
            throw UsageError(std::string("CODE and MESSAGE must be UTF-8 text: ") + e.what());
        }
        Print(out);
    });

    app.add_subcommand("now", "The current time at UTC+8")->footer("Example: cryptutil now")->callback([&] {
        Print(currentISO8601TimeUTC());
    });
    app.add_subcommand("demo", "Run the whole hybrid flow on a fresh key pair")
        ->footer("Example: cryptutil demo")
        ->callback([&] { status = Demo(); });

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "cryptutil: " << e.what() << " (see --help)\n";
        return 2;
    }
    if (usage || app.get_subcommands().empty()) {
        std::cout << app.get_formatter()->make_help(&app, "cryptutil", CLI::AppFormatMode::Normal);
    }
    return status;
}

}  // namespace

// Output that could not be written (a full disk, a closed pipe) fails the command, as it does
// for openssl and the coreutils.
int Finish(int status) {
    errno = 0;
    std::cout.flush();
    if (!std::cout || std::fflush(stdout) != 0) {
        std::cerr << "cryptutil: cannot write the output: " << std::strerror(errno != 0 ? errno : EIO) << '\n';
        return 1;
    }
    return status;
}

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    try {
        return Finish(Run(argc, argv));
    } catch (const UsageError& e) {
        std::cerr << "cryptutil: " << e.what() << '\n';
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "cryptutil: " << e.what() << '\n';
        return 1;
    }
}
