#include "output.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/sendfile.h>

#include <climits>
#include <cstdlib>

namespace tool {
namespace {

constexpr std::size_t kHeld = 4 << 20;

void WriteAll(int fd, const char* p, std::size_t n, const std::string& what) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w > 0) {
            p += w;
            n -= static_cast<std::size_t>(w);
        } else if (w < 0 && errno == EAGAIN) {
            pollfd pfd{fd, POLLOUT, 0};
            ::poll(&pfd, 1, -1);
        } else if (w == 0 || errno != EINTR) {
            throw Error("cannot write " + what + ": " + Cause(w == 0 ? EIO : errno));
        }
    }
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return S_ISREG(a.st_mode) && S_ISREG(b.st_mode) && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

mode_t Umask() {
    const mode_t mask = ::umask(077);
    ::umask(mask);
    return mask;
}

}  // namespace

Output::Output(const std::string& path, Secrecy secrecy, const struct stat* input) : secrecy_(secrecy) {
    if (path.empty() || path == "-") {
        what_ = "the output";
        struct stat out {};
        if (input != nullptr && ::fstat(STDOUT_FILENO, &out) == 0 && SameFile(out, *input))
            throw Error("INPUT is also standard output");
        return;
    }
    what_ = "-o";
    // A symlink is followed to the file it names, which is then replaced, as sed -i --follow-symlinks
    // replaces it; a dangling one is refused.
    std::string resolved = path;
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
        if (!real) throw Error("cannot write -o: a symlink to nothing: " + Cause());
        resolved = real.get();
    }
    exists_ = ::stat(resolved.c_str(), &existing_) == 0;
    if (exists_ && S_ISDIR(existing_.st_mode)) throw Error("cannot write -o: it is a directory");
    if (exists_ && !S_ISREG(existing_.st_mode)) {  // a device (/dev/null) or FIFO: written to at the end
        device_ = resolved;
        return;
    }
    if (exists_ && input != nullptr && SameFile(existing_, *input)) throw Error("INPUT is also the -o file");
    const std::size_t slash = resolved.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : resolved.substr(0, slash);
    target_ = slash == std::string::npos ? resolved : resolved.substr(slash + 1);
    dir_ = Fd(::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir_) throw Error("cannot write -o: " + Cause());
    file_ = std::make_unique<TempFile>(dir_.get(), what_);
}

Output::~Output() = default;

void Output::Write(std::string_view s) {
    if (file_)
        WriteAll(file_->fd(), s.data(), s.size(), what_);
    else
        Hold(s);
}

void Output::Line(std::string_view s) {
    Write(std::string(s) + '\n');
}

void Output::Hold(std::string_view s) {
    if (!spool_ && held_.size() + s.size() <= kHeld) {
        held_ += s;
        return;
    }
    if (!spool_) {
        spool_ = std::make_unique<TempFile>(TempFile::Spool());
        WriteAll(spool_->fd(), held_.data(), held_.size(), "the output's spool in TMPDIR");
        std::string().swap(held_);
    }
    WriteAll(spool_->fd(), s.data(), s.size(), "the output's spool in TMPDIR");
}

void Output::Commit() {
    if (file_) {
        if (exists_) {  // the replaced file's owner where permitted, then its mode (chown may clear set-id bits)
            if (existing_.st_uid != ::geteuid() || existing_.st_gid != ::getegid())
                (void)!::fchown(file_->fd(), existing_.st_uid, existing_.st_gid);
        }
        const mode_t mode = exists_ ? existing_.st_mode & 07777 : secrecy_ == Secrecy::kSecret ? 0600 : 0666 & ~Umask();
        if (::fchmod(file_->fd(), mode) != 0) throw Error("cannot write -o: " + Cause());
        file_->LinkAs(target_);
        file_.reset();
        return;
    }
    if (device_.empty()) {
        Deliver(STDOUT_FILENO);
        return;
    }
    const Fd fd(::open(device_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
    if (!fd) throw Error("cannot write -o: " + Cause());
    Deliver(fd.get());
}

// What was held back, to `fd`: the spool copied by the kernel where it can.
void Output::Deliver(int fd) {
    struct stat st {};
    std::unique_ptr<SignalsHeld> held;  // a file gets all of it, even when a signal comes meanwhile
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) held = std::make_unique<SignalsHeld>();
    WriteAll(fd, held_.data(), held_.size(), what_);
    if (!spool_) return;
    off_t at = 0;
    const off_t end = ::lseek(spool_->fd(), 0, SEEK_END);
    while (at < end) {
        const ssize_t n = ::sendfile(fd, spool_->fd(), &at, static_cast<std::size_t>(end - at));
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd pfd{fd, POLLOUT, 0};
            ::poll(&pfd, 1, -1);
            continue;
        }
        if (n == 0 || (errno != EINVAL && errno != ENOSYS))
            throw Error("cannot write " + what_ + ": " + Cause(n == 0 ? EIO : errno));
        std::string buf(1 << 20, '\0');  // no sendfile to this kind of file
        for (ssize_t r = 0; at < end; at += r) {
            r = ::pread(spool_->fd(), buf.data(), buf.size(), at);
            if (r <= 0) throw Error("cannot read back the output's spool: " + Cause(r == 0 ? EIO : errno));
            WriteAll(fd, buf.data(), static_cast<std::size_t>(r), what_);
        }
    }
}

int OutputLine(const std::string& path, Secrecy secrecy, std::string_view line) {
    return OutputLine(path, secrecy, nullptr, line);
}

int OutputLine(const std::string& path, Secrecy secrecy, const struct stat* input, std::string_view line) {
    Output out(path, secrecy, input);
    out.Line(line);
    out.Commit();
    return 0;
}

}  // namespace tool
