// The commands over plain text: hash, hex encode, hex decode, error, now.
#include "commands.h"
#include "common.h"
#include "cryptutil/util.h"
#include "input.h"
#include "keys.h"
#include "output.h"

namespace tool {
namespace {

std::shared_ptr<Io> DataOptions(CLI::App& cmd) {
    auto o = std::make_shared<Io>();
    AddInput(cmd, *o);
    AddOutput(cmd, *o);
    return o;
}

}  // namespace

Action DefineHash(CLI::App& cmd) {
    auto o = DataOptions(cmd);
    return [o] {
        std::string digest(32, '\0');
        Sources sources;
        hashData(sources.Data(o->input).TakeRest(), Bytes(digest));
        return OutputLine(o->output, Secrecy::kPublic, OPENSSL_hexstr2buf(digest));
    };
}

Action DefineHexEncode(CLI::App& cmd) {
    auto o = DataOptions(cmd);
    return [o] {
        Sources sources;
        Input& in = sources.Data(o->input);
        const std::string bytes = in.TakeRest();
        return OutputLine(o->output, Secrecy::kPublic, &in.Status(), OPENSSL_hexstr2buf(bytes));
    };
}

Action DefineHexDecode(CLI::App& cmd) {
    auto o = DataOptions(cmd);
    return [o] {
        Sources sources;
        Input& in = sources.Data(o->input);
        const std::string bytes = HexBytes("the input", in.TakeRest(), true);
        Output out(o->output, Secrecy::kPublic, &in.Status());
        out.Write(bytes);
        out.Commit();
        return 0;
    };
}

Action DefineError(CLI::App& cmd) {
    auto o = std::make_shared<Io>();
    auto code = std::make_shared<std::string>();
    auto message = std::make_shared<std::string>();
    cmd.add_option("CODE", *code)->required();
    cmd.add_option("MESSAGE", *message)->required();
    AddOutput(cmd, *o);
    return [o, code, message] {
        std::string text;
        try {
            create_error(*code, *message, text);
        } catch (const nlohmann::json::exception&) {
            throw Error("CODE and MESSAGE must be UTF-8 text");
        }
        return OutputLine(o->output, Secrecy::kPublic, text);
    };
}

Action DefineNow(CLI::App& cmd) {
    auto o = std::make_shared<Io>();
    AddOutput(cmd, *o);
    return [o] { return OutputLine(o->output, Secrecy::kPublic, currentISO8601TimeUTC()); };
}

}  // namespace tool
