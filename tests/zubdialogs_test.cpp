#include "zubapp.h"
#include "zubdataframes.h"
#include "zubdialogs.h"
#include "zubtest.h"

#include <gtest/gtest.h>

TEST(ZubDialogs, IntegerBoxesAndLimits)
{
    int v = 7;
    for (const char* bad : {"", "   ", "12a", "1.5", "+-3", "99999999999", "- 4"})
        EXPECT_FALSE(ZubParseDialogInt(bad, v)) << bad;
    EXPECT_EQ(v, 7);
    EXPECT_TRUE(ZubParseDialogInt(" -42 ", v) && v == -42);
    EXPECT_TRUE(ZubParseDialogInt("+5", v) && v == 5);

    // The planet filter's spin: 5, 7, 9 and 9 again; down to 1.
    EXPECT_EQ(ZubSpinStep(5, 1, 2, 1, 9), 7);
    EXPECT_EQ(ZubSpinStep(9, 1, 2, 1, 9), 9);
    EXPECT_EQ(ZubSpinStep(3, -1, 2, 1, 9), 1);
    EXPECT_EQ(ZubSpinStep(300, 1, 1, 1, 255), 255);

    v = 255;
    EXPECT_EQ(ZubLimitDarkFrames(v), nullptr);
    v = 300;
    EXPECT_STREQ(ZubLimitDarkFrames(v), "Limited to 255 frames.");
    EXPECT_EQ(v, 255);
    v = 150;
    EXPECT_STREQ(ZubLimitListSize(v), "List size <= 100 elements.");
    EXPECT_EQ(v, 100);
    EXPECT_EQ(ZubListSizeAtOk(150), 100);
    EXPECT_STREQ(ZubCheckFactorBright(1.5), "Value >1.0 will take full frame.");
    EXPECT_EQ(ZubCheckFactorBright(1.0), nullptr);
    EXPECT_STREQ(ZubCheckFactorSize(0.8), "Value <1.0 will clip the planet.");
    EXPECT_EQ(ZubCheckFactorSize(1.0), nullptr);
    EXPECT_EQ(ZubFormatFactor(ZubParseFactor("1.5")), "  1.500");
    EXPECT_EQ(ZubParseFactor("abc"), 0.0);
    EXPECT_STREQ(ZubCheckLogFilename(" ", true), "Must be not empty.");
    EXPECT_EQ(ZubCheckLogFilename("", false), nullptr);
}

TEST(ZubDialogs, EnablingRules)
{
    const SZubOptionsEnabling manual = ZubOptionsEnabling(false, true, false);
    EXPECT_TRUE(!manual.bAutoRoi && manual.bManualRoi && !manual.bDarkFrames && !manual.bSimulateOptions);
    const SZubOptionsEnabling automatic = ZubOptionsEnabling(true, false, true);
    EXPECT_TRUE(automatic.bAutoRoi && !automatic.bManualRoi && automatic.bDarkFrames && automatic.bSimulateOptions);

    // The frame range needs the log file too.
    EXPECT_FALSE(ZubTestEnabling(false, false, false, true).bLogRange);
    const SZubTestEnabling all = ZubTestEnabling(true, true, true, true);
    EXPECT_TRUE(all.bProcessFrames && all.bFrameNumber && all.bLogFile && all.bLogRange);

    SZubParams before, after;
    EXPECT_FALSE(ZubLogFileChanged(before, after));
    after.LogProcess = true;
    EXPECT_TRUE(ZubLogFileChanged(before, after));
    after = before;
    after.LogFilename = "other.log";
    EXPECT_TRUE(ZubLogFileChanged(before, after));
}

TEST(ZubDialogs, ResultsStripAndNavigation)
{
    // Thumbnail i shows frame f - 7 + i. Frame 3: thumbnails 0 to 4 (frames -4 to 0) are
    // white, 5 shows frame 1, the middle one frame 3.
    for (int i = 0; i <= 4; ++i)
        EXPECT_EQ(ZubStripFrameIndex(3, i, 100), -1);
    EXPECT_EQ(ZubStripFrameIndex(3, 5, 100), 0);
    EXPECT_EQ(ZubStripFrameIndex(3, 7, 100), 2);
    // The last frame: the seven right of the middle are past the end.
    EXPECT_EQ(ZubStripFrameIndex(100, 7, 100), 99);
    for (int i = 8; i < kZubStripThumbnails; ++i)
        EXPECT_EQ(ZubStripFrameIndex(100, i, 100), -1);

    EXPECT_EQ(ZubPreviousCandidate(0, 3), 2);
    EXPECT_EQ(ZubPreviousCandidate(2, 3), 1);
    EXPECT_EQ(ZubNextCandidate(2, 3), 0);
    EXPECT_EQ(ZubNextCandidate(0, 1), 0);

    CZubImpact impact;
    impact.m_iAlgorithm = 2;
    EXPECT_EQ(ZubCandidateEntry(0, impact), "01-ZUB");
    // A slot without arrays: no frames to show, a zero profile.
    EXPECT_EQ(ZubSlotFrames(impact, 50), 0);
    EXPECT_EQ(ZubProfileSeries(impact, 3), (std::vector<int>{0, 0, 0}));
    ASSERT_TRUE(impact.Allocate(2));
    impact.m_piPhotometry[0] = 4;
    impact.m_piPhotometry[1] = 6;
    EXPECT_EQ(ZubSlotFrames(impact, 50), 2);
    EXPECT_EQ(ZubProfileSeries(impact, 3), (std::vector<int>{4, 6, 0}));
}

TEST(ZubDialogs, CsvWriteErrorsLeaveNoFile)
{
    std::string error;
    EXPECT_FALSE(ZubWriteFramesCsv("no-such-folder/frames.csv", nullptr, 0, &error));
    EXPECT_EQ(error, "Can't open file no-such-folder/frames.csv.");
    // A full disk: the write fails, the device is left alone.
    const CZubCandidate record;
    EXPECT_FALSE(ZubWriteFramesCsv("/dev/full", &record, 1, &error));
    EXPECT_EQ(error, "Can't write file /dev/full.");
    EXPECT_TRUE(ZubFileExists("/dev/full"));

    std::string value;
    ZubApp().m_params = SZubParams::Defaults();
    EXPECT_TRUE(ZubApp().GetParam("Settings", "ROIFactorBright", value) && value == "  0.900");
    EXPECT_TRUE(ZubApp().GetParam("KIV_Algorithm", "Mask", value) && value == "1");
    EXPECT_FALSE(ZubApp().GetParam("KIV_Algorithm", "Nothing", value));
}
