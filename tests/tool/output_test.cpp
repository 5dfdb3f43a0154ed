// The tool's output: nothing at the destination before Commit, nothing left by a failure (a
// destruction without Commit), modes and owners, and bytes others append kept.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "output.h"
#include "test_support.h"

namespace fs = std::filesystem;
using tool::Output;
using tool::Secrecy;

namespace {

struct stat Stat(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return st;
}

class OutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/cryptutil-output-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        fs::create_directory(dir_ / "tmp");
        ::setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
        oldMask_ = ::umask(022);
    }
    void TearDown() override {
        ::umask(oldMask_);
        fs::remove_all(dir_);
    }
    // The names in the work directory and in TMPDIR, so that nothing left behind goes unseen.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& d : {dir_, dir_ / "tmp"}) {
            for (const auto& e : fs::directory_iterator(d)) names.push_back(e.path().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    fs::path dir_;
    mode_t oldMask_ = 0;
};

// Sizes on each side of what is held in memory before the spool: empty, one byte, 4 MiB.
const std::size_t kSizes[] = {0, 1, (4u << 20) - 1, (4u << 20) + 1};

std::string Payload(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 131 + 7);
    return s;
}

TEST_F(OutputTest, FileAppearsWholeOnCommitAndNothingOtherwise) {
    for (const Secrecy secrecy : {Secrecy::kPublic, Secrecy::kSecret}) {
        for (const std::size_t n : kSizes) {
            for (const bool existing : {false, true}) {
                for (const bool commit : {false, true}) {
                    SCOPED_TRACE(std::to_string(n) + (existing ? " existing" : " new") +
                                 (commit ? " commit" : " fail"));
                    const fs::path out = dir_ / std::string(255, 'x');  // the longest name a directory takes
                    fs::remove(out);
                    if (existing) {
                        testing_support::WriteFile(out, "old");
                        ::chmod(out.c_str(), 0640);
                        if (::geteuid() == 0) {
                            ASSERT_EQ(::chown(out.c_str(), 65534, 65534), 0);
                        }
                    }
                    const auto before = Names();
                    {
                        Output o(out.string(), secrecy);
                        o.Write(Payload(n));
                        EXPECT_EQ(Names(), before);  // nothing named yet, beside it or in TMPDIR
                        EXPECT_EQ(existing ? testing_support::ReadFile(out) : "", existing ? "old" : "");
                        if (commit) o.Commit();
                    }
                    if (!commit) {
                        EXPECT_EQ(Names(), before);
                        continue;
                    }
                    EXPECT_EQ(testing_support::ReadFile(out), Payload(n));
                    EXPECT_EQ(Stat(out).st_mode & 07777, existing ? 0640 : secrecy == Secrecy::kSecret ? 0600 : 0644);
                    EXPECT_TRUE(!existing || ::geteuid() != 0 || Stat(out).st_uid == 65534u);
                }
            }
        }
    }
}

TEST_F(OutputTest, SymlinkTargetReplacedDanglingAndDirectoryRefused) {
    testing_support::WriteFile(dir_ / "target", "old");
    fs::create_symlink("target", dir_ / "link");
    {
        Output o((dir_ / "link").string(), Secrecy::kPublic);
        o.Write("new");
        o.Commit();
    }
    EXPECT_TRUE(fs::is_symlink(dir_ / "link"));
    EXPECT_EQ(testing_support::ReadFile(dir_ / "target"), "new");
    fs::create_symlink("nowhere", dir_ / "dangling");
    EXPECT_THROW(Output((dir_ / "dangling").string(), Secrecy::kPublic), tool::Error);
    EXPECT_THROW(Output(dir_.string(), Secrecy::kPublic), tool::Error);
    EXPECT_FALSE(fs::exists(dir_ / "nowhere"));
}

TEST_F(OutputTest, DeviceWrittenOnlyOnCommit) {
    Output o("/dev/full", Secrecy::kPublic);
    o.Write("x");  // held back: the full device has not failed yet
    EXPECT_THROW(o.Commit(), tool::Error);
}

TEST_F(OutputTest, InputThatIsTheOutputRefused) {
    testing_support::WriteFile(dir_ / "f", "data");
    struct stat st = Stat(dir_ / "f");
    EXPECT_THROW(Output((dir_ / "f").string(), Secrecy::kPublic, &st), tool::Error);
    EXPECT_EQ(testing_support::ReadFile(dir_ / "f"), "data");
}

// Standard output redirected to a file for the length of a test.
class Redirect {
public:
    Redirect(const fs::path& p, int flags) : saved_(::dup(STDOUT_FILENO)) {
        std::fflush(stdout);
        const int fd = ::open(p.c_str(), flags, 0644);
        ::dup2(fd, STDOUT_FILENO);
        ::close(fd);
    }
    ~Redirect() {
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
    }

private:
    int saved_;
};

TEST_F(OutputTest, StandardOutputGetsAllAtItsEndOnSuccessOnly) {
    for (const std::size_t n : kSizes) {
        for (const bool commit : {false, true}) {
            SCOPED_TRACE(std::to_string(n) + (commit ? " commit" : " fail"));
            const fs::path log = dir_ / "log";
            testing_support::WriteFile(log, "mine\n");
            {
                const Redirect redirect(log, O_WRONLY | O_APPEND);
                Output o("-", Secrecy::kSecret);
                o.Write(Payload(n));
                EXPECT_EQ(testing_support::ReadFile(log), "mine\n");  // nothing of it yet
                std::ofstream(log, std::ios::app) << "theirs\n";      // another process appends meanwhile
                EXPECT_EQ(fs::directory_iterator(dir_ / "tmp"), fs::directory_iterator());  // the spool is unnamed
                if (commit) o.Commit();
            }
            EXPECT_EQ(testing_support::ReadFile(log), "mine\ntheirs\n" + (commit ? Payload(n) : ""));
        }
    }
}

TEST_F(OutputTest, SpoolGoesToTmpdir) {
    ::setenv("TMPDIR", (dir_ / "missing").c_str(), 1);
    const Redirect redirect(dir_ / "out", O_WRONLY | O_CREAT);
    Output o("-", Secrecy::kPublic);
    o.Write(Payload(1000));  // in memory: no spool needed
    EXPECT_THROW(o.Write(Payload(4u << 20)), tool::Error);
}

}  // namespace
