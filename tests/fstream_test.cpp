// Long-path file streams: files open by their full path, an open stream ignores a second
// open, mode 0 still reads or writes, and a failed open sets failbit.
#include <nuv/nuv_fstream.h>

#include <gtest/gtest.h>

#include "test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using test_support::TEMP_DIR;

namespace fs = std::filesystem;

class FstreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_old_cwd = fs::current_path();
        fs::current_path(m_dir);
    }
    void TearDown() override { fs::current_path(m_old_cwd); }

    TEMP_DIR m_temp;
    const fs::path m_dir = m_temp.path();
    fs::path m_old_cwd;
};

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST_F(FstreamTest, RelativeAndUnnormalisedNamesOpenTheSameFile)
{
    fs::create_directory("sub");
    std::tenvik_ofstream out;
    out.open("sub/../sub/./a.txt", 0);
    ASSERT_TRUE(out.good());
    out << "hello";
    out.close();
    EXPECT_EQ("hello", slurp(m_dir / "sub" / "a.txt"));

    std::tenvik_ifstream in;
    in.open((m_dir / "sub" / "a.txt").c_str(), 0);
    std::string word;
    in >> word;
    EXPECT_EQ("hello", word);
}

TEST_F(FstreamTest, LongNamesOpenAsLongAsTheFileSystemAllows)
{
    // Far beyond the 260 characters some platforms allow.
    std::string path = "d";
    for (int i = 0; i < 15; ++i)
        path += "/" + std::string(200, char('a' + i));
    fs::create_directories(path);
    path += "/../" + std::string(200, 'o') + "/f";
    fs::create_directories(fs::path(path).parent_path());
    std::tenvik_ofstream out;
    out.open(path.c_str(), std::ios_base::binary);
    ASSERT_TRUE(out.good());
    out << "deep";
    out.close();
    EXPECT_EQ("deep", slurp(fs::path(path).lexically_normal()));

    // Beyond PATH_MAX the kernel refuses the name: the stream fails cleanly.
    const std::string too_long = path + "/" + std::string(4096, 'x');
    std::tenvik_ifstream in;
    in.open(too_long.c_str(), 0);
    EXPECT_TRUE(in.fail());
    EXPECT_FALSE(in.is_open());
}

TEST_F(FstreamTest, SecondOpenLeavesTheFirstFileAndStateAlone)
{
    std::tenvik_ofstream out;
    out.open("first", 0);
    out.setstate(std::ios_base::eofbit);
    out.open("second", 0);
    EXPECT_TRUE(out.is_open());
    EXPECT_EQ(std::ios_base::eofbit, out.rdstate());
    EXPECT_FALSE(fs::exists("second"));
    out.clear();
    out << "1";
    out.close();
    EXPECT_EQ("1", slurp("first"));

    std::tenvik_ifstream in;
    in.open("first", 0);
    in.open("missing", 0);
    EXPECT_TRUE(in.good());
    EXPECT_EQ('1', in.get());
}

TEST_F(FstreamTest, ModeZeroReadsAndWritesAndTruncates)
{
    {
        std::ofstream("f") << "long old content";
    }
    std::tenvik_ofstream out;
    out.open("f", 0);
    out << "new";
    out.close();
    EXPECT_EQ("new", slurp("f"));
    out.open("f", std::ios_base::app);
    out << "+";
    out.close();
    EXPECT_EQ("new+", slurp("f"));

    std::tenvik_ifstream in;
    in.open("f", 0);
    std::string text;
    in >> text;
    EXPECT_EQ("new+", text);
}

TEST_F(FstreamTest, FailedOpenAndReopenAfterClose)
{
    std::tenvik_ifstream in;
    in.open("missing", 0);
    EXPECT_TRUE(in.fail());
    EXPECT_FALSE(in.is_open());
    in.close();
    EXPECT_TRUE(in.fail());
    {
        std::ofstream("present") << "x";
    }
    in.open("present", std::ios_base::binary);
    EXPECT_TRUE(in.good());
    EXPECT_EQ('x', in.get());
    in.close();
    in.open("present", 0);
    EXPECT_TRUE(in.is_open());

    std::tenvik_ofstream out;
    out.open("no/such/dir/file", 0);
    EXPECT_TRUE(out.fail());
    EXPECT_FALSE(fs::exists("no"));
}

} // namespace
