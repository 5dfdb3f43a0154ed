// cryptutil: produce and check the library's transport text by hand and in scripts. Here: the exit
// codes and the signals; the commands are in the command table (command_table.cpp).
#include <csignal>
#include <exception>
#include <iostream>

#include "cli.h"
#include "common.h"
#include "temp_file.h"

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_DFL);  // a closed pipe ends the tool, as it ends cat, whatever the parent set
    tool::InstallSignalCleanup();
    std::ios::sync_with_stdio(false);
    int status = 2;
    std::string message;
    try {
        status = tool::Run(argc, argv);
    } catch (const tool::Negative& e) {
        status = 1;
        message = e.what();
    } catch (const std::exception& e) {
        message = e.what();
    }
    if (!message.empty()) std::cerr << "cryptutil: " << tool::Scrub(message, argc, argv) << '\n';
    return status;
}
