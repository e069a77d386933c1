// Pooled doubly linked list: node order, pool exhaustion, removal during an
// iteration. Every list test runs twice, with heap nodes and with a pool.
#include "net/dllist.h"

#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

int g_entries[8];
void* E(int i)
{
    return &g_entries[i];
}

std::vector<void*> Forward(CDllist& list)
{
    std::vector<void*> entries;
    for (void* p = list.Start(nullptr); p != nullptr; p = list.GetNextEntry(nullptr))
        entries.push_back(p);
    return entries;
}

std::vector<void*> Backward(CDllist& list)
{
    std::vector<void*> entries;
    for (void* p = list.End(nullptr); p != nullptr; p = list.GetPrevEntry(nullptr))
        entries.push_back(p);
    return entries;
}

class ListTest : public ::testing::TestWithParam<bool>
{
protected:
    ListTest() : m_pool(GetParam() ? std::make_unique<CListPool>(16) : nullptr), list(m_pool.get()) {}

    std::unique_ptr<CListPool> m_pool;

public:
    CDllist list;
};

}  // namespace

TEST_P(ListTest, KeepsInsertionOrderBothWays)
{
    for (int i : {1, 2, 3})
        ASSERT_EQ(list.Insert(E(i)), 0U);
    EXPECT_EQ(list.GetCount(), 3U);
    EXPECT_EQ(Forward(list), (std::vector<void*>{E(1), E(2), E(3)}));
    EXPECT_EQ(Backward(list), (std::vector<void*>{E(3), E(2), E(1)}));
}

TEST_P(ListTest, RemoveTakesFirstOccurrenceAndIgnoresUnknownEntries)
{
    for (int i : {1, 2, 1, 3})
        list.Insert(E(i));
    list.Remove(E(7));
    EXPECT_EQ(list.GetCount(), 4U);
    list.Remove(E(1));
    EXPECT_EQ(Forward(list), (std::vector<void*>{E(2), E(1), E(3)}));
    EXPECT_EQ(Backward(list), (std::vector<void*>{E(3), E(1), E(2)}));
    list.Remove(E(3));
    EXPECT_EQ(Backward(list), (std::vector<void*>{E(1), E(2)}));
}

TEST_P(ListTest, EmptiedListStartsAfreshOnNextInsert)
{
    list.Insert(E(1));
    list.Remove(E(1));
    EXPECT_EQ(list.GetCount(), 0U);
    EXPECT_EQ(list.Start(nullptr), nullptr);
    EXPECT_EQ(list.End(nullptr), nullptr);
    list.Insert(E(2));
    EXPECT_EQ(list.Start(nullptr), E(2));
    EXPECT_EQ(list.End(nullptr), E(2));
}

TEST_P(ListTest, StartOnEmptyListClearsThePosition)
{
    _dlList marker{};
    _dlList* pPos = &marker;
    EXPECT_EQ(list.Start(&pPos), nullptr);
    EXPECT_EQ(pPos, nullptr);
    pPos = &marker;
    EXPECT_EQ(list.End(&pPos), nullptr);
    EXPECT_EQ(pPos, nullptr);
}

TEST_P(ListTest, RemovingTheCursorEntryEndsTheIteration)
{
    struct Case
    {
        const char* name;
        bool bUsePosition;
        bool bForward;
    };
    const Case cases[] = {
        {"cursor, forward", false, true},
        {"cursor, backward", false, false},
        {"position, forward", true, true},
        {"position, backward", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int i : {1, 2, 3})
            list.Insert(E(i));
        _dlList* pPos = nullptr;
        _dlList** ppPos = c.bUsePosition ? &pPos : nullptr;
        ASSERT_EQ(list.Start(ppPos), E(1));
        ASSERT_EQ(list.GetNextEntry(ppPos), E(2));
        // With heap nodes the removed node is freed here; the next step must
        // not read it (the address sanitizer build checks that).
        list.Remove(E(2));
        EXPECT_EQ(c.bForward ? list.GetNextEntry(ppPos) : list.GetPrevEntry(ppPos), nullptr);
        EXPECT_EQ(Forward(list), (std::vector<void*>{E(1), E(3)}));
        list.Remove(E(1));
        list.Remove(E(3));
    }
}

TEST_P(ListTest, RemovingAnotherEntryDuringIterationSkipsIt)
{
    for (int i : {1, 2, 3, 4})
        list.Insert(E(i));
    std::vector<void*> seen{list.Start(nullptr)};
    list.Remove(E(2));
    for (void* p = list.GetNextEntry(nullptr); p != nullptr; p = list.GetNextEntry(nullptr)) {
        seen.push_back(p);
        if (p == E(3))
            list.Remove(E(1));
    }
    EXPECT_EQ(seen, (std::vector<void*>{E(1), E(3), E(4)}));
}

TEST_P(ListTest, OwnPositionsLetTwoIterationsInterleave)
{
    for (int i : {1, 2, 3})
        list.Insert(E(i));
    _dlList* pA = nullptr;
    _dlList* pB = nullptr;
    EXPECT_EQ(list.Start(&pA), E(1));
    EXPECT_EQ(list.End(&pB), E(3));
    EXPECT_EQ(list.GetNextEntry(&pA), E(2));
    EXPECT_EQ(list.GetPrevEntry(&pB), E(2));
    EXPECT_EQ(list.GetNextEntry(&pA), E(3));
    EXPECT_EQ(list.GetPrevEntry(&pB), E(1));
    EXPECT_EQ(list.GetNextEntry(&pA), nullptr);
    EXPECT_EQ(list.GetPrevEntry(&pB), nullptr);
    // The position keeps the last node returned.
    EXPECT_EQ(pA->entry, E(3));
    EXPECT_EQ(pB->entry, E(1));
}

TEST_P(ListTest, PositionOfAnotherIterationsRemovedNodeEndsIt)
{
    for (int i : {1, 2, 3})
        list.Insert(E(i));
    _dlList* pA = nullptr;
    list.Start(&pA);
    list.GetNextEntry(&pA);  // pA on E(2)
    // A second walk moves the shared cursor elsewhere, then E(2) goes.
    list.End(nullptr);
    list.Remove(E(2));
    EXPECT_EQ(list.GetNextEntry(&pA), nullptr);
}

TEST_P(ListTest, NullEntryEndsAnIterationLikeTheEnd)
{
    list.Insert(E(1));
    list.Insert(nullptr);
    list.Insert(E(2));
    EXPECT_EQ(Forward(list), (std::vector<void*>{E(1)}));
    EXPECT_EQ(list.GetCount(), 3U);
}

INSTANTIATE_TEST_SUITE_P(Nodes, ListTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Pool" : "Heap"; });

TEST(CListPool, HandsOutTheBlocksLastNodeFirst)
{
    CListPool pool(3);
    EXPECT_EQ(pool.GetFree(), 3U);
    _dlList* pFirst = pool.Get();
    _dlList* pSecond = pool.Get();
    _dlList* pThird = pool.Get();
    ASSERT_NE(pThird, nullptr);
    EXPECT_EQ(pFirst, pSecond + 1);
    EXPECT_EQ(pSecond, pThird + 1);
    EXPECT_EQ(pool.Get(), nullptr);
    EXPECT_EQ(pool.GetFree(), 0U);
    EXPECT_EQ(pool.Put(pSecond), 0U);
    EXPECT_EQ(pool.Get(), pSecond);
    pool.Put(pFirst);
    pool.Put(pSecond);
    pool.Put(pThird);
    EXPECT_EQ(pool.GetFree(), 3U);
}

TEST(CListPool, ExhaustedPoolRefusesInsertAndLeavesListsUnchanged)
{
    CListPool pool(3);
    CDllist a(&pool);
    CDllist b(&pool);
    EXPECT_EQ(a.Insert(E(1)), 0U);
    EXPECT_EQ(b.Insert(E(2)), 0U);
    EXPECT_EQ(a.Insert(E(3)), 0U);
    EXPECT_EQ(pool.GetFree(), 0U);

    EXPECT_EQ(b.Insert(E(4)), DLLIST_NO_NODE);
    EXPECT_EQ(b.GetCount(), 1U);
    EXPECT_EQ(Forward(b), (std::vector<void*>{E(2)}));
    EXPECT_EQ(Forward(a), (std::vector<void*>{E(1), E(3)}));

    a.Remove(E(1));
    EXPECT_EQ(pool.GetFree(), 1U);
    EXPECT_EQ(b.Insert(E(4)), 0U);
    EXPECT_EQ(Forward(b), (std::vector<void*>{E(2), E(4)}));
}

TEST(CListPool, DestroyedListsReturnTheirNodes)
{
    CListPool pool(4);
    {
        CDllist list(&pool);
        list.Insert(E(1));
        list.Insert(E(2));
        EXPECT_EQ(pool.GetFree(), 2U);
    }
    EXPECT_EQ(pool.GetFree(), 4U);
}

TEST(CListPool, LockGuardsListsSharedBetweenThreads)
{
    CListPool pool(64);
    CDllist a(&pool);
    CDllist b(&pool);
    auto churn = [&pool](CDllist& list, int base) {
        for (int round = 0; round < 300; ++round) {
            for (int i = 0; i < 4; ++i)
                ASSERT_EQ(list.Insert(E(base + i)), 0U);
            // An iteration that also removes holds the lock around the walk.
            list.EnterLock();
            int seen = 0;
            for (void* p = list.Start(nullptr); p != nullptr; p = list.GetNextEntry(nullptr))
                ++seen;
            EXPECT_EQ(seen, 4);
            for (int i = 0; i < 4; ++i)
                list.Remove(E(base + i));
            list.ReleaseLock();
            (void)pool;
        }
    };
    std::thread ta(churn, std::ref(a), 0);
    std::thread tb(churn, std::ref(b), 4);
    ta.join();
    tb.join();
    EXPECT_EQ(pool.GetFree(), 64U);
    EXPECT_EQ(a.GetCount() + b.GetCount(), 0U);
}
