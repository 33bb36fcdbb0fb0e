// The sealed kind over libgcrypt: Argon2id or HKDF-SHA-256 for the file key, AES-256-GCM in
// the STREAM construction for the chunks, its random source for salt and nonce prefix.
#include "nuv_sealed.h"
#include "nuv_zstream_internal.h"

#include <gcrypt.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

namespace nuv_zstream_detail {

namespace {

const unsigned char FORMAT_VERSION = 1;
const unsigned char AEAD_AES256_GCM = 1;
const uint32_t LEAST_CHUNK_SIZE = 1024;
const uint32_t MOST_CHUNK_SIZE = 1u << 20;
const int NONCE_LENGTH = 12;
const char HKDF_INFO[] = "nuv sealed v1";

/// Offsets in the prefix (header and parameter block).
enum PREFIX_OFFSET {
    AT_VERSION = 8,
    AT_KDF = 9,
    AT_AEAD = 10,
    AT_ZERO = 11,
    AT_PASSES = 12,
    AT_MEMORY = 16,
    AT_LANES = 20,
    AT_SALT = 24,
    AT_CHUNK_SIZE = 40,
    AT_NONCE_PREFIX = 44,
    AT_LAST_ZERO = 51
};

/// libgcrypt wants its version checked once before any other call; a program that
/// initialised it already keeps its own settings.
bool gcrypt_ready()
{
    static const bool ready = [] {
        if (!gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
            if (!gcry_check_version(GCRYPT_VERSION))
                return false;
            gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        }
        return true;
    }();
    return ready;
}

/// Overwrites secrets before their memory is released.
void wipe(void* data, size_t length)
{
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
    while (length-- > 0)
        *bytes++ = 0;
}

bool valid_cost(uint32_t passes, uint32_t memory_kib, uint32_t lanes)
{
    return passes >= 1 && passes <= NUV_SEALED_MOST_PASSES && lanes >= 1 && lanes <= NUV_SEALED_MOST_LANES &&
           memory_kib >= 8 * uint64_t(lanes) && memory_kib <= NUV_SEALED_MOST_MEMORY_KIB;
}

// Argon2id's lanes run as jobs; these run them on threads of their own, so a file's key
// takes about as long as its slowest lane on a machine with a core per lane.
int start_job(void* context, gcry_kdf_job_fn_t job, void* argument)
{
    static_cast<std::vector<std::thread>*>(context)->emplace_back(job, argument);
    return 0;
}

int wait_for_jobs(void* context)
{
    auto& threads = *static_cast<std::vector<std::thread>*>(context);
    for (std::thread& thread : threads)
        thread.join();
    threads.clear();
    return 0;
}

bool argon2id(const SEAL_PARAMETERS& p, const void* password, size_t length, unsigned char* key)
{
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    // Fuzz builds only: a fixed cheap cost (t=1, 8 KiB, one lane) whatever the file or the
    // writer asks, so that no input spends a real derivation. Never in a production build.
    const unsigned long cost[4] = {NUV_SEALED_KEY_LENGTH, 1, 8, 1};
#else
    const unsigned long cost[4] = {NUV_SEALED_KEY_LENGTH, p.passes, p.memory_kib, p.lanes};
#endif
    gcry_kdf_hd_t kdf = nullptr;
    if (gcry_kdf_open(&kdf, GCRY_KDF_ARGON2, GCRY_KDF_ARGON2ID, cost, 4, password, length, p.salt,
                      SEAL_SALT_LENGTH, nullptr, 0, nullptr, 0))
        return false;
    // One lane runs on this thread: a thread of its own would only add its start.
    std::vector<std::thread> threads;
    const gcry_kdf_thread_ops_t ops{&threads, start_job, wait_for_jobs};
    const bool done = !gcry_kdf_compute(kdf, cost[3] > 1 ? &ops : nullptr) &&
                      !gcry_kdf_final(kdf, NUV_SEALED_KEY_LENGTH, key);
    gcry_kdf_close(kdf);
    return done;
}

/// HMAC-SHA-256 of the `count` pieces of `data` under `key`, into the 32 bytes at `mac`.
bool hmac_sha256(const void* key, size_t key_length, const std::pair<const void*, size_t>* data, int count,
                 unsigned char* mac)
{
    gcry_mac_hd_t hmac = nullptr;
    if (gcry_mac_open(&hmac, GCRY_MAC_HMAC_SHA256, 0, nullptr))
        return false;
    bool done = !gcry_mac_setkey(hmac, key, key_length);
    for (int i = 0; done && i < count; ++i)
        done = !gcry_mac_write(hmac, data[i].first, data[i].second);
    size_t length = NUV_SEALED_KEY_LENGTH;
    done = done && !gcry_mac_read(hmac, mac, &length);
    gcry_mac_close(hmac);
    return done;
}

/// HKDF (RFC 5869) with SHA-256 for one 32-byte output block: extract with the salt, then
/// expand with the info and the counter 1.
bool hkdf_sha256(const SEAL_PARAMETERS& p, const void* secret, size_t length, unsigned char* key)
{
    unsigned char pseudo_random_key[NUV_SEALED_KEY_LENGTH];
    const std::pair<const void*, size_t> ikm[] = {{secret, length}};
    const unsigned char counter = 1;
    const std::pair<const void*, size_t> info[] = {{HKDF_INFO, sizeof HKDF_INFO - 1}, {&counter, 1}};
    const bool done = hmac_sha256(p.salt, SEAL_SALT_LENGTH, ikm, 1, pseudo_random_key) &&
                      hmac_sha256(pseudo_random_key, sizeof pseudo_random_key, info, 2, key);
    wipe(pseudo_random_key, sizeof pseudo_random_key);
    return done;
}

void store_be32(uint32_t value, unsigned char* bytes)
{
    for (int i = 3; i >= 0; --i, value >>= 8)
        bytes[i] = static_cast<unsigned char>(value);
}

} // namespace

// ---------------------------------------------------------------------------------------
// SEAL_PARAMETERS

NUV_ZSTREAM_ERROR_ENUM SEAL_PARAMETERS::choose(const NUV_SEAL_OPTIONS& options, SEAL_PARAMETERS* parameters)
{
    SEAL_PARAMETERS& p = *parameters;
    p = SEAL_PARAMETERS();
    if (options.password && *options.password) {
        if (!valid_cost(options.passes, options.memory_kib, options.lanes))
            return NUV_ZSTREAM_SEAL_FORMAT_ERROR;
        p.passes = options.passes;
        p.memory_kib = options.memory_kib;
        p.lanes = options.lanes;
    } else if (options.key && !options.password) {
        p.kdf = SEAL_KDF_HKDF_SHA256;
    } else {
        return NUV_ZSTREAM_SEAL_FORMAT_ERROR;
    }
    if (!gcrypt_ready())
        return NUV_ZSTREAM_MEM_ERROR;
    gcry_randomize(p.salt, sizeof p.salt, GCRY_STRONG_RANDOM);
    gcry_randomize(p.nonce_prefix, sizeof p.nonce_prefix, GCRY_STRONG_RANDOM);
    return NUV_ZSTREAM_OK;
}

NUV_ZSTREAM_ERROR_ENUM SEAL_PARAMETERS::parse(const unsigned char* prefix, SEAL_PARAMETERS* parameters)
{
    SEAL_PARAMETERS& p = *parameters;
    p.kdf = static_cast<SEAL_KDF>(prefix[AT_KDF]);
    p.passes = load_le32(prefix + AT_PASSES);
    p.memory_kib = load_le32(prefix + AT_MEMORY);
    p.lanes = load_le32(prefix + AT_LANES);
    std::memcpy(p.salt, prefix + AT_SALT, sizeof p.salt);
    p.chunk_size = load_le32(prefix + AT_CHUNK_SIZE);
    std::memcpy(p.nonce_prefix, prefix + AT_NONCE_PREFIX, sizeof p.nonce_prefix);
    const bool cost_known = p.kdf == SEAL_KDF_ARGON2ID      ? valid_cost(p.passes, p.memory_kib, p.lanes)
                            : p.kdf == SEAL_KDF_HKDF_SHA256 ? (p.passes | p.memory_kib | p.lanes) == 0
                                                            : false;
    const bool known = std::memcmp(prefix, NUV_ZSTREAM_SEALED_HEADER, 8) == 0 &&
                       prefix[AT_VERSION] == FORMAT_VERSION && prefix[AT_AEAD] == AEAD_AES256_GCM &&
                       prefix[AT_ZERO] == 0 && prefix[AT_LAST_ZERO] == 0 && cost_known &&
                       p.chunk_size >= LEAST_CHUNK_SIZE && p.chunk_size <= MOST_CHUNK_SIZE;
    return known ? NUV_ZSTREAM_OK : NUV_ZSTREAM_SEAL_FORMAT_ERROR;
}

void SEAL_PARAMETERS::write(unsigned char* prefix) const
{
    std::memset(prefix, 0, NUV_SEALED_PREFIX_LENGTH);
    std::memcpy(prefix, NUV_ZSTREAM_SEALED_HEADER, 8);
    prefix[AT_VERSION] = FORMAT_VERSION;
    prefix[AT_KDF] = kdf;
    prefix[AT_AEAD] = AEAD_AES256_GCM;
    store_le32(passes, prefix + AT_PASSES);
    store_le32(memory_kib, prefix + AT_MEMORY);
    store_le32(lanes, prefix + AT_LANES);
    std::memcpy(prefix + AT_SALT, salt, sizeof salt);
    store_le32(chunk_size, prefix + AT_CHUNK_SIZE);
    std::memcpy(prefix + AT_NONCE_PREFIX, nonce_prefix, sizeof nonce_prefix);
}

// ---------------------------------------------------------------------------------------
// SEAL_CIPHER

std::unique_ptr<SEAL_CIPHER> SEAL_CIPHER::create(const SEAL_PARAMETERS& parameters, const void* secret,
                                                 size_t length, NUV_ZSTREAM_ERROR_ENUM* error)
{
    // No file is sealed with an empty password (Argon2id here takes none).
    *error =
        parameters.kdf == SEAL_KDF_ARGON2ID && length == 0 ? NUV_ZSTREAM_AUTH_ERROR : NUV_ZSTREAM_MEM_ERROR;
    if (*error == NUV_ZSTREAM_AUTH_ERROR || !gcrypt_ready())
        return nullptr;
    unsigned char key[NUV_SEALED_KEY_LENGTH];
    const bool derived = parameters.kdf == SEAL_KDF_ARGON2ID ? argon2id(parameters, secret, length, key)
                                                             : hkdf_sha256(parameters, secret, length, key);
    gcry_cipher_hd_t handle = nullptr;
    const bool ready = derived && !gcry_cipher_open(&handle, GCRY_CIPHER_AES256, GCRY_CIPHER_MODE_GCM, 0) &&
                       !gcry_cipher_setkey(handle, key, sizeof key);
    wipe(key, sizeof key);
    if (!ready) {
        gcry_cipher_close(handle);
        return nullptr;
    }
    *error = NUV_ZSTREAM_OK;
    return std::unique_ptr<SEAL_CIPHER>(new SEAL_CIPHER(parameters, handle));
}

SEAL_CIPHER::SEAL_CIPHER(const SEAL_PARAMETERS& parameters, void* handle)
    : m_parameters(parameters), m_handle(handle)
{
    m_parameters.write(m_prefix);
}

SEAL_CIPHER::~SEAL_CIPHER()
{
    gcry_cipher_close(static_cast<gcry_cipher_hd_t>(m_handle)); // wipes the key schedule
}

// Readies the cipher for chunk `index`: its nonce, then the file's prefix as associated data.
bool SEAL_CIPHER::start(uint32_t index, bool last)
{
    unsigned char nonce[NONCE_LENGTH];
    std::memcpy(nonce, m_parameters.nonce_prefix, SEAL_NONCE_PREFIX_LENGTH);
    store_be32(index, nonce + SEAL_NONCE_PREFIX_LENGTH);
    nonce[NONCE_LENGTH - 1] = last ? 1 : 0;
    const auto handle = static_cast<gcry_cipher_hd_t>(m_handle);
    return !gcry_cipher_setiv(handle, nonce, sizeof nonce) &&
           !gcry_cipher_authenticate(handle, m_prefix, sizeof m_prefix);
}

void SEAL_CIPHER::seal(uint32_t index, bool last, unsigned char* data, size_t length)
{
    const auto handle = static_cast<gcry_cipher_hd_t>(m_handle);
    // With a valid handle and sizes none of these fail; a failure is the library's fault.
    if (!start(index, last) || gcry_cipher_final(handle) ||
        gcry_cipher_encrypt(handle, data, length, nullptr, 0) ||
        gcry_cipher_gettag(handle, data + length, SEAL_TAG_LENGTH))
        NUV_ZSTREAM_INTERNAL_ERROR("The sealing cipher failed");
}

bool SEAL_CIPHER::open(uint32_t index, bool last, unsigned char* data, size_t length)
{
    const auto handle = static_cast<gcry_cipher_hd_t>(m_handle);
    if (!start(index, last) || gcry_cipher_final(handle) ||
        gcry_cipher_decrypt(handle, data, length, nullptr, 0))
        NUV_ZSTREAM_INTERNAL_ERROR("The sealing cipher failed");
    return !gcry_cipher_checktag(handle, data + length, SEAL_TAG_LENGTH);
}

// ---------------------------------------------------------------------------------------
// SEALED_SOURCE

SEALED_SOURCE::SEALED_SOURCE(std::istream& file, std::unique_ptr<SEAL_CIPHER> cipher)
    : m_file(file), m_cipher(std::move(cipher)),
      m_buffer(new unsigned char[m_cipher->chunk_size() + SEAL_TAG_LENGTH + 1])
{
}

// Reads a chunk with its tag and one byte more: that byte tells whether another chunk
// follows, and moves to the buffer's start for it once this chunk has been used.
size_t SEALED_SOURCE::next(const unsigned char** data)
{
    if (m_failed || m_ended)
        return 0;
    const size_t sealed = m_cipher->chunk_size() + SEAL_TAG_LENGTH;
    unsigned char* buffer = m_buffer.get();
    if (m_ahead > 0)
        buffer[0] = buffer[sealed];
    size_t have = m_ahead;
    if (m_file.good()) {
        m_file.read(reinterpret_cast<char*>(buffer) + m_ahead,
                    static_cast<std::streamsize>(sealed + 1 - m_ahead));
        have += static_cast<size_t>(m_file.gcount());
    }
    const bool last = have <= sealed;
    // A chunk with no text, or one whose successor's counter would wrap, fails.
    m_failed = have <= SEAL_TAG_LENGTH || (!last && m_index == UINT32_MAX) ||
               !m_cipher->open(m_index, last, buffer, std::min(have, sealed) - SEAL_TAG_LENGTH);
    if (m_failed)
        return 0;
    ++m_index;
    m_ended = last;
    m_ahead = last ? 0 : 1;
    *data = buffer;
    return std::min(have, sealed) - SEAL_TAG_LENGTH;
}

} // namespace nuv_zstream_detail
