// The command table: each command's name, summary, help and options, and what it does. main builds
// the command line, --help, `help COMMAND` and the manual page from it.
#ifndef CRYPTUTIL_TOOLS_COMMANDS_H
#define CRYPTUTIL_TOOLS_COMMANDS_H

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tool {

// Adds a command's options to `cmd` and returns its action, whose result is the exit code.
using Action = std::function<int()>;
using Define = Action (*)(CLI::App& cmd);

struct Command {
    const char* name;  // "hex encode": the word "encode" of the group "hex"
    const char* summary;
    const char* reads;
    const char* writes;
    const char* failure;
    const char* example;
    Define define;
};

const std::vector<Command>& Commands();
// The summary of a group of commands ("hex").
const char* GroupSummary(const std::string& group);

// The options most commands share.
struct Io {
    std::string input, output;
};
void AddInput(CLI::App& cmd, Io& io);
void AddOutput(CLI::App& cmd, Io& io);

Action DefineKeygen(CLI::App& cmd);
Action DefineEncrypt(CLI::App& cmd);
Action DefineDecrypt(CLI::App& cmd);
Action DefineWrap(CLI::App& cmd);
Action DefineUnwrap(CLI::App& cmd);
Action DefineSign(CLI::App& cmd);
Action DefineVerify(CLI::App& cmd);
Action DefineHash(CLI::App& cmd);
Action DefineHexEncode(CLI::App& cmd);
Action DefineHexDecode(CLI::App& cmd);
Action DefineInspect(CLI::App& cmd);
Action DefineError(CLI::App& cmd);
Action DefineNow(CLI::App& cmd);
Action DefineDemo(CLI::App& cmd);

}  // namespace tool

#endif
