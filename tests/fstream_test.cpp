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
    const std::string deep = test_support::make_deep_directories(dir.path(), 25); // 5000+ characters
    std::filesystem::create_directory("o");
    std::tenvik_ofstream out;
    out.open((deep + "/f").c_str(), 0); // relative, beyond PATH_MAX; mode 0 writes, and truncates
    out.setstate(std::ios_base::eofbit);
    out.open("other", 0); // an open file stays, with its state
    EXPECT_TRUE(out.is_open() && out.rdstate() == std::ios_base::eofbit && !std::filesystem::exists("other"));
    out.clear();
    out << "data";
    out.close();
    std::tenvik_ifstream in;
    in.open((deep + "/" + std::string(300, 'x') + "/f").c_str(), 0); // a name beyond NAME_MAX: failbit
    EXPECT_TRUE(in.fail() && !in.is_open());
    in.open((dir.path().string() + "/o/.." + deep.substr(1) + "/./f").c_str(), 0); // absolute; mode 0 reads
    in.open("other", 0);
    EXPECT_EQ("data", std::string(std::istreambuf_iterator<char>(in), {}));
    out.open("no/such/dir/file", std::ios_base::app);
    EXPECT_TRUE(out.fail() && !std::filesystem::exists("no"));
    std::filesystem::current_path(cwd);
}
