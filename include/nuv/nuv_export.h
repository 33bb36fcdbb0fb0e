// Visibility of the library's exported classes and functions, and the one compiler
// attribute its headers use.
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

/// Lets the compiler check printf-style arguments: mingw's printf is the C99 one, so its
/// formats are GNU's; compilers without the attribute check nothing.
#if defined(__MINGW32__)
#define NUV_PRINTF_FORMAT(format_index, first_argument)                                                      \
    __attribute__((format(gnu_printf, format_index, first_argument)))
#elif defined(__GNUC__)
#define NUV_PRINTF_FORMAT(format_index, first_argument)                                                      \
    __attribute__((format(printf, format_index, first_argument)))
#else
#define NUV_PRINTF_FORMAT(format_index, first_argument)
#endif
