// The commands over keys and messages: keygen, encrypt, decrypt, wrap, unwrap, sign, verify. Each
// reads its keys first (a '-' key comes before the data on standard input), then the data.
#include "commands.h"
#include "common.h"
#include "cryptutil/stream.h"
#include "cryptutil/util.h"
#include "input.h"
#include "keys.h"
#include "output.h"

namespace tool {
namespace {

struct Keyed : Io {
    std::string keyHex, keyFile;
};

void AddKeyOptions(CLI::App& cmd, Keyed& o) {
    cmd.add_option("--key-file", o.keyFile,
                   "File or pipe holding the AES key as hex (<(...) and /dev/stdin work; '-': the first line of "
                   "standard input)");
    cmd.add_option("--key", o.keyHex,
                   "AES key as hex. Every local user can read it (ps, /proc) and shells keep it in their history: "
                   "use --key-file");
}

auto MakeKeyed(CLI::App& cmd, bool data) {
    auto o = std::make_shared<Keyed>();
    AddKeyOptions(cmd, *o);
    if (data) AddInput(cmd, *o);
    AddOutput(cmd, *o);
    return o;
}

}  // namespace

Action DefineKeygen(CLI::App& cmd) {
    auto o = std::make_shared<Keyed>();
    auto size = std::make_shared<int>(32);
    cmd.add_option("--size", *size, "Key length in bytes: 16, 24 or 32")->check(CLI::IsMember({16, 24, 32}));
    AddOutput(cmd, *o);
    return [o, size] {
        const std::string key = FreshBytes(static_cast<std::size_t>(*size));
        return OutputLine(o->output, Secrecy::kSecret, OPENSSL_hexstr2buf(key));
    };
}

Action DefineEncrypt(CLI::App& cmd) {
    auto o = MakeKeyed(cmd, true);
    return [o] {
        Sources sources;
        std::string key = AesKey(o->keyHex, o->keyFile, sources);
        Input& in = sources.Data(o->input);
        Output out(o->output, Secrecy::kPublic, &in.Status());
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
        return 0;
    };
}

Action DefineDecrypt(CLI::App& cmd) {
    auto o = MakeKeyed(cmd, true);
    return [o] {
        Sources sources;
        std::string key = AesKey(o->keyHex, o->keyFile, sources);
        Input& in = sources.Data(o->input);
        Output out(o->output, Secrecy::kSecret, &in.Status());
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
        return 0;
    };
}

Action DefineWrap(CLI::App& cmd) {
    auto o = MakeKeyed(cmd, false);
    auto pub = std::make_shared<std::string>();
    cmd.add_option("--public", *pub, "PEM public key file ('-': standard input)")->required();
    return [o, pub] {
        if (*pub == "-" && o->keyFile == "-") throw Error("only one option can read standard input");
        Sources sources;
        const std::string pem = PublicKey(*pub, "--public", sources);
        std::string key = AesKey(o->keyHex, o->keyFile, sources), text;
        if (EncryptKeyV2(Bytes(key), static_cast<int>(key.size()), pem, &text) < 0) throw Error("wrapping failed");
        return OutputLine(o->output, Secrecy::kPublic, text);
    };
}

// A command of a PEM private key (--private) and the data: `run(options, pem, data)` gives its exit
// status, the key read first, as every command reads a '-' key before the data.
template <typename Run>
Action WithPrivateKey(CLI::App& cmd, Run run) {
    auto o = std::make_shared<Keyed>();
    auto priv = std::make_shared<std::string>();
    cmd.add_option("--private", *priv, "PEM private key file ('-': standard input, before the data)")->required();
    AddInput(cmd, *o);
    AddOutput(cmd, *o);
    return [o, priv, run] {
        Sources sources;
        const std::string pem = PrivateKey(*priv, "--private", sources);
        return run(*o, pem, sources.Data(o->input).TakeRest());
    };
}

Action DefineUnwrap(CLI::App& cmd) {
    return WithPrivateKey(cmd, [](const Keyed& o, const std::string& pem, std::string data) {
        std::string text = TrimLineEnds(std::move(data));
        // Room for k bytes: a text that decodes to k bytes has more than k characters.
        std::string key(std::max<std::size_t>(text.size(), 1), '\0');
        const int n = DecryptKeyV2(std::move(text), pem, Bytes(key));
        if (n < 0) throw Negative("unwrapping failed: wrong key, or not the transport text of a wrapped key");
        key.resize(static_cast<std::size_t>(n));
        return OutputLine(o.output, Secrecy::kSecret, OPENSSL_hexstr2buf(key));
    });
}

Action DefineSign(CLI::App& cmd) {
    return WithPrivateKey(cmd, [](const Keyed& o, const std::string& pem, const std::string& data) {
        const std::string sig = createRSASignature(pem, data);
        if (sig.empty()) throw Error("signing failed");
        return OutputLine(o.output, Secrecy::kPublic, sig);
    });
}

Action DefineVerify(CLI::App& cmd) {
    auto o = std::make_shared<Keyed>();
    auto pub = std::make_shared<std::string>();
    auto sig = std::make_shared<std::string>();
    auto sigFile = std::make_shared<std::string>();
    cmd.add_option("--public", *pub, "PEM public key file ('-': standard input, before the data)")->required();
    auto* sigText = cmd.add_option("--signature", *sig, "Signature text");
    cmd.add_option("--signature-file", *sigFile, "File or pipe holding the signature text ('-': standard input)")
        ->excludes(sigText);
    AddInput(cmd, *o);
    AddOutput(cmd, *o);
    return [o, pub, sig, sigFile, sigText] {
        if (sigFile->empty() && sigText->count() == 0)
            throw Error("give the signature with --signature-file or --signature");
        if (*pub == "-" && *sigFile == "-") throw Error("only one option can read standard input");
        Sources sources;
        const std::string pem = PublicKey(*pub, "--public", sources);
        const std::string text = sigFile->empty() ? *sig : ReadKeySource(*sigFile, "--signature-file", false, sources);
        const bool valid = verifyRSASignature(pem, TrimLineEnds(text), sources.Data(o->input).TakeRest());
        Output out(o->output, Secrecy::kPublic);
        out.Line(valid ? "valid" : "invalid");
        out.Commit();
        return valid ? 0 : 1;
    };
}

}  // namespace tool
