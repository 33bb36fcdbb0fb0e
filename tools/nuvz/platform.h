// What nuvz does differently on each platform: file status, the terminal, standard output.
// platform_posix.cpp implements it.
#pragma once

#include <cstdint>
#include <string>
#include <sys/stat.h>

namespace nuvz {

/// stat, or lstat when `follow_link` is false, of a name however long (see OPENABLE_PATH).
int stat_name(const std::string& name, struct stat* info, bool follow_link = true);
/// Why `name` cannot be read as a regular file, or an empty text when it can be.
std::string unreadable_reason(const std::string& name);
/// Size of a regular file, 0 for anything else.
uint64_t file_size(const std::string& name);
/// Asks `prompt` on the controlling terminal with echo off and reads one line into
/// `answer`; false, asking nothing, when the process has no terminal.
bool ask_on_terminal(const std::string& prompt, std::string* answer);
/// Why standard output cannot take packed data, or an empty text when it can: binary data
/// does not go to a terminal, and a file opened for appending would be cut to nothing.
std::string standard_output_problem();

} // namespace nuvz
