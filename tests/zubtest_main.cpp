#include "zubtest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    // Settings and output files go to a private temporary folder.
    const std::string& dir = ZubTestDir();
    setenv("ZUB_REGISTRY", (dir + "/Zub.ini").c_str(), 1);
    if (chdir(dir.c_str()) != 0)
        return 2;
    return RUN_ALL_TESTS();
}
