#include "platform/XpHandle.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/XpRegistry.h"
#include "platform/XpThread.h"

namespace {

const DWORD kSentinel = 0x1234ABCD;

// Closes by recording the value and, like a failing close, changing the last error.
struct RecordingTraits {
  typedef int Type;
  explicit RecordingTraits(std::vector<int>* log = nullptr) : closed(log) {}
  static int Invalid() { return 0; }
  static bool IsValid(int value) { return value != 0; }
  void Close(int value) const {
    closed->push_back(value);
    SetLastError(ERROR_INVALID_HANDLE);
  }
  std::vector<int>* closed;
};
typedef XpUniqueAny<RecordingTraits> RecordingOwner;

bool IsOpenEvent(HANDLE event) { return SetEvent(event) != FALSE; }

TEST(XpHandle, CloseKeepsTheCallersLastError) {
  std::vector<int> closed;
  {
    RecordingOwner owner(7, RecordingTraits(&closed));
    SetLastError(kSentinel);
    owner.reset();
    EXPECT_EQ(kSentinel, GetLastError());
    owner.reset(8);
    SetLastError(kSentinel);
  }
  EXPECT_EQ(kSentinel, GetLastError());
  EXPECT_EQ((std::vector<int>{7, 8}), closed);

  XpUniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event.valid());
  SetLastError(kSentinel);
  event.reset();
  EXPECT_EQ(kSentinel, GetLastError());
}

TEST(XpHandle, MoveHandsTheHandleOverAndClosesItOnce) {
  std::vector<int> closed;
  {
    RecordingOwner first(3, RecordingTraits(&closed));
    RecordingOwner second(std::move(first));
    EXPECT_FALSE(first.valid());
    EXPECT_EQ(3, second.get());
    RecordingOwner third(4, RecordingTraits(&closed));
    third = std::move(second);  // closes 4, takes 3
    EXPECT_EQ((std::vector<int>{4}), closed);
    EXPECT_EQ(3, third.get());
    std::vector<RecordingOwner> owners;
    owners.push_back(std::move(third));
    owners.push_back(RecordingOwner(5, RecordingTraits(&closed)));
  }
  EXPECT_EQ((std::vector<int>{4, 3, 5}), closed);
}

TEST(XpHandle, ReleaseGivesTheHandleUpOpen) {
  HANDLE raw = nullptr;
  {
    XpUniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event.valid());
    raw = event.release();
    EXPECT_FALSE(event.valid());
    EXPECT_EQ(nullptr, event.get());
  }
  EXPECT_TRUE(IsOpenEvent(raw));
  EXPECT_TRUE(CloseHandle(raw));

  XpUniqueHandle closedOnReset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE duplicate = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), closedOnReset.get(), GetCurrentProcess(), &duplicate, 0,
                              FALSE, DUPLICATE_SAME_ACCESS));
  XpUniqueHandle other(duplicate);
  closedOnReset.reset();
  // The duplicate still names the event; the original handle is gone.
  EXPECT_TRUE(IsOpenEvent(other.get()));
}

TEST(XpHandle, NullAndInvalidHandleValueKindsStayApart) {
  EXPECT_EQ(nullptr, XpUniqueHandle().get());
  EXPECT_EQ(INVALID_HANDLE_VALUE, XpUniqueFileHandle().get());
  EXPECT_EQ(INVALID_HANDLE_VALUE, XpUniqueFindHandle().get());
  EXPECT_EQ(INVALID_HANDLE_VALUE, XpUniqueDevInfo().get());

  // What each kind's functions return on failure is empty for its owner.
  XpUniqueFileHandle missing(
      CreateFileW(L"Z:\\no\\such\\file.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(missing.valid());
  WIN32_FIND_DATAW data;
  XpUniqueFindHandle noMatch(FindFirstFileW(L"Z:\\no\\such\\*.none", &data));
  EXPECT_FALSE(noMatch.valid());
  XpUniqueHandle noProcess(OpenProcess(SYNCHRONIZE, FALSE, 0xFFFFFFF0));
  EXPECT_FALSE(noProcess.valid());
  // A null handle is never an open file.
  EXPECT_FALSE(XpUniqueFileHandle(nullptr).valid());

  wchar_t folder[MAX_PATH];
  ASSERT_NE(0u, GetTempPathW(MAX_PATH, folder));
  XpUniqueFileHandle opened(CreateFileW(folder, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  EXPECT_TRUE(opened.valid());
}

TEST(XpHandle, ComPointerReleasesItsReference) {
  XpComApartment apartment;
  ASSERT_TRUE(apartment.entered());
  IMalloc* allocator = nullptr;
  ASSERT_EQ(S_OK, CoGetMalloc(1, &allocator));
  {
    XpComPtr<IMalloc> first(allocator);
    allocator->AddRef();
    XpComPtr<IMalloc> second(std::move(first));
    EXPECT_EQ(nullptr, first.get());
    EXPECT_EQ(allocator, second.get());
  }
  // One of the two references is left: the one the test took first.
  allocator->Release();

  XpUniqueCoTaskMem<wchar_t> text(static_cast<wchar_t*>(CoTaskMemAlloc(16)));
  EXPECT_TRUE(text.valid());
  XpUniqueBstr bstr(SysAllocString(L"text"));
  EXPECT_EQ(4u, SysStringLen(bstr.get()));
}

unsigned int ReturnNine(void*) { return 9; }

TEST(XpScopedThread, JoinGivesTheExitCodeAndEmptiesTheHolder) {
  XpScopedThread thread(XpThread::Create(&ReturnNine, nullptr));
  ASSERT_TRUE(static_cast<bool>(thread));
  EXPECT_EQ(9u, thread.Join());
  EXPECT_FALSE(static_cast<bool>(thread));
  EXPECT_EQ(XP_E_INVALID_HANDLE, thread.Join());
  // A holder that goes out of scope unjoined joins.
  XpScopedThread unjoined(XpThread::Create(&ReturnNine, nullptr));
  EXPECT_TRUE(static_cast<bool>(unjoined));
}

TEST(XpScopedRegistry, MovesAndReleases) {
  XpRegistry* raw = new XpRegistry();
  XpScopedRegistry first(raw);
  XpScopedRegistry second(std::move(first));
  EXPECT_EQ(nullptr, first.get());
  EXPECT_EQ(raw, second.get());
  XpRegistry* released = second.release();
  EXPECT_EQ(raw, released);
  EXPECT_EQ(nullptr, second.get());
  XpRegistry::Close(released);
}

}  // namespace
