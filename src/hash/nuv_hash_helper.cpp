// Minimum-size bucket counts for hash tables from the fixed prime list.
#include <nuv/nuv_hash_helper.h>

#include "nuv_prime_sizes.h"

namespace {

// The internal-error report of this unit carries a fixed line number, stable across
// edits of this file (not __LINE__).
const int s_50_percent_error_line = 208;

} // namespace

unsigned int nuv_hash_50_percent_increase_size(unsigned int n)
{
    return nuv_hash_detail::choose_prime_size(n, true, true, "nuv_hash_helper", s_50_percent_error_line);
}
