// Growth sizes for hash tables from the fixed prime list.
#include <nuv/nuv_hash_lite.h>

#include "nuv_prime_sizes.h"

namespace {

// The internal-error reports of this unit carry fixed line numbers, stable across
// edits of this file (not __LINE__).
const int s_next_prime_error_line = 232;
const int s_50_percent_error_line = 266;

} // namespace

unsigned int nuv_hash_lite_get_next_prime(unsigned int n)
{
    return nuv_hash_detail::choose_prime_size(n, false, false, "nuv_hash_lite", s_next_prime_error_line);
}

unsigned int nuv_hash_lite_25_percent_increase_size(unsigned int n)
{
    return nuv_hash_lite_get_next_prime(n);
}

unsigned int nuv_hash_lite_50_percent_increase_size(unsigned int n)
{
    return nuv_hash_detail::choose_prime_size(n, false, true, "nuv_hash_lite", s_50_percent_error_line);
}
