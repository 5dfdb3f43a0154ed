#include "input.h"

#include <fcntl.h>
#include <poll.h>

namespace tool {
namespace {

constexpr std::size_t kChunk = 1 << 20;

std::size_t LineEnd(const std::string& s) {
    const std::size_t at = s.find('\n');
    return at == std::string::npos ? at : at + 1;
}

std::size_t PemEnd(const std::string& s) {
    const std::size_t end = s.find("-----END ");
    const std::size_t eol = end == std::string::npos ? end : s.find('\n', end);
    return eol == std::string::npos ? eol : eol + 1;
}

}  // namespace

Input::Input(Fd fd, std::string name, bool owned) : fd_(std::move(fd)), owned_(owned), name_(std::move(name)) {
    if (::fstat(fd_.get(), &st_) != 0) st_ = {};  // a closed standard input: its first read says so
}

Input::~Input() {
    if (!owned_) (void)fd_.Release();
}

std::string Input::TakeLine(std::size_t limit) {
    return TakeUntil(LineEnd, limit);
}

std::string Input::TakePem(std::size_t limit) {
    return TakeUntil(PemEnd, limit);
}

std::string Input::TakeRest(std::size_t limit) {
    while (rest_.size() <= limit && Fill()) {
    }
    if (rest_.size() > limit) throw Error(name_ + " is over 1 MiB: no key or signature");
    return Take(rest_.size());
}

std::string Input::TakeChunk() {
    if (rest_.empty()) Fill();
    std::string chunk;
    chunk.swap(rest_);  // not copied: a chunk is a megabyte
    return chunk;
}

std::string Input::TakeUntil(std::size_t (*end)(const std::string&), std::size_t limit) {
    std::size_t at = 0;
    while ((at = end(rest_)) == std::string::npos && rest_.size() <= limit && Fill()) {
    }
    if (at == std::string::npos) at = rest_.size();
    if (at > limit) throw Error(name_ + " is over 1 MiB: no key or signature");
    return Take(at);
}

// One read. A pipe is waited for by poll, which (unlike a read without blocking) also waits for a
// FIFO's first writer.
bool Input::Fill() {
    if (eof_) return false;
    const std::size_t old = rest_.size();
    rest_.resize(old + kChunk);
    for (;;) {
        pollfd p{fd_.get(), POLLIN, 0};
        if (S_ISFIFO(st_.st_mode) && ::poll(&p, 1, -1) < 0 && errno == EINTR) continue;
        const ssize_t n = ::read(fd_.get(), &rest_[old], kChunk);
        if (n >= 0) {
            rest_.resize(old + static_cast<std::size_t>(n));
            eof_ = n == 0;
            return !eof_;
        }
        if (errno == EINTR || ((errno == EAGAIN || errno == EWOULDBLOCK) && S_ISFIFO(st_.st_mode))) continue;
        const int err = errno;
        rest_.resize(old);
        throw Error("cannot read " + name_ + ": " + Cause(err));
    }
}

std::string Input::Take(std::size_t n) {
    std::string head = rest_.substr(0, n);
    rest_.erase(0, n);
    return head;
}

Input& Sources::Standard() {
    if (!standard_) standard_ = std::make_unique<Input>(Fd(STDIN_FILENO), "standard input", false);
    return *standard_;
}

Input& Sources::Data(const std::string& path) {
    if (path.empty() || path == "-") return Standard();
    Fd fd(::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
    if (!fd) throw Error("cannot read INPUT: " + Cause());
    file_ = std::make_unique<Input>(std::move(fd), "INPUT");
    return *file_;
}

// Opened without blocking, so that neither a device nor a FIFO with no writer yet holds us before
// the check; a FIFO's reads then wait for its writer (Fill's poll).
std::unique_ptr<Input> OpenKeySource(const std::string& path, const std::string& option) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) throw Error("cannot read " + option + ": " + Cause());
    auto in = std::make_unique<Input>(std::move(fd), option);
    const mode_t type = in->Status().st_mode & S_IFMT;
    if (type != S_IFREG && type != S_IFIFO) {
        throw Error("cannot read " + option + ": not a regular file or a pipe");
    }
    return in;
}

}  // namespace tool
