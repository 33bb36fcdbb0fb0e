// Bucket counts for hash tables that grow: the next size from a fixed list of 113 primes
// between 13 and 4294967291, about 25 % or about 50 % above the current size.
#pragma once

#include <nuv/nuv_export.h>

/// The smallest listed prime greater than `n` (each listed prime is 14 to 25 % above
/// the one before). `n` must stay below 4294967291; otherwise an internal error.
NUV_EXPORT unsigned int nuv_hash_lite_get_next_prime(unsigned int n);

/// Same function as nuv_hash_lite_get_next_prime, under the name of its growth rate.
NUV_EXPORT unsigned int nuv_hash_lite_25_percent_increase_size(unsigned int n);

/// The smallest prime greater than `n` among every other listed prime, starting with 13
/// (13, 23, 31, 47, ..., 3221225461, 4294967291: about a third or a half more per step).
/// `n` must stay below 4294967291; otherwise an internal error.
NUV_EXPORT unsigned int nuv_hash_lite_50_percent_increase_size(unsigned int n);
