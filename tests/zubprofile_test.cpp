#include "zubprofile.h"
#include "zubtest.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
std::string IniPath(const char* name)
{
    return ZubTestDir() + "/" + name;
}
}  // namespace

TEST(ZubProfile, PathComesFromEnvironment)
{
    const std::string saved = std::getenv("ZUB_REGISTRY");
    setenv("ZUB_REGISTRY", "/tmp/x/registry.ini", 1);
    EXPECT_EQ(CZubProfile::DefaultPath(), "/tmp/x/registry.ini");

    unsetenv("ZUB_REGISTRY");
    setenv("XDG_CONFIG_HOME", "/tmp/cfg", 1);
    EXPECT_EQ(CZubProfile::DefaultPath(), "/tmp/cfg/Trelvane/Zub.ini");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(CZubProfile::DefaultPath(), "/home/someone/.config/Trelvane/Zub.ini");

    setenv("ZUB_REGISTRY", saved.c_str(), 1);
}

TEST(ZubProfile, MissingFileGivesDefaults)
{
    CZubProfile profile(IniPath("does-not-exist.ini"));
    EXPECT_EQ(profile.GetProfileInt("Settings", "DarkFrames", 20), 20);
    EXPECT_EQ(profile.GetProfileString("Test", "LogFilename", "zub.log"), "zub.log");
}

TEST(ZubProfile, TypedValuesAndToleratedGarbage)
{
    const std::string path = IniPath("typed.ini");
    ZubWriteText(path,
                 "; a comment before any section\n"
                 "[Settings]\r\n"
                 "DarkFrames=dword:42\r\n"
                 "ROIFactorBright=sz:  0.900\n"
                 "Negative=dword:-7\n"
                 "WrongType=sz:12\n"
                 "TextAsNumber=dword:twelve\n"
                 "TooLarge=dword:4294967296\n"
                 "Trailing=dword:12abc\n"
                 "this line is not a key\n"
                 "=dword:5\n"
                 "NoPrefix=17\n"
                 "[Test]\n"
                 "logfilename=sz:my log.txt\n");
    CZubProfile profile(path);
    EXPECT_EQ(profile.GetProfileInt("Settings", "DarkFrames", 0), 42);
    EXPECT_EQ(profile.GetProfileString("Settings", "ROIFactorBright", ""), "  0.900");
    EXPECT_EQ(profile.GetProfileInt("Settings", "Negative", 0), -7);
    EXPECT_EQ(profile.GetProfileInt("Settings", "WrongType", 3), 3);
    EXPECT_EQ(profile.GetProfileString("Settings", "DarkFrames", "def"), "def");
    EXPECT_EQ(profile.GetProfileInt("Settings", "TextAsNumber", 3), 3);
    EXPECT_EQ(profile.GetProfileInt("Settings", "TooLarge", 3), 3);
    EXPECT_EQ(profile.GetProfileInt("Settings", "Trailing", 3), 3);
    EXPECT_EQ(profile.GetProfileInt("Settings", "NoPrefix", 3), 3);
    // Names ignore case, as the registry they replace does.
    EXPECT_EQ(profile.GetProfileString("TEST", "LogFilename", ""), "my log.txt");
}

TEST(ZubProfile, SaveKeepsUnknownSectionsKeysAndComments)
{
    const std::string path = IniPath("keep.ini");
    ZubWriteText(path,
                 "; written by hand\n"
                 "[Recent File List]\n"
                 "File1=sz:/videos/a.ser\n"
                 "[Settings]\n"
                 "FutureKey=dword:9\n"
                 "DarkFrames=dword:1\n"
                 "odd line\n");
    CZubProfile profile(path);
    profile.WriteProfileInt("Settings", "DarkFrames", 30);
    profile.WriteProfileString("Settings", "ROIFactorSize", "  1.100");
    profile.WriteProfileInt("KIV_Algorithm", "ListSize", 20);
    ASSERT_TRUE(profile.Save());

    EXPECT_EQ(ZubReadText(path),
              "; written by hand\n"
              "[Recent File List]\n"
              "File1=sz:/videos/a.ser\n"
              "[Settings]\n"
              "FutureKey=dword:9\n"
              "DarkFrames=dword:30\n"
              "odd line\n"
              "ROIFactorSize=sz:  1.100\n"
              "[KIV_Algorithm]\n"
              "ListSize=dword:20\n");

    CZubProfile reread(path);
    EXPECT_EQ(reread.GetProfileInt("Settings", "DarkFrames", 0), 30);
    EXPECT_EQ(reread.GetProfileString("Settings", "ROIFactorSize", ""), "  1.100");
}

TEST(ZubProfile, TextWithLineBreakCannotBreakTheFile)
{
    const std::string path = IniPath("newline.ini");
    CZubProfile profile(path);
    profile.WriteProfileString("Test", "LogFilename", "a\nb=dword:1");
    ASSERT_TRUE(profile.Save());
    CZubProfile reread(path);
    EXPECT_EQ(reread.GetProfileString("Test", "LogFilename", ""), "a b=dword:1");
    EXPECT_EQ(reread.GetProfileInt("Test", "b", 5), 5);
}

TEST(ZubProfile, SaveCreatesFoldersAndFailsCleanlyWhenUnwritable)
{
    CZubProfile nested(IniPath("deep/er/Zub.ini"));
    nested.WriteProfileInt("Settings", "DarkFrames", 5);
    EXPECT_TRUE(nested.Save());
    EXPECT_TRUE(ZubFileExists(IniPath("deep/er/Zub.ini")));

    // A folder where the file should be: the rename fails, nothing half-written stays.
    ASSERT_EQ(mkdir(IniPath("occupied.ini").c_str(), 0755), 0);
    CZubProfile blocked(IniPath("occupied.ini"));
    blocked.WriteProfileInt("Settings", "DarkFrames", 5);
    EXPECT_FALSE(blocked.Save());
    const std::filesystem::path folder = std::filesystem::path(IniPath("occupied.ini")).parent_path();
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        EXPECT_NE(entry.path().filename().string().rfind("occupied.ini.", 0), 0u) << entry.path();
}

TEST(ZubProfile, LinesItDoesNotOwnAreWrittenBackByteForByte)
{
    using namespace std::string_literals;
    const std::string path = IniPath("bytes.ini");
    const std::string kept = "[S]\n[X]\0junk\nA=dword:1\n\xff\xfe odd \r\n  B = sz:x\r\n"s + std::string(5000, 'z') + "\n";
    ZubWriteText(path, kept + "[Settings]\r\nDarkFrames=dword:1\r\n");
    CZubProfile profile(path);
    profile.WriteProfileInt("Settings", "DarkFrames", 2);
    ASSERT_TRUE(profile.Save());
    EXPECT_EQ(ZubReadText(path), kept + "[Settings]\r\nDarkFrames=dword:2\n");
    EXPECT_EQ(CZubProfile(path).GetProfileInt("S", "A", 0), 1);  // still in [S]
}
