// Base class for client enumerations: an integer value with comparison, assignment and
// increment, so that derived enumerations can be stepped through in a loop.
#pragma once

#include <nuv/nuv_export.h>

/// An integer enumeration value that client enumerations derive from.
class NUV_EXPORT NUV_ENUM_BASE {
public:
    /// Value 0.
    NUV_ENUM_BASE();
    /// Takes `value` unchanged; no range test.
    NUV_ENUM_BASE(int value);
    /// Copies the value.
    NUV_ENUM_BASE(const NUV_ENUM_BASE& other);
    /// Virtual, so that derived enumerations are destroyed correctly through a base pointer.
    virtual ~NUV_ENUM_BASE();

    /// Copies the value.
    NUV_ENUM_BASE& operator=(const NUV_ENUM_BASE& other);
    /// Sets the value.
    NUV_ENUM_BASE& operator=(int value);

    /// The current value.
    int get_int_value() const;

    /// Comparisons look at the integer values only, never at the dynamic type.
    bool operator==(int value) const;
    bool operator!=(int value) const;                  ///< The opposite of operator==(int).
    bool operator==(const NUV_ENUM_BASE& other) const; ///< Compares the two integer values.
    bool operator!=(const NUV_ENUM_BASE& other) const; ///< The opposite of operator==.

    /// Adds 1 and returns this object.
    NUV_ENUM_BASE& operator++();
    /// Returns a plain NUV_ENUM_BASE with the old value, then adds 1.
    NUV_ENUM_BASE operator++(int);

private:
    int m_value;
};

/// `int == enumeration`, comparing integer values.
NUV_EXPORT bool operator==(int value, const NUV_ENUM_BASE& e);
/// `int != enumeration`, comparing integer values.
NUV_EXPORT bool operator!=(int value, const NUV_ENUM_BASE& e);
