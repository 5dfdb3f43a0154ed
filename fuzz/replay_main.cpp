// A fuzz target without libFuzzer, for ctest: every file of its corpus, the empty and every
// one-byte input, then inputs made from the corpus by a fixed-seed generator (bytes changed,
// inserted, erased, cut, and two inputs spliced), so that each run checks the same inputs.
//   TARGET_replay CORPUS_DIR COUNT
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// The input being run, written to "replay-crash" if the target aborts, as libFuzzer keeps its own.
const std::string* current = nullptr;

void KeepCrash(int) {
    const int fd = ::open("replay-crash", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0 && current != nullptr) static_cast<void>(::write(fd, current->data(), current->size()));
    std::_Exit(1);
}

void Run(const std::string& input) {
    current = &input;
    // A copy of exactly the input's size, so that a read past it is an error under ASan.
    std::vector<std::uint8_t> bytes(input.begin(), input.end());
    LLVMFuzzerTestOneInput(bytes.empty() ? nullptr : bytes.data(), bytes.size());
}

std::string Mutated(std::string s, const std::vector<std::string>& corpus, std::mt19937& gen) {
    for (unsigned edits = 1 + gen() % 4; edits-- > 0;) {
        const std::size_t at = s.empty() ? 0 : gen() % s.size();
        switch (gen() % 6) {
            case 0:
                if (!s.empty()) s[at] = static_cast<char>(gen());
                break;
            case 1: s.insert(at, 1 + gen() % 8, static_cast<char>(gen())); break;
            case 2: s.erase(at, 1 + gen() % 8); break;
            case 3: s.resize(at); break;
            case 4:
                if (!s.empty()) s[at] = "%+=/-_\n\r \0A"[gen() % 11];
                break;
            default: {
                const std::string& other = corpus[gen() % corpus.size()];
                s = s.substr(0, at) + other.substr(other.empty() ? 0 : gen() % other.size());
            }
        }
    }
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR COUNT\n", argv[0]);
        return 2;
    }
    std::signal(SIGABRT, KeepCrash);
    std::vector<std::string> corpus;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
        std::ifstream in(entry.path(), std::ios::binary);
        corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (corpus.empty()) {
        std::fprintf(stderr, "no corpus in %s\n", argv[1]);
        return 2;
    }
    for (const std::string& input : corpus) Run(input);
    Run("");
    for (int b = 0; b < 256; ++b) Run(std::string(1, static_cast<char>(b)));
    std::mt19937 gen(1);
    const long count = std::strtol(argv[2], nullptr, 10);
    for (long i = 0; i < count; ++i) Run(Mutated(corpus[gen() % corpus.size()], corpus, gen));
    std::printf("%zu corpus inputs, 257 short ones and %ld generated: no invariant broken\n", corpus.size(), count);
    return 0;
}
