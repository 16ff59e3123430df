#pragma once

#include <string>
#include <vector>

namespace orvela::jnihost {

// A method descriptor split into one type letter per argument and the return type letter.
// Objects and arrays are 'L'; the return type of a void method is 'V'.
struct Signature {
    std::vector<char> args;
    char returnType = 'V';
};

// False when `descriptor` is not a well-formed method descriptor.
bool parseDescriptor(const std::string& descriptor, Signature* out);

}  // namespace orvela::jnihost
