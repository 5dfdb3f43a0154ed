// Files of mode 0600 that hold output until it is complete. Where the system has O_TMPFILE they
// have no name until they are linked in whole; elsewhere they are named, and removed on SIGINT,
// SIGTERM and SIGHUP as well as by the destructor.
#ifndef CRYPTUTIL_TOOLS_TEMP_FILE_H
#define CRYPTUTIL_TOOLS_TEMP_FILE_H

#include <csignal>
#include <string>

#include "common.h"

namespace tool {

class TempFile {
public:
    // A file in the directory `dir` (a descriptor kept open by the caller); `what` names the
    // destination in messages.
    TempFile(int dir, const std::string& what);
    // A file only to read back, in TMPDIR (or /tmp): never named for longer than its creation.
    static TempFile Spool();
    ~TempFile();
    TempFile(TempFile&&) noexcept;
    TempFile& operator=(TempFile&&) = delete;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd() const { return fd_.get(); }
    // Gives the file the name `name` in its directory, replacing a file of that name atomically.
    void LinkAs(const std::string& name);

private:
    TempFile() = default;
    Fd fd_;
    int dir_ = -1;
    int slot_ = -1;  // the signal handler's record of its name, while it has one
    std::string what_;
};

// Holds SIGINT, SIGTERM and SIGHUP back for its lifetime: what it covers is done whole or not at all.
class SignalsHeld {
public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t old_;
};

// Has SIGINT, SIGTERM and SIGHUP (those not ignored at start) remove the named temporary files first.
void InstallSignalCleanup();

}  // namespace tool

#endif
