// Whole-file functions: round trips in every mode, container sizes and headers, probes,
// and bad inputs (wrong password, damaged or missing files, unwritable output, directories).
#include <nuv/nuv_md5.h>
#include <nuv/nuv_zstream.h>

#include <gtest/gtest.h>

#include "test_support.h"

#include <zlib.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

using test_support::TEMP_DIR;

using BYTES = std::vector<unsigned char>;

class ZstreamFilesTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return m_dir + "/" + name; }

    static void write_file(const std::string& name, const BYTES& bytes)
    {
        std::ofstream(name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    static BYTES read_file(const std::string& name)
    {
        std::ifstream file(name, std::ios::binary);
        return BYTES(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    static bool exists(const std::string& name)
    {
        struct stat info;
        return ::stat(name.c_str(), &info) == 0;
    }
    /// Text-like data: compressible, with line ends, and a random tail.
    static BYTES sample(size_t size)
    {
        std::mt19937 random(24);
        const char* words[] = {"alpha ", "beta ", "gamma\n", "delta ", "epsilon\r\n", "zeta "};
        BYTES bytes;
        while (bytes.size() < size * 3 / 4) {
            const char* word = words[random() % 6];
            bytes.insert(bytes.end(), word, word + std::strlen(word));
        }
        while (bytes.size() < size)
            bytes.push_back(static_cast<unsigned char>(random()));
        bytes.resize(size);
        return bytes;
    }
    static BYTES header(const unsigned char* bytes) { return BYTES(bytes, bytes + 8); }

    TEMP_DIR m_temp;
    const std::string m_dir = m_temp.path().string();
};

TEST_F(ZstreamFilesTest, RoundTripsInEveryMode)
{
    const unsigned char* const no_header = nullptr;
    const struct {
        const char* password;
        bool compress;
        const unsigned char* header;
    } modes[] = {
        {"secret", true, NUV_ZSTREAM_ZIP_CRYPT_HEADER},
        {"secret", false, NUV_ZSTREAM_CRYPT_HEADER},
        {nullptr, true, NUV_ZSTREAM_ZIP_HEADER},
        {nullptr, false, no_header},
    };
    for (size_t size : {size_t(0), size_t(1), size_t(15), size_t(16), size_t(17), size_t(1000000)}) {
        const BYTES input = sample(size);
        write_file(path("in"), input);
        for (const auto& mode : modes) {
            SCOPED_TRACE("size " + std::to_string(size) + (mode.password ? " password" : " no password") +
                         (mode.compress ? " compressed" : " stored"));
            for (bool binary : {true, false}) {
                ASSERT_TRUE(nuv_encrypt_and_compress_file(path("in").c_str(), path("packed").c_str(),
                                                          mode.password, mode.compress, binary));
                const BYTES packed = read_file(path("packed"));
                if (mode.header) {
                    ASSERT_GE(packed.size(), 8u);
                    EXPECT_EQ(BYTES(packed.begin(), packed.begin() + 8), header(mode.header));
                } else {
                    EXPECT_EQ(packed, input); // neither key nor compression: a plain copy
                }
                if (mode.password && !mode.compress) {
                    EXPECT_EQ(packed.size(), 8 + 16 * (size / 16 + 1));
                }
                ASSERT_TRUE(nuv_decrypt_and_decompress_file(path("packed").c_str(), path("out").c_str(),
                                                            mode.password, binary));
                // No newline translation on this platform: text mode gives the same bytes.
                EXPECT_EQ(read_file(path("out")), input);
            }
        }
    }
}

TEST_F(ZstreamFilesTest, KeyOverloadEqualsPasswordOverload)
{
    write_file(path("in"), sample(100000));
    unsigned char key[16];
    ASSERT_TRUE(NUV_MD5("pass phrase").raw_digest(key));
    for (bool compress : {true, false}) {
        ASSERT_TRUE(nuv_encrypt_and_compress_file(path("in").c_str(), path("by_password").c_str(),
                                                  "pass phrase", compress, true));
        ASSERT_TRUE(
            nuv_encrypt_and_compress_file(path("in").c_str(), path("by_key").c_str(), key, compress, true));
        EXPECT_EQ(read_file(path("by_password")), read_file(path("by_key")));
    }
    // A null key is no encryption, as a null password is.
    const unsigned char* no_key = nullptr;
    ASSERT_TRUE(
        nuv_encrypt_and_compress_file(path("in").c_str(), path("unkeyed").c_str(), no_key, true, true));
    EXPECT_EQ(header(read_file(path("unkeyed")).data()), header(NUV_ZSTREAM_ZIP_HEADER));
}

TEST_F(ZstreamFilesTest, EmptyInputGivesTheSmallestContainers)
{
    write_file(path("empty"), BYTES());
    ASSERT_TRUE(nuv_encrypt_and_compress_file(path("empty").c_str(), path("c").c_str(), (const char*)nullptr,
                                              true, true));
    EXPECT_EQ(read_file(path("c")),
              (BYTES{0xAC, 0x0F, 0x01, 0, 0, 0, 0, 0, 0x78, 0x9C, 0x03, 0, 0, 0, 0, 0x01}));
    ASSERT_TRUE(nuv_encrypt_and_compress_file(path("empty").c_str(), path("ce").c_str(), "pw", true, true));
    EXPECT_EQ(read_file(path("ce")).size(), 24u);
    ASSERT_TRUE(nuv_encrypt_and_compress_file(path("empty").c_str(), path("e").c_str(), "pw", false, true));
    EXPECT_EQ(read_file(path("e")).size(), 24u);
    for (const char* name : {"c", "ce", "e"}) {
        ASSERT_TRUE(nuv_decrypt_and_decompress_file(path(name).c_str(), path("out").c_str(), "pw", true));
        EXPECT_TRUE(read_file(path("out")).empty()) << name;
    }
}

TEST_F(ZstreamFilesTest, ProbesRecogniseEveryKind)
{
    write_file(path("in"), sample(5000));
    nuv_encrypt_and_compress_file(path("in").c_str(), path("c").c_str(), (const char*)nullptr, true, true);
    nuv_encrypt_and_compress_file(path("in").c_str(), path("ce").c_str(), "pw", true, true);
    nuv_encrypt_and_compress_file(path("in").c_str(), path("e").c_str(), "pw", false, true);
    // A gzip file written by zlib's own gzip writer.
    gzFile gz = gzopen(path("g.gz").c_str(), "wb9");
    ASSERT_NE(gz, nullptr);
    gzwrite(gz, "payload", 7);
    gzclose(gz);
    write_file(path("empty"), BYTES());
    write_file(path("short"), BYTES(NUV_ZSTREAM_ZIP_HEADER, NUV_ZSTREAM_ZIP_HEADER + 5));

    const struct {
        const char* name;
        bool compressed;
        bool encrypted;
    } cases[] = {{"c", true, false},      {"ce", true, true},       {"e", true, true},
                 {"g.gz", true, false},   {"in", false, false},     {"empty", false, false},
                 {"short", false, false}, {"missing", false, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(nuv_is_file_compressed(path(c.name).c_str()), c.compressed) << c.name;
        EXPECT_EQ(nuv_is_file_encrypted(path(c.name).c_str()), c.encrypted) << c.name;
    }
    EXPECT_FALSE(nuv_is_file_compressed(nullptr));
    EXPECT_FALSE(nuv_is_file_encrypted(nullptr));

    // And the gzip member decodes through the whole-file function.
    ASSERT_TRUE(nuv_decrypt_and_decompress_file(path("g.gz").c_str(), path("out").c_str(), nullptr, true));
    EXPECT_EQ(read_file(path("out")), (BYTES{'p', 'a', 'y', 'l', 'o', 'a', 'd'}));
}

TEST_F(ZstreamFilesTest, PlainInputIsCopiedByDecryption)
{
    const BYTES input = sample(70000);
    write_file(path("plain"), input);
    ASSERT_TRUE(nuv_decrypt_and_decompress_file(path("plain").c_str(), path("out").c_str(), "unused", true));
    EXPECT_EQ(read_file(path("out")), input);
}

TEST_F(ZstreamFilesTest, WrongPasswordOrDamageEndsTheDataEarly)
{
    const BYTES input = sample(300000);
    write_file(path("in"), input);
    for (bool compress : {true, false}) {
        ASSERT_TRUE(nuv_encrypt_and_compress_file(path("in").c_str(), path("packed").c_str(), "right",
                                                  compress, true));
        // A wrong key shows as a cipher or zlib error, which ends the data like end of file.
        EXPECT_TRUE(
            nuv_decrypt_and_decompress_file(path("packed").c_str(), path("out").c_str(), "wrong", true));
        EXPECT_NE(read_file(path("out")), input);

        // Damaged: bytes changed in the middle, and the file cut short.
        BYTES packed = read_file(path("packed"));
        BYTES damaged = packed;
        for (size_t i = damaged.size() / 2; i < damaged.size() / 2 + 64; ++i)
            damaged[i] ^= 0x5A;
        write_file(path("damaged"), damaged);
        // Both read as far as they decode: true, with the output cut short or wrong.
        EXPECT_TRUE(
            nuv_decrypt_and_decompress_file(path("damaged").c_str(), path("out").c_str(), "right", true));
        EXPECT_NE(read_file(path("out")), input);
        write_file(path("cut"), BYTES(packed.begin(), packed.begin() + std::ptrdiff_t(packed.size() / 3)));
        EXPECT_TRUE(nuv_decrypt_and_decompress_file(path("cut").c_str(), path("out").c_str(), "right", true));
        EXPECT_LT(read_file(path("out")).size(), input.size());
    }
}

TEST_F(ZstreamFilesTest, EncryptedContainerWithoutPasswordGivesFalseAndEmptyOutput)
{
    write_file(path("in"), sample(1000));
    ASSERT_TRUE(nuv_encrypt_and_compress_file(path("in").c_str(), path("packed").c_str(), "pw", true, true));
    EXPECT_FALSE(nuv_decrypt_and_decompress_file(path("packed").c_str(), path("out").c_str(), nullptr, true));
    EXPECT_TRUE(exists(path("out")));
    EXPECT_TRUE(read_file(path("out")).empty());
}

TEST_F(ZstreamFilesTest, MissingOrUnwritableFilesGiveFalse)
{
    write_file(path("in"), sample(1000));
    // Missing input: false, and no output is created.
    EXPECT_FALSE(
        nuv_encrypt_and_compress_file(path("missing").c_str(), path("out1").c_str(), "pw", true, true));
    EXPECT_FALSE(exists(path("out1")));
    // Output in a directory that does not exist.
    EXPECT_FALSE(
        nuv_encrypt_and_compress_file(path("in").c_str(), path("no/dir/out").c_str(), "pw", true, true));
    ASSERT_TRUE(nuv_encrypt_and_compress_file(path("in").c_str(), path("packed").c_str(), "pw", true, true));
    const BYTES packed = read_file(path("packed"));
    EXPECT_FALSE(
        nuv_decrypt_and_decompress_file(path("packed").c_str(), path("no/dir/out").c_str(), "pw", true));
    EXPECT_EQ(read_file(path("packed")), packed); // the input is not touched
}

// A container input that cannot be opened must end the copy at once (it used to be able to
// loop for ever); the output file created first stays, empty.
TEST_F(ZstreamFilesTest, UnopenableContainerInputReturnsFalsePromptly)
{
    const std::string missing = path("missing");
    const std::string out = path("out");
    EXPECT_EXIT(
        {
            alarm(20);
            const bool result = nuv_decrypt_and_decompress_file(missing.c_str(), out.c_str(), "pw", true);
            std::exit(result ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(exists(out));
    EXPECT_TRUE(read_file(out).empty());

    if (getuid() != 0) { // root reads every file
        write_file(path("unreadable"), sample(100));
        ::chmod(path("unreadable").c_str(), 0);
        const std::string unreadable = path("unreadable");
        EXPECT_EXIT(
            {
                alarm(20);
                std::exit(
                    nuv_decrypt_and_decompress_file(unreadable.c_str(), out.c_str(), nullptr, true) ? 1 : 0);
            },
            ::testing::ExitedWithCode(0), "");
    }
}

TEST_F(ZstreamFilesTest, DirectoryAsInputGivesFalse)
{
    const std::string dir = m_dir;
    const std::string out = path("out");
    EXPECT_EXIT(
        {
            alarm(20);
            const bool packed = nuv_encrypt_and_compress_file(dir.c_str(), out.c_str(), "pw", true, true);
            const bool unpacked = nuv_decrypt_and_decompress_file(dir.c_str(), out.c_str(), "pw", true);
            std::exit(packed || unpacked ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_FALSE(nuv_is_file_compressed(dir.c_str()));
    EXPECT_FALSE(nuv_is_file_encrypted(dir.c_str()));
}

} // namespace
