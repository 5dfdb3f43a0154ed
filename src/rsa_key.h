// RSA keys read from PEM text, the same way on every crypto library: the armour, the DER and the
// numbers are read and checked here, and the library is handed the numbers (rsa_backend.h).
#ifndef CRYPTUTIL_SRC_RSA_KEY_H
#define CRYPTUTIL_SRC_RSA_KEY_H

#include <string>

#include "rsa_backend.h"

namespace cryptutil::detail {

// A PEM "PUBLIC KEY" block (SubjectPublicKeyInfo) of an rsaEncryption key within the limits: 1,024
// to 16,384 bits and an odd public exponent from 3 to 2^33 - 1. The text is read up to its first
// NUL; its first block whose label ends in "KEY" is the one judged, as the crypto libraries' PEM
// readers stop at such blocks, and blocks with other labels before it are skipped.
bool ReadRsaPublicKey(const std::string& pem, RsaKey& key);

// A PEM "RSA PRIVATE KEY" (PKCS #1) or "PRIVATE KEY" (PKCS #8, rsaEncryption, with attributes of
// OCTET STRING values only) block, judged as above, of a two-prime key within the same limits,
// each prime at least a quarter as long as the modulus, no part longer than it, and parts that
// agree (n = pq, dP and dQ those of d, e inverting them, qInv that of q, d < n). Its text is
// decoded and its parts checked in constant time, and every buffer that held the key's bytes is
// wiped before it is released.
bool ReadRsaPrivateKey(const std::string& pem, RsaKey& key);

}  // namespace cryptutil::detail

#endif
