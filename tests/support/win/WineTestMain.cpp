// GoogleTest's main for the Windows tests, which also takes the paths they are given.

#include <gtest/gtest.h>

#include "tests/support/win/WineTestSupport.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    flashwise::winetest::ReadPathArguments(argc, argv);
    return RUN_ALL_TESTS();
}
