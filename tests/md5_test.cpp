// NUV_MD5: RFC 1321 vectors, OpenSSL as oracle on random data, the legacy text form and
// its converter, the once-per-process configuration flag and the refusal messages.
#include <nuv/nuv_md5.h>

#include <host/host_services.h>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string hex_of(const NUV_MD5& md5)
{
    std::string text;
    EXPECT_TRUE(md5.hex_digest(&text));
    return text;
}

std::string legacy_of(const NUV_MD5& md5)
{
    std::string text;
    EXPECT_TRUE(md5.hex_digest_pre_121(&text));
    return text;
}

std::vector<unsigned char> openssl_md5(const std::vector<unsigned char>& data)
{
    std::vector<unsigned char> digest(16);
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_md5(), nullptr);
    return digest;
}

std::vector<unsigned char> random_bytes(std::mt19937& random, size_t size)
{
    std::vector<unsigned char> data(size);
    for (auto& byte : data)
        byte = static_cast<unsigned char>(random());
    return data;
}

/// Collects the debug lines printed while it lives.
class DebugLines {
public:
    DebugLines()
    {
        host_test::set_debug_sink(
            [this](const char* tag, const char* text) { m_lines.push_back(std::string(tag) + "|" + text); });
    }
    ~DebugLines() { host_test::set_debug_sink(nullptr); }
    const std::vector<std::string>& lines() const { return m_lines; }

private:
    std::vector<std::string> m_lines;
};

const char* const s_update_refused = "NUV|NUV_MD5::update:  Can't update a finalized digest!";
const char* const s_finalize_refused = "NUV|NUV_MD5::finalize:  Already finalized this digest!";
const char* const s_raw_refused =
    "NUV|NUV_MD5::raw_digest:  Can't get digest if you haven't finalized the digest!";
const char* const s_hex_refused =
    "NUV|NUV_MD5::hex_digest:  Can't get digest if you haven't finalized the digest!";

TEST(Md5Digest, Rfc1321TestSuite)
{
    const std::pair<const char*, const char*> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& vector : vectors) {
        EXPECT_EQ(hex_of(NUV_MD5(vector.first)), vector.second) << vector.first;
        NUV_MD5 bytewise;
        for (const char* p = vector.first; *p; ++p)
            bytewise.update(p, 1);
        bytewise.finalize();
        EXPECT_EQ(hex_of(bytewise), vector.second) << vector.first;
    }
}

TEST(Md5Digest, MatchesOpenSslWithRandomUpdateSplits)
{
    std::mt19937 random(1321);
    std::vector<size_t> sizes = {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 1000, 4096};
    for (int i = 0; i < 40; ++i)
        sizes.push_back(random() % 300000);
    for (size_t size : sizes) {
        const auto data = random_bytes(random, size);
        NUV_MD5 md5;
        size_t done = 0;
        while (done < size) {
            // Mostly small pieces, sometimes large ones that cover many blocks at once.
            size_t piece = random() % 4 == 0 ? random() % 70000 : random() % 130;
            piece = std::min(piece, size - done);
            md5.update(data.data() + done, static_cast<unsigned int>(piece));
            done += piece;
        }
        md5.finalize();
        std::vector<unsigned char> digest = {1, 2, 3};
        ASSERT_TRUE(md5.raw_digest(&digest));
        EXPECT_EQ(digest, openssl_md5(data)) << "size " << size;

        unsigned char raw[16];
        ASSERT_TRUE(NUV_MD5(data.data(), static_cast<unsigned int>(size)).raw_digest(raw));
        EXPECT_EQ(std::vector<unsigned char>(raw, raw + 16), digest) << "size " << size;
    }
}

TEST(Md5Digest, FileIsReadToItsEndAndClosed)
{
    std::mt19937 random(7);
    for (size_t size : {size_t(0), size_t(1023), size_t(1024), size_t(5000)}) {
        const auto data = random_bytes(random, size);
        FILE* file = std::tmpfile();
        ASSERT_NE(file, nullptr);
        if (!data.empty())
            std::fwrite(data.data(), 1, data.size(), file);
        std::rewind(file);
        const int fd = fileno(file);
        NUV_MD5 md5(file);
        EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "the file was not closed, size " << size;
        std::vector<unsigned char> digest;
        ASSERT_TRUE(md5.raw_digest(&digest));
        EXPECT_EQ(digest, openssl_md5(data));
    }
}

TEST(Md5Digest, StreamsAreReadWhileGoodAndStayOpen)
{
    std::mt19937 random(8);
    const auto data = random_bytes(random, 3000);
    const std::string text(data.begin(), data.end());
    const std::vector<unsigned char> expected = openssl_md5(data);

    std::istringstream input(text);
    std::vector<unsigned char> digest;
    ASSERT_TRUE(NUV_MD5(input).raw_digest(&digest));
    EXPECT_EQ(digest, expected);

    // A stream that is not good on entry is not read: the digest of nothing.
    std::istringstream failed(text);
    failed.setstate(std::ios_base::failbit);
    EXPECT_EQ(hex_of(NUV_MD5(failed)), "d41d8cd98f00b204e9800998ecf8427e");

    char dir[] = "/tmp/nuv_md5_test_XXXXXX"; // a directory of its own: nothing outside it is touched
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/input.bin";
    std::ofstream(path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
    std::tenvik_ifstream file;
    file.open(path.c_str(), std::ios_base::binary);
    ASSERT_TRUE(file.is_open());
    ASSERT_TRUE(NUV_MD5(file).raw_digest(&digest));
    EXPECT_EQ(digest, expected);
    EXPECT_TRUE(file.is_open());
    file.close();
    std::remove(path.c_str());
    rmdir(dir);
}

TEST(Md5Digest, AssignmentCopiesTheWholeState)
{
    NUV_MD5 first;
    first.update("abc", 3);
    NUV_MD5 copy;
    copy = first;
    first.update("def", 3);
    first.finalize();
    copy.finalize();
    EXPECT_EQ(hex_of(copy), hex_of(NUV_MD5("abc")));
    EXPECT_EQ(hex_of(first), hex_of(NUV_MD5("abcdef")));

    NUV_MD5 moved;
    moved = std::move(first);
    EXPECT_EQ(hex_of(moved), hex_of(NUV_MD5("abcdef")));
    EXPECT_EQ(hex_of(first), hex_of(NUV_MD5("abcdef"))); // the source is left as it was
}

TEST(Md5Legacy, FormDropsLeadingZeros)
{
    EXPECT_EQ(legacy_of(NUV_MD5("")), "d41d8cd98f0b24e980998ecf8427e");
    EXPECT_EQ(legacy_of(NUV_MD5("abc")), "90150983cd24fb0d6963f7d28e17f72");
    EXPECT_TRUE(NUV_MD5::is_hex_digest_well_formed(hex_of(NUV_MD5(""))));
    EXPECT_FALSE(NUV_MD5::is_hex_digest_well_formed(legacy_of(NUV_MD5(""))));
    EXPECT_TRUE(NUV_MD5::is_hex_digest_well_formed(std::string(32, '?')));
    EXPECT_FALSE(NUV_MD5::is_hex_digest_well_formed(std::string(33, 'a')));
    // The constant is an object with an address, as clients that bind it to a reference need.
    const uint64_t* volatile address = &NUV_MD5::LENGTH_OF_WELL_FORMED_DIGEST;
    EXPECT_EQ(*address, 32u);
}

TEST(Md5Legacy, ConverterMatchesLegacyForm)
{
    // Search for digests with zero bytes and with bytes below 16 and check both against
    // the legacy form of the same digest.
    int with_zero_byte = 0;
    for (int i = 0; i < 5000; ++i) {
        const NUV_MD5 md5(std::to_string(i).c_str());
        std::vector<unsigned char> raw;
        ASSERT_TRUE(md5.raw_digest(&raw));
        const std::string current = hex_of(md5);
        std::string converted;
        nuv_convert_md5_hex_digest_to_pre_121_format(current, converted);
        EXPECT_EQ(converted, legacy_of(md5)) << current;
        size_t expected_length = 0;
        for (unsigned char byte : raw)
            expected_length += byte < 16 ? 1 : 2;
        EXPECT_EQ(converted.size(), expected_length);
        if (std::count(raw.begin(), raw.end(), 0) > 0)
            ++with_zero_byte;
    }
    EXPECT_GT(with_zero_byte, 0);
}

TEST(Md5Legacy, ConverterEdgeCases)
{
    std::string out = "stale";
    // Only texts of exactly 32 characters are converted.
    const std::string short_text = "0123456789abcdef0123456789abcde";
    nuv_convert_md5_hex_digest_to_pre_121_format(short_text, out);
    EXPECT_EQ(out, short_text);
    const std::string long_text = short_text + "00";
    nuv_convert_md5_hex_digest_to_pre_121_format(long_text, out);
    EXPECT_EQ(out, long_text);
    // No pair starts with '0': unchanged, even with zeros in second place.
    const std::string no_leading = "10203040a0b0c0d0e0f0112233445566";
    nuv_convert_md5_hex_digest_to_pre_121_format(no_leading, out);
    EXPECT_EQ(out, no_leading);
    // Zero bytes keep one '0'; letter case and other characters are left alone.
    nuv_convert_md5_hex_digest_to_pre_121_format("00000A0b0z1000000000000000000001", out);
    EXPECT_EQ(out, "00Abz10" + std::string(9, '0') + "1");
    // Converting in place.
    std::string same = "0f0e0d0c0b0a09080706050403020100";
    nuv_convert_md5_hex_digest_to_pre_121_format(same, same);
    EXPECT_EQ(same, "fedcba9876543210");
}

TEST(Md5Refusals, MisusePrintsItsMessageAndChangesNothing)
{
    DebugLines debug;
    NUV_MD5 open;
    unsigned char raw[16] = {7};
    std::vector<unsigned char> vector = {9};
    std::string text = "untouched";
    EXPECT_FALSE(open.raw_digest(raw));
    EXPECT_FALSE(open.raw_digest(&vector));
    EXPECT_FALSE(open.hex_digest(&text));
    EXPECT_FALSE(open.hex_digest_pre_121(&text));
    EXPECT_EQ(raw[0], 7);
    EXPECT_EQ(vector, std::vector<unsigned char>{9});
    EXPECT_EQ(text, "untouched");
    EXPECT_EQ(debug.lines(),
              (std::vector<std::string>{s_raw_refused, s_raw_refused, s_hex_refused, s_hex_refused}));

    NUV_MD5 done("abc");
    const std::string before = hex_of(done);
    done.finalize();
    done.update("x", 1);
    std::istringstream stream(std::string(2500, 'y')); // read as 1024 + 1024 + 452 bytes
    done.update(stream);
    EXPECT_TRUE(stream.eof());
    EXPECT_EQ(hex_of(done), before);
    EXPECT_EQ(debug.lines().size(), 4u + 1u + 1u + 3u);
    EXPECT_EQ(debug.lines()[4], s_finalize_refused);
    for (size_t i = 5; i < debug.lines().size(); ++i)
        EXPECT_EQ(debug.lines()[i], s_update_refused);
}

// Runs only in the child started by ReadOncePerProcess, whose NUV_CONFIG turns the flag on.
TEST(Md5ConfigChild, LegacyFormForTheWholeProcess)
{
    if (!std::getenv("NUV_MD5_CONFIG_CHILD"))
        GTEST_SKIP() << "runs in a child process only";
    // The first call reads the flag even on an open digest (which it then refuses).
    std::string text = "untouched";
    EXPECT_FALSE(NUV_MD5().hex_digest(&text));
    EXPECT_EQ(text, "untouched");
    host_test::set_config("use_pre_v12.0_md5_hex_digest", false);
    EXPECT_FALSE(config_is_on("use_pre_v12.0_md5_hex_digest", true));
    EXPECT_EQ(hex_of(NUV_MD5("")), "d41d8cd98f0b24e980998ecf8427e");
    EXPECT_EQ(hex_of(NUV_MD5("abc")), legacy_of(NUV_MD5("abc")));
    host_test::clear_config();
}

TEST(Md5Config, FlagIsReadOncePerProcess)
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("NUV_CONFIG", "use_pre_v12.0_md5_hex_digest", 1);
        setenv("NUV_MD5_CONFIG_CHILD", "1", 1);
        const int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, STDOUT_FILENO);
        execl("/proc/self/exe", "md5_test", "--gtest_filter=Md5ConfigChild.*", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's checks failed (run it with NUV_MD5_CONFIG_CHILD=1 "
                                         "NUV_CONFIG=use_pre_v12.0_md5_hex_digest)";

    // This process reads its own answer: the flag is off here, and switching it on now
    // is not seen once hex_digest has run.
    EXPECT_EQ(hex_of(NUV_MD5("")), "d41d8cd98f00b204e9800998ecf8427e");
    host_test::set_config("use_pre_v12.0_md5_hex_digest", true);
    EXPECT_EQ(hex_of(NUV_MD5("")), "d41d8cd98f00b204e9800998ecf8427e");
    host_test::clear_config();
}

} // namespace
