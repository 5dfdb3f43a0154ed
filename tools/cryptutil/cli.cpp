#include "cli.h"

#include <iostream>
#include <map>
#include <regex>
#include <sstream>

#include "commands.h"
#include "common.h"

namespace tool {
namespace {

const char* const kFooter =
    "\nData comes from the file INPUT or standard input. Results go to -o FILE or standard output, only once "
    "the command has succeeded; until then they are in files no one else can read (mode 0600). -o replaces FILE "
    "whole, keeping its mode and owner; a new FILE that holds a key or a message is made 0600. -o on a symlink "
    "replaces the file it points to, as sed -i --follow-symlinks does; -o on a device or FIFO (/dev/null) "
    "writes to it on success. Standard output gets everything at the end: '>> log' appends it at log's end.\n\n"
    "Keys: --key-file takes a file, a pipe, <(command) or '-' (the front of standard input, before the data); "
    "--key puts the key where every local user can read it.\n\n"
    "Exit codes: 0 success, 1 a negative verdict (an invalid signature, a text that is not what it should be), "
    "2 a usage or I/O error (a bad option, a missing or broken key file, unreadable input, output that cannot "
    "be written). A closed pipe ends the tool by SIGPIPE (status 141), as it ends cat.\n\n"
    "Example: cryptutil keygen -o key.hex && echo hi | cryptutil encrypt --key-file key.hex\n";

std::string Footer(const Command& c) {
    return std::string("\n  Reads:    ") + c.reads + "\n  Writes:   " + c.writes + "\n  Failure:  " + c.failure +
           "\n  Example:  " + c.example + "\n";
}

void Print(const std::string& text) {
    errno = 0;
    if (!(std::cout << text).flush()) throw Error("cannot write the output: " + Cause());
}

std::string HelpOf(CLI::App& app, CLI::App* cmd, const std::string& name) {
    return app.get_formatter()->make_help(cmd, name, CLI::AppFormatMode::Normal);
}

// Option names and the words of command names are safe to show; anything else may be a key.
bool Shown(const std::string& token) {
    static const std::regex optionName("-{1,2}[A-Za-z][A-Za-z-]*");
    if (std::regex_match(token, optionName) || token == "help") return true;
    for (const Command& c : Commands()) {
        std::istringstream words(c.name);
        for (std::string word; words >> word;) {
            if (word == token) return true;
        }
    }
    return false;
}

}  // namespace

std::string Scrub(std::string message, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string token = argv[i];
        std::vector<std::string> values;
        if (!Shown(token)) values.push_back(token);
        const std::size_t eq = token.find('=');
        if (token.rfind("--", 0) == 0 && eq != std::string::npos) values.push_back(token.substr(eq + 1));  // --key=K
        if (token.size() > 2 && token[0] == '-' && token[1] != '-') values.push_back(token.substr(2));     // -kK
        for (const std::string& v : values) {
            if (v.size() < 4) continue;  // too short to give a key away, and would take words apart
            for (std::size_t at = 0; (at = message.find(v, at)) != std::string::npos;)
                message.replace(at, v.size(), "...");
        }
    }
    std::replace(message.begin(), message.end(), '\n', ' ');
    return message;
}

int Run(int argc, char** argv) {
    CLI::App app{"Produce and check cryptutil transport text (standard base64, '+' escaped as %2B)."};
    app.name("cryptutil");  // in every usage line, however the tool was started
    app.require_subcommand(0, 1);
    app.set_version_flag("--version", std::string("cryptutil ") + CRYPTUTIL_VERSION);
    bool helpAll = false;
    app.add_flag("--help-all", helpAll, "Print the help of every command (the manual page is made from it)");
    std::vector<std::string> helpWords;
    CLI::App* help = app.add_subcommand("help", "Print this usage, or the help of COMMAND");
    help->add_option("COMMAND", helpWords, "A command, such as encrypt or hex encode");
    app.footer(kFooter);

    std::map<std::string, CLI::App*> groups;
    std::vector<std::pair<CLI::App*, Action>> actions;
    for (const Command& c : Commands()) {
        CLI::App* parent = &app;
        std::string name = c.name;
        if (const std::size_t space = name.find(' '); space != std::string::npos) {
            const std::string group = name.substr(0, space);
            if (groups.count(group) == 0) {
                groups[group] = app.add_subcommand(group, GroupSummary(group));
                groups[group]->require_subcommand(1);
            }
            parent = groups[group];
            name = name.substr(space + 1);
        }
        CLI::App* cmd = parent->add_subcommand(name, c.summary);
        cmd->footer(Footer(c));
        actions.emplace_back(cmd, c.define(*cmd));
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        std::ostringstream out, err;
        app.exit(e, out, err);
        Print(out.str());
        return 0;
    } catch (const CLI::ParseError& e) {
        throw Error(std::string(e.what()) + " (see --help)");
    }
    if (helpAll) {  // the manual page: a heading per command (help2man makes "*NAME*" lines headings)
        std::string all = HelpOf(app, &app, "cryptutil");
        for (std::size_t i = 0; i < Commands().size(); ++i) {
            const std::string name = std::string("cryptutil ") + Commands()[i].name;
            std::string text = HelpOf(app, actions[i].first, name);
            text.replace(text.find("\nUsage:"), 1, "\n\n");              // the summary its own paragraph
            text.replace(text.find("\nOptions:"), 9, "\nIts options:");  // not the page's OPTIONS
            all += "\n*" + name + "*\n\n" + text;
        }
        Print(all);
        return 0;
    }
    if (help->parsed() || app.get_subcommands().empty()) {
        std::string name;
        for (const std::string& w : helpWords) name += (name.empty() ? "" : " ") + w;
        for (std::size_t i = 0; i < Commands().size(); ++i) {
            if (name == Commands()[i].name) {
                Print(HelpOf(app, actions[i].first, "cryptutil " + name));
                return 0;
            }
        }
        if (!name.empty() && groups.count(name) == 0) throw Error("no such command (see cryptutil --help)");
        Print(HelpOf(app, name.empty() ? &app : groups[name], name.empty() ? "cryptutil" : "cryptutil " + name));
        return 0;
    }
    for (auto& [cmd, action] : actions) {
        if (cmd->parsed()) return action();
    }
    return 0;
}

}  // namespace tool
