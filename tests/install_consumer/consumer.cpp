// A client of the installed library: a short text through an encrypted, compressed file
// and through a sealed one, using only the installed headers (which need neither zlib,
// Boost nor libgcrypt). The sealed file's cheap Argon2id cost keeps the check quick.
#include <nuv/nuv_toolkit.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

namespace {

const std::string TEXT = "a line for the installed streams\n";

// Reads `name` back with `key` and removes it: true when it held TEXT up to a verified end.
bool reads_back(const char* name, const unsigned char* key, int key_length)
{
    NUV_ZIFSTREAM in(name, std::ios_base::binary, key, key_length);
    const std::string back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const bool ok = back == TEXT && in.verified_end() && nuv_is_file_encrypted(name);
    in.close();
    std::remove(name);
    return ok;
}

} // namespace

int main()
{
    const char* name = "consumer_sample.nuv";
    unsigned char key[NUV_PASSWORD_KEY_LENGTH];
    nuv_key_from_password("password", key);
    NUV_ZOFSTREAM(name, std::ios_base::binary, true, key, NUV_PASSWORD_KEY_LENGTH) << TEXT;
    bool ok = reads_back(name, key, NUV_PASSWORD_KEY_LENGTH);

    const char* password = "password";
    NUV_SEAL_OPTIONS seal;
    seal.password = password;
    seal.passes = 1;
    seal.memory_kib = 8;
    seal.lanes = 1;
    {
        NUV_ZOFSTREAM out;
        out.open(name, seal);
        out << TEXT;
    }
    ok = reads_back(name, reinterpret_cast<const unsigned char*>(password), int(std::strlen(password))) && ok;
    std::puts(ok ? "consumer: ok" : "consumer: FAILED");
    return ok ? 0 : 1;
}
