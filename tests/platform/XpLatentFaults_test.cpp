// Faults no caller of today reaches, kept from coming back: a writer of the
// reader-writer locks that loses its wake-up to a reader, a shared pointer assigned from
// something its own object owns, and a replacement that outgrows 32 bits.
#include "platform/XpString.h"
#include "platform/XpSync.h"
#include "platform/XpThread.h"
#include "tests/support/XpTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <vector>

namespace {

// ---- a writer between leaving the lock's state and starting to wait ----

// This program's waits go through a replacement that holds the marked thread
// at the start of its next wait until the test lets it go, and reports when a
// second marked thread has started waiting.
decltype(&WaitForSingleObject) g_realWait = NULL;
volatile DWORD g_pausedThread = 0;
volatile DWORD g_secondThread = 0;
HANDLE g_inWindow = NULL;
HANDLE g_go = NULL;
HANDLE g_secondWaits = NULL;

DWORD WINAPI PausingWait(HANDLE handle, DWORD ms) {
  DWORD self = GetCurrentThreadId();
  if (self == g_pausedThread) {
    g_pausedThread = 0;
    SetEvent(g_inWindow);
    g_realWait(g_go, 10000);
  } else if (self == g_secondThread) {
    g_secondThread = 0;
    SetEvent(g_secondWaits);
  }
  return g_realWait(handle, ms);
}

template <class Lock>
struct Window {
  Lock lock;
  XpResult writer = XP_E_FAIL;
  XpResult reader = XP_E_FAIL;
};

template <class Lock>
unsigned int WriterInWindow(void* argument) {
  Window<Lock>* w = static_cast<Window<Lock>*>(argument);
  g_pausedThread = GetCurrentThreadId();
  w->writer = w->lock.LockTimeout(3);
  if (w->writer == XP_OK) (void)w->lock.Unlock();
  return 0;
}

template <class Lock>
unsigned int SecondReader(void* argument) {
  Window<Lock>* w = static_cast<Window<Lock>*>(argument);
  g_secondThread = GetCurrentThreadId();
  w->reader = w->lock.LockReadTimeout(3);
  if (w->reader == XP_OK) (void)w->lock.Unlock();
  return 0;
}

// The only reader leaves while the waiting writer is held between leaving
// the lock's state and starting its wait; a new reader then comes and waits
// behind the writer. The writer must still get the free lock.
template <class Lock>
void WriterKeepsItsWakeUp() {
  g_inWindow = CreateEventW(NULL, FALSE, FALSE, NULL);
  g_go = CreateEventW(NULL, TRUE, FALSE, NULL);
  g_secondWaits = CreateEventW(NULL, FALSE, FALSE, NULL);
  g_realWait = reinterpret_cast<decltype(&WaitForSingleObject)>(
      xptest::PatchImport("WaitForSingleObject", reinterpret_cast<void*>(&PausingWait)));
  ASSERT_TRUE(g_realWait != NULL) << "the program does not import the wait";
  Window<Lock> w;
  ASSERT_EQ(XP_OK, w.lock.LockReadTimeout(0));
  XpThread* writer = XpThread::Create(&WriterInWindow<Lock>, &w);
  ASSERT_TRUE(writer != NULL);
  EXPECT_EQ(WAIT_OBJECT_0, g_realWait(g_inWindow, 10000));
  (void)w.lock.Unlock();
  XpThread* reader = XpThread::Create(&SecondReader<Lock>, &w);
  ASSERT_TRUE(reader != NULL);
  EXPECT_EQ(WAIT_OBJECT_0, g_realWait(g_secondWaits, 10000));
  SetEvent(g_go);
  (void)XpThread::Join(writer);
  (void)XpThread::Join(reader);
  xptest::ReplaceImport(reinterpret_cast<void*>(&PausingWait), reinterpret_cast<void*>(g_realWait));
  EXPECT_EQ(XP_OK, w.writer) << "the writer slept through the free lock";
  EXPECT_EQ(XP_OK, w.reader);
  CloseHandle(g_inWindow);
  CloseHandle(g_go);
  CloseHandle(g_secondWaits);
}

TEST(XpRwLockWakeUp, WriterBetweenLockAndWaitKeepsItsWakeUp) { WriterKeepsItsWakeUp<XpRwLock>(); }

TEST(XpRwLockWakeUp, WriterOfTheExtendedLockBetweenLockAndWaitKeepsItsWakeUp) {
  WriterKeepsItsWakeUp<XpRwLockEx>();
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
