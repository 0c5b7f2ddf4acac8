#include <gtest/gtest.h>

#include <string>

#include "common/paths.h"
#include "support/temp_root.h"

using ozr_test::TempRoot;

// A write into a missing folder fails with its errno; a read refuses a file over its bound.
TEST(Paths, WriteIntoAMissingFolderAndReadOfAnOversizedFileFail) {
    TempRoot root;
    int err = 0;
    EXPECT_FALSE(ozr_write_file_atomic(root.dir() + "/no/such/dir/f", "x", 0644, &err));
    EXPECT_EQ(err, ENOENT);
    std::string f = root.dir() + "/big";
    ASSERT_TRUE(ozr_write_file_atomic(f, std::string(100, 'x')));
    std::string got;
    EXPECT_FALSE(ozr_read_file(f, got, 99));
    EXPECT_TRUE(ozr_read_file(f, got, 100));
}
