// Where the crypto libraries this library links differ in their interfaces, in one place (how an
// RSA key is held is rsa_backend.h's). OpenSSL counts lengths in int, BoringSSL in size_t.
#ifndef CRYPTUTIL_SRC_CRYPTO_LIBRARY_H
#define CRYPTUTIL_SRC_CRYPTO_LIBRARY_H

#include <cstddef>
#include <tuple>

namespace cryptutil::detail {

// `n` as the type of parameter I of `f`. Example: RAND_bytes(p, LengthFor<1>(RAND_bytes, n)).
template <std::size_t I, typename Result, typename... Params>
constexpr auto LengthFor([[maybe_unused]] Result (*f)(Params...), std::size_t n) {
    return static_cast<std::tuple_element_t<I, std::tuple<Params...>>>(n);
}

}  // namespace cryptutil::detail

#endif
