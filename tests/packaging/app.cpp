// Round-trips a message; exits 0 when the library linked in works.
#include <cryptutil/util.h>

int main() {
    unsigned char key[32];
    GetRandomBytes(key, sizeof key);
    std::string text, back;
    if (EncryptMessage("hello from the host", key, sizeof key, &text) != 32) return 1;
    return DecryptMessage(text, key, sizeof key, &back) == 0 && back == "hello from the host" ? 0 : 1;
}
