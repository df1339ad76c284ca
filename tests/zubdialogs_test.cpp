#include "zubapp.h"
#include "zubdataframes.h"
#include "zubdialogs.h"
#include "zubendsignals.h"
#include "zubreplacefile.h"
#include "zubtest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(ZubDialogs, IntegerBoxesAndLimits)
{
    int v = 7;
    for (const char* bad : {"", "   ", "12a", "1.5", "+-3", "99999999999", "- 4"})
        EXPECT_FALSE(ZubParseDialogInt(bad, v)) << bad;
    EXPECT_EQ(v, 7);
    EXPECT_TRUE(ZubParseDialogInt(" -42 ", v) && v == -42);
    EXPECT_TRUE(ZubParseDialogInt("+5", v) && v == 5);

    // The limits and messages are exercised through the dialogs (tests/ui).
    EXPECT_EQ(ZubSpinStep(300, 1, 1, 1, 255), 255);
    EXPECT_EQ(ZubFormatFactor(ZubParseFactor("1.5")), "  1.500");
    EXPECT_EQ(ZubParseFactor("abc"), 0.0);
    EXPECT_STREQ(ZubCheckLogFilename(" ", true), "Must be not empty.");
    EXPECT_EQ(ZubCheckLogFilename("", false), nullptr);
}

TEST(ZubDialogs, LogFileChange)
{
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

TEST(ZubDialogs, LongProfileKeepsAShortFlashInItsColumn)
{
    // 2,000 frames on 256 columns: a 3-frame flash between the frames one per column would
    // sample is still drawn, where it is.
    std::vector<int> series(2000, 100);
    series[1003] = series[1004] = series[1005] = 160;
    series[500] = 70;  // a dip counts too
    const std::vector<int> columns = ZubProfileColumns(series, 256);
    ASSERT_EQ(columns.size(), 256u);
    EXPECT_EQ(columns[1004 * 256 / 2000], 160);
    EXPECT_EQ(columns[500 * 256 / 2000], 70);
    EXPECT_EQ(std::count(columns.begin(), columns.end(), 100), 254);
    // Up to one value a column, as before: column i shows value i * count / 256.
    const std::vector<int> shortSeries{1, 2, 3, 4};
    EXPECT_EQ(ZubProfileColumns(shortSeries, 256)[255], 4);
    EXPECT_EQ(ZubProfileColumns(shortSeries, 256)[64], 2);
    EXPECT_EQ(ZubProfileColumns({}, 256), std::vector<int>(256, 0));
}

TEST(ZubDialogs, CsvWriteErrorsLeaveNoFile)
{
    std::string error;
    // A full disk: the write fails, the device is left alone.
    const CZubCandidate record;
    std::string reason;
    EXPECT_FALSE(ZubWriteFramesCsv("/dev/full", &record, 1, &error, &reason));
    EXPECT_EQ(error, "Can't write file /dev/full.");
    EXPECT_EQ(reason, "No space left on device");
    EXPECT_TRUE(ZubFileExists("/dev/full"));

    // A disk that fills while an earlier CSV is replaced (a file size limit stands in for
    // it): the earlier file stays whole and nothing else is left beside it.
    const std::vector<CZubCandidate> records(200);
    ASSERT_TRUE(ZubWriteFramesCsv("old.csv", records.data(), 1));
    const std::vector<uint8_t> old = ZubReadFile("old.csv");
    struct rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const auto previousSignal = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = limit;
    small.rlim_cur = 2000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool bWritten = ZubWriteFramesCsv("old.csv", records.data(), 200, &error, &reason);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previousSignal);
    EXPECT_FALSE(bWritten);
    EXPECT_EQ(reason, "File too large");
    auto leftBeside = [] {
        return std::count_if(std::filesystem::directory_iterator("."), std::filesystem::directory_iterator(),
                             [](const auto& e) { return e.path().filename().string().rfind("old.csv.", 0) == 0; });
    };
    EXPECT_EQ(ZubReadFile("old.csv"), old);
    EXPECT_EQ(leftBeside(), 0);

    // A logout's SIGTERM while it is written: the process ends by it, the same two ways.
    const pid_t child = fork();
    if (child == 0)
    {
        ZubEndAtSignals();
        CZubReplacingFile file;
        if (file.Open("old.csv", reason))
            std::fputs("cut short", file.Stream());
        std::raise(SIGTERM);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(ZubReadFile("old.csv"), old);
    EXPECT_EQ(leftBeside(), 0);

    std::string value;
    ZubApp().m_params = SZubParams::Defaults();
    EXPECT_TRUE(ZubApp().GetParam("Settings", "ROIFactorBright", value) && value == "  0.900");
    EXPECT_TRUE(ZubApp().GetParam("KIV_Algorithm", "Mask", value) && value == "1");
    EXPECT_FALSE(ZubApp().GetParam("KIV_Algorithm", "Nothing", value));
}
