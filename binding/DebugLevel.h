#pragma once

namespace orvela {

// Name of the environment variable that sets the debug level.
extern const char* DebugEnvVarName;

// Debug level: 0 at load, set once by JNI_OnLoad from the environment and only read afterwards.
// Diagnostics of level n are written when debug >= n; a negative level turns everything off.
extern int debug;

// Reads the debug level from the environment into `debug` and returns it.
int readDebugLevel();

}  // namespace orvela
