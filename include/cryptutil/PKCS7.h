/* PKCS#7 padding (RFC 5652, section 6.3). C-compatible. */
#ifndef CRYPTUTIL_PKCS7_H
#define CRYPTUTIL_PKCS7_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    void* dataWithPadding; /* owned by the record */
    uint64_t dataLengthWithPadding;
    uint8_t valueOfByteForPadding; /* the pad byte value n */
} PKCS7_Padding;

typedef struct {
    void* dataWithoutPadding; /* points into the caller's input: keep it alive until freed */
    uint64_t dataLengthWithoutPadding;
    uint8_t valueOfRemovedByteFromData;
} PKCS7_unPadding;

enum
#ifdef __cplusplus
    : unsigned int
#endif
{
    BLOCK_SIZE_128_BIT = 16,
    BLOCK_SIZE_256_BIT = 32,
    BLOCK_SIZE_CUSTOM_VALUE = 0
};

/* Pads `dataLength` bytes to a multiple of `BLOCK_SIZE` (1..255): n = BLOCK_SIZE - len % BLOCK_SIZE
 * bytes of value n are appended, so 1 <= n <= BLOCK_SIZE. Returns NULL for a block size of 0,
 * a length that would overflow, or when memory runs out. Free with freePaddingResult. */
PKCS7_Padding* addPadding(const void* const data, const uint64_t dataLength, const uint8_t BLOCK_SIZE);

/* Strips the padding named by the last byte n: NULL when the input is empty, n is 0, n exceeds the
 * length, or the last n bytes are not all n. The result points into `data`. Free with
 * freeUnPaddingResult. */
PKCS7_unPadding* removePadding(const void* const data, const uint64_t dataLength);

/* Both accept NULL. freePaddingResult wipes the padded data before releasing it. */
void freePaddingResult(PKCS7_Padding* paddingResult);
void freeUnPaddingResult(PKCS7_unPadding* unPaddingResult);

#ifdef __cplusplus
}
#endif

#endif
