// Whole-file functions: a file into a container and back, and probes for container headers.
#include <nuv/nuv_zstream.h>

#include <nuv/nuv_md5.h>

#include <host/host_services.h>

namespace {

const int s_key_length = 16;    // passwords always give an AES-128 key
const int s_copy_piece = 32768; // bytes per read of the copy loop

/// The MD5 digest of `password` (terminator excluded) as a 16-byte key.
bool key_from_password(const char* password, unsigned char* key)
{
    NUV_MD5 md5;
    md5.update(password, static_cast<unsigned int>(string_length(password)));
    md5.finalize();
    return md5.raw_digest(key);
}

/// Copies `source` to `destination` until the source reports end of file; false when either
/// stream reports badbit, or when the source can deliver nothing more without reaching end
/// of file (a stream that failed to open), which would otherwise never end.
bool copy_stream(std::istream& source, std::ostream& destination)
{
    if (source.eof())
        return true;
    char buffer[s_copy_piece];
    bool result = true;
    while (result) {
        source.read(buffer, sizeof buffer);
        const std::streamsize count = source.gcount();
        destination.write(buffer, count);
        if (source.bad() || destination.bad())
            result = false;
        if (source.eof())
            break;
        if (count == 0 && source.fail())
            result = false;
    }
    return result;
}

bool encrypt_and_compress(const char* input_filename, const char* output_filename, const char* password,
                          const unsigned char* key, bool compress, bool binary)
{
    bool result = true;
    std::tenvik_ifstream input;
    input.open(input_filename,
               std::ios_base::in | (binary ? std::ios_base::binary : std::ios_base::openmode()));
    unsigned char password_key[s_key_length];
    if (!input.good()) {
        result = false;
    } else if (password && !key_from_password(password, password_key)) {
        result = false;
    } else {
        NUV_ZOFSTREAM output;
        output.open(output_filename, std::ios_base::binary, compress, password ? password_key : key,
                    s_key_length, -1, false);
        result = copy_stream(input, output);
        output.close(false);
    }
    input.close();
    return result;
}

/// Opens `filename` with a local reading stream and asks it about the header.
bool probe(const char* filename, bool encrypted)
{
    if (!filename)
        return false;
    NUV_ZIFSTREAM stream;
    return encrypted ? stream.is_encrypted(filename) : stream.is_zstream(filename);
}

} // namespace

bool nuv_encrypt_and_compress_file(const char* input_filename, const char* output_filename,
                                   const char* password, bool compress, bool binary)
{
    return encrypt_and_compress(input_filename, output_filename, password, nullptr, compress, binary);
}

bool nuv_encrypt_and_compress_file(const char* input_filename, const char* output_filename,
                                   const unsigned char* key, bool compress, bool binary)
{
    return encrypt_and_compress(input_filename, output_filename, nullptr, key, compress, binary);
}

bool nuv_decrypt_and_decompress_file(const char* input_filename, const char* output_filename,
                                     const char* password, bool binary)
{
    bool result = true;
    std::tenvik_ofstream output;
    output.open(output_filename, binary ? std::ios_base::binary : std::ios_base::out);
    unsigned char key[s_key_length];
    if (!output.good()) {
        result = false;
    } else if (password && !key_from_password(password, key)) {
        result = false;
    } else {
        NUV_ZIFSTREAM input;
        input.open(input_filename, std::ios_base::binary, password ? key : nullptr, s_key_length);
        // A container that could not be opened leaves the stream with failbit alone.
        result = input.is_open() && copy_stream(input, output);
        input.close();
    }
    output.close();
    return result;
}

bool nuv_is_file_compressed(const char* filename)
{
    return probe(filename, false);
}

bool nuv_is_file_encrypted(const char* filename)
{
    return probe(filename, true);
}
