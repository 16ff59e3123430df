#pragma once

// Marks a function or variable that leaves the shared library under its own name.
// Everything else is hidden (the build's default visibility).
#if defined(_WIN32)
#define ORVELA_EXPORT __declspec(dllexport)
#else
#define ORVELA_EXPORT __attribute__((visibility("default")))
#endif
