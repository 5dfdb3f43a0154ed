// inspect: the verdict and the bytes are the library's reader's; only the wording of what is wrong
// is the tool's own, tried in order from the plainest cause.
#include "inspect.h"

#include <openssl/evp.h>

#include "commands.h"
#include "common.h"
#include "crypto_library.h"
#include "cryptutil/util.h"
#include "input.h"
#include "keys.h"
#include "output.h"
#include "transport_text.h"

namespace tool {
namespace {

bool Reads(const std::string& text) {
    std::string bytes;
    return cryptutil::detail::FromTransportText(text, bytes);
}

std::string Diagnose(const std::string& text) {
    if (text.find_first_of("\r\n") != std::string::npos) return "it is wrapped into lines: transport text is one line";
    if (text.find_first_of("-_") != std::string::npos)
        return "it uses the URL-safe alphabet ('-' and '_'): transport text is standard base64";
    const std::size_t pad = text.find('=');
    if (pad != std::string::npos && text.find_first_not_of('=', pad) != std::string::npos)
        return "'=' stands inside it: padding ends base64";
    if (Reads(text + "=") || Reads(text + "=="))
        return "its length is not a multiple of 4 once unescaped: its padding is missing or it is cut";
    if (text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=%") !=
        std::string::npos)
        return "it holds characters that are neither base64 nor an escape";
    return "it is not base64 once unescaped: cut, or padded where no padding belongs";
}

std::size_t Encode(std::string& out, const std::string& in) {
    return static_cast<std::size_t>(EVP_EncodeBlock(Bytes(out), reinterpret_cast<const unsigned char*>(in.data()),
                                                    cryptutil::detail::LengthFor<2>(EVP_EncodeBlock, in.size())));
}

std::string Base64(const std::string& bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    text.resize(Encode(text, bytes));
    return text;
}

struct Options : Io {
    std::string key;
    bool hex = false;
};

}  // namespace

Inspection Inspect(const std::string& raw) {
    Inspection result;
    const std::string text = TrimLineEnds(raw);
    result.reads = cryptutil::detail::FromTransportText(text, result.bytes);
    if (!result.reads) {
        result.bytes.clear();
        result.problem = Diagnose(text);
    }
    return result;
}

Action DefineInspect(CLI::App& cmd) {
    auto o = std::make_shared<Options>();
    cmd.add_option("--key", o->key, "A PEM key file (public or private) whose k the text should have ('-': first)");
    cmd.add_flag("--hex", o->hex, "Show the bytes as hex rather than standard base64");
    AddInput(cmd, *o);
    AddOutput(cmd, *o);
    return [o] {
        Sources sources;
        std::size_t k = 0;
        if (!o->key.empty() && (k = ModulusBytes(ReadKeySource(o->key, "--key", true, sources))) == 0)
            throw Error("--key is not a PEM RSA key the library reads");
        const Inspection seen = Inspect(sources.Data(o->input).TakeRest());
        Output out(o->output, Secrecy::kPublic);
        int status = 0;
        if (!seen.reads) {
            out.Line("not transport text: " + seen.problem);
            status = 1;
        } else {
            out.Line("bytes: " + std::to_string(seen.bytes.size()));
            out.Line(o->hex ? "hex: " + OPENSSL_hexstr2buf(seen.bytes) : "base64: " + Base64(seen.bytes));
            if (seen.bytes.size() % 16 != 0) out.Line("note: not whole 16-byte blocks, so no AES message ciphertext");
            if (k != 0 && seen.bytes.size() != k) {
                out.Line("not " + std::to_string(k) + " bytes, as a wrapped key or a signature for this key is");
                status = 1;
            }
        }
        out.Commit();
        return status;
    };
}

}  // namespace tool
