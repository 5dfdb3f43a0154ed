// A small cursor over DER, for the outer structures of keys.
#ifndef CRYPTUTIL_SRC_DER_H
#define CRYPTUTIL_SRC_DER_H

#include <cstddef>
#include <cstring>

namespace cryptutil::detail {

inline constexpr unsigned char kDerSequence = 0x30, kDerInteger = 0x02, kDerBitString = 0x03, kDerOctetString = 0x04,
                               kDerOid = 0x06;

// A cursor over DER: one-byte tags, definite lengths.
class Der {
public:
    Der() = default;
    Der(const unsigned char* p, std::size_t n) : p_(p), n_(n) {}

    // Takes the next element if its tag is `tag`, its contents into `contents`; false (and
    // nothing taken) otherwise.
    bool Take(unsigned char tag, Der& contents) {
        if (n_ < 2 || p_[0] != tag) return false;
        std::size_t len = p_[1], header = 2;
        if (len >= 0x80) {
            const std::size_t lengthBytes = len & 0x7F;
            if (lengthBytes == 0 || lengthBytes > 4 || n_ - 2 < lengthBytes) return false;
            len = 0;
            for (std::size_t i = 0; i < lengthBytes; ++i) len = len << 8 | p_[2 + i];
            header += lengthBytes;
        }
        if (n_ - header < len) return false;
        contents = Der(p_ + header, len);
        p_ += header + len;
        n_ -= header + len;
        return true;
    }
    bool Is(const unsigned char* bytes, std::size_t n) const { return n_ == n && std::memcmp(p_, bytes, n) == 0; }
    bool Empty() const { return n_ == 0; }
    const unsigned char* data() const { return p_; }
    std::size_t size() const { return n_; }

private:
    const unsigned char* p_ = nullptr;
    std::size_t n_ = 0;
};

}  // namespace cryptutil::detail

#endif
