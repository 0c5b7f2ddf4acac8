#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/paths.h"
#include "support/temp_root.h"

using ozr_test::TempRoot;

TEST(Paths, RootPrefixesAbsolutePathsOnly) {
    unsetenv("OZR_ROOT");
    EXPECT_EQ(ozr_path("/configs/easymesh/a.json"), "/configs/easymesh/a.json");
    setenv("OZR_ROOT", "/tmp/r/", 1);
    EXPECT_EQ(ozr_path("/configs/easymesh/a.json"), "/tmp/r/configs/easymesh/a.json");
    EXPECT_EQ(ozr_path("relative/x"), "relative/x");
    setenv("OZR_ROOT", "", 1);
    EXPECT_EQ(ozr_path("/tmp/x"), "/tmp/x");
    unsetenv("OZR_ROOT");
}

TEST(Paths, AtomicWriteReplacesWholeFileAndLeavesNoTemporary) {
    TempRoot root;
    std::string dir = ozr_path("/configs/easymesh");
    ASSERT_TRUE(ozr_make_dirs(dir));
    std::string file = dir + "/db.json";
    ASSERT_TRUE(ozr_write_file_atomic(file, "first"));
    ASSERT_TRUE(ozr_write_file_atomic(file, "second, longer"));
    std::string got;
    ASSERT_TRUE(ozr_read_file(file, got));
    EXPECT_EQ(got, "second, longer");
    std::string listing = "ls -A '" + dir + "' | wc -l > '" + root.dir() + "/n'";
    ASSERT_EQ(std::system(listing.c_str()), 0);
    ASSERT_TRUE(ozr_read_file(root.dir() + "/n", got));
    EXPECT_EQ(std::stoi(got), 1);
}

TEST(Paths, AtomicWriteIntoMissingFolderFailsWithErrno) {
    TempRoot root;
    int err = 0;
    EXPECT_FALSE(ozr_write_file_atomic(root.dir() + "/no/such/dir/f", "x", 0644, &err));
    EXPECT_EQ(err, ENOENT);
}

TEST(Paths, ReadRefusesOversizedFile) {
    TempRoot root;
    std::string f = root.dir() + "/big";
    ASSERT_TRUE(ozr_write_file_atomic(f, std::string(100, 'x')));
    std::string got;
    EXPECT_FALSE(ozr_read_file(f, got, 99));
    EXPECT_TRUE(ozr_read_file(f, got, 100));
}
