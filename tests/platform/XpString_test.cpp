#include "platform/XpString.h"
#include "platform/XpThread.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

std::wstring Units(wchar_t ch, int n) { return std::wstring(static_cast<size_t>(n), ch); }

// A function run on an XpThread (the run-time's own threads are not available
// in every thread model the program is built with).
class TestThread {
 public:
  explicit TestThread(std::function<void()> body) : body_(new std::function<void()>(std::move(body))) {
    thread_ = XpThread::Create(&Run, body_.get());
  }
  TestThread(TestThread&& other) noexcept : body_(std::move(other.body_)), thread_(other.thread_) {
    other.thread_ = nullptr;
  }
  TestThread(const TestThread&) = delete;
  TestThread& operator=(const TestThread&) = delete;
  ~TestThread() { join(); }
  // As with the standard thread, the function and its captures are gone
  // once join returns.
  void join() {
    if (thread_ != nullptr) (void)XpThread::Join(thread_);
    thread_ = nullptr;
    body_.reset();
  }

 private:
  static unsigned int Run(void* body) {
    (*static_cast<std::function<void()>*>(body))();
    return 0;
  }
  std::unique_ptr<std::function<void()>> body_;
  XpThread* thread_ = nullptr;
};

// ---- construction and sharing ----------------------------------------------

TEST(XpStringNull, NullPointersActAsEmpty) {
  XpString s(static_cast<const wchar_t*>(nullptr));
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_STREQ(L"", s.c_str());

  XpString t(L"abc");
  t = static_cast<const wchar_t*>(nullptr);
  EXPECT_TRUE(t.IsEmpty());

  XpString u(L"abc");
  u += static_cast<const wchar_t*>(nullptr);
  EXPECT_EQ(XpString(L"abc"), u);

  XpString v(L"a-b-c");
  EXPECT_EQ(2, v.Replace(L"-", nullptr));
  EXPECT_EQ(XpString(L"abc"), v);

  XpStringA a(static_cast<const char*>(nullptr));
  EXPECT_TRUE(a.IsEmpty());
}

TEST(XpStringShare, CopiesShareUntilChanged) {
  XpString a(L"hello");
  XpString b(a);
  XpString c;
  c = a;
  EXPECT_EQ(a.c_str(), b.c_str());
  EXPECT_EQ(a.c_str(), c.c_str());

  b += L" world";
  EXPECT_NE(a.c_str(), b.c_str());
  EXPECT_EQ(XpString(L"hello"), a);
  EXPECT_EQ(XpString(L"hello"), c);
  EXPECT_EQ(XpString(L"hello world"), b);
  EXPECT_EQ(a.c_str(), c.c_str());

  // The changed copy is now the sole owner: a further change stays in place.
  const wchar_t* own = b.c_str();
  b += L"!";
  EXPECT_EQ(own, b.c_str());

  c = L"other";
  EXPECT_EQ(XpString(L"hello"), a);
  a = a;  // self-assignment keeps the value
  EXPECT_EQ(XpString(L"hello"), a);
}

TEST(XpStringShare, DefaultStringsShareOneEmptyPerThread) {
  XpString a;
  XpString b;
  EXPECT_EQ(a.c_str(), b.c_str());
  EXPECT_TRUE(a.IsEmpty());

  a += L"x";  // the first change copies; the shared empty stays empty
  EXPECT_EQ(XpString(L"x"), a);
  XpString c;
  EXPECT_TRUE(c.IsEmpty());
  EXPECT_EQ(b.c_str(), c.c_str());

  const wchar_t* other = nullptr;
  TestThread t([&other] {
    XpString s;
    other = s.c_str();
  });
  t.join();
  EXPECT_NE(b.c_str(), other);
}

TEST(XpStringShare, SelfAppendDoubles) {
  XpString s(L"abc");
  s += s;
  EXPECT_EQ(XpString(L"abcabc"), s);
  s += s.c_str() + 3;
  EXPECT_EQ(XpString(L"abcabcabc"), s);
  s = s.c_str() + 6;
  EXPECT_EQ(XpString(L"abc"), s);
}

// ---- buffer sizing -----------------------------------------------------------

TEST(XpStringCapacity, GrowsIn64StepsAndShrinksOnlyLargeBuffers) {
  XpString s(L"0123456789");
  EXPECT_EQ(64, s.GetCapacity());
  s += Units(L'x', 54).c_str();
  EXPECT_EQ(64, s.GetLength());
  EXPECT_EQ(128, s.GetCapacity());

  XpString big(Units(L'y', 500).c_str());
  EXPECT_EQ(512, big.GetCapacity());
  big = L"0123456789";
  EXPECT_EQ(64, big.GetCapacity());

  XpString mid(Units(L'z', 100).c_str());
  EXPECT_EQ(128, mid.GetCapacity());
  mid = L"0123456789";
  EXPECT_EQ(128, mid.GetCapacity());
  EXPECT_EQ(XpString(L"0123456789"), mid);

  XpString exact(Units(L'e', 63).c_str());
  EXPECT_EQ(64, exact.GetCapacity());  // the terminator still fits
}

// ---- access, comparison, search ----------------------------------------------

TEST(XpStringCompare, OrdinalAndCaseless) {
  XpString a(L"Alpha");
  EXPECT_EQ(0, a.Compare(L"Alpha"));
  EXPECT_LT(a.Compare(L"alpha"), 0);  // 'A' < 'a' ordinally
  EXPECT_GT(a.Compare(L"Al"), 0);
  EXPECT_EQ(0, a.CompareNoCase(L"ALPHA"));
  EXPECT_TRUE(a == L"Alpha");
  EXPECT_TRUE(L"Alpha" == a);
  EXPECT_TRUE(a != L"alpha");
  EXPECT_TRUE(L"beta" != a);
  EXPECT_TRUE(XpString(L"B") < XpString(L"a"));
  EXPECT_FALSE(XpString(L"a") < XpString(L"a"));

  std::map<XpString, int> m;
  m[XpString(L"b")] = 2;
  m[XpString(L"a")] = 1;
  m[XpString(L"b")] = 3;
  ASSERT_EQ(2u, m.size());
  EXPECT_EQ(XpString(L"a"), m.begin()->first);
  EXPECT_EQ(3, m[XpString(L"b")]);
}

TEST(XpStringFind, ForwardAndReverse) {
  XpString s(L"a\\b\\c");
  EXPECT_EQ(1, s.Find(L'\\'));
  EXPECT_EQ(1, s.Find(L'\\', 1));
  EXPECT_EQ(3, s.Find(L'\\', 2));
  EXPECT_EQ(-1, s.Find(L'\\', 4));
  EXPECT_EQ(-1, s.Find(L'a', s.GetLength()));
  EXPECT_EQ(-1, s.Find(L'q'));
  EXPECT_EQ(3, s.ReverseFind(L'\\'));
  EXPECT_EQ(0, s.ReverseFind(L'a'));
  EXPECT_EQ(-1, s.ReverseFind(L'q'));
  EXPECT_EQ(-1, XpString().ReverseFind(L'a'));
  EXPECT_EQ(L'b', *s.At(2));
}

// ---- new values ----------------------------------------------------------------

TEST(XpStringSlice, LeftAndRight) {
  XpString s(L"abcdef");
  EXPECT_EQ(XpString(L"abc"), s.Left(3));
  EXPECT_EQ(XpString(L"def"), s.Right(3));
  EXPECT_TRUE(s.Left(-3).IsEmpty());
  EXPECT_TRUE(s.Right(-3).IsEmpty());
  EXPECT_TRUE(s.Left(0).IsEmpty());

  // Asking for all (or more) shares the source instead of copying.
  EXPECT_EQ(s.c_str(), s.Left(6).c_str());
  EXPECT_EQ(s.c_str(), s.Left(100).c_str());
  EXPECT_EQ(s.c_str(), s.Right(6).c_str());
  EXPECT_EQ(s.c_str(), s.Right(100).c_str());
  EXPECT_NE(s.c_str(), s.Left(5).c_str());
  EXPECT_EQ(XpString(L"abcdef"), s);
}

TEST(XpStringConcat, AllOperandKinds) {
  XpString a(L"ab");
  XpString b(L"cd");
  EXPECT_EQ(XpString(L"abcd"), a + b);
  EXPECT_EQ(XpString(L"abxy"), a + L"xy");
  EXPECT_EQ(XpString(L"xyab"), L"xy" + a);
  EXPECT_EQ(XpString(L"ab"), a + static_cast<const wchar_t*>(nullptr));
  EXPECT_EQ(XpString(L"ab"), static_cast<const wchar_t*>(nullptr) + a);
  EXPECT_EQ(XpString(L"ab"), a);
  EXPECT_EQ(XpString(L"cd"), b);
}

TEST(XpStringConvert, AnsiRoundTrip) {
  XpString w(L"Photo_01.JPG");
  XpStringA a = w.ToAnsi();
  EXPECT_STREQ("Photo_01.JPG", a.c_str());
  EXPECT_EQ(12, a.GetLength());
  EXPECT_EQ(w, a.ToWide());
  EXPECT_EQ(w, XpString(XpStringA("Photo_01.JPG")));
  EXPECT_STREQ("Photo_01.JPG", XpStringA(w).c_str());

  // Long enough to leave the small stack buffers.
  std::wstring longText = Units(L'k', 3000);
  XpStringA longAnsi = XpString(longText.c_str()).ToAnsi();
  EXPECT_EQ(3000, longAnsi.GetLength());
  EXPECT_EQ(XpString(longText.c_str()), longAnsi.ToWide());

  EXPECT_TRUE(XpString().ToAnsi().IsEmpty());
}

TEST(XpStringA, CopyAndAssign) {
  XpStringA a("bytes");
  XpStringA b(a);
  EXPECT_EQ(a.c_str(), b.c_str());
  b = "other";
  EXPECT_STREQ("bytes", a.c_str());
  EXPECT_STREQ("other", b.c_str());
  b = a;
  EXPECT_EQ(a.c_str(), b.c_str());
  b = static_cast<const char*>(nullptr);
  EXPECT_TRUE(b.IsEmpty());
  EXPECT_STREQ("bytes", a.c_str());
}

// ---- formatting ------------------------------------------------------------------

TEST(XpStringFormat, RendersAndReplaces) {
  XpString s(L"old");
  s.Format(L"%d-%s-%c", 42, L"x", L'y');
  EXPECT_EQ(XpString(L"42-x-y"), s);
  s.AppendFormat(L"/%03d", 7);
  EXPECT_EQ(XpString(L"42-x-y/007"), s);
}

TEST(XpStringFormat, LengthsAroundTheStackBufferAndHeapSteps) {
  const int lengths[] = {0, 1, 255, 256, 257, 511, 512, 513, 1023, 1024, 5000};
  for (int n : lengths) {
    XpString s;
    s.Format(L"%s", Units(L'f', n).c_str());
    EXPECT_EQ(n, s.GetLength()) << n;
    EXPECT_EQ(XpString(Units(L'f', n).c_str()), s) << n;

    XpString t(L"ab");
    t.AppendFormat(L"%s", Units(L'g', n).c_str());
    EXPECT_EQ(XpString((L"ab" + Units(L'g', n)).c_str()), t) << n;
  }
}

TEST(XpStringFormat, FormatArgumentsSurviveTheRetries) {
  // The heap path renders again; every attempt must see the same arguments.
  XpString s;
  s.Format(L"%s|%d|%s", Units(L'a', 600).c_str(), 123456, L"tail");
  EXPECT_EQ(XpString((Units(L'a', 600) + L"|123456|tail").c_str()), s);
}

TEST(XpStringFormat, OversizedRenderingStopsWithDefinedResult) {
  XpString s(L"keep");
  s.Format(L"%*d", 2 * 1024 * 1024, 1);
  EXPECT_TRUE(s.IsEmpty());

  XpString t(L"keep");
  t.AppendFormat(L"%*d", 2 * 1024 * 1024, 1);
  EXPECT_EQ(XpString(L"keep"), t);
}

TEST(XpStringFormat, FormatOnSharedCopyLeavesOthers) {
  XpString a(L"shared");
  XpString b(a);
  b.Format(L"%d", 5);
  EXPECT_EQ(XpString(L"shared"), a);
  EXPECT_EQ(XpString(L"5"), b);
}

// ---- Replace ---------------------------------------------------------------------

TEST(XpStringReplace, Cases) {
  XpString s(L"aaa");
  EXPECT_EQ(3, s.Replace(L"a", L"bc"));
  EXPECT_EQ(XpString(L"bcbcbc"), s);
  EXPECT_EQ(6, s.GetLength());

  XpString e(L"unchanged");
  const wchar_t* before = e.c_str();
  EXPECT_EQ(0, e.Replace(L"", L"x"));
  EXPECT_EQ(0, e.Replace(nullptr, L"x"));
  EXPECT_EQ(XpString(L"unchanged"), e);
  EXPECT_EQ(before, e.c_str());

  XpString overlap(L"aaaa");
  EXPECT_EQ(2, overlap.Replace(L"aa", L"b"));  // non-overlapping, left to right
  EXPECT_EQ(XpString(L"bb"), overlap);

  XpString tri(L"aaa");
  EXPECT_EQ(1, tri.Replace(L"aa", L"x"));
  EXPECT_EQ(XpString(L"xa"), tri);

  XpString path(L"a/b/c");
  EXPECT_EQ(2, path.Replace(L"/", L"\\"));
  EXPECT_EQ(XpString(L"a\\b\\c"), path);

  XpString none(L"abc");
  EXPECT_EQ(0, none.Replace(L"z", L"y"));
  EXPECT_EQ(XpString(L"abc"), none);

  XpString grow(L"xyx");
  EXPECT_EQ(2, grow.Replace(L"x", Units(L'w', 100).c_str()));
  EXPECT_EQ(XpString((Units(L'w', 100) + L"y" + Units(L'w', 100)).c_str()), grow);

  XpString whole(L"abc");
  EXPECT_EQ(1, whole.Replace(L"abc", L""));
  EXPECT_TRUE(whole.IsEmpty());
}

TEST(XpStringReplace, OnSharedCopyLeavesOthers) {
  XpString a(L"a.b");
  XpString b(a);
  EXPECT_EQ(1, b.Replace(L".", L"::"));
  EXPECT_EQ(XpString(L"a.b"), a);
  EXPECT_EQ(XpString(L"a::b"), b);
}

// ---- threads ---------------------------------------------------------------------

TEST(XpStringThreads, SharedValueCopiedAndReleasedOnManyThreads) {
  XpString* original = new XpString(L"shared across threads");
  const wchar_t* text = original->c_str();
  std::vector<TestThread> threads;
  std::vector<int> ok(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([original, text, &ok, t] {
      int good = 0;
      for (int i = 0; i < 20000; ++i) {
        XpString copy(*original);
        XpString second = copy;
        if (second.c_str() == text) ++good;
      }
      ok[static_cast<size_t>(t)] = good;
    });
  }
  for (TestThread& th : threads) th.join();
  for (int good : ok) EXPECT_EQ(20000, good);
  // Every copy is gone: a change is made in place, with no other owner left.
  original->Replace(L"shared", L"SHARED");
  EXPECT_EQ(text, original->c_str());
  EXPECT_EQ(XpString(L"SHARED across threads"), *original);
  delete original;
}

// ---- XpSharedPtr -----------------------------------------------------------------

struct Counted {
  explicit Counted(volatile LONG* deletions) : m_deletions(deletions) {}
  virtual ~Counted() { InterlockedIncrement(m_deletions); }
  virtual int Kind() const { return 1; }
  volatile LONG* m_deletions;
};

struct Derived : Counted {
  Derived(volatile LONG* deletions, volatile LONG* derivedDeletions)
      : Counted(deletions), m_derivedDeletions(derivedDeletions) {}
  ~Derived() override { InterlockedIncrement(m_derivedDeletions); }
  int Kind() const override { return 2; }
  volatile LONG* m_derivedDeletions;
};

// No virtual destructor: only the counter made for Leaf can end it correctly.
struct PlainBase {
  int value = 7;
};
struct Leaf : PlainBase {
  explicit Leaf(volatile LONG* deletions) : m_deletions(deletions) {}
  ~Leaf() { InterlockedIncrement(m_deletions); }
  volatile LONG* m_deletions;
};

TEST(XpSharedPtr, EmptyPointer) {
  XpSharedPtr<Counted> p;
  EXPECT_TRUE(p.IsNull());
  EXPECT_FALSE(p);
  EXPECT_EQ(nullptr, p.get());
  EXPECT_EQ(1, p.UseCount());
  XpSharedPtr<Counted> q(p);
  EXPECT_EQ(2, p.UseCount());
  EXPECT_TRUE(q.IsNull());
}

TEST(XpSharedPtr, CopiesAssignmentAndSelfAssignment) {
  volatile LONG deletions = 0;
  {
    XpSharedPtr<Counted> p(new Counted(&deletions));
    EXPECT_FALSE(p.IsNull());
    EXPECT_EQ(1, p->Kind());
    EXPECT_EQ(1, (*p).Kind());
    p = p;
    EXPECT_EQ(0, deletions);
    EXPECT_EQ(1, p.UseCount());
    {
      XpSharedPtr<Counted> q(p);
      XpSharedPtr<Counted> r;
      r = q;
      EXPECT_EQ(3, p.UseCount());
      EXPECT_EQ(p.get(), r.get());
    }
    EXPECT_EQ(0, deletions);
    EXPECT_EQ(1, p.UseCount());

    volatile LONG other = 0;
    XpSharedPtr<Counted> s(new Counted(&other));
    s = p;  // the object s held goes now
    EXPECT_EQ(1, other);
    EXPECT_EQ(0, deletions);
    EXPECT_EQ(2, p.UseCount());
  }
  EXPECT_EQ(1, deletions);
}

TEST(XpSharedPtr, ReleasedOnSeveralThreadsDeletesOnce) {
  for (int round = 0; round < 50; ++round) {
    volatile LONG deletions = 0;
    std::vector<TestThread> threads;
    {
      XpSharedPtr<Counted> p(new Counted(&deletions));
      for (int t = 0; t < 6; ++t) {
        XpSharedPtr<Counted> mine(p);
        threads.emplace_back([mine] {
          for (int i = 0; i < 2000; ++i) {
            XpSharedPtr<Counted> a(mine);
            XpSharedPtr<Counted> b;
            b = a;
          }
        });
      }
    }
    for (TestThread& th : threads) th.join();
    EXPECT_EQ(1, deletions) << round;
  }
}

TEST(XpSharedPtr, ConversionKeepsTheCreatedTypesCounter) {
  volatile LONG deletions = 0;
  volatile LONG derivedDeletions = 0;
  {
    XpSharedPtr<Counted> base;
    {
      XpSharedPtr<Derived> d(new Derived(&deletions, &derivedDeletions));
      base = d;
      XpSharedPtr<Counted> viaCtor(d);
      EXPECT_EQ(3, d.UseCount());
      EXPECT_EQ(2, base->Kind());
      XpSharedPtr<Derived> back(base);  // caller knows the kind
      EXPECT_EQ(d.get(), back.get());
    }
    EXPECT_EQ(0, deletions);
  }
  EXPECT_EQ(1, deletions);
  EXPECT_EQ(1, derivedDeletions);

  // A base without a virtual destructor is still ended as the created type.
  volatile LONG leafDeletions = 0;
  {
    XpSharedPtr<PlainBase> plain;
    {
      XpSharedPtr<Leaf> leaf(new Leaf(&leafDeletions));
      plain = leaf;
    }
    EXPECT_EQ(7, plain->value);
    EXPECT_EQ(0, leafDeletions);
  }
  EXPECT_EQ(1, leafDeletions);
}

TEST(XpSharedPtr, HoldsStringsInContainers) {
  std::vector<XpSharedPtr<XpString>> v;
  XpSharedPtr<XpString> s(new XpString(L"entry"));
  for (int i = 0; i < 100; ++i) v.push_back(s);
  EXPECT_EQ(101, s.UseCount());
  v.clear();
  EXPECT_EQ(1, s.UseCount());
  EXPECT_EQ(XpString(L"entry"), *s);
}

}  // namespace
