#include "zubapp.h"
#include "zubtest.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{
class ZubLogTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ZubResetApp();
        m_file = std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + ".log";
        std::remove(m_file.c_str());
        params.LogFilename = m_file;
        log.SetView(&m_view);
    }
    void TearDown() override { ZubResetApp(); }

    SZubParams& params = ZubApp().m_params;
    CZubLog& log = ZubApp().m_log;
    CZubLogRecorderWnd m_view;
    std::string m_file;
};
}  // namespace

TEST_F(ZubLogTest, ViewLineGoesToViewThenConsoleThenFile)
{
    params.LogProcess = true;
    log.LogView("New process started.");
    log.Log("Frame size: %i x %i", 640, 480);
    log.LogDetail("detail %s", "only in the file");
    EXPECT_EQ(m_view.m_lines, (std::vector<std::string>{
                                  "V:New process started.",
                                  "C:New process started.",
                                  "C:Frame size: 640 x 480",
                              }));
    log.CloseFile();
    EXPECT_EQ(ZubReadText(m_file), "New process started.\nFrame size: 640 x 480\ndetail only in the file\n");
}

TEST_F(ZubLogTest, NoFileWithoutLogProcessOrName)
{
    log.Log("not in a file");
    log.ResetFile();
    EXPECT_FALSE(ZubFileExists(m_file));
    EXPECT_FALSE(log.IsFileOpen());

    params.LogProcess = true;
    params.LogFilename.clear();
    log.Log("still no file");
    log.LogDetail("nor here");
    EXPECT_FALSE(log.IsFileOpen());
    EXPECT_EQ(m_view.ConsoleLines().size(), 2u);
}

TEST_F(ZubLogTest, FileIsAppendedResetAndFlushed)
{
    ZubWriteText(m_file, "older line\n");
    params.LogProcess = true;
    log.Log("first");
    EXPECT_TRUE(log.IsFileOpen());
    // Each line reaches the file system at once, even while the file stays open.
    EXPECT_EQ(ZubReadText(m_file), "older line\nfirst\n");

    log.ResetFile();
    log.Log("after reset");
    EXPECT_EQ(ZubReadText(m_file), "after reset\n");

    params.LogFlush = true;
    log.Log("flushed");
    EXPECT_FALSE(log.IsFileOpen());
    std::remove(m_file.c_str());  // another program may take the file between lines
    log.Log("reopened");
    EXPECT_EQ(ZubReadText(m_file), "reopened\n");
}

TEST_F(ZubLogTest, PercentSignsAreNeverFormattedTwice)
{
    params.LogProcess = true;
    const char* path = "/videos/100%s_%n_%i.ser";
    log.LogView("File: %s", path);
    log.LogText(std::string("raw %d text"));
    EXPECT_EQ(m_view.m_lines[0], std::string("V:File: ") + path);
    EXPECT_EQ(m_view.m_lines[1], std::string("C:File: ") + path);
    log.CloseFile();
    EXPECT_EQ(ZubReadText(m_file), std::string("File: ") + path + "\nraw %d text\n");
}

TEST_F(ZubLogTest, OverlongLinesAreCut)
{
    params.LogProcess = true;
    const std::string longText(10000, 'x');
    log.Log("%s", longText.c_str());
    EXPECT_EQ(m_view.ConsoleLines()[0].size(), CZubLog::kBufferSize - 2);
    log.CloseFile();
    EXPECT_EQ(ZubReadText(m_file).size(), CZubLog::kBufferSize - 1);
}

TEST_F(ZubLogTest, FrameTraceRule)
{
    log.LogTrace("Frame: %i", 1);  // nothing on
    params.LogProcess = true;
    log.LogTrace("Frame: %i", 2);  // file on, details off
    params.LogDetails = true;
    log.LogTrace("Frame: %i", 3);  // detail line: file only
    params.WriteConsole = true;
    log.LogTrace("Frame: %i", 4);  // ordinary line: console and file, once
    log.CloseFile();
    EXPECT_EQ(m_view.ConsoleLines(), std::vector<std::string>{"Frame: 4"});
    EXPECT_EQ(ZubReadText(m_file), "Frame: 3\nFrame: 4\n");
}

TEST_F(ZubLogTest, UnopenableFileDropsLinesAndRetries)
{
    CZubRecordingShell shell;
    ZubApp().SetShell(&shell);
    params.LogProcess = true;
    params.LogFilename = "no-such-folder/zub.log";
    log.Log("dropped");
    log.Log("dropped too");
    EXPECT_FALSE(log.IsFileOpen());
    // Told once, on the console and in a box.
    const std::string report = "Cannot open log file: no-such-folder/zub.log (No such file or directory)";
    EXPECT_EQ(m_view.ConsoleLines(), (std::vector<std::string>{"dropped", report, "dropped too"}));
    EXPECT_EQ(shell.m_boxes, std::vector<std::string>{report});
    params.LogFilename = m_file;
    log.Log("kept");
    log.CloseFile();
    EXPECT_EQ(ZubReadText(m_file), "kept\n");
}

TEST_F(ZubLogTest, FileWritesFromTwoThreadsStayWholeLines)
{
    params.LogProcess = true;
    log.SetView(nullptr);
    constexpr int kLines = 2000;
    auto writer = [this](char c) {
        const std::string text(60, c);
        for (int i = 0; i < kLines; ++i)
            log.LogDetail("%s", text.c_str());
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();
    log.CloseFile();

    const std::string content = ZubReadText(m_file);
    size_t pos = 0;
    int lines = 0;
    while (pos < content.size())
    {
        const size_t end = content.find('\n', pos);
        ASSERT_NE(end, std::string::npos);
        const std::string line = content.substr(pos, end - pos);
        ASSERT_TRUE(line == std::string(60, 'a') || line == std::string(60, 'b')) << line;
        pos = end + 1;
        ++lines;
    }
    EXPECT_EQ(lines, 2 * kLines);
}
