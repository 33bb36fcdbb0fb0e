// Whole-file functions: a file into a container and back, and probes for container headers;
// with the copy loop and the password key they are built from.
#include <nuv/nuv_zstream.h>

#include <nuv/nuv_md5.h>

#include <host/host_services.h>

namespace {

/// Opens `filename` with a local reading stream and asks it about the header.
bool probe(const char* filename, bool encrypted)
{
    if (!filename)
        return false;
    NUV_ZIFSTREAM stream;
    return encrypted ? stream.is_encrypted(filename) : stream.is_zstream(filename);
}

} // namespace

void nuv_key_from_password(const char* password, unsigned char* key)
{
    NUV_MD5 md5;
    md5.update(password, static_cast<unsigned int>(string_length(password)));
    md5.finalize();
    md5.raw_digest(key);
}

bool nuv_copy_stream(std::istream& source, std::ostream& destination, const NUV_COPY_PROGRESS& progress)
{
    if (source.eof())
        return true;
    char buffer[NUV_ZSTREAM_DEFAULT_BUFSZ];
    uint64_t copied = 0;
    for (;;) {
        source.read(buffer, sizeof buffer);
        const std::streamsize count = source.gcount();
        destination.write(buffer, count);
        copied += static_cast<uint64_t>(count);
        if (progress)
            progress(copied);
        if (source.bad() || destination.bad())
            return false;
        if (source.eof())
            return true;
        if (count == 0 && source.fail())
            return false;
    }
}

bool nuv_encrypt_and_compress_file(const char* input_filename, const char* output_filename,
                                   const char* password, bool compress, bool binary)
{
    unsigned char key[NUV_PASSWORD_KEY_LENGTH];
    if (password)
        nuv_key_from_password(password, key);
    return nuv_encrypt_and_compress_file(input_filename, output_filename, password ? key : nullptr, compress,
                                         binary);
}

bool nuv_encrypt_and_compress_file(const char* input_filename, const char* output_filename,
                                   const unsigned char* key, bool compress, bool binary)
{
    std::tenvik_ifstream input;
    input.open(input_filename,
               std::ios_base::in | (binary ? std::ios_base::binary : std::ios_base::openmode()));
    if (!input.good())
        return false; // the output is not created
    NUV_ZOFSTREAM output;
    output.open(output_filename, std::ios_base::binary, compress, key, NUV_PASSWORD_KEY_LENGTH, -1, false);
    const bool result = nuv_copy_stream(input, output);
    output.close(false);
    return result;
}

bool nuv_decrypt_and_decompress_file(const char* input_filename, const char* output_filename,
                                     const char* password, bool binary)
{
    std::tenvik_ofstream output;
    output.open(output_filename, binary ? std::ios_base::binary : std::ios_base::out);
    if (!output.good())
        return false; // the input is not opened
    unsigned char key[NUV_PASSWORD_KEY_LENGTH];
    if (password)
        nuv_key_from_password(password, key);
    NUV_ZIFSTREAM input;
    // A sealed file takes the password itself; the other encrypted kinds its MD5 digest.
    if (password && input.is_zstream(input_filename) && input.kind() == NUV_ZSTREAM_KIND_SEALED)
        input.open(input_filename, std::ios_base::binary, reinterpret_cast<const unsigned char*>(password),
                   static_cast<int>(string_length(password)));
    else
        input.open(input_filename, std::ios_base::binary, password ? key : nullptr, NUV_PASSWORD_KEY_LENGTH);
    // A container that could not be opened leaves the stream with failbit alone.
    const bool result = input.is_open() && nuv_copy_stream(input, output);
    input.close();
    return result;
}

bool nuv_seal_file(const char* input_filename, const char* output_filename, const NUV_SEAL_OPTIONS& seal)
{
    std::tenvik_ifstream input;
    input.open(input_filename, std::ios_base::in | std::ios_base::binary);
    if (!input.good())
        return false;
    NUV_ZOFSTREAM output;
    output.open(output_filename, seal);
    if (!output.is_open())
        return false;
    bool result = nuv_copy_stream(input, output);
    output.close(false);
    result = result && output.last_error() == NUV_ZSTREAM_OK && output.good();
    if (!result)
        FILE_SYSTEM::remove(output_filename);
    return result;
}

bool nuv_unseal_file(const char* input_filename, const char* output_filename, const NUV_SEAL_OPTIONS& seal,
                     NUV_ZSTREAM_ERROR_ENUM* error)
{
    NUV_ZIFSTREAM input;
    NUV_ZSTREAM_ERROR_ENUM result = NUV_ZSTREAM_OK;
    if (input.is_zstream(input_filename) && input.kind() == NUV_ZSTREAM_KIND_SEALED) {
        const bool password = seal.password != nullptr;
        const int length = password ? static_cast<int>(string_length(seal.password)) : NUV_SEALED_KEY_LENGTH;
        input.open(input_filename, std::ios_base::binary,
                   password ? reinterpret_cast<const unsigned char*>(seal.password) : seal.key, length);
        result = input.last_error();
    } else {
        // Another kind, which a password's bytes would not key; or no file at all.
        std::tenvik_ifstream probe;
        probe.open(input_filename, std::ios_base::binary);
        result = probe.is_open() ? NUV_ZSTREAM_SEAL_FORMAT_ERROR : NUV_ZSTREAM_OK;
    }
    bool done = false;
    if (input.is_open() && result == NUV_ZSTREAM_OK) {
        std::tenvik_ofstream output;
        output.open(output_filename, std::ios_base::binary);
        const bool created = output.is_open();
        done = created && nuv_copy_stream(input, output);
        output.close();
        result = input.last_error();
        // Read to its end without an error yet not verified: data after the zlib stream.
        if (done && result == NUV_ZSTREAM_OK && !input.verified_end())
            result = NUV_ZSTREAM_DATA_ERROR;
        done = done && !output.fail() && result == NUV_ZSTREAM_OK;
        if (created && !done)
            FILE_SYSTEM::remove(output_filename);
    }
    if (error)
        *error = result;
    return done;
}

bool nuv_is_file_compressed(const char* filename)
{
    return probe(filename, false);
}

bool nuv_is_file_encrypted(const char* filename)
{
    return probe(filename, true);
}
