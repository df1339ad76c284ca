#include "zubrecentfiles.h"
#include "zubtest.h"

#include <gtest/gtest.h>

TEST(ZubRecentFiles, MostRecentFirstWithoutRepeatsAtMostFourAndKeptInTheSettingsFile)
{
    const std::string ini = ZubTestDir() + "/recent.ini";
    CZubRecentFiles recent;
    for (const char* path : {"/a.ser", "/b.avi", "/c.ser", "/b.avi", "/d.wmv", "/e.mpg"})
        recent.Add(path);
    EXPECT_EQ(recent.Files(), (std::vector<std::string>{"/e.mpg", "/d.wmv", "/b.avi", "/c.ser"}));

    recent.Remove("/d.wmv");  // no longer opens
    EXPECT_EQ(recent.At(1), "/b.avi");
    EXPECT_EQ(recent.At(3), "");

    CZubProfile profile(ini);
    ASSERT_TRUE(recent.Save(profile));
    const std::string text = ZubReadText(ini);
    EXPECT_NE(text.find("[Recent File List]\nFile1=sz:/e.mpg\nFile2=sz:/b.avi\nFile3=sz:/c.ser\n"
                        "File4=sz:\n"),
              std::string::npos)
        << text;

    CZubProfile reread(ini);
    reread.WriteProfileString(CZubRecentFiles::kSection, "File4", "/e.mpg");  // a repeat
    CZubRecentFiles loaded;
    loaded.Load(reread);
    EXPECT_EQ(loaded.Files(), recent.Files());
}
