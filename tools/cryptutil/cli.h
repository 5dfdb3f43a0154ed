// The command line, built from the command table: parsing, the help, and running the command.
#ifndef CRYPTUTIL_TOOLS_CLI_H
#define CRYPTUTIL_TOOLS_CLI_H

#include <string>

namespace tool {

// Runs the tool; returns its exit code, or throws Negative (1) or another exception (2).
int Run(int argc, char** argv);
// `message` with every value of the command line taken out: any one of them may be a key.
std::string Scrub(std::string message, int argc, char** argv);

}  // namespace tool

#endif
