// A client of the installed library: a short text through an encrypted, compressed file,
// using only the installed headers (which need neither zlib nor Boost).
#include <nuv/nuv_toolkit.h>

#include <cstdio>
#include <iterator>
#include <string>

int main()
{
    const char* name = "consumer_sample.nuv";
    const std::string text = "a line for the installed streams\n";
    unsigned char key[NUV_PASSWORD_KEY_LENGTH];
    nuv_key_from_password("password", key);
    NUV_ZOFSTREAM(name, std::ios_base::binary, true, key, NUV_PASSWORD_KEY_LENGTH) << text;
    NUV_ZIFSTREAM in(name, std::ios_base::binary, key, NUV_PASSWORD_KEY_LENGTH);
    const std::string back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const bool ok = back == text && in.verified_end() && nuv_is_file_encrypted(name);
    std::remove(name);
    std::puts(ok ? "consumer: ok" : "consumer: FAILED");
    return ok ? 0 : 1;
}
