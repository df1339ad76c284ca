#include "zubqtloop.h"
#include "zubuitest.h"
#include "zubwnd_contract.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

struct ZubQtLoopFactory
{
    static std::unique_ptr<IZubMessageLoop> Create() { return std::make_unique<CZubQtLoop>(); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Qt, ZubLoopContract, ZubQtLoopFactory);

namespace
{
using zubcontract::CRecordingWnd;
using zubcontract::kMsgA;
using zubcontract::kMsgB;

bool PollUntil(const std::function<bool()>& condition, const std::function<void()>& step)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition() && std::chrono::steady_clock::now() < giveUp)
    {
        step();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

class CEventCountingWidget : public QWidget
{
public:
    int paints = 0;
    int keys = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
    void keyPressEvent(QKeyEvent*) override { ++keys; }
};

class ZubQtLoopTest : public testing::Test
{
protected:
    void SetUp() override { ZubSetMessageLoop(&m_loop); }
    void TearDown() override { ZubSetMessageLoop(nullptr); }

    bool PumpUntil(const std::function<bool()>& condition)
    {
        return PollUntil(condition, [this] { m_loop.PumpPending(); });
    }

    // Opens the dialog modally while another thread sends kMsgB to wnd, and closes it once
    // the send has returned (or after a generous time). True when the send was served
    // while the dialog was open.
    bool SendServedWhileModal(QDialog& dialog, CRecordingWnd& wnd)
    {
        std::atomic<bool> bReturned{false};
        bool bModalAtSend = false;
        wnd.onMessage = [&](UINT msg, WPARAM wParam) -> LRESULT {
            if (msg == kMsgB)
                bModalAtSend = QApplication::activeModalWidget() == &dialog;
            return static_cast<LRESULT>(wParam * 2);
        };
        LRESULT result = 0;
        std::thread decoder([&] {
            result = wnd.SendMessage(kMsgB, 21);
            bReturned = true;
        });
        QElapsedTimer clock;
        clock.start();
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (bReturned || clock.elapsed() > 10000)
                dialog.done(QDialog::Accepted);
        });
        closer.start(5);
        dialog.exec();
        const bool bServed = bReturned;
        m_loop.JoinServingSends(decoder);
        wnd.onMessage = nullptr;
        return bServed && bModalAtSend && result == 42;
    }

    CZubQtLoop m_loop;
};
} // namespace

TEST_F(ZubQtLoopTest, SendsAreServedWhileAModalDialogIsOpen)
{
    CRecordingWnd wnd;
    QDialog dialog;
    EXPECT_TRUE(SendServedWhileModal(dialog, wnd)) << "a dialog opened outside any handler";

    // A message box opened by a handler of a posted message, inside Run.
    CRecordingWnd view;
    bool bServedInHandler = false;
    view.onMessage = [&](UINT msg, WPARAM) -> LRESULT {
        if (msg != kMsgA)
            return 0;
        QMessageBox box(QMessageBox::Information, "Zub", "Text", QMessageBox::Ok);
        bServedInHandler = SendServedWhileModal(box, wnd);
        m_loop.Quit(2);
        return 0;
    };
    view.PostMessage(kMsgA);
    EXPECT_EQ(m_loop.Run(), 2);
    EXPECT_TRUE(bServedInHandler);
}

TEST_F(ZubQtLoopTest, PumpPendingServesQtEventsAndLeavesTheQuitQueued)
{
    CEventCountingWidget widget;
    widget.resize(64, 48);
    widget.show();
    ASSERT_TRUE(PumpUntil([&] { return widget.paints > 0; }));
    const int paints = widget.paints;
    widget.update();
    EXPECT_TRUE(PumpUntil([&] { return widget.paints > paints; })) << "a repaint is served";

    CRecordingWnd wnd;
    QCoreApplication::postEvent(&widget, new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier));
    wnd.PostMessage(kMsgA);
    m_loop.Quit(6);
    wnd.PostMessage(kMsgB);
    EXPECT_FALSE(m_loop.PumpPending());
    EXPECT_EQ(widget.keys, 1) << "input is served by the same pump";
    EXPECT_EQ(wnd.Count(kMsgA, 0), 1u);
    EXPECT_FALSE(m_loop.PumpPending()) << "the quit message stays queued";
    EXPECT_EQ(m_loop.Run(), 6);
    EXPECT_EQ(wnd.Count(kMsgB, 0), 0u) << "what follows the quit message waits for the next run";
}

TEST_F(ZubQtLoopTest, TimersSetFromAnotherThreadFireOnTheUiThread)
{
    CRecordingWnd wnd;
    std::thread worker([&] {
        wnd.SetTimer(1, 1, true);
        wnd.SetTimer(2, 1);
        wnd.KillTimer(2);
    });
    worker.join();
    EXPECT_TRUE(PumpUntil([&] { return wnd.Count(WM_TIMER, 1) == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    m_loop.PumpPending();
    ASSERT_EQ(wnd.seen.size(), 1u);
    EXPECT_EQ(wnd.seen[0].thread, std::this_thread::get_id());
}

TEST(ZubQtLoop, ForgettingTheWindowOrDestroyingTheLoopReleasesWaitingSenders)
{
    CRecordingWnd forgotten;
    CRecordingWnd other;
    auto pLoop = std::make_unique<CZubQtLoop>();
    LRESULT forgottenResult = -1;
    LRESULT otherResult = -1;
    std::thread first([&] { forgottenResult = pLoop->Send(&forgotten, kMsgA, 0, 0); });
    std::thread second([&] { otherResult = pLoop->Send(&other, kMsgA, 0, 0); });
    ASSERT_TRUE(PollUntil([&] { return pLoop->PendingSendCount() == 2; }, [] {}));

    pLoop->Forget(&forgotten);
    first.join();
    EXPECT_EQ(forgottenResult, 0);
    pLoop.reset();
    second.join();
    EXPECT_EQ(otherResult, 0);
    EXPECT_TRUE(forgotten.seen.empty());
    EXPECT_TRUE(other.seen.empty());
}

int main(int argc, char** argv)
{
    ZubUiTestSetUp();
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    ZubUiTestTearDown();
    return result;
}
