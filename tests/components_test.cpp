// The PKCS#7 stand-in's own contract: PKCS7.h is installed and a host may swap the component, so
// the stand-in is held to the header's word directly, not only through DecryptMessage's checks.
#include <gtest/gtest.h>

#include <string>

#include "cryptutil/PKCS7.h"

namespace {

TEST(Pkcs7Component, PadsToTheBlockSize) {
    for (const unsigned block : {1U, 16U, 32U, 255U}) {
        for (std::size_t n = 0; n <= 70; ++n) {
            const std::string data(n, 'd');
            PKCS7_Padding* p = addPadding(data.data(), n, static_cast<uint8_t>(block));
            ASSERT_NE(p, nullptr);
            const std::size_t pad = block - n % block;
            ASSERT_EQ(p->dataLengthWithPadding, n + pad);
            EXPECT_EQ(p->valueOfByteForPadding, pad);
            const std::string padded(static_cast<const char*>(p->dataWithPadding), n + pad);
            EXPECT_EQ(padded, data + std::string(pad, static_cast<char>(pad)));
            freePaddingResult(p);
        }
    }
    EXPECT_EQ(addPadding("x", 1, 0), nullptr);
    EXPECT_EQ(addPadding(nullptr, 1, 32), nullptr);
    freePaddingResult(nullptr);
    freeUnPaddingResult(nullptr);
}

TEST(Pkcs7Component, RemovesOnlyConsistentPadding) {
    const std::pair<std::string, long> cases[] = {
        {"abc\x01", 3},
        {"ab\x02\x02", 2},
        {std::string(32, ' '), 0},
        {std::string(16, '\x10'), 0},
        {"", -1},
        {std::string("abc\0", 4), -1},  // a pad of 0
        {"ab\x01\x02", -1},             // pad bytes disagree
        {"\x05\x05\x05\x05", -1},       // longer than the input
    };
    for (const auto& [in, kept] : cases) {
        PKCS7_unPadding* u = removePadding(in.data(), in.size());
        if (kept < 0) {
            EXPECT_EQ(u, nullptr) << in;
            continue;
        }
        ASSERT_NE(u, nullptr) << in;
        EXPECT_EQ(u->dataLengthWithoutPadding, static_cast<uint64_t>(kept));
        EXPECT_EQ(u->valueOfRemovedByteFromData, static_cast<unsigned char>(in.back()));
        EXPECT_EQ(std::string(static_cast<const char*>(u->dataWithoutPadding), static_cast<std::size_t>(kept)),
                  in.substr(0, static_cast<std::size_t>(kept)));
        freeUnPaddingResult(u);
    }
}

}  // namespace
