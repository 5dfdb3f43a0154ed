#include <cryptutil/util.h>

#include <cstdio>

int main() {
    unsigned char key[32] = {1, 2, 3};
    std::string wire;
    std::string back;
    if (EncryptMessage("installed", key, 32, &wire) != 32) return 1;
    if (DecryptMessage(wire, key, 32, &back) != 0 || back != "installed") return 1;
    std::puts(wire.c_str());
    return 0;
}
