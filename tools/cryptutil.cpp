// cryptutil: produce and check the library's transport text by hand and in scripts, a thin layer
// over the library. Data comes from the file named last, or standard input; results go to -o FILE,
// or standard output, and stay only if the command succeeds.
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "cryptutil/stream.h"
#include "cryptutil/util.h"

namespace {

// Exit codes: 0 success, 1 a negative verdict, 2 a usage or I/O error.
struct Negative : std::runtime_error {  // an invalid signature, text that is not what it should be
    using std::runtime_error::runtime_error;
};
struct Error : std::runtime_error {  // a bad option, a missing or broken key file, unreadable input
    using std::runtime_error::runtime_error;
};

std::string Cause() {
    return std::strerror(errno != 0 ? errno : EIO);
}

constexpr std::size_t kChunk = 1 << 20;

// Data read as it is needed, from a file or standard input. A key or signature given as '-' comes
// first on standard input (an AES key or a signature as one line, a PEM key through its END line).
class Input {
public:
    Input(std::FILE* f, std::string name) : f_(f), name_(std::move(name)) {}
    ~Input() {
        if (f_ != stdin) std::fclose(f_);
    }
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    std::string TakeLine() {
        while (rest_.find('\n') == std::string::npos && Fill()) {
        }
        const std::size_t end = rest_.find('\n');
        return Take(end == std::string::npos ? rest_.size() : end + 1);
    }
    std::string TakePem() {
        std::size_t end = std::string::npos;
        while ((end = rest_.find("-----END ")) == std::string::npos || rest_.find('\n', end) == std::string::npos) {
            if (!Fill()) break;
        }
        const std::size_t eol = end == std::string::npos ? std::string::npos : rest_.find('\n', end);
        return Take(eol == std::string::npos ? rest_.size() : eol + 1);
    }
    std::string TakeRest() {
        while (Fill()) {
        }
        return Take(rest_.size());
    }
    // The next part of what is left, at most a read's worth; empty at the end.
    std::string TakeChunk() {
        if (!rest_.empty() || eof_) return Take(rest_.size());
        std::string chunk(kChunk, '\0');
        chunk.resize(Read(chunk.data()));
        return chunk;
    }

private:
    std::size_t Read(char* buf) {
        const std::size_t n = std::fread(buf, 1, kChunk, f_);
        if (std::ferror(f_) != 0) throw Error("cannot read " + name_ + ": " + Cause());
        eof_ = n == 0;
        return n;
    }
    bool Fill() {
        if (eof_) return false;
        std::string buf(kChunk, '\0');
        rest_.append(buf.data(), Read(buf.data()));
        return !eof_;
    }
    std::string Take(std::size_t n) {
        std::string head = rest_.substr(0, n);
        rest_.erase(0, n);
        return head;
    }
    std::FILE* f_;
    std::string name_, rest_;
    bool eof_ = false;
};

Input& StandardInput() {
    static Input in(stdin, "standard input");
    return in;
}

// What a command writes, kept only if it succeeds. To a file: a temporary file beside it,
// renamed over it at the end and removed otherwise, so the file is never partial nor changed by a
// failure. To standard output: a regular file is written in place and cut back to where it stood
// if the command fails; anything else gets memory up to 16 MiB, and an unlinked temporary file
// beyond.
class Output {
public:
    explicit Output(std::string path) : path_(std::move(path)) {
        if (path_.empty() || path_ == "-") {
            InPlace();
            return;
        }
        // The file keeps its mode; a new one gets the mode a shell's redirection would give it.
        struct stat st {};
        const bool exists = ::stat(path_.c_str(), &st) == 0;
        if (exists && !S_ISREG(st.st_mode)) throw Error("cannot write " + path_ + ": not a regular file");
        const mode_t mask = umask(0);
        umask(mask);
        std::string temp = path_ + ".XXXXXX";
        const int fd = mkstemp(temp.data());
        if (fd >= 0) temp_ = temp;
        if (fd < 0 || fchmod(fd, exists ? st.st_mode & 07777 : 0666 & ~mask) != 0 ||
            (file_ = fdopen(fd, "wb")) == nullptr) {
            if (fd >= 0 && file_ == nullptr) close(fd);
            throw Error("cannot write " + path_ + ": " + Cause());
        }
    }
    ~Output() {
        if (file_ != nullptr) std::fclose(file_);
        if (!temp_.empty()) std::remove(temp_.c_str());
        if (cutBackTo_ >= 0 && ftruncate(STDOUT_FILENO, cutBackTo_) == 0)
            lseek(STDOUT_FILENO, cutBackTo_, SEEK_SET);  // for what the shell writes there next
    }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    void Write(const std::string& s) {
        if (file_ == nullptr && held_.size() + s.size() <= kHeld) {
            held_ += s;
            return;
        }
        if (file_ == nullptr) {
            errno = 0;
            if ((file_ = std::tmpfile()) == nullptr) throw Error("cannot hold the output: " + Cause());
            Put(held_, file_);
            std::string().swap(held_);
        }
        Put(s, file_);
    }
    void Line(const std::string& s) { Write(s + '\n'); }
    void Commit() {
        errno = 0;
        if (!temp_.empty()) {
            const bool ok = std::fflush(file_) == 0 && std::fclose(file_) == 0;
            file_ = nullptr;
            if (!ok || std::rename(temp_.c_str(), path_.c_str()) != 0)
                throw Error("cannot write " + path_ + ": " + Cause());
            temp_.clear();
            return;
        }
        if (cutBackTo_ >= 0) {
            const bool ok = std::fclose(file_) == 0;
            file_ = nullptr;
            if (!ok) throw Error("cannot write the output: " + Cause());
            cutBackTo_ = -1;
            return;
        }
        Put(held_, stdout);
        if (file_ != nullptr) {
            std::rewind(file_);
            std::string buf(kChunk, '\0');
            for (std::size_t n = 0; (n = std::fread(buf.data(), 1, buf.size(), file_)) != 0;) {
                buf.resize(n);
                Put(buf, stdout);
                buf.resize(kChunk);
            }
        }
        if (std::fflush(stdout) != 0) throw Error("cannot write the output: " + Cause());
    }

private:
    static constexpr std::size_t kHeld = 16 << 20;
    // A standard output that is a regular file, at its end, is written in place through an
    // unbuffered stream of its own, so that no byte waits in a buffer past a cut.
    void InPlace() {
        struct stat st {};
        const int flags = fcntl(STDOUT_FILENO, F_GETFL);
        if (fstat(STDOUT_FILENO, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 || std::fflush(stdout) != 0) return;
        const off_t at = (flags & O_APPEND) != 0 ? st.st_size : lseek(STDOUT_FILENO, 0, SEEK_CUR);
        const int fd = at == st.st_size ? dup(STDOUT_FILENO) : -1;  // only there does a cut restore it
        if (fd >= 0 && (file_ = fdopen(fd, "wb")) != nullptr && setvbuf(file_, nullptr, _IONBF, 0) == 0) {
            cutBackTo_ = at;
        } else if (file_ != nullptr) {
            std::fclose(file_);
            file_ = nullptr;
        } else if (fd >= 0) {
            close(fd);
        }
    }
    void Put(const std::string& s, std::FILE* f) const {
        errno = 0;
        if (std::fwrite(s.data(), 1, s.size(), f) != s.size()) {
            throw Error("cannot write " + (f == stdout || temp_.empty() ? std::string("the output") : path_) + ": " +
                        Cause());
        }
    }
    std::string path_, temp_, held_;
    std::FILE* file_ = nullptr;
    off_t cutBackTo_ = -1;  // standard output is written in place; its length before
};

// Text read from a pipe usually ends in a line end that is not part of it.
std::string TrimLineEnds(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

// A key or signature file: at most 1 MiB (a PEM private key of 16,384 bits is about 13 KB), and a
// regular file, never a FIFO or device, which could block or never end. '-' takes it from the
// front of standard input.
std::string ReadKeyFile(const std::string& path, bool pem) {
    if (path == "-") return pem ? StandardInput().TakePem() : StandardInput().TakeLine();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw Error("cannot read " + path + ": " + Cause());
    if (!S_ISREG(st.st_mode)) throw Error("cannot read " + path + ": not a regular file");
    if (st.st_size > (1 << 20)) throw Error(path + " is over 1 MiB: no key or signature");
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) throw Error("cannot read " + path + ": " + Cause());
    return Input(f, path).TakeRest();
}

// The data of a command: the file named, or standard input for none or '-'.
Input& DataInput(const std::string& path, std::unique_ptr<Input>& file) {
    if (path.empty() || path == "-") return StandardInput();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) throw Error("cannot read " + path + ": " + Cause());
    file = std::make_unique<Input>(f, path);
    return *file;
}

// Hex, where `what` names it; the message names no character of it, as it may be a key.
template <typename Failure>
std::string FromHexText(const std::string& what, const std::string& hex) {
    const std::string digits = TrimLineEnds(hex);
    if (digits.size() % 2 != 0) throw Failure(what + " is not hex: it has an odd number of digits");
    try {
        return OPENSSL_buf2hexstr(digits);
    } catch (const std::runtime_error&) {
        throw Failure(what + " is not hex: it holds a character that is not a hex digit");
    }
}

std::string AesKey(const std::string& hex, const std::string& file) {
    if (hex.empty() == file.empty()) throw Error("give the AES key with exactly one of --key and --key-file");
    const std::string key = hex.empty()
                                ? FromHexText<Error>(file == "-" ? "the key on standard input" : "the key in " + file,
                                                     ReadKeyFile(file, false))
                                : FromHexText<Error>("--key", hex);
    if (key.size() != 16 && key.size() != 24 && key.size() != 32) {
        throw Error("an AES key is 16, 24 or 32 bytes; this one has " + std::to_string(key.size()));
    }
    return key;
}

unsigned char* Bytes(std::string& s) {
    return reinterpret_cast<unsigned char*>(s.data());
}

std::string PublicKey(const std::string& file) {
    const std::string pem = ReadKeyFile(file, true);
    std::string out;
    if (EncryptKeyV2(nullptr, 0, pem, &out) < 0) throw Error(file + " is not a PEM RSA public key (PUBLIC KEY)");
    return pem;
}

std::string PrivateKey(const std::string& file) {
    const std::string pem = ReadKeyFile(file, true);
    if (createRSASignature(pem, "").empty()) {
        throw Error(file +
                    " is not an unencrypted PEM RSA private key (RSA PRIVATE KEY or PRIVATE KEY) the library reads");
    }
    return pem;
}

// OpenSSL's block codec counts in int, BoringSSL's in size_t.
template <typename Count, typename Result>
long Block(Result (*codec)(unsigned char*, const unsigned char*, Count), unsigned char* out, const unsigned char* in,
           std::size_t n) {
    return static_cast<long>(codec(out, in, static_cast<Count>(n)));
}

// What is wrong with a text as transport text, or empty; `bytes` gets what it stands for. The
// tool's own reading (%XX undone, then OpenSSL's decoder), for a diagnosis.
std::string Diagnose(const std::string& text, std::string& bytes) {
    if (text.find_first_of("\r\n") != std::string::npos) return "it is wrapped into lines: transport text is one line";
    if (text.find_first_of("-_") != std::string::npos) {
        return "it uses the URL-safe alphabet ('-' and '_'): transport text is standard base64";
    }
    std::string base64;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) != 0 &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2])) != 0) {
            base64 += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            base64 += text[i];
        }
    }
    const std::size_t pad = base64.find('=');
    if (pad != std::string::npos && base64.find_first_not_of('=', pad) != std::string::npos) {
        return "'=' stands inside it: padding ends base64";
    }
    if (base64.size() % 4 != 0)
        return "its length is not a multiple of 4 once unescaped: its padding is missing or it is cut";
    if (base64.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=") !=
        std::string::npos) {
        return "it holds characters that are neither base64 nor an escape";
    }
    bytes.assign(base64.size() / 4 * 3, '\0');
    Block(EVP_DecodeBlock, Bytes(bytes), reinterpret_cast<const unsigned char*>(base64.data()), base64.size());
    bytes.resize(bytes.size() - (base64.size() - std::min(base64.size(), pad)));
    return {};
}

std::string Base64(const std::string& bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    text.resize(static_cast<std::size_t>(
        Block(EVP_EncodeBlock, Bytes(text), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size())));
    return text;
}

// k of a public or private key, from the text of what it makes.
std::size_t ModulusBytes(const std::string& pem, const std::string& file) {
    std::string text;
    const int k = EncryptKeyV2(nullptr, 0, pem, &text);
    if (k > 0) return static_cast<std::size_t>(k);
    std::string bytes;
    if ((text = createRSASignature(pem, "")).empty() || !Diagnose(text, bytes).empty()) {
        throw Error(file + " is not a PEM RSA key the library reads");
    }
    return bytes.size();
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

// The whole hybrid flow on a key pair made here, each step's text in full.
bool Demo(Output& out) {
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(GenerateRsaKey(2048), &EVP_PKEY_free);
    auto pem = [&](bool priv) {
        const std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
        if (!pkey || !bio) throw Error("could not generate an RSA key pair");
        const int ok = priv ? PEM_write_bio_PrivateKey(bio.get(), pkey.get(), nullptr, nullptr, 0, nullptr, nullptr)
                            : PEM_write_bio_PUBKEY(bio.get(), pkey.get());
        char* data = nullptr;
        const long len = BIO_get_mem_data(bio.get(), &data);
        if (ok != 1 || len <= 0) throw Error("could not write the RSA key pair");
        return std::string(data, static_cast<std::size_t>(len));
    };
    const std::string privatePem = pem(true), publicPem = pem(false);
    out.Line("1. server key pair: 2048-bit RSA, generated in memory");
    std::string aesKey(32, '\0'), wrapped, ciphertext, unwrapped(256, '\0'), decrypted;
    GetRandomBytes(Bytes(aesKey), 32);
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

// The help of a command: what it reads, what it writes, what it does on failure, an example.
std::string Footer(const std::string& reads, const std::string& writes, const std::string& fails,
                   const std::string& example) {
    return "\nReads:   " + reads + "\nWrites:  " + writes + "\nFailure: " + fails + "\nExample: " + example + "\n";
}

const char* const kHeldBack = ", kept only if the command succeeds";
const char* const kNothing = "writes nothing, prints one line on standard error, ";

int Run(int argc, char** argv) {
    CLI::App app{"Produce and check cryptutil transport text (standard base64, '+' escaped as %2B)."};
    app.require_subcommand(0, 1);
    app.set_version_flag("--version", std::string("cryptutil ") + CRYPTUTIL_VERSION);
    bool usage = false, helpAll = false;
    app.add_flag("--help-all", helpAll, "Print the help of every command (the manual page is made from it)");
    app.add_subcommand("help", "Print this usage")->callback([&] { usage = true; });
    app.footer(
        "\nData comes from the file named last or standard input; results go to -o FILE or standard output, "
        "only once the command has succeeded.\nExit codes: 0 success, 1 a negative verdict (an invalid "
        "signature, a text that is not what it should be), 2 a usage or I/O error (a bad option, a missing or "
        "broken key file, unreadable input, output that cannot be written). A closed pipe ends the tool by "
        "SIGPIPE (status 141), as it ends cat.\nExample: echo hi | cryptutil encrypt --key $(cryptutil keygen)");
    int status = 0;
    std::string keyHex, keyFile, publicFile, privateFile, signature, signatureFile, code, message, inputPath,
        outputPath;
    int size = 32;
    bool hexBytes = false;
    std::unique_ptr<Input> inputFile;
    auto command = [&](const char* name, const char* what, bool data) {
        auto* cmd = app.add_subcommand(name, what);
        if (data) cmd->add_option("INPUT", inputPath, "The data: a file, or '-' (the default) for standard input");
        cmd->add_option("-o,--output", outputPath, "Write the result to this file (replaced only on success)");
        return cmd;
    };
    auto keyOptions = [&](CLI::App* cmd) {
        cmd->add_option("--key", keyHex, "AES key as hex (16, 24 or 32 bytes)");
        cmd->add_option("--key-file", keyFile,
                        "File holding the AES key as hex ('-': the first line of standard input)");
    };
    auto data = [&] { return &DataInput(inputPath, inputFile); };

    auto* keygen = command("keygen", "Print a fresh AES key as hex", false);
    keygen->add_option("--size", size, "Key length in bytes")->check(CLI::IsMember({16, 24, 32}));
    keygen->footer(Footer("nothing",
                          std::string("the key as hex and a line end to -o FILE or standard output") + kHeldBack,
                          std::string(kNothing) + "exits 2", "K=$(cryptutil keygen --size 16)"));
    keygen->callback([&] {
        std::string key(static_cast<std::size_t>(size), '\0');
        GetRandomBytes(Bytes(key), size);
        Output out(outputPath);
        out.Line(OPENSSL_hexstr2buf(key));
        out.Commit();
    });

    auto* encrypt = command("encrypt", "Encrypt a message into transport text", true);
    keyOptions(encrypt);
    encrypt->footer(Footer("the message from INPUT or standard input, of any size, a chunk at a time",
                           std::string("its transport text and a line end to -o FILE or standard output") + kHeldBack,
                           std::string(kNothing) + "exits 2 (a bad key, unreadable input)",
                           "cryptutil encrypt --key $K report.pdf -o report.txt"));
    encrypt->callback([&] {
        std::string key = AesKey(keyHex, keyFile);
        Input& in = *data();
        Output out(outputPath);
        cryptutil::MessageEncryptStream stream(Bytes(key), static_cast<int>(key.size()));
        std::string text;
        for (std::string chunk; !(chunk = in.TakeChunk()).empty();) {
            text.clear();
            if (stream.Update(chunk.data(), chunk.size(), &text) != 0) throw Error("encryption failed");
            out.Write(text);
        }
        text.clear();
        if (stream.Finish(&text) != 0) throw Error("encryption failed");
        out.Line(text);
        out.Commit();
    });

    auto* decrypt = command("decrypt", "Decrypt transport text into the message", true);
    keyOptions(decrypt);
    decrypt->footer(Footer("transport text from INPUT or standard input (line ends at its end are ignored)",
                           std::string("the message to -o FILE or standard output, once the whole text is read and its "
                                       "padding checked: nothing of it before"),
                           std::string(kNothing) + "exits 1 for a wrong key or text that is not a message's, 2 for a "
                                                   "bad key or unreadable input",
                           "cryptutil decrypt --key $K report.txt -o report.pdf"));
    decrypt->callback([&] {
        std::string key = AesKey(keyHex, keyFile);
        Input& in = *data();
        Output out(outputPath);
        cryptutil::MessageDecryptStream stream(Bytes(key), static_cast<int>(key.size()));
        const Negative failed("decryption failed: wrong key, or not the transport text of a message");
        std::string lineEnds, plain;  // line ends are held back: only those at the very end are dropped
        for (std::string chunk; !(chunk = in.TakeChunk()).empty();) {
            const std::size_t last = chunk.find_last_not_of("\r\n");
            if (last == std::string::npos) {
                lineEnds += chunk;
                continue;
            }
            const std::string text = lineEnds + chunk.substr(0, last + 1);
            lineEnds = chunk.substr(last + 1);
            plain.clear();
            if (stream.Update(text.data(), text.size(), &plain) != 0) throw failed;
            out.Write(plain);
        }
        plain.clear();
        if (stream.Finish(&plain) != 0) throw failed;
        out.Write(plain);
        out.Commit();
    });

    auto* wrap = command("wrap", "Wrap an AES key for an RSA public key", false);
    wrap->add_option("--public", publicFile, "PEM public key file ('-': standard input)")->required();
    keyOptions(wrap);
    wrap->footer(Footer("the public key from --public, the AES key from --key or --key-file",
                        std::string("the wrapped key's transport text and a line end") + kHeldBack,
                        std::string(kNothing) + "exits 2 (a missing or broken key file, a bad key)",
                        "cryptutil wrap --public server.pub.pem --key $K"));
    wrap->callback([&] {
        if (publicFile == "-" && keyFile == "-") throw Error("only one option can read standard input");
        const std::string pem = PublicKey(publicFile);
        std::string key = AesKey(keyHex, keyFile), text;
        if (EncryptKeyV2(Bytes(key), static_cast<int>(key.size()), pem, &text) < 0) throw Error("wrapping failed");
        Output out(outputPath);
        out.Line(text);
        out.Commit();
    });

    auto* unwrap = command("unwrap", "Unwrap a wrapped key; print it as hex", true);
    unwrap->add_option("--private", privateFile, "PEM private key file ('-': standard input, before the data)")
        ->required();
    unwrap->footer(Footer("the private key from --private, the wrapped key's text from INPUT or standard input",
                          std::string("the key as hex and a line end") + kHeldBack,
                          std::string(kNothing) + "exits 1 for a text this key did not wrap, 2 for a missing or broken "
                                                  "key file",
                          "cryptutil wrap --public pub.pem --key $K | cryptutil unwrap --private key.pem"));
    unwrap->callback([&] {
        const std::string pem = PrivateKey(privateFile);
        std::string text = TrimLineEnds(data()->TakeRest());
        // Room for k bytes: a text that decodes to k bytes has more than k characters.
        std::string key(std::max<std::size_t>(text.size(), 1), '\0');
        const int n = DecryptKeyV2(std::move(text), pem, Bytes(key));
        if (n < 0) throw Negative("unwrapping failed: wrong key, or not the transport text of a wrapped key");
        key.resize(static_cast<std::size_t>(n));
        Output out(outputPath);
        out.Line(OPENSSL_hexstr2buf(key));
        out.Commit();
    });

    auto* sign = command("sign", "Sign data; print the signature text", true);
    sign->add_option("--private", privateFile, "PEM private key file ('-': standard input, before the data)")
        ->required();
    sign->footer(Footer("the private key from --private, the data from INPUT or standard input",
                        std::string("the signature text and a line end") + kHeldBack,
                        std::string(kNothing) + "exits 2 (a missing or broken key file, unreadable input)",
                        "cryptutil sign --private key.pem order.json -o order.sig"));
    sign->callback([&] {
        const std::string pem = PrivateKey(privateFile);
        const std::string sig = createRSASignature(pem, data()->TakeRest());
        if (sig.empty()) throw Error("signing failed");
        Output out(outputPath);
        out.Line(sig);
        out.Commit();
    });

    auto* verify = command("verify", "Check a signature of data", true);
    verify->add_option("--public", publicFile, "PEM public key file ('-': standard input, before the data)")
        ->required();
    auto* sigText = verify->add_option("--signature", signature, "Signature text");
    verify->add_option("--signature-file", signatureFile, "File holding the signature text ('-': standard input)")
        ->excludes(sigText);
    verify->footer(
        Footer("the public key from --public, the signature from --signature or --signature-file, the "
               "data from INPUT or standard input",
               "valid or invalid and a line end",
               "exits 1 for an invalid signature (printing invalid); for a missing or broken key file " +
                   std::string(kNothing) + "exits 2",
               "cryptutil verify --public pub.pem --signature-file order.sig order.json"));
    verify->callback([&] {
        if (signatureFile.empty() && sigText->count() == 0) {
            throw Error("give the signature with --signature or --signature-file");
        }
        if (publicFile == "-" && signatureFile == "-") throw Error("only one option can read standard input");
        const std::string pem = PublicKey(publicFile);
        const std::string sig = signatureFile.empty() ? signature : ReadKeyFile(signatureFile, false);
        const bool valid = verifyRSASignature(pem, TrimLineEnds(sig), data()->TakeRest());
        Output out(outputPath);
        out.Line(valid ? "valid" : "invalid");
        out.Commit();
        status = valid ? 0 : 1;
    });

    auto* hash = command("hash", "SHA-256 of data as lowercase hex", true);
    hash->footer(Footer("the data from INPUT or standard input", std::string("the digest and a line end") + kHeldBack,
                        std::string(kNothing) + "exits 2", "printf abc | cryptutil hash"));
    hash->callback([&] {
        std::string digest(32, '\0');
        hashData(data()->TakeRest(), Bytes(digest));
        Output out(outputPath);
        out.Line(OPENSSL_hexstr2buf(digest));
        out.Commit();
    });

    auto* hex = app.add_subcommand("hex", "Hex text of data, or back");
    hex->require_subcommand(1);
    hex->footer("\nExample: printf hi | cryptutil hex encode | cryptutil hex decode\n");
    auto* hexEncode = hex->add_subcommand("encode", "Bytes to lowercase hex");
    hexEncode->add_option("INPUT", inputPath, "The data: a file, or '-' (the default) for standard input");
    hexEncode->add_option("-o,--output", outputPath, "Write the result to this file (replaced only on success)");
    hexEncode->footer(Footer("bytes from INPUT or standard input", std::string("their hex and a line end") + kHeldBack,
                             std::string(kNothing) + "exits 2", "printf hi | cryptutil hex encode"));
    hexEncode->callback([&] {
        const std::string bytes = data()->TakeRest();
        Output out(outputPath);
        out.Line(OPENSSL_hexstr2buf(bytes));
        out.Commit();
    });
    auto* hexDecode = hex->add_subcommand("decode", "Hex (either case) to bytes");
    hexDecode->add_option("INPUT", inputPath, "The data: a file, or '-' (the default) for standard input");
    hexDecode->add_option("-o,--output", outputPath, "Write the result to this file (replaced only on success)");
    hexDecode->footer(Footer("hex from INPUT or standard input (line ends at its end are ignored)",
                             std::string("the bytes") + kHeldBack,
                             std::string(kNothing) + "exits 1 for text that is not hex, 2 for unreadable input",
                             "echo 6869 | cryptutil hex decode"));
    hexDecode->callback([&] {
        const std::string bytes = FromHexText<Negative>("the input", data()->TakeRest());
        Output out(outputPath);
        out.Write(bytes);
        out.Commit();
    });

    auto* inspect = command("inspect", "Describe a transport text: its bytes, or what is wrong with it", true);
    inspect->add_option("--key", publicFile, "A PEM key file (public or private) whose k the text should have");
    inspect->add_flag("--hex", hexBytes, "Show the bytes as hex rather than standard base64");
    inspect->footer(Footer("a transport text from INPUT or standard input (line ends at its end are ignored)",
                           "its byte count and bytes, or what is wrong with it; notes on AES blocks and on k",
                           "exits 1 when it is not transport text, or not k bytes for --key; 2 for unreadable input",
                           "cryptutil inspect --key server.pub.pem wrapped.txt"));
    inspect->callback([&] {
        const std::string text = TrimLineEnds(data()->TakeRest());
        std::string bytes;
        const std::string problem = Diagnose(text, bytes);
        Output out(outputPath);
        if (!problem.empty()) {
            out.Line("not transport text: " + problem);
            out.Commit();
            status = 1;
            return;
        }
        out.Line("bytes: " + std::to_string(bytes.size()));
        out.Line(hexBytes ? "hex: " + OPENSSL_hexstr2buf(bytes) : "base64: " + Base64(bytes));
        if (bytes.size() % 16 != 0) out.Line("note: not whole 16-byte blocks, so no AES message ciphertext");
        if (!publicFile.empty()) {
            const std::size_t k = ModulusBytes(ReadKeyFile(publicFile, true), publicFile);
            if (bytes.size() != k) {
                out.Line("not " + std::to_string(k) + " bytes, as a wrapped key or a signature for this key is");
                status = 1;
            }
        }
        out.Commit();
    });

    auto* error = command("error", "Print the JSON error document", false);
    error->add_option("CODE", code)->required();
    error->add_option("MESSAGE", message)->required();
    error->footer(Footer("CODE and MESSAGE", std::string("the document and a line end") + kHeldBack,
                         std::string(kNothing) + "exits 2 for text that is not UTF-8",
                         "cryptutil error E42 \"key expired\""));
    error->callback([&] {
        std::string out;
        try {
            create_error(code, message, out);
        } catch (const nlohmann::json::exception&) {
            throw Error("CODE and MESSAGE must be UTF-8 text");
        }
        Output output(outputPath);
        output.Line(out);
        output.Commit();
    });

    command("now", "The current time at UTC+8", false)
        ->footer(Footer("nothing", std::string("the time text and a line end") + kHeldBack,
                        std::string(kNothing) + "exits 2", "cryptutil now"))
        ->callback([&] {
            Output out(outputPath);
            out.Line(currentISO8601TimeUTC());
            out.Commit();
        });
    command("demo", "Run the whole hybrid flow on a fresh key pair", false)
        ->footer(Footer("nothing", "each step's text", "exits 1 when a step does not round-trip", "cryptutil demo"))
        ->callback([&] {
            Output out(outputPath);
            status = Demo(out) ? 0 : 1;
            out.Commit();
        });

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ExtrasError&) {
        // CLI11's message repeats the arguments, and one of them may be a key.
        std::cerr << "cryptutil: unexpected arguments (see --help)\n";
        return 2;
    } catch (const CLI::ParseError& e) {
        std::cerr << "cryptutil: " << e.what() << " (see --help)\n";
        return 2;
    }
    if (helpAll) {
        std::cout << app.get_formatter()->make_help(&app, "cryptutil", CLI::AppFormatMode::Normal);
        for (CLI::App* cmd : app.get_subcommands({})) {
            for (CLI::App* leaf :
                 cmd->get_subcommands({}).empty() ? std::vector<CLI::App*>{cmd} : cmd->get_subcommands({})) {
                const std::string name = leaf == cmd ? cmd->get_name() : cmd->get_name() + " " + leaf->get_name();
                std::cout << "\n"
                          << app.get_formatter()->make_help(leaf, "cryptutil " + name, CLI::AppFormatMode::Normal);
            }
        }
    } else if (usage || app.get_subcommands().empty()) {
        std::cout << app.get_formatter()->make_help(&app, "cryptutil", CLI::AppFormatMode::Normal);
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_DFL);  // a closed pipe ends the tool, as it ends cat, whatever the parent set
    std::ios::sync_with_stdio(false);
    try {
        const int status = Run(argc, argv);
        std::cout.flush();
        return status;
    } catch (const Negative& e) {
        std::cerr << "cryptutil: " << e.what() << '\n';
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "cryptutil: " << e.what() << '\n';
        return 2;
    }
}
