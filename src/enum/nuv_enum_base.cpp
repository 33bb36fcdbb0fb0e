#include <nuv/nuv_enum_base.h>

NUV_ENUM_BASE::NUV_ENUM_BASE() : m_value(0) {}

NUV_ENUM_BASE::NUV_ENUM_BASE(int value) : m_value(value) {}

NUV_ENUM_BASE::NUV_ENUM_BASE(const NUV_ENUM_BASE& other) : m_value(other.m_value) {}

NUV_ENUM_BASE::~NUV_ENUM_BASE() {}

NUV_ENUM_BASE& NUV_ENUM_BASE::operator=(const NUV_ENUM_BASE& other)
{
    m_value = other.m_value;
    return *this;
}

NUV_ENUM_BASE& NUV_ENUM_BASE::operator=(int value)
{
    m_value = value;
    return *this;
}

int NUV_ENUM_BASE::get_int_value() const
{
    return m_value;
}

bool NUV_ENUM_BASE::operator==(int value) const
{
    return m_value == value;
}

bool NUV_ENUM_BASE::operator!=(int value) const
{
    return m_value != value;
}

bool NUV_ENUM_BASE::operator==(const NUV_ENUM_BASE& other) const
{
    return m_value == other.m_value;
}

bool NUV_ENUM_BASE::operator!=(const NUV_ENUM_BASE& other) const
{
    return m_value != other.m_value;
}

NUV_ENUM_BASE& NUV_ENUM_BASE::operator++()
{
    ++m_value;
    return *this;
}

NUV_ENUM_BASE NUV_ENUM_BASE::operator++(int)
{
    NUV_ENUM_BASE old(m_value);
    ++m_value;
    return old;
}

bool operator==(int value, const NUV_ENUM_BASE& e)
{
    return value == e.get_int_value();
}

bool operator!=(int value, const NUV_ENUM_BASE& e)
{
    return value != e.get_int_value();
}
