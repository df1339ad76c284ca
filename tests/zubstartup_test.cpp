#include "zubrun.h"
#include "zubstartup.h"
#include "zubtest.h"

#include <gtest/gtest.h>

// The file named on the command line runs with the saved settings, read (and dumped) first;
// the exit writes all four sections back.
TEST(ZubStartUp, SettingsAreReadBeforeTheCommandLineFileOpensAndWrittenAtExit)
{
    const std::string ini = ZubTestDir() + "/startup.ini";
    ZubWriteText(ini, "[Settings]\nProcessAuto=dword:1\nDarkFrames=dword:7\nSilentMode=dword:1\n");
    CZubTestRun run;
    ZubApp().SetProfilePath(ini);
    SZubSynthOptions o;
    o.iWidth = 160;
    o.iHeight = 120;
    o.iFrames = 20;
    const std::string video = CZubTestRun::Synth("startup.ser", o);

    ASSERT_TRUE(ZubStartUp(run.m_doc, video));
    ASSERT_TRUE(run.WaitIdle());
    EXPECT_TRUE(ZubApp().m_bSilent);
    const int test = run.LineIndex("Reading Test parameters.");
    const int settings = run.LineIndex("Reading Options parameters.");
    const int simulation = run.LineIndex("Reading Simulation parameters.");
    const int kiv = run.LineIndex("Reading KIV parameters.");
    const int open = run.LineIndex("New process started.");
    EXPECT_TRUE(test >= 0 && test < settings && settings < simulation && simulation < kiv && kiv < open);
    EXPECT_TRUE(run.HasLine("Avg. image: Process 7 frames."));

    ZubApp().m_params.DarkFrames = 9;
    ASSERT_TRUE(ZubApp().ExitInstance());
    const std::string text = ZubReadText(ini);
    for (const char* section : {"[Settings]", "[Simulation]", "[Test]", "[KIV_Algorithm]"})
        EXPECT_NE(text.find(section), std::string::npos) << section;
    EXPECT_NE(text.find("DarkFrames=dword:9"), std::string::npos);
    ZubApp().SetProfilePath(ZubTestDir() + "/Zub.ini");
}
