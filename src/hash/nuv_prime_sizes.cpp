// The fixed list of hash-table sizes. Walking the list upward and taking the first value
// that passes the comparison is the same as a binary search for it, which is what
// choose_prime_size does.
#include "nuv_prime_sizes.h"

#include <host/host_services.h>

#include <algorithm>
#include <iterator>

namespace nuv_hash_detail {
namespace {

// Four primes per power of two 2^k (near 2^k, 1.25, 1.5 and 1.75 times 2^k, k = 4 to 31),
// then the largest prime below 2^32. The values are fixed data, not a rule.
const unsigned int s_prime_sizes[PRIME_SIZE_COUNT] = {
    13u,         17u,         23u,         29u,         31u,         37u,         47u,         53u,
    61u,         79u,         97u,         113u,        127u,        157u,        191u,        223u,
    251u,        317u,        383u,        449u,        509u,        641u,        769u,        907u,
    1021u,       1279u,       1531u,       1789u,       2039u,       2557u,       3067u,       3583u,
    4093u,       5119u,       6143u,       7159u,       8191u,       10243u,      12289u,      14341u,
    16381u,      20479u,      24571u,      28669u,      32749u,      40961u,      49157u,      57347u,
    65521u,      81919u,      98299u,      114689u,     131071u,     163841u,     196613u,     229373u,
    262139u,     327673u,     393209u,     458747u,     524287u,     655357u,     786431u,     917503u,
    1048573u,    1310719u,    1572869u,    1835003u,    2097143u,    2621431u,    3145721u,    3670013u,
    4194301u,    5242877u,    6291449u,    7340033u,    8388593u,    10485751u,   12582917u,   14680063u,
    16777213u,   20971529u,   25165813u,   29360147u,   33554393u,   41943049u,   50331653u,   58720253u,
    67108859u,   83886091u,   100663291u,  117440509u,  134217689u,  167772161u,  201326557u,  234881033u,
    268435399u,  335544301u,  402653171u,  469762043u,  536870909u,  671088637u,  805306357u,  939524087u,
    1073741789u, 1342177237u, 1610612711u, 1879048183u, 2147483647u, 2684354557u, 3221225461u, 3758096383u,
    4294967291u,
};

} // namespace

unsigned int choose_prime_size(unsigned int n, bool or_equal, bool every_other, const char* unit, int line)
{
    const unsigned int* const end = std::end(s_prime_sizes);
    const unsigned int* found =
        or_equal ? std::lower_bound(s_prime_sizes, end, n) : std::upper_bound(s_prime_sizes, end, n);
    size_t index = static_cast<size_t>(found - s_prime_sizes);
    if (every_other)
        index += index % 2;
    if (index >= PRIME_SIZE_COUNT)
        report_internal_error("rval != 0", "NUV", unit, line);
    return s_prime_sizes[index];
}

} // namespace nuv_hash_detail
