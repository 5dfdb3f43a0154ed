// Every command, in the order of --help, with what its help says.
#include <cstring>

#include "commands.h"

namespace tool {
namespace {

#define KEPT ", kept only if the command succeeds"
#define NOTHING "writes nothing, prints one line on standard error, "

const std::vector<Command> kCommands = {
    {"keygen", "Write a fresh AES key as hex (a new -o file is made 0600)", "nothing",
     "the key as hex and a line end to -o FILE or standard output" KEPT,
     NOTHING "exits 2 (the random generator failed, output that cannot be written)", "cryptutil keygen -o key.hex",
     DefineKeygen},
    {"encrypt", "Encrypt a message into transport text", "the message from INPUT or standard input, of any size",
     "its transport text and a line end to -o FILE or standard output" KEPT,
     NOTHING "exits 2 (a bad key, unreadable input)", "cryptutil encrypt --key-file key.hex report.pdf -o report.txt",
     DefineEncrypt},
    {"decrypt", "Decrypt transport text into the message",
     "transport text from INPUT or standard input (line ends at its end are ignored)",
     "the message to -o FILE or standard output once the whole text is read and its padding checked: nothing of "
     "it before, anywhere but a private 0600 file (a new -o file stays 0600)",
     NOTHING "exits 1 for a wrong key or text that is not a message's, 2 for a bad key or unreadable input",
     "cryptutil decrypt --key-file key.hex report.txt -o report.pdf", DefineDecrypt},
    {"wrap", "Wrap an AES key for an RSA public key", "the public key from --public, the AES key from --key-file",
     "the wrapped key's transport text and a line end" KEPT,
     NOTHING "exits 2 (a missing or broken key file, a bad key)",
     "cryptutil wrap --public server.pub.pem --key-file key.hex -o key.wrapped", DefineWrap},
    {"unwrap", "Unwrap a wrapped key; write it as hex (a new -o file is made 0600)",
     "the private key from --private, the wrapped key's text from INPUT or standard input",
     "the key as hex and a line end" KEPT,
     NOTHING "exits 1 for a text this key did not wrap, 2 for a missing or broken key file",
     "cryptutil unwrap --private server.pem key.wrapped -o key.hex", DefineUnwrap},
    {"sign", "Sign data; write the signature text", "the private key from --private, the data from INPUT",
     "the signature text and a line end" KEPT, NOTHING "exits 2 (a missing or broken key file, unreadable input)",
     "cryptutil sign --private server.pem order.json -o order.sig", DefineSign},
    {"verify", "Check a signature of data",
     "the public key from --public, the signature from --signature-file or --signature, the data from INPUT",
     "valid or invalid and a line end",
     "exits 1 for an invalid signature (writing invalid); for a missing or broken key file " NOTHING "exits 2",
     "cryptutil verify --public server.pub.pem --signature-file order.sig order.json", DefineVerify},
    {"hash", "SHA-256 of data as lowercase hex", "the data from INPUT or standard input",
     "the digest and a line end" KEPT, NOTHING "exits 2", "printf abc | cryptutil hash", DefineHash},
    {"hex encode", "Bytes to lowercase hex", "bytes from INPUT or standard input", "their hex and a line end" KEPT,
     NOTHING "exits 2", "printf hi | cryptutil hex encode", DefineHexEncode},
    {"hex decode", "Hex (either case) to bytes", "hex from INPUT or standard input (line ends at its end are ignored)",
     "the bytes" KEPT, NOTHING "exits 1 for text that is not hex, 2 for unreadable input",
     "echo 6869 | cryptutil hex decode", DefineHexDecode},
    {"inspect", "Describe a transport text: its bytes, or what is wrong with it",
     "the key from --key first, then a transport text from INPUT or standard input (line ends at its end are "
     "ignored)",
     "its byte count and bytes, or what is wrong with it, read as decrypt, unwrap and verify read it; notes on "
     "AES blocks and on k",
     "exits 1 when it is not transport text, or not k bytes for --key; 2 for a bad key file or unreadable input",
     "cryptutil inspect --key server.pub.pem key.wrapped", DefineInspect},
    {"error", "Write the JSON error document", "CODE and MESSAGE", "the document and a line end" KEPT,
     NOTHING "exits 2 for text that is not UTF-8", "cryptutil error E42 \"key expired\"", DefineError},
    {"now", "The current time at UTC+8", "nothing", "the time text and a line end" KEPT, NOTHING "exits 2",
     "cryptutil now", DefineNow},
    {"demo", "Run the whole hybrid flow on a fresh key pair", "nothing", "each step's text" KEPT,
     "exits 1 when a step does not round-trip, 2 when the random generator fails", "cryptutil demo", DefineDemo},
};

}  // namespace

const std::vector<Command>& Commands() {
    return kCommands;
}

const char* GroupSummary(const std::string& group) {
    return group == "hex" ? "Hex text of data, or back" : "";
}

void AddInput(CLI::App& cmd, Io& io) {
    cmd.add_option("INPUT", io.input, "The data: a file, or '-' (the default) for standard input");
}

void AddOutput(CLI::App& cmd, Io& io) {
    cmd.add_option("-o,--output", io.output,
                   "Write the result to this file, replaced only on success (see cryptutil --help)");
}

}  // namespace tool
