#include "zubheadlessloop.h"
#include "zubwnd_contract.h"

#include <gtest/gtest.h>

#include <stdexcept>

struct ZubHeadlessLoopFactory
{
    static std::unique_ptr<IZubMessageLoop> Create()
    {
        return std::make_unique<CZubHeadlessLoop>();
    }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Headless, ZubLoopContract, ZubHeadlessLoopFactory);

namespace
{
using zubcontract::CRecordingWnd;
using zubcontract::kMsgA;
using zubcontract::kMsgB;

// Waits (without dispatching) until a thread is waiting in a send.
bool WaitForPendingSend(const CZubHeadlessLoop& loop)
{
    for (int i = 0; i < 10000 && loop.PendingSendCount() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return loop.PendingSendCount() == 1;
}

class ZubHeadlessLoopTest : public testing::Test
{
protected:
    void SetUp() override { ZubSetMessageLoop(&m_loop); }
    void TearDown() override { ZubSetMessageLoop(nullptr); }
    CZubHeadlessLoop m_loop;
};
} // namespace

TEST(ZubWnd, WithoutALoopSendsRunDirectlyAndPostsAreDropped)
{
    ASSERT_EQ(ZubGetMessageLoop(), nullptr);
    CRecordingWnd wnd;
    wnd.onMessage = [](UINT, WPARAM wParam) { return static_cast<LRESULT>(wParam + 1); };
    EXPECT_EQ(wnd.SendMessage(kMsgA, 41), 42);
    wnd.PostMessage(kMsgB);
    wnd.SetTimer(1, 1);
    wnd.KillTimer(1);

    CZubHeadlessLoop loop;
    ZubSetMessageLoop(&loop);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(loop.PumpPending());
    ZubSetMessageLoop(nullptr);
    EXPECT_EQ(wnd.seen.size(), 1u);
}

TEST_F(ZubHeadlessLoopTest, WorkQueuedByAHandlerWaitsForTheNextPump)
{
    CRecordingWnd wnd;
    wnd.onMessage = [&](UINT msg, WPARAM) -> LRESULT {
        if (msg == kMsgA)
            wnd.PostMessage(kMsgB);
        return 0;
    };
    wnd.PostMessage(kMsgA);
    wnd.SetTimer(1, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(m_loop.PumpPending());
    EXPECT_EQ(wnd.Count(kMsgA, 0), 1u);
    EXPECT_EQ(wnd.Count(kMsgB, 0), 0u);
    EXPECT_EQ(wnd.Count(WM_TIMER, 1), 1u) << "a periodic timer fires at most once per pump";
    EXPECT_TRUE(m_loop.PumpPending());
    EXPECT_EQ(wnd.Count(kMsgB, 0), 1u);
}

TEST_F(ZubHeadlessLoopTest, APumpServesWaitingSendsBeforePostedMessages)
{
    CRecordingWnd wnd;
    wnd.PostMessage(kMsgB);
    std::thread sender([&] { wnd.SendMessage(kMsgA); });
    ASSERT_TRUE(WaitForPendingSend(m_loop));
    EXPECT_TRUE(m_loop.PumpPending());
    sender.join();
    ASSERT_EQ(wnd.seen.size(), 2u);
    EXPECT_EQ(wnd.seen[0].msg, kMsgA) << "the send, although it came after the post";
    EXPECT_EQ(wnd.seen[1].msg, kMsgB);
}

TEST_F(ZubHeadlessLoopTest, OffTheUiThreadNothingIsDispatched)
{
    CRecordingWnd wnd;
    wnd.PostMessage(kMsgA);
    m_loop.Quit(-3);
    std::thread other([&] {
        EXPECT_TRUE(m_loop.PumpPending());
        EXPECT_EQ(m_loop.Run(), -1);
    });
    other.join();
    EXPECT_TRUE(wnd.seen.empty());
    EXPECT_EQ(m_loop.Run(), -3);
    EXPECT_EQ(wnd.seen.size(), 1u);
}

TEST_F(ZubHeadlessLoopTest, ASendWaitingForAForgottenWindowReturnsZero)
{
    CRecordingWnd wnd;
    wnd.onMessage = [](UINT, WPARAM) -> LRESULT { return 7; };
    LRESULT result = -1;
    std::thread sender([&] { result = wnd.SendMessage(kMsgA); });
    ASSERT_TRUE(WaitForPendingSend(m_loop));
    m_loop.Forget(&wnd);
    sender.join();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(wnd.seen.empty());
}

TEST_F(ZubHeadlessLoopTest, AThrowingHandlerStillReleasesItsSender)
{
    CRecordingWnd wnd;
    wnd.onMessage = [](UINT, WPARAM) -> LRESULT { throw std::runtime_error("handler failed"); };
    LRESULT result = -1;
    std::thread sender([&] { result = wnd.SendMessage(kMsgA); });
    ASSERT_TRUE(WaitForPendingSend(m_loop));
    EXPECT_THROW(m_loop.PumpPending(), std::runtime_error);
    sender.join();
    EXPECT_EQ(result, 0);
}

TEST(ZubHeadlessLoop, DestroyingTheLoopReleasesWaitingSenders)
{
    CRecordingWnd wnd;
    auto pLoop = std::make_unique<CZubHeadlessLoop>();
    LRESULT result = -1;
    std::thread sender([&] { result = pLoop->Send(&wnd, kMsgA, 0, 0); });
    ASSERT_TRUE(WaitForPendingSend(*pLoop));
    pLoop.reset();
    sender.join();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(wnd.seen.empty());
}
