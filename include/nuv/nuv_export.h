// Visibility of the library's exported classes and functions.
#pragma once

#if defined(_WIN32)
#if defined(NUV_BUILDING_LIBRARY)
#define NUV_EXPORT __declspec(dllexport)
#else
#define NUV_EXPORT __declspec(dllimport)
#endif
#else
#define NUV_EXPORT __attribute__((visibility("default")))
#endif
