// Data read as it is needed, from a file, a pipe or standard input.
#ifndef CRYPTUTIL_TOOLS_INPUT_H
#define CRYPTUTIL_TOOLS_INPUT_H

#include <sys/stat.h>

#include <cstddef>
#include <memory>
#include <string>

#include "common.h"

namespace tool {

class Input {
public:
    // `name` is what messages call it ("INPUT", "standard input", "--key-file"). Not `owned`: left open.
    Input(Fd fd, std::string name, bool owned = true);
    ~Input();
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    // The next line (its line end kept), the next PEM block (through its END line), or all that is
    // left; an Error past `limit` bytes.
    std::string TakeLine(std::size_t limit);
    std::string TakePem(std::size_t limit);
    std::string TakeRest(std::size_t limit = static_cast<std::size_t>(-1));
    // The next part of what is left, at most a read's worth; empty at the end.
    std::string TakeChunk();
    const struct stat& Status() const { return st_; }

private:
    bool Fill();
    std::string Take(std::size_t n);
    std::string TakeUntil(std::size_t (*end)(const std::string&), std::size_t limit);
    Fd fd_;
    bool owned_;
    std::string name_, rest_;
    struct stat st_ {};
    bool eof_ = false;
};

// What one command reads: standard input, from whose front a key given as '-' is taken first, and
// the data, the file INPUT or what is left of standard input (for none or '-').
class Sources {
public:
    Input& Standard();
    Input& Data(const std::string& path);

private:
    std::unique_ptr<Input> standard_, file_;
};
// A key or signature source: opened, then what was opened checked (a regular file or a pipe; never
// a directory or device), read up to `limit` bytes.
std::unique_ptr<Input> OpenKeySource(const std::string& path, const std::string& option);

}  // namespace tool

#endif
