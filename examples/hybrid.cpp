// The host's side of the protocol, end to end, with the server's side played here too.
//   hybrid SERVER_PUBLIC.pem SERVER_PRIVATE.pem
#include <cryptutil/util.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

static std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: hybrid SERVER_PUBLIC.pem SERVER_PRIVATE.pem\n";
        return 2;
    }
    const std::string serverPublic = ReadFile(argv[1]);
    const std::string serverPrivate = ReadFile(argv[2]);

    // Host: a fresh AES-256 key for this message, wrapped for the server.
    unsigned char key[32];
    GetRandomBytes(key, sizeof key);
    std::string wrappedKey;
    if (EncryptKeyV2(key, sizeof key, serverPublic, &wrappedKey) < 0) {
        std::cerr << "cannot wrap the key: is " << argv[1] << " a PEM RSA public key?\n";
        return 1;
    }

    // Host: the message itself, as transport text.
    const std::string message = R"({"amount":"12.50","currency":"EUR"})";
    std::string ciphertext;
    if (EncryptMessage(message, key, sizeof key, &ciphertext) < 0) return 1;
    std::cout << "key:     " << wrappedKey << "\nmessage: " << ciphertext << '\n';

    // Server: unwrap the key (room for k bytes: 2,048 fit every key the library reads), then decrypt.
    unsigned char serverKey[2048];
    const int keyLength = DecryptKeyV2(wrappedKey, serverPrivate, serverKey);
    std::string received;
    if (keyLength < 0 || DecryptMessage(ciphertext, serverKey, keyLength, &received) != 0) {
        std::cerr << "the server could not read the message\n";
        return 1;
    }

    // Server: sign the reply; host: check it before trusting it.
    const std::string reply = "accepted " + received;
    const std::string signature = createRSASignature(serverPrivate, reply);
    if (!verifyRSASignature(serverPublic, signature, reply)) {
        std::cerr << "the reply's signature does not verify\n";
        return 1;
    }
    std::cout << "reply:   " << reply << "\nsigned:  " << signature << '\n';
    return 0;
}
