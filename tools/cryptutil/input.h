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
    // `name` is what messages call it ("INPUT", "standard input", "--key-file").
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

// Standard input, shared by a key given as '-' (read first) and the data.
Input& StandardInput();
// The data of a command: the file INPUT, or standard input for none or '-'.
Input& DataInput(const std::string& path, std::unique_ptr<Input>& file);
// A key or signature source: opened, then what was opened checked (a regular file or a pipe; never
// a directory or device), read up to `limit` bytes.
std::unique_ptr<Input> OpenKeySource(const std::string& path, const std::string& option);

}  // namespace tool

#endif
