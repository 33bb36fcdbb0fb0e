// The fixed list of hash-table sizes and the search over it, shared by nuv_hash_lite and
// nuv_hash_helper; internal to the library.
#pragma once

#include <cstddef>

namespace nuv_hash_detail {

/// Number of listed sizes.
const size_t PRIME_SIZE_COUNT = 113;

/// The size chosen for a request: the first listed size above `n` (or not below it, with
/// `or_equal`), moved up to the every-other sublist 13, 23, 31, 47, ... (the even indices)
/// when `every_other` is set. Past the end of the list it is the internal error
/// "rval != 0", reported for the source unit `unit` at the fixed line `line`.
unsigned int choose_prime_size(unsigned int n, bool or_equal, bool every_other, const char* unit, int line);

} // namespace nuv_hash_detail
