// Long-path file streams: a file opens by its full path whatever the form of its name, an open
// stream ignores a second open, mode 0 still reads or writes, and a failed open sets failbit.
#include <nuv/nuv_fstream.h>

#include <gtest/gtest.h>

#include "test_support.h"

TEST(FstreamTest, FilesOpenByFullPathOnceAndFailCleanly)
{
    test_support::TEMP_DIR dir;
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    std::string deep = "d"; // relative, and far beyond the 260 characters some platforms allow
    for (int i = 0; i < 15; ++i)
        deep += "/" + std::string(200, char('a' + i));
    std::filesystem::create_directories(deep + "/../o");
    std::tenvik_ofstream out;
    out.open((deep + "/../o/./f").c_str(), 0); // mode 0 writes, and truncates
    out.setstate(std::ios_base::eofbit);
    out.open("other", 0); // an open file stays, with its state
    EXPECT_TRUE(out.is_open() && out.rdstate() == std::ios_base::eofbit && !std::filesystem::exists("other"));
    out.clear();
    out << "data";
    out.close();
    std::tenvik_ifstream in;
    in.open((deep + "/" + std::string(4096, 'x')).c_str(), 0); // beyond PATH_MAX: failbit
    in.open(std::filesystem::absolute(deep + "/../o/f").lexically_normal().c_str(), 0); // mode 0 reads
    in.open("other", 0);
    EXPECT_EQ("data", std::string(std::istreambuf_iterator<char>(in), {}));
    out.open("no/such/dir/file", std::ios_base::app);
    EXPECT_TRUE(out.fail() && !std::filesystem::exists("no"));
    std::filesystem::current_path(cwd);
}
