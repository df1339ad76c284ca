// The patch store: records in memory up to the budget, the rest in a temporary file, read
// back as written, and a store that cannot be made says why.
#include "zubcandidate.h"
#include "zubpatchstore.h"
#include "zubtest.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(ZubPatchStore, RecordsBeyondTheBudgetGoToAFileAndReadBackAsWritten)
{
    CZubPatchStore store;
    std::string error;
    ASSERT_TRUE(store.Reset(6, 100, 250, error)) << error;  // two records in memory
    EXPECT_EQ(store.MemoryFrames(), 2);
    for (int frame : {0, 1, 2, 4, 5})
    {
        uint8_t* record = store.Write(frame);
        ASSERT_NE(record, nullptr) << frame;
        EXPECT_EQ(record[99], 0) << "a new record is zero";
        std::memset(record, 10 + frame, 60);  // the rest keeps what it held
    }
    for (int frame = 0; frame < 6; ++frame)
    {
        const uint8_t* record = store.Read(frame);
        ASSERT_NE(record, nullptr) << frame;
        EXPECT_EQ(record[0], frame == 3 ? 0 : 10 + frame) << frame;
        EXPECT_EQ(record[60], 0) << frame;
    }
    EXPECT_TRUE(store.Flush());
    EXPECT_EQ(store.Write(2)[59], 12) << "written again, a record starts from what it held";
    EXPECT_EQ(store.Read(6), nullptr);
    EXPECT_EQ(store.Write(-1), nullptr);

    // No folder for the file: the store cannot be made, and says why.
    CZubScopedEnv tmp("TMPDIR", "/nonexistent-zub-folder");
    EXPECT_FALSE(store.Reset(6, 100, 250, error));
    EXPECT_NE(error.find("/nonexistent-zub-folder"), std::string::npos) << error;
    EXPECT_EQ(store.Read(0), nullptr);
    EXPECT_TRUE(store.Reset(2, 100, 250, error)) << "what fits in memory needs no file";
}

// Patches and photometry from a list whose patches all went to the file equal those of a
// list that kept them in memory.
TEST(ZubPatchStore, ListInAFileGivesWhatItGivesInMemory)
{
    CZubFrame video;
    video.Create(120, 90, FRAME_COLOR_RGB24);
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 120; ++x)
            for (int c = 0; c < 3; ++c)
                video.GetPixelRGB(x, y)[c] = static_cast<uint8_t>(x * 3 + y * 7 + c * 50);
    CZubCandidateList inMemory, inFile;
    inFile.m_nPatchMemoryBytes = 0;
    for (CZubCandidateList* list : {&inMemory, &inFile})
    {
        for (int i = 0; i < 3; ++i)
        {
            CZubCandidate record;
            record.m_iFrame = 2 + i;
            record.m_iKivState = ZUB_STATE_CANDIDATE;
            record.m_ptKiv = {10 + 20 * i, 30};
            record.m_sizeRoi = {80, 60};
            list->Add(record);
        }
        ASSERT_TRUE(list->Allocate(8));
        for (int n = 1; n <= 8; ++n)
        {
            CZubCandidate record;
            record.m_iFrame = n;
            record.m_ptCM = {40 + 5 * n, 30 + 3 * n};  // reaches the border in the last frames
            list->CollectPatches(record, video);
            list->ComputePhotometry(n);
        }
        EXPECT_TRUE(list->FinishPatches());
        EXPECT_EQ(list->StorageError(), "");
    }
    for (int slot = 0; slot < 3; ++slot)
        for (int k = 0; k < 8; ++k)
        {
            ASSERT_NE(inFile.GetPatch(slot, k), nullptr);
            EXPECT_EQ(std::memcmp(inFile.GetPatch(slot, k), inMemory.GetPatch(slot, k), CZubImpact::kPatchBytes), 0);
            EXPECT_EQ(inFile.m_aImpacts[slot].PhotometryAt(k), inMemory.m_aImpacts[slot].PhotometryAt(k));
        }

    // A list whose store cannot be made keeps its photometry and tells why.
    CZubScopedEnv tmp("TMPDIR", "/nonexistent-zub-folder");
    EXPECT_FALSE(inFile.Allocate(8));
    EXPECT_NE(inFile.StorageError().find("no room for the patches"), std::string::npos) << inFile.StorageError();
    EXPECT_TRUE(inFile.m_aImpacts[0].HasArrays());
    EXPECT_EQ(inFile.GetPatch(0, 0), nullptr);
}
