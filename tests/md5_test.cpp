// NUV_MD5 against RFC 1321 and the oracle (OpenSSL's libcrypto, or libgcrypt), both text forms, the converter
// and refusals.
#include <nuv/nuv_md5.h>

#include "oracle.h"
#include "test_support.h"

#include <algorithm>
#include <iomanip>
#include <sstream>

namespace {

// Checks against the oracle: raw (a vector is replaced), as %02x, and as %x (legacy form, converter).
void expect_digest(const NUV_MD5& md5, const std::string& data)
{
    const std::string expected = oracle::md5(data);
    unsigned char bytes[16];
    std::vector<unsigned char> raw = {1, 2, 3};
    EXPECT_TRUE(md5.raw_digest(bytes) && md5.raw_digest(&raw) && expected == std::string(bytes, bytes + 16));
    EXPECT_EQ(raw, std::vector<unsigned char>(expected.begin(), expected.end())) << data.size() << " bytes";
    std::ostringstream current, legacy;
    for (unsigned char byte : raw) {
        current << std::hex << std::setfill('0') << std::setw(2) << int(byte);
        legacy << std::hex << int(byte);
    }
    std::string text = current.str(), converted;
    nuv_convert_md5_hex_digest_to_pre_121_format(text, converted);
    nuv_convert_md5_hex_digest_to_pre_121_format(text, text); // in place
    EXPECT_TRUE(text == legacy.str() && converted == text) << converted;
    EXPECT_TRUE(md5.hex_digest(&text) && text == current.str()) << text;
    EXPECT_TRUE(md5.hex_digest_pre_121(&text) && text == legacy.str()) << text;
    EXPECT_EQ(NUV_MD5::is_hex_digest_well_formed(text), text.size() == 32);
}

TEST(Md5Digest, Rfc1321TestSuite)
{
    const char* const vectors[][2] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"}};
    std::string text;
    for (const auto& vector : vectors)
        EXPECT_TRUE(NUV_MD5(vector[0]).hex_digest(&text) && text == vector[1]) << vector[0];
}

// Sizes at block, pad and read boundaries: random pieces (by a copy), a file (closed), a stream.
TEST(Md5Digest, MatchesTheOracleWithRandomUpdateSplits)
{
    test_support::TEMP_DIR dir;
    std::mt19937 random(1321);
    for (size_t size : {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 128, 1023, 1024, 3000, 299999}) {
        const std::string data = test_support::make_data(size, false, unsigned(size));
        NUV_MD5 md5, copy;
        for (size_t done = 0, piece = 0; done < size; done += piece) {
            piece = std::min<size_t>(random() % 4 == 0 ? random() % 70000 : random() % 130, size - done);
            md5.update(data.data() + done, unsigned(piece));
        }
        copy = md5;
        copy.finalize();
        expect_digest(copy, data);
        test_support::write_file(dir.file("in"), data);
        FILE* file = std::fopen(dir.file("in").c_str(), "rb");
        const int fd = fileno(file);
        const NUV_MD5 from_file(file);
        EXPECT_FALSE(test_support::fd_is_open(fd)) << "the file was not closed, size " << size;
        std::istringstream stream(data);
        expect_digest(from_file, data);
        expect_digest(NUV_MD5(stream), data);
    }
}

// One update of 512 MiB or more counts more bits than 32 hold: the high word of the count
// takes them. The data is a mapping of one block, which costs no memory.
TEST(Md5Digest, OneUpdateOfHalfAGibibyteOrMore)
{
    const size_t size = (size_t(512) << 20) + 100; // 'a's, then zeros
    const char* const data = test_support::repeated_a(size - 100);
    NUV_MD5 md5;
    md5.update(data, unsigned(size));
    md5.finalize();
    unsigned char digest[16];
    EXPECT_TRUE(md5.raw_digest(digest));
    EXPECT_EQ(oracle::md5(data, size), std::string(digest, digest + 16));
}

// Misuse prints one line each and changes nothing; a finalized digest still reads a stream.
TEST(Md5Refusals, MisusePrintsItsMessageAndChangesNothing)
{
    const std::string unfinished = ":  Can't get digest if you haven't finalized the digest!";
    const std::string raw = "[NUV] NUV_MD5::raw_digest" + unfinished,
                      hex = "[NUV] NUV_MD5::hex_digest" + unfinished;
    const std::string update = "[NUV] NUV_MD5::update:  Can't update a finalized digest!";
    test_support::DEBUG_LINES debug;
    NUV_MD5 open, done("abc");
    std::vector<unsigned char> vector(16, 9);
    std::string text = "untouched";
    EXPECT_FALSE(open.raw_digest(vector.data()) || open.raw_digest(&vector) || open.hex_digest(&text) ||
                 open.hex_digest_pre_121(&text));
    EXPECT_TRUE(vector == std::vector<unsigned char>(16, 9) && text == "untouched");
    done.finalize();
    done.update("x", 1);
    std::istringstream stream(std::string(2500, 'y')); // read as 1024 + 1024 + 452 bytes
    done.update(stream);
    expect_digest(done, "abc");
    EXPECT_EQ(debug.lines(),
              (std::vector<std::string>{raw, raw, hex, hex,
                                        "[NUV] NUV_MD5::finalize:  Already finalized this digest!", update,
                                        update, update, update}));
}

// The legacy flag is read at the first hex_digest of a process and kept: exits 0 when so.
void digest_with_the_legacy_flag_switched_on_then_off()
{
    std::string first, later;
    host_test::set_config("use_pre_v12.0_md5_hex_digest", true);
    NUV_MD5("").hex_digest(&first);
    host_test::set_config("use_pre_v12.0_md5_hex_digest", false);
    NUV_MD5("").hex_digest(&later);
    std::exit(first == "d41d8cd98f0b24e980998ecf8427e" && later == first ? 0 : 1);
}

TEST(Md5Config, LegacyFlagIsReadOncePerProcess)
{
    ::testing::FLAGS_gtest_death_test_style = "threadsafe"; // a re-executed child: nothing cached yet
    EXPECT_EXIT(digest_with_the_legacy_flag_switched_on_then_off(), ::testing::ExitedWithCode(0), "");
}

} // namespace
