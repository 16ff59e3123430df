#include "tests/jnihost/Descriptor.h"

#include <cstring>

namespace orvela::jnihost {

namespace {

// Reads one field type at descriptor[pos], advancing pos; 0 when malformed.
char readType(const std::string& descriptor, size_t* pos) {
    if (*pos >= descriptor.size()) return 0;
    char c = descriptor[*pos];
    if (c == '[') {
        while (*pos < descriptor.size() && descriptor[*pos] == '[') ++*pos;
        return readType(descriptor, pos) != 0 ? 'L' : 0;
    }
    if (c == 'L') {
        size_t end = descriptor.find(';', *pos);
        if (end == std::string::npos || end == *pos + 1) return 0;
        *pos = end + 1;
        return 'L';
    }
    if (c == '\0' || std::strchr("ZBCSIJFD", c) == nullptr) return 0;
    ++*pos;
    return c;
}

}  // namespace

bool parseDescriptor(const std::string& descriptor, Signature* out) {
    Signature sig;
    size_t pos = 0;
    if (descriptor.empty() || descriptor[pos++] != '(') return false;
    while (pos < descriptor.size() && descriptor[pos] != ')') {
        char type = readType(descriptor, &pos);
        if (type == 0) return false;
        sig.args.push_back(type);
    }
    if (pos >= descriptor.size()) return false;
    ++pos;  // ')'
    if (pos < descriptor.size() && descriptor[pos] == 'V') {
        sig.returnType = 'V';
        ++pos;
    } else {
        sig.returnType = readType(descriptor, &pos);
        if (sig.returnType == 0) return false;
    }
    if (pos != descriptor.size()) return false;
    *out = sig;
    return true;
}

}  // namespace orvela::jnihost
