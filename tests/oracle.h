// The tests' independent AES and MD5: OpenSSL's libcrypto on Linux (oracle_openssl.cpp),
// libgcrypt on Windows, which has no OpenSSL build here (oracle_gcrypt.cpp).
#pragma once

#include <cstddef>
#include <string>

namespace oracle {

/// The block cipher modes, in NUV_AES::MODE's order.
enum MODE { ECB, CBC, CFB1 };

/// `in` enciphered or deciphered with AES in `mode` under `key` (16, 24 or 32 bytes) and `iv`
/// (16 bytes; empty means zeros; unused in ECB). ECB and CBC add PKCS #7 padding when
/// enciphering and remove it when deciphering, unless `pad` is false (`in` is then whole
/// blocks); CFB1 never pads. Padding that does not check out fails the test.
std::string aes(MODE mode, bool encrypt, const std::string& key, std::string iv, const std::string& in,
                bool pad = true);

/// The MD5 digest of `size` bytes at `data`: 16 bytes.
std::string md5(const char* data, size_t size);
/// The MD5 digest of `data`: 16 bytes.
inline std::string md5(const std::string& data)
{
    return md5(data.data(), data.size());
}

} // namespace oracle
