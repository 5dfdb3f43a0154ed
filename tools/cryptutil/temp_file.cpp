#include "temp_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace tool {
namespace {

constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kNameSize = 32;

// What the handler removes: the only global state, and only what it strictly needs. Entries are
// changed with the signals blocked, so the handler never sees one half written.
struct Named {
    volatile sig_atomic_t used;
    int dir;
    char name[kNameSize];
};
std::array<Named, 4> named{};

extern "C" void RemoveNamed(int sig) {
    const int saved = errno;
    for (const Named& n : named) {
        if (n.used != 0) ::unlinkat(n.dir, n.name, 0);
    }
    errno = saved;
    std::raise(sig);  // the handler was reset: once it returns, the signal ends the process
}

std::string RandomName() {
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::random_device random;
    std::string name = ".cryptutil-";
    for (int i = 0; i < 12; ++i) name += digits[random() % 36];
    return name;
}

// Creates a new file of mode 0600 named by a fresh name in `dir` and records it in a free slot.
Fd CreateNamed(int dir, int& slot, std::string& name) {
    const SignalsHeld held;
    for (slot = 0; slot < static_cast<int>(named.size()) && named[static_cast<std::size_t>(slot)].used != 0; ++slot) {
    }
    if (slot == static_cast<int>(named.size())) throw Error("too many temporary files");
    for (int tries = 0; tries < 100; ++tries) {
        name = RandomName();
        Fd fd(::openat(dir, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd || errno != EEXIST) {
            if (!fd) return fd;
            Named& n = named[static_cast<std::size_t>(slot)];
            n.dir = dir;
            name.copy(n.name, kNameSize - 1);
            n.name[name.size()] = '\0';
            n.used = 1;
            return fd;
        }
    }
    return Fd();
}

void Forget(int slot) {
    if (slot >= 0) named[static_cast<std::size_t>(slot)].used = 0;
}

}  // namespace

SignalsHeld::SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kSignals) sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &old_);
}

SignalsHeld::~SignalsHeld() {
    sigprocmask(SIG_SETMASK, &old_, nullptr);
}

TempFile::TempFile(int dir, const std::string& what) : dir_(dir), what_(what) {
#ifdef O_TMPFILE
    // Linked in later through /proc/self/fd, so only where that is there.
    fd_ = Fd(::openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (fd_ && ::access(("/proc/self/fd/" + std::to_string(fd_.get())).c_str(), F_OK) == 0) return;
    fd_.Reset();
#endif
    std::string name;
    fd_ = CreateNamed(dir, slot_, name);
    if (!fd_) throw Error("cannot write " + what_ + ": " + Cause());
}

TempFile TempFile::Spool() {
    const char* tmpdir = std::getenv("TMPDIR");
    const Fd dir(::open(tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir) throw Error("cannot hold the output in TMPDIR: " + Cause());
    TempFile spool(dir.get(), "the output's spool in TMPDIR");
    if (spool.slot_ >= 0) {
        const SignalsHeld held;
        ::unlinkat(dir.get(), named[static_cast<std::size_t>(spool.slot_)].name, 0);
        Forget(spool.slot_);
        spool.slot_ = -1;
    }
    spool.dir_ = -1;
    return spool;
}

TempFile::TempFile(TempFile&& o) noexcept
    : fd_(std::move(o.fd_)), dir_(o.dir_), slot_(std::exchange(o.slot_, -1)), what_(std::move(o.what_)) {}

TempFile::~TempFile() {
    if (slot_ < 0) return;
    const SignalsHeld held;
    ::unlinkat(dir_, named[static_cast<std::size_t>(slot_)].name, 0);
    Forget(slot_);
}

void TempFile::LinkAs(const std::string& name) {
    const SignalsHeld held;  // between its naming and the rename, a signal would leave it behind
    int err = 0;
    if (slot_ >= 0) {
        if (::renameat(dir_, named[static_cast<std::size_t>(slot_)].name, dir_, name.c_str()) != 0) err = errno;
        if (err == 0) Forget(std::exchange(slot_, -1));
    } else {
        std::string temp;
        int ok = -1;
        for (int tries = 0; tries < 100 && ok != 0; ++tries) {
            temp = RandomName();
            ok = ::linkat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(fd_.get())).c_str(), dir_, temp.c_str(),
                          AT_SYMLINK_FOLLOW);
            if (ok != 0 && errno != EEXIST) break;
        }
        if (ok != 0 || ::renameat(dir_, temp.c_str(), dir_, name.c_str()) != 0) {
            err = errno;
            if (ok == 0) ::unlinkat(dir_, temp.c_str(), 0);
        }
    }
    if (err != 0) throw Error("cannot write " + what_ + ": " + Cause(err));
}

void InstallSignalCleanup() {
    for (int sig : kSignals) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;  // nohup's choice stays
        struct sigaction sa {};
        sa.sa_handler = RemoveNamed;
        sigemptyset(&sa.sa_mask);
        for (int other : kSignals) sigaddset(&sa.sa_mask, other);
        sa.sa_flags = static_cast<int>(SA_RESETHAND);
        sigaction(sig, &sa, nullptr);
    }
}

}  // namespace tool
