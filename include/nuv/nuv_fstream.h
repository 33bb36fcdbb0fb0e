// File streams that open every file by its full path.
//
// std::tenvik_ifstream and std::tenvik_ofstream are the standard narrow file streams with
// one change: open() resolves the UTF-8 name with get_unc_full_path() and opens the file
// by that full path, whatever form the caller's name had and however long the path is
// (see OPENABLE_PATH; on Windows the standard file buffer's wide-name open). Everything
// else is inherited.
//
// Example: examples/write_container.cpp
#pragma once

#include <host/host_services.h>

#include <fstream>
#include <string>

namespace std {

namespace nuv_detail {
/// Opens `stream` on the full path of `filename` with `mode`: good on success, failbit on
/// failure, nothing changed when the stream already has a file open.
template <class STREAM> void open_full_path(STREAM& stream, const char* filename, ios_base::openmode mode)
{
    if (stream.rdbuf()->is_open())
        return;
    const OPENABLE_PATH path(filename ? filename : "");
    if (stream.rdbuf()->open(path.c_str(), mode))
        stream.clear();
    else
        stream.setstate(ios_base::failbit);
}
} // namespace nuv_detail

/// Input file stream opened by full path.
class tenvik_ifstream : public basic_ifstream<char> {
public:
    /// A stream with no file.
    tenvik_ifstream() {}

    /// Opens `filename` for reading with `mode` (an openmode value; input is always added).
    /// A stream that already has a file open is left as it is; on failure failbit is set.
    void open(const char* filename, int mode)
    {
        nuv_detail::open_full_path(*this, filename, ios_base::openmode(mode) | ios_base::in);
    }
};

/// Output file stream opened by full path.
class tenvik_ofstream : public basic_ofstream<char> {
public:
    /// A stream with no file.
    tenvik_ofstream() {}

    /// Opens `filename` for writing with `mode` (an openmode value; output is always added).
    /// A stream that already has a file open is left as it is; on failure failbit is set.
    void open(const char* filename, int mode)
    {
        nuv_detail::open_full_path(*this, filename, ios_base::openmode(mode) | ios_base::out);
    }
};

} // namespace std
