// What every part of the tool shares: its two kinds of failure and a file descriptor owned.
#ifndef CRYPTUTIL_TOOLS_COMMON_H
#define CRYPTUTIL_TOOLS_COMMON_H

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace tool {

// Exit codes: 0 success, 1 a negative verdict (Negative), 2 a usage or I/O error (Error).
// Messages never repeat a value given on the command line: it may be a key.
struct Negative : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

inline std::string Cause(int err = errno) {
    return std::strerror(err != 0 ? err : EIO);
}

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) {
            Reset();
            fd_ = std::exchange(o.fd_, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int Release() { return std::exchange(fd_, -1); }
    void Reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

inline unsigned char* Bytes(std::string& s) {
    return reinterpret_cast<unsigned char*>(s.data());
}

}  // namespace tool

#endif
