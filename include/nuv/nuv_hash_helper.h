// Bucket count for a hash table that must hold a wanted minimum size.
#pragma once

#include <nuv/nuv_export.h>

/// The smallest prime not below `n` among every other prime of the hash-size list
/// (13, 23, 31, 47, ..., 3221225461, 4294967291); a listed value comes back unchanged.
/// `n` must not exceed 4294967291; otherwise an internal error.
NUV_EXPORT unsigned int nuv_hash_50_percent_increase_size(unsigned int n);
