// What a command writes, kept only if it succeeds, and readable by no one else before.
//  -o FILE (a regular file or a new one): a file of mode 0600 in FILE's directory, unnamed where the
//    system allows, given FILE's name at the end (a symlink's target is replaced). It then takes
//    FILE's mode and owner, or for a new file 0600 (a secret) or 0666 less the umask.
//  standard output, or -o naming a device or FIFO: held back (memory, then a 0600 spool in TMPDIR)
//    and written out at the end; a file opened for appending gets it at its end.
#ifndef CRYPTUTIL_TOOLS_OUTPUT_H
#define CRYPTUTIL_TOOLS_OUTPUT_H

#include <sys/stat.h>

#include <memory>
#include <string>
#include <string_view>

#include "common.h"
#include "temp_file.h"

namespace tool {

enum class Secrecy { kPublic, kSecret };  // a key or plaintext: new files are made 0600

class Output {
public:
    // `path` "" or "-" is standard output. The data's `input` may not be the output.
    Output(const std::string& path, Secrecy secrecy, const struct stat* input = nullptr);
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output();

    void Write(std::string_view s);
    void Line(std::string_view s);
    void Commit();

private:
    void Hold(std::string_view s);
    void Deliver(int fd);
    Secrecy secrecy_;
    std::string what_;             // the destination in messages
    std::string target_, device_;  // the name in the directory dir_, or the device opened at the end
    Fd dir_;
    std::unique_ptr<TempFile> file_;   // -o a regular file
    std::unique_ptr<TempFile> spool_;  // held back beyond memory
    std::string held_;
    struct stat existing_ {};
    bool exists_ = false;
};

// A command's one line of output, committed: returns the exit status 0.
int OutputLine(const std::string& path, Secrecy secrecy, std::string_view line);
int OutputLine(const std::string& path, Secrecy secrecy, const struct stat* input, std::string_view line);

}  // namespace tool

#endif
