#pragma once

#include <jni.h>

#include "binding/Deadline.h"

namespace orvela::ductway {

// The limit of a pipe operation given jTimeout milliseconds from now: a negative value is no
// limit, 0 lets the operation take only what is ready at once.
inline Deadline pipeDeadline(jint jTimeout) {
    return jTimeout < 0 ? Deadline::none() : Deadline::inMillis(jTimeout);
}

}  // namespace orvela::ductway
