#include "zubtest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    // Settings and output files go to a private temporary folder.
    const std::string& dir = ZubTestDir();
    setenv("ZUB_REGISTRY", (dir + "/Zub.ini").c_str(), 1);
    if (chdir(dir.c_str()) != 0)
        return 2;
    const int result = RUN_ALL_TESTS();
    // ZUB_KEEP_TEST_DIR keeps what the tests wrote, for a look after a failure.
    if (!std::getenv("ZUB_KEEP_TEST_DIR") && chdir("/") == 0)
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    return result;
}
