// Whole-file functions and their pieces: round trips in every mode, the password's key against
// the oracle's MD5, error texts, the copy loop and its progress, probes, and bad input; names
// beyond ASCII and beyond 260 characters; and the long-path file streams they open files with.
#include <nuv/nuv_zstream.h>

#include <gtest/gtest.h>

#include "oracle.h"
#include "test_support.h"

#include <zlib.h>

#include <set>
#include <sstream>
#include <stdexcept>

namespace {

using namespace test_support;
namespace fs = std::filesystem;
using Bytes = std::string;
const char* const NO_PASSWORD = nullptr;

class ZstreamFilesTest : public ::testing::Test {
protected:
    std::string file(const std::string& name) const { return m_dir.file(name); }
    bool pack(const char* in, const char* out, const char* password, bool compress = true, bool binary = true)
    {
        return nuv_encrypt_and_compress_file(file(in).c_str(), file(out).c_str(), password, compress, binary);
    }
    bool unpack(const char* in, const char* out, const char* password, bool binary = true)
    {
        return nuv_decrypt_and_decompress_file(file(in).c_str(), file(out).c_str(), password, binary);
    }
    TEMP_DIR m_dir;
};

TEST_F(ZstreamFilesTest, PasswordKeyErrorTextsAndCopyLoop)
{
    for (const Bytes password :
         {"", "pw", "longer than one 64-byte block of MD5's input, where the padding goes"}) {
        unsigned char key[NUV_PASSWORD_KEY_LENGTH]; // the MD5 of the password
        nuv_key_from_password(password.c_str(), key);
        EXPECT_EQ(oracle::md5(password), Bytes(key, key + sizeof key)) << password;
    }
    std::set<std::string> texts; // one of its own for every error, and one for the rest
    for (int error : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11})
        texts.insert(nuv_zstream_error_text(NUV_ZSTREAM_ERROR_ENUM(error)));
    EXPECT_EQ(12u, texts.size());
    EXPECT_STREQ("unknown error", nuv_zstream_error_text(NUV_ZSTREAM_ERROR_ENUM(11)));
    const std::pair<size_t, std::vector<uint64_t>> copies[] = {
        {0, {0}}, {1, {1}}, {32768, {32768, 32768}}, {70000, {32768, 65536, 70000}}};
    for (const auto& [size, expected] : copies) { // progress after every piece, the last one too
        std::istringstream source(make_data(size, false));
        std::ostringstream destination;
        std::vector<uint64_t> progress;
        EXPECT_TRUE(nuv_copy_stream(source, destination, [&](uint64_t n) { progress.push_back(n); }));
        EXPECT_EQ(std::make_pair(expected, source.str()), std::make_pair(progress, destination.str()));
        EXPECT_TRUE(nuv_copy_stream(source, destination, [](uint64_t) { ADD_FAILURE(); }));
    }
    // False for a source that stops delivering before its end, and for streams with badbit.
    std::istringstream stuck("data"), source("data");
    stuck.setstate(std::ios_base::failbit);
    std::istream none(nullptr);
    std::ostringstream sink, broken;
    broken.setstate(std::ios_base::badbit);
    int calls = 0;
    EXPECT_FALSE(nuv_copy_stream(
        stuck, sink, [&](uint64_t) { calls++ < 9 ? void() : throw std::runtime_error("endless"); }));
    EXPECT_FALSE(nuv_copy_stream(none, sink) || nuv_copy_stream(source, broken));
}

TEST_F(ZstreamFilesTest, RoundTripsProbesAndBadInput)
{
    // Compressed, compressed and encrypted, encrypted, plain: each read back in text mode (line
    // ends as the platform writes them) and in binary mode, empty inputs as the smallest files,
    // probed.
    const Bytes input = make_data(300000, true);
    write_file(file("in"), input);
    write_file(file("empty"), "");
    const std::tuple<const char*, const char*, bool, Bytes> modes[] = {{"c", nullptr, true, "ac0f"},
                                                                       {"ce", "pw", true, "acef"},
                                                                       {"e", "pw", false, "ae0f"},
                                                                       {"p", nullptr, false, ""}};
    for (const auto& [name, password, compress, header] : modes) {
        ASSERT_TRUE(pack("in", name, password, compress) && pack("empty", "0", password, compress, false));
        for (bool binary : {true, false})
            EXPECT_TRUE(unpack(name, "out", password, binary) &&
                        read_file(file("out")) == (binary ? input : as_text_file(input)))
                << name << (binary ? " binary" : " text");
        const Bytes packed = read_file(file(name));
        EXPECT_EQ(header.empty() ? input : from_hex(header + "010000000000"),
                  packed.substr(0, header.empty() ? Bytes::npos : 8));
        EXPECT_EQ(header.empty() ? 0u : password ? 24u : 16u, read_file(file("0")).size()) << name;
        EXPECT_EQ(std::make_pair(!header.empty(), password != nullptr),
                  std::make_pair(nuv_is_file_compressed(file(name).c_str()),
                                 nuv_is_file_encrypted(file(name).c_str())));
    }
    EXPECT_EQ(8 + 16 * (input.size() / 16 + 1), read_file(file("e")).size()); // padded whole blocks
    gzFile gzip = gzopen(file("in.gz").c_str(), "wb");                        // zlib's own gzip writer
    ASSERT_TRUE(gzip && gzwrite(gzip, input.data(), unsigned(input.size())) == int(input.size()));
    ASSERT_EQ(Z_OK, gzclose(gzip));
    for (const char* name : {"in.gz", "missing", "."}) // a gzip member is compressed, nothing else
        EXPECT_EQ(std::make_pair(name[0] == 'i', false),
                  std::make_pair(nuv_is_file_compressed(file(name).c_str()),
                                 nuv_is_file_encrypted(file(name).c_str())));
    EXPECT_FALSE(nuv_is_file_compressed(nullptr) || nuv_is_file_encrypted(nullptr));
    // A wrong password decodes wrongly, as far as it goes; the gzip member decodes.
    EXPECT_TRUE(unpack("ce", "out", "wrong") && read_file(file("out")) != input);
    EXPECT_TRUE(unpack("in.gz", "out", "unused") && read_file(file("out")) == input);
    // Without its password, or from an input that cannot be opened as a container (the copy
    // could loop for ever), false, and the output created first stays empty.
    EXPECT_FALSE(unpack("e", "out", NO_PASSWORD) || unpack("missing", "out", "pw") ||
                 unpack(".", "out", "pw"));
    EXPECT_TRUE(fs::exists(file("out")) && read_file(file("out")).empty());
    // A missing input creates no output; a directory or an output that cannot be created fail.
    EXPECT_FALSE(pack("missing", "new", "pw") || fs::exists(file("new")));
    EXPECT_FALSE(pack(".", "out", "pw") || pack("in", "no/dir/out", "pw") || unpack("c", "no/dir/out", "pw"));
    // Names beyond the platform's path limit work too, for the functions and the streams they open.
    const std::string deep = make_deep_directories(m_dir.path()) + "/ce";
    EXPECT_TRUE(pack("in", deep.c_str(), "pw") && nuv_is_file_encrypted(file(deep).c_str()));
    EXPECT_TRUE(unpack(deep.c_str(), "back", "pw") && read_file(file("back")) == input);
}

// Names beyond ASCII and paths beyond 260 characters (Windows' old limit), through the streams
// and the whole-file functions: the files carry exactly those UTF-8 names.
TEST_F(ZstreamFilesTest, NonAsciiAndLongNamesRoundTrip)
{
    const Bytes input = make_data(100000, true), long_dir = Bytes(150, 'l') + "/" + Bytes(150, 'm');
    write_file(file("in"), input);
    for (const Bytes& dir : {Bytes("café"), long_dir})
        fs::create_directories(fs::u8path(file(dir)));
    for (const Bytes& name : {Bytes("café/日本語.nuv"), long_dir + "/ü.nuv"}) {
        SCOPED_TRACE(name);
        NUV_ZOFSTREAM(file(name).c_str(), std::ios_base::out | std::ios_base::binary) << input;
        NUV_ZIFSTREAM in(file(name).c_str());
        EXPECT_TRUE(same_bytes(input, Bytes(std::istreambuf_iterator<char>(in), {})) && in.verified_end());
        EXPECT_TRUE(pack("in", (name + ".ce").c_str(), "pw") && unpack((name + ".ce").c_str(), "back", "pw"));
        EXPECT_TRUE(same_bytes(input, read_file(file("back"))));
        for (const char* suffix : {"", ".ce"})
            EXPECT_TRUE(fs::exists(fs::u8path(file(name + suffix)))) << suffix;
    }
}

// Long-path file streams: a file opens by its full path however its name is given, and once;
// mode 0 still reads or writes; a failed open sets failbit.
TEST(FstreamTest, FilesOpenByFullPathOnceAndFailCleanly)
{
    TEMP_DIR dir;
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const std::string deep = make_deep_directories(dir.path()); // 3000+ characters
    std::filesystem::create_directory("o");
    std::tenvik_ofstream out;
    out.open((deep + "/f").c_str(), 0); // relative, beyond the path limit; mode 0 writes, and truncates
    out.setstate(std::ios_base::eofbit);
    out.open("other", 0); // an open file stays, with its state
    EXPECT_TRUE(out.is_open() && out.rdstate() == std::ios_base::eofbit && !std::filesystem::exists("other"));
    out.clear();
    out << "data";
    out.close();
    std::tenvik_ifstream in;
    in.open((deep + "/" + std::string(300, 'x') + "/f").c_str(), 0); // a name beyond NAME_MAX: failbit
    EXPECT_TRUE(in.fail() && !in.is_open());
    in.open((dir.path().u8string() + "/o/.." + deep.substr(1) + "/./f").c_str(), 0); // absolute; mode 0 reads
    in.open("other", 0);
    EXPECT_EQ("data", std::string(std::istreambuf_iterator<char>(in), {}));
    out.open("no/such/dir/file", std::ios_base::app);
    EXPECT_TRUE(out.fail() && !std::filesystem::exists("no"));
    std::filesystem::current_path(cwd);
}

} // namespace
