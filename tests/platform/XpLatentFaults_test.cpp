// Faults no caller of today reaches, kept from coming back: a writer of the
// reader-writer locks that loses its wake-up, a shared pointer assigned from
// something its own object owns, and a replacement that outgrows 32 bits.
#include "platform/XpString.h"
#include "platform/XpSync.h"
#include "platform/XpThread.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <vector>

namespace {

// Readers and writers take turns as fast as they can; each lock is held for
// a moment only, so a wait that runs into its three seconds has missed the
// change that should have woken it.
template <class Lock>
struct Crowd {
    Lock lock;
    volatile LONG failures = 0;
    volatile LONG rounds = 0;
    int perThread = 0;
};

template <class Lock>
unsigned int ReaderLoop(void* argument) {
    Crowd<Lock>* crowd = static_cast<Crowd<Lock>*>(argument);
    for (int i = 0; i < crowd->perThread; ++i) {
        if (crowd->lock.LockReadTimeout(3) != XP_OK) {
            InterlockedIncrement(&crowd->failures);
            return 1;
        }
        crowd->lock.Unlock();
        InterlockedIncrement(&crowd->rounds);
    }
    return 0;
}

template <class Lock>
unsigned int WriterLoop(void* argument) {
    Crowd<Lock>* crowd = static_cast<Crowd<Lock>*>(argument);
    for (int i = 0; i < crowd->perThread; ++i) {
        if (crowd->lock.LockTimeout(3) != XP_OK) {
            InterlockedIncrement(&crowd->failures);
            return 1;
        }
        crowd->lock.Unlock();
        InterlockedIncrement(&crowd->rounds);
    }
    return 0;
}

template <class Lock>
void RunCrowd(int perThread) {
    Crowd<Lock> crowd;
    crowd.perThread = perThread;
    std::vector<XpThread*> threads;
    for (int i = 0; i < 2; ++i) threads.push_back(XpThread::Create(&WriterLoop<Lock>, &crowd));
    for (int i = 0; i < 3; ++i) threads.push_back(XpThread::Create(&ReaderLoop<Lock>, &crowd));
    for (XpThread* thread : threads) ASSERT_TRUE(thread != NULL);
    for (XpThread* thread : threads) XpThread::Join(thread);
    LONG failures = crowd.failures;
    LONG rounds = crowd.rounds;
    EXPECT_EQ(0, failures) << "a waiter slept through a free lock";
    EXPECT_EQ(5 * perThread, rounds);
}

TEST(XpRwLockWakeUp, WritersAndReadersNeverSleepThroughAFreeLock) { RunCrowd<XpRwLock>(4000); }

TEST(XpRwLockWakeUp, WritersAndReadersOfTheExtendedLockNeverSleepThroughAFreeLock) {
    RunCrowd<XpRwLockEx>(4000);
}

// A list node whose memory is overwritten when it goes, so that anything read
// from it afterwards is visibly wrong.
struct Node {
    int value;
    XpSharedPtr<Node> next;
    explicit Node(int v) : value(v) {}
    static void operator delete(void* p, size_t size) {
        std::memset(p, 0xDD, size);
        ::operator delete(p);
    }
};

TEST(XpSharedPtrAssign, AssigningFromWhatTheOldObjectOwnsWalksTheList) {
    XpSharedPtr<Node> head(new Node(1));
    head->next = XpSharedPtr<Node>(new Node(2));
    head->next->next = XpSharedPtr<Node>(new Node(3));
    Node* second = head->next.get();
    XpSharedPtr<Node> p = head;
    head = XpSharedPtr<Node>();
    // p is the first node's only owner: the assignment frees the node that
    // holds its source.
    p = p->next;
    ASSERT_EQ(second, p.get());
    EXPECT_EQ(2, p->value);
    EXPECT_EQ(1, p.UseCount());
    p = p->next;
    ASSERT_FALSE(p.IsNull());
    EXPECT_EQ(3, p->value);
    p = p->next;
    EXPECT_TRUE(p.IsNull());
}

TEST(XpStringReplace, GrowthBeyondThirtyTwoBitsOfEstimateIsSizedExactly) {
    // 65,533 units with one match and a 32,768-unit replacement: a buffer
    // estimated as replacement x (length / pattern + 3) units is 2^32 bytes,
    // which wraps to nothing in 32-bit arithmetic.
    std::wstring text(65532, L'a');
    text += L'b';
    std::wstring replacement(32768, L'c');
    XpString s(text.c_str());
    EXPECT_EQ(1, s.Replace(L"b", replacement.c_str()));
    ASSERT_EQ(65532 + 32768, s.GetLength());
    EXPECT_EQ(L'a', *s.At(65531));
    EXPECT_EQ(L'c', *s.At(65532));
    EXPECT_EQ(L'c', *s.At(s.GetLength() - 1));
    EXPECT_EQ(L'\0', *s.At(s.GetLength()));
}

TEST(XpStringReplace, ShrinkingAndResultsTooLongForTheLengthType) {
    XpString s(L"a--b--c");
    EXPECT_EQ(2, s.Replace(L"--", L"-"));
    EXPECT_EQ(XpString(L"a-b-c"), s);
    EXPECT_EQ(2, s.Replace(L"-", nullptr));
    EXPECT_EQ(XpString(L"abc"), s);
    // 4,096 matches of a 1 MiB-unit replacement make 2^32 units: refused,
    // the string stays as it was.
    std::wstring many(4096, L'x');
    std::wstring huge(1u << 20, L'y');
    XpString big(many.c_str());
    EXPECT_EQ(0, big.Replace(L"x", huge.c_str()));
    EXPECT_EQ(4096, big.GetLength());
}

}  // namespace
