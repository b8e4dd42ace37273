// GoogleTest entry point shared by every unit-test executable.
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // TBB keeps worker threads alive between loops; re-executing the binary
    // for each death test is the style that is safe with threads around.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    return RUN_ALL_TESTS();
}
