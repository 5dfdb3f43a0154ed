// A cursor over DER, for the structure of keys: one-byte tags, definite lengths in their shortest
// form, nothing left over. Tags and lengths are a key's public structure, as BoringSSL treats them:
// they are declassified as they are read and may decide branches. Contents stay secret.
#ifndef CRYPTUTIL_SRC_DER_H
#define CRYPTUTIL_SRC_DER_H

#include <cstddef>
#include <cstring>

#include "constant_time.h"

namespace cryptutil::detail {

inline constexpr unsigned char kDerSequence = 0x30, kDerInteger = 0x02, kDerBitString = 0x03, kDerOctetString = 0x04,
                               kDerNull = 0x05, kDerOid = 0x06, kDerSet = 0x31;

class Der {
public:
    Der() = default;
    Der(const unsigned char* p, std::size_t n) : p_(p), n_(n) {}

    // Takes the next element if its tag is `tag`, its contents into `contents`; false (and
    // nothing taken) otherwise, and for a length that is indefinite or not in its shortest form.
    bool Take(unsigned char tag, Der& contents) {
        if (n_ < 2) return false;
        Declassify(p_, 2);
        std::size_t len = p_[1], header = 2;
        if (p_[0] != tag) return false;
        if (len >= 0x80) {
            const std::size_t bytes = len & 0x7F;
            if (bytes == 0 || bytes > 4 || n_ - 2 < bytes) return false;
            Declassify(p_ + 2, bytes);
            len = 0;
            for (std::size_t i = 0; i < bytes; ++i) len = len << 8 | p_[2 + i];
            if (len < 0x80 || p_[2] == 0) return false;
            header += bytes;
        }
        if (n_ - header < len) return false;
        contents = Der(p_ + header, len);
        p_ += header + len;
        n_ -= header + len;
        return true;
    }
    // Takes an INTEGER that is not negative and in its shortest form (decided without a branch on
    // its bytes); `value` gets its contents, the 0x00 before a high bit included.
    bool TakeUnsigned(Der& value) {
        if (!Take(kDerInteger, value) || value.Empty()) return false;
        const unsigned first = value.p_[0], second = value.n_ > 1 ? value.p_[1] : 0x80U;
        return Declassified(InRange(first, 0x80, 0xFF) | (Equal(first, 0) & InRange(second, 0, 0x7F))) == 0;
    }
    // Whether the contents are these bytes (public ones: an OID, a version).
    bool Is(const unsigned char* bytes, std::size_t n) const {
        Declassify(p_, n_);
        return n_ == n && std::memcmp(p_, bytes, n) == 0;
    }
    bool Empty() const { return n_ == 0; }
    const unsigned char* data() const { return p_; }
    std::size_t size() const { return n_; }

private:
    const unsigned char* p_ = nullptr;
    std::size_t n_ = 0;
};

}  // namespace cryptutil::detail

#endif
