#include "zubapp.h"
#include "zubheadlessshell.h"
#include "zubtest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace
{
class ZubAppTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ZubResetApp();
        m_path = ZubTestDir() + "/" + testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini";
        std::remove(m_path.c_str());
        app.SetProfilePath(m_path);
        app.m_log.SetView(&m_view);
    }
    void TearDown() override { ZubResetApp(); }

    CZubApp& app = ZubApp();
    CZubLogRecorderWnd m_view;
    std::string m_path;
};

const std::vector<std::string> kStartupDump = {
    "",
    "Reading Test parameters.",
    "LimitProcessFrames:     0",
    "ProcessFrames:          100",
    "SaveAvgFrame:           0",
    "SaveIntermediateFrames: 0",
    "SaveAllFrameNumber:     0",
    "WriteConsole:           0",
    "LogProcess:             0",
    "LogResetAtOpenFile:     0",
    "LogDetails:             0",
    "LogDetailsFrames:       0",
    "LogDetailsFramesFrom:   0",
    "LogDetailsFramesTo:     0",
    "LogImagesCsv:           0",
    "LogFilename:            zub.log",
    "",
    "Reading Options parameters.",
    "ROIAutomatic:         1",
    "ROIAutoNumFrames:     20",
    "ROIManualWidth:       640",
    "ROIManualHeight:      480",
    "ROIFactorBright:     0.900",
    "ROIFactorSize:       1.100",
    "ShowHisto:            0",
    "ShowConsole:          0",
    "ShowResults:          1",
    "ProcessAuto:          0",
    "PlanetSizeFilter:     5",
    "DarkAllFrames:        0",
    "DarkFrames:           20",
    "Simulation:           0",
    "RejectDuplicities:    20",
    "SilentMode:           0",
    "",
    "Reading Simulation parameters.",
    "RelativePositionX:     0",
    "RelativePositionY:     0",
    "ImpactSize:            1",
    "PositionRandom:        0",
    "IntensityTotal:        250",
    "IntensityInc:          20",
    "IntensityRand:         0",
    "FrameInitial:          50",
    "FrameDuration:         20",
    "",
    "Reading KIV parameters.",
    "ListSize:               20",
    "MinDetection:           3",
    "MinIncrBright:          20",
    "RadiusSearch:           10",
    "SubstractAvg:           1",
    "Mask:                   1",
    "MaskPixels:             40",
    "ZubDetection:           1",
    "ZubThreshold:           6",
    "ZubMinFrames:           2",
};
}  // namespace

TEST(ZubParams, ConstructorValuesBeforeSettingsAreRead)
{
    const SZubParams p;
    EXPECT_EQ(p.ROIAutomatic, 1);
    EXPECT_EQ(p.ROIManualWidth, 640);
    EXPECT_EQ(p.ROIManualHeight, 480);
    EXPECT_EQ(p.ROIAutoNumFrames, 0);
    EXPECT_EQ(p.DarkFrames, 0);
    EXPECT_FALSE(p.ShowResults);
    EXPECT_FALSE(p.SubstractAvg);
    EXPECT_EQ(p.ROIFactorBright, 0.0);
    EXPECT_TRUE(p.LogFilename.empty());
}

TEST_F(ZubAppTest, FirstStartGivesDefaultsAndDumpsFourSectionsInOrder)
{
    app.m_params = SZubParams();
    app.ReadAllParams();
    EXPECT_EQ(m_view.ConsoleLines(), kStartupDump);
    // Everything went to the console only: no line reached the view's own box.
    EXPECT_EQ(m_view.m_lines.size(), kStartupDump.size());

    const SZubParams d = SZubParams::Defaults();
    EXPECT_EQ(app.m_params.ROIFactorBright, 0.9);
    EXPECT_EQ(app.m_params.ROIFactorSize, 1.1);
    EXPECT_EQ(app.m_params.LogFilename, "zub.log");
    EXPECT_EQ(app.m_params.MaskPixels, d.MaskPixels);
    EXPECT_TRUE(app.m_params.ShowResults);
    EXPECT_FALSE(app.m_params.LogFlush);
}

TEST_F(ZubAppTest, WritersStoreEveryKeyInOrderWithFactorsAsText)
{
    app.m_params = SZubParams::Defaults();
    app.m_params.ROIFactorBright = 0.75;
    app.m_params.LogFlush = true;
    ASSERT_TRUE(app.WriteAllParams());

    const std::string ini = ZubReadText(m_path);
    EXPECT_EQ(ini,
              "[Test]\n"
              "LimitProcessFrames=dword:0\n"
              "ProcessFrames=dword:100\n"
              "SaveAvgFrame=dword:0\n"
              "SaveIntermediateFrames=dword:0\n"
              "SaveAllFrameNumber=dword:0\n"
              "WriteConsole=dword:0\n"
              "LogProcess=dword:0\n"
              "LogFlush=dword:1\n"
              "LogResetAtOpenFile=dword:0\n"
              "LogDetails=dword:0\n"
              "LogDetailsFrames=dword:0\n"
              "LogDetailsFramesFrom=dword:0\n"
              "LogDetailsFramesTo=dword:0\n"
              "LogImagesCsv=dword:0\n"
              "LogFilename=sz:zub.log\n"
              "[Settings]\n"
              "ROIFactorBright=sz:  0.750\n"
              "ROIFactorSize=sz:  1.100\n"
              "ROIAutomatic=dword:1\n"
              "ROIAutoNumFrames=dword:20\n"
              "ROIManualWidth=dword:640\n"
              "ROIManualHeight=dword:480\n"
              "ShowHisto=dword:0\n"
              "ShowConsole=dword:0\n"
              "ShowResults=dword:1\n"
              "ProcessAuto=dword:0\n"
              "PlanetSizeFilter=dword:5\n"
              "DarkAllFrames=dword:0\n"
              "DarkFrames=dword:20\n"
              "Simulation=dword:0\n"
              "RejectDuplicities=dword:20\n"
              "SilentMode=dword:0\n"
              "[Simulation]\n"
              "RelativePositionX=dword:0\n"
              "RelativePositionY=dword:0\n"
              "ImpactSize=dword:1\n"
              "PositionRandom=dword:0\n"
              "IntensityTotal=dword:250\n"
              "IntensityInc=dword:20\n"
              "IntensityRand=dword:0\n"
              "FrameInitial=dword:50\n"
              "FrameDuration=dword:20\n"
              "[KIV_Algorithm]\n"
              "ListSize=dword:20\n"
              "MinDetection=dword:3\n"
              "MinIncrBright=dword:20\n"
              "RadiusSearch=dword:10\n"
              "SubstractAvg=dword:1\n"
              "Mask=dword:1\n"
              "MaskPixels=dword:40\n"
              "ZubDetection=dword:1\n"
              "ZubThreshold=dword:6\n"
              "ZubMinFrames=dword:2\n");
}

TEST_F(ZubAppTest, StoredValuesAreReadAsTheyStand)
{
    ZubWriteText(m_path,
                 "[Settings]\n"
                 "ROIFactorBright=sz:  0.900\n"
                 "ROIFactorSize=sz:big\n"
                 "ROIAutomatic=dword:7\n"
                 "ShowHisto=dword:-3\n"
                 "DarkFrames=dword:1000\n"
                 "[Test]\n"
                 "LogFilename=sz:run 100%s.log\n"
                 "[KIV_Algorithm]\n"
                 "ListSize=dword:500\n"
                 "Mask=sz:1\n");
    app.ReadAllParams();
    EXPECT_EQ(app.m_params.ROIFactorBright, 0.9);
    EXPECT_EQ(app.m_params.ROIFactorSize, 0.0);  // not a number
    EXPECT_EQ(app.m_params.ROIAutomatic, 7);      // kept as the integer read
    EXPECT_TRUE(app.m_params.ShowHisto);          // any non-zero is on
    EXPECT_EQ(app.m_params.DarkFrames, 1000);     // not limited here
    EXPECT_EQ(app.m_params.ListSize, 500);
    EXPECT_TRUE(app.m_params.Mask);               // wrong type: the default
    EXPECT_EQ(app.m_params.LogFilename, "run 100%s.log");

    const std::vector<std::string> lines = m_view.ConsoleLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "LogFilename:            run 100%s.log"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "ROIFactorSize:       0.000"), lines.end());
}

TEST(ZubParams, FactorsOfAnySizeAreWrittenInFullAndReadBack)
{
    for (double factor : {0.75, 1e60, 1e300, -1e300, std::numeric_limits<double>::max()})
        EXPECT_EQ(ZubParseFactor(ZubFormatFactor(factor)), factor) << factor;
}

TEST_F(ZubAppTest, ValuesOutsideWhatTheirUseTakesAreLimitedOrDefaultedAndLogged)
{
    ZubWriteText(m_path, "[Settings]\nROIFactorBright=sz:nan\nROIFactorSize=sz:1e30\nDarkFrames=dword:-5\n"
                         "[KIV_Algorithm]\nMinIncrBright=dword:2147483647\n");
    app.ReadAllParams();
    EXPECT_EQ(app.m_params.ROIFactorBright, 0.9);
    EXPECT_EQ(app.m_params.ROIFactorSize, 100.0);
    EXPECT_EQ(app.m_params.DarkFrames, 0);
    EXPECT_EQ(app.m_params.MinIncrBright, 255);
    std::string error;
    EXPECT_TRUE(app.SetParam("Settings", "ROIFactorBright", "1e300", error));
    EXPECT_EQ(app.m_params.ROIFactorBright, 10.0);
    EXPECT_FALSE(app.SetParam("KIV_Algorithm", "MinIncrBright", "99999999999", error));  // no int
    EXPECT_EQ(app.m_params.MinIncrBright, 255);

    const std::vector<std::string> lines = m_view.ConsoleLines();
    for (const char* line : {"Cannot read setting Settings.ROIFactorBright, default used: 0.900",
                             "Setting Settings.ROIFactorSize limited to 100.000.",
                             "Setting Settings.DarkFrames limited to 0.",
                             "Setting KIV_Algorithm.MinIncrBright limited to 255.",
                             "Setting Settings.ROIFactorBright limited to 10.000."})
        EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line;
}

TEST_F(ZubAppTest, SectionWriteKeepsOtherSectionsAndRoundTrips)
{
    ZubWriteText(m_path, "[Recent File List]\nFile1=sz:/data/jupiter.ser\n");
    app.m_params = SZubParams::Defaults();
    app.m_params.RadiusSearch = 15;
    app.m_params.ROIFactorSize = 1.25;
    ASSERT_TRUE(app.WriteKivParams());
    ASSERT_TRUE(app.WriteSettingsParams());

    app.m_params = SZubParams();
    app.ReadAllParams();
    EXPECT_EQ(app.m_params.RadiusSearch, 15);
    EXPECT_EQ(app.m_params.ROIFactorSize, 1.25);
    EXPECT_EQ(app.GetProfile().GetProfileString("Recent File List", "File1", ""), "/data/jupiter.ser");
}

TEST_F(ZubAppTest, UnwritableSettingsAreLogged)
{
    app.SetProfilePath("/proc/zub-cannot-write-here/Zub.ini");
    EXPECT_FALSE(app.WriteTestParams());
    EXPECT_EQ(m_view.ConsoleLines().back(),
              "Cannot write settings file: /proc/zub-cannot-write-here/Zub.ini");
}

TEST_F(ZubAppTest, UnreadableSettingsAreLoggedWithTheDefaultUsed)
{
    ZubWriteText(m_path, "[KIV_Algorithm]\nMinIncrBright=dword:25 # note\nListSize=dword:30\n"
                         "[Test]\nLogFilename=my.log\n");
    app.ReadAllParams();
    EXPECT_EQ(app.m_params.MinIncrBright, 20);
    EXPECT_EQ(app.m_params.ListSize, 30);
    const std::vector<std::string> lines = m_view.ConsoleLines();
    for (const char* line : {"Cannot read setting KIV_Algorithm.MinIncrBright, default used: 20",
                             "Cannot read setting Test.LogFilename, default used: zub.log"})
        EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line;

    // A FIFO would hang the reader; neither it nor an oversized file is read or replaced.
    const std::string fifo = ZubTestDir() + "/settings.fifo";
    const std::string large = ZubTestDir() + "/large.ini";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    ZubWriteText(large, "[Test]\n");
    ASSERT_EQ(truncate(large.c_str(), CZubProfile::kMaxFileBytes + 1), 0);
    for (const std::string& path : {fifo, large})
    {
        app.SetProfilePath(path);
        m_view.m_lines.clear();
        app.ReadAllParams();
        const std::vector<std::string> read = m_view.ConsoleLines();
        EXPECT_EQ(std::count(read.begin(), read.end(), "Cannot read settings file, defaults used: " + path), 1);
        EXPECT_FALSE(app.WriteTestParams());
    }
    struct stat info {};
    ASSERT_EQ(stat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(ZubReadFile(large).size(), size_t(CZubProfile::kMaxFileBytes + 1));
}

TEST(ZubMessageBoxTest, GoesToTheShellOrStderr)
{
    ZubResetApp();
    CZubRecordingShell shell;
    ZubApp().SetShell(&shell);
    ZubMessageBox("Process aborted!!!");
    EXPECT_EQ(shell.m_boxes, std::vector<std::string>{"Process aborted!!!"});
    ZubApp().SetShell(nullptr);

    testing::internal::CaptureStderr();
    ZubMessageBox("No frames in file.");
    ZubTrace("Can't open file %s, error = %u", "x.bmp", 2u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Zub: No frames in file.\nCan't open file x.bmp, error = 2\n");
}

TEST(ZubMessageBoxTest, BoxesFromSeveralThreadsAreAllShown)
{
    ZubResetApp();
    CZubHeadlessShell shell;
    ZubApp().SetShell(&shell);
    testing::internal::CaptureStderr();
    auto show = [] {
        for (int i = 0; i < 50; ++i)
            ZubMessageBox("Frame: 7 unexpected size. Skipped.");
    };
    std::thread decoder(show);
    show();
    decoder.join();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(shell.MessageBoxes().size(), 100u);
    ZubApp().SetShell(nullptr);
}
