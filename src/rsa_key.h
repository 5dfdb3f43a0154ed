// RSA keys read from PEM text. The armour and the outer DER are read here, into buffers the
// library owns and wipes; the crypto library only ever sees the PKCS #1 key (rsa_backend.h).
#ifndef CRYPTUTIL_SRC_RSA_KEY_H
#define CRYPTUTIL_SRC_RSA_KEY_H

#include <string>

#include "rsa_backend.h"

namespace cryptutil::detail {

// A PEM "PUBLIC KEY" (SubjectPublicKeyInfo) block holding an rsaEncryption key; null otherwise
// (RSA-PSS keys included), and for keys outside the limits (1,024 to 16,384 bits, an odd public
// exponent of at least 3). The text is read up to its first NUL; blocks with other labels before
// it are skipped.
RsaKey ReadRsaPublicKey(const std::string& pem);

// A PEM "RSA PRIVATE KEY" (PKCS #1) or "PRIVATE KEY" (PKCS #8, rsaEncryption) block; null
// otherwise, for keys outside the same limits, and for a block with headers (a
// pass-phrase-protected key: nothing ever prompts).
// Read as above. Every buffer that held the key's bytes is wiped before it is released.
RsaKey ReadRsaPrivateKey(const std::string& pem);

}  // namespace cryptutil::detail

#endif
