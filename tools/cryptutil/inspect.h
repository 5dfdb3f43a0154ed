// A transport text as the library's reader reads it, with a diagnosis on top when it does not.
#ifndef CRYPTUTIL_TOOLS_INSPECT_H
#define CRYPTUTIL_TOOLS_INSPECT_H

#include <string>

namespace tool {

struct Inspection {
    bool reads = false;
    std::string bytes;    // what it stands for, when it reads
    std::string problem;  // why it does not
};

// `text` as decrypt, unwrap and verify read it: line ends at its end are no part of it.
Inspection Inspect(const std::string& text);

}  // namespace tool

#endif
