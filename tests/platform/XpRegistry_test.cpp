#include "platform/XpRegistry.h"

#include <gtest/gtest.h>

#include <shlwapi.h>

#include <string>
#include <vector>

#include "XpRegistryScratch.h"

namespace {

struct RegistryCloser {
  explicit RegistryCloser(XpRegistry* r) : reg(r) {}
  ~RegistryCloser() { XpRegistry::Close(reg); }
  XpRegistry* reg;
};

}  // namespace

TEST_F(XpRegistryTest, OpeningCreatesOnlyWithWriteAccess) {
  EXPECT_EQ(NULL, XpRegistry::Open(SlashPath(L"Missing"), 0, XpRegistry::kRead));
  EXPECT_FALSE(RawExists(L"Missing", NULL));
  EXPECT_EQ(NULL, XpRegistry::Open(SlashPath(L"Missing"), 0, 0));
  EXPECT_EQ(NULL, XpRegistry::Open(SlashPath(L"Missing"), 0, 4));
  EXPECT_FALSE(RawExists(L"Missing", NULL));

  XpRegistry* r = XpRegistry::Open(SlashPath(L"Made/Deeper"), 0, XpRegistry::kReadWrite);
  RegistryCloser closer(r);
  ASSERT_TRUE(r != NULL);
  EXPECT_TRUE(r->IsOpen());
  EXPECT_TRUE(RawExists(L"Made\\Deeper", NULL));
  EXPECT_STREQ(SlashPath(L"Made/Deeper").c_str(), r->GetPath().c_str());  // slashes kept
  EXPECT_EQ(0u, r->GetRoot());
  EXPECT_EQ(3u, r->GetAccess());

  // Write-only access also creates, and reads on it still give defaults.
  XpRegistry* w = XpRegistry::Open(SlashPath(L"WriteOnly"), 7, XpRegistry::kWrite);
  ASSERT_TRUE(w != NULL);
  EXPECT_EQ(7u, w->GetRoot());  // any root but 1 is the current user
  EXPECT_TRUE(RawExists(L"WriteOnly", NULL));
  XpRegistry::Close(w);
  XpRegistry::Close(NULL);

  XpRegistry plain;
  EXPECT_FALSE(plain.IsOpen());
  EXPECT_EQ(0u, plain.GetRoot());
  EXPECT_EQ(1u, plain.GetAccess());
  EXPECT_EQ(XP_E_FAIL, plain.CloseKey());
  EXPECT_EQ(XP_OK, plain.OpenKey(SlashPath(L"Made"), 0, XpRegistry::kRead));
  // Opening again closes the first key and takes the new one.
  EXPECT_EQ(XP_OK, plain.OpenKey(SlashPath(L"WriteOnly"), 0, XpRegistry::kRead));
  EXPECT_STREQ(SlashPath(L"WriteOnly").c_str(), plain.GetPath().c_str());
  EXPECT_EQ(XP_OK, plain.CloseKey());
  EXPECT_FALSE(plain.IsOpen());
  EXPECT_EQ(XP_E_FAIL, plain.CloseKey());
}

TEST_F(XpRegistryTest, SubKeysFollowTheParent) {
  XpRegistry closed;
  EXPECT_EQ(NULL, XpRegistry::OpenSubKey(NULL, L"Child", 3));
  EXPECT_EQ(NULL, XpRegistry::OpenSubKey(&closed, L"Child", 3));

  XpRegistry* parent = XpRegistry::Open(SlashPath(), 0, XpRegistry::kReadWrite);
  RegistryCloser closer(parent);
  ASSERT_TRUE(parent != NULL);
  XpRegistry* child = XpRegistry::OpenSubKey(parent, L"Child/Grand", 0);
  ASSERT_TRUE(child != NULL);
  EXPECT_EQ(3u, child->GetAccess());  // taken from the parent
  EXPECT_STREQ(SlashPath(L"Child/Grand").c_str(), child->GetPath().c_str());
  EXPECT_TRUE(RawExists(L"Child\\Grand", NULL));
  XpRegistry::Close(child);

  XpRegistry* reader = XpRegistry::OpenSubKey(parent, L"Child", XpRegistry::kRead);
  ASSERT_TRUE(reader != NULL);
  EXPECT_EQ(1u, reader->GetAccess());
  EXPECT_EQ(XP_E_FAIL, reader->WriteDword(L"X", 1));  // no write access
  EXPECT_EQ(NULL, XpRegistry::OpenSubKey(reader, L"Absent", 0));
  XpRegistry::Close(reader);
}

TEST_F(XpRegistryTest, TypedReadsGiveTheDefaultUnlessTheTypeMatches) {
  DWORD number = 42;
  const wchar_t text[] = L"hello";
  SetRaw(L"Number", REG_DWORD, &number, sizeof(number));
  SetRaw(L"Zero", REG_DWORD, "\0\0\0\0", 4);
  SetRaw(L"Text", REG_SZ, text, sizeof(text));
  SetRaw(L"Expand", REG_EXPAND_SZ, text, sizeof(text));
  SetRaw(L"Binary", REG_BINARY, &number, sizeof(number));
  SetRaw(L"EmptyText", REG_SZ, NULL, 0);
  SetRaw(L"EmptyNumber", REG_DWORD, NULL, 0);
  // Stored without its terminator and with an odd byte count.
  SetRaw(L"Unterminated", REG_SZ, L"abc", 5);

  XpRegistry* r = XpRegistry::Open(SlashPath(), 0, XpRegistry::kRead);
  RegistryCloser closer(r);
  ASSERT_TRUE(r != NULL);
  EXPECT_EQ(42u, r->ReadDword(L"Number", 7));
  EXPECT_EQ(0u, r->ReadDword(L"Zero", 7));
  EXPECT_EQ(7u, r->ReadDword(L"Text", 7));
  EXPECT_EQ(7u, r->ReadDword(L"Binary", 7));
  EXPECT_EQ(7u, r->ReadDword(L"EmptyNumber", 7));
  EXPECT_EQ(7u, r->ReadDword(L"Missing", 7));
  EXPECT_TRUE(r->ReadBool(L"Number", false));
  EXPECT_FALSE(r->ReadBool(L"Zero", true));
  EXPECT_TRUE(r->ReadBool(L"Text", true));
  EXPECT_FALSE(r->ReadBool(L"Missing", false));

  EXPECT_STREQ(L"hello", r->ReadString(L"Text", L"d").c_str());
  EXPECT_STREQ(L"d", r->ReadString(L"Number", L"d").c_str());
  // Expandable strings read too, with their variables put in (none here).
  EXPECT_STREQ(L"hello", r->ReadString(L"Expand", L"d").c_str());
  EXPECT_STREQ(L"d", r->ReadString(L"Missing", L"d").c_str());
  EXPECT_STREQ(L"", r->ReadString(L"EmptyText", L"d").c_str());
  XpString partial = r->ReadString(L"Unterminated", L"d");
  EXPECT_TRUE(partial.GetLength() <= 3);
  EXPECT_EQ(0, wcsncmp(L"ab", partial.c_str(), 2));

  EXPECT_TRUE(r->HasValue(L"Number"));
  EXPECT_TRUE(r->HasValue(L"Text"));
  EXPECT_FALSE(r->HasValue(L"EmptyText"));
  EXPECT_FALSE(r->HasValue(L"EmptyNumber"));
  EXPECT_FALSE(r->HasValue(L"Missing"));

  XpRegistry closed;
  EXPECT_EQ(9u, closed.ReadDword(L"Number", 9));
  EXPECT_STREQ(L"x", closed.ReadString(L"Text", L"x").c_str());
  EXPECT_FALSE(closed.HasValue(L"Number"));
  EXPECT_EQ(XP_E_FAIL, closed.WriteDword(L"Number", 1));
  EXPECT_EQ(XP_E_FAIL, closed.WriteString(L"Text", L"x"));
  EXPECT_TRUE(closed.EnumValues().empty());
  EXPECT_TRUE(closed.EnumSubKeys().empty());
}

TEST_F(XpRegistryTest, WritesUseBackslashesForSlashes) {
  XpRegistry* r = XpRegistry::Open(SlashPath(), 0, XpRegistry::kReadWrite);
  RegistryCloser closer(r);
  ASSERT_TRUE(r != NULL);
  EXPECT_EQ(XP_OK, r->WriteString(L"Dir/Name", L"value"));
  EXPECT_EQ(XP_OK, r->WriteDword(L"Flag", 0x12345678));
  wchar_t buffer[32] = {0};
  DWORD size = sizeof(buffer), type = 0;
  ASSERT_EQ(ERROR_SUCCESS,
            RegQueryValueExW(m_raw, L"Dir\\Name", NULL, &type, reinterpret_cast<BYTE*>(buffer), &size));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(12u, size);  // terminator included
  EXPECT_STREQ(L"value", buffer);
  EXPECT_STREQ(L"value", r->ReadString(L"Dir/Name", L"").c_str());
  EXPECT_STREQ(L"value", r->ReadString(L"Dir\\Name", L"").c_str());
  EXPECT_EQ(0x12345678u, r->ReadDword(L"Flag", 0));

  // Long values go in and come back whole.
  std::wstring longText(100000, L'x');
  longText[99999] = L'y';
  EXPECT_EQ(XP_OK, r->WriteString(L"Long", longText.c_str()));
  XpString back = r->ReadString(L"Long", L"");
  EXPECT_EQ(100000, back.GetLength());
  EXPECT_EQ(L'y', *back.At(99999));
}

TEST_F(XpRegistryTest, StringListsRoundTrip) {
  XpRegistry* r = XpRegistry::Open(SlashPath(), 0, XpRegistry::kReadWrite);
  RegistryCloser closer(r);
  ASSERT_TRUE(r != NULL);
  XpRegistry::StringList two;
  two.push_back(L"first");
  two.push_back(L"second");
  EXPECT_EQ(XP_OK, r->WriteStringList(L"Launch", two));
  DWORD count = 0, size = sizeof(count);
  ASSERT_EQ(ERROR_SUCCESS,
            RegQueryValueExW(m_raw, L"LaunchCount", NULL, NULL, reinterpret_cast<BYTE*>(&count), &size));
  EXPECT_EQ(2u, count);
  EXPECT_TRUE(RawExists(NULL, L"Launch0"));
  EXPECT_TRUE(RawExists(NULL, L"Launch1"));
  EXPECT_FALSE(RawExists(NULL, L"Launch2"));

  XpRegistry::StringList defaults;
  defaults.push_back(L"d0");
  defaults.push_back(L"d1");
  defaults.push_back(L"d2");
  XpRegistry::StringList read = r->ReadStringList(L"Launch", defaults);
  ASSERT_EQ(2u, read.size());
  EXPECT_STREQ(L"first", read[0].c_str());
  EXPECT_STREQ(L"second", read[1].c_str());

  read = r->ReadStringList(L"Ignore", defaults);  // no Count value
  ASSERT_EQ(3u, read.size());
  EXPECT_STREQ(L"d2", read[2].c_str());

  // Entries missing under a Count read as the default of their place, or empty.
  EXPECT_EQ(XP_OK, r->WriteDword(L"HoleCount", 4));
  EXPECT_EQ(XP_OK, r->WriteString(L"Hole0", L"zero"));
  EXPECT_EQ(XP_OK, r->WriteDword(L"Hole2", 5));  // wrong type
  XpRegistry::StringList one;
  one.push_back(L"x0");
  one.push_back(L"x1");
  one.push_back(L"x2");
  read = r->ReadStringList(L"Hole", one);
  ASSERT_EQ(4u, read.size());
  EXPECT_STREQ(L"zero", read[0].c_str());
  EXPECT_STREQ(L"x1", read[1].c_str());
  EXPECT_STREQ(L"x2", read[2].c_str());
  EXPECT_STREQ(L"", read[3].c_str());

  // An empty list still writes its count; a damaged count is bounded.
  EXPECT_EQ(XP_OK, r->WriteStringList(L"None", XpRegistry::StringList()));
  EXPECT_TRUE(r->ReadStringList(L"None", defaults).empty());
  EXPECT_EQ(XP_OK, r->WriteDword(L"HugeCount", 0xFFFFFFFFu));
  EXPECT_EQ(4096u, r->ReadStringList(L"Huge", defaults).size());

  XpRegistry closed;
  EXPECT_EQ(XP_E_FAIL, closed.WriteStringList(L"Launch", two));
  EXPECT_EQ(3u, closed.ReadStringList(L"Launch", defaults).size());
}

TEST_F(XpRegistryTest, EnumerationFollowsTheSystemIndexOrder) {
  const wchar_t* keys[] = {L"Beta", L"alpha", L"Gamma", L"delta"};
  for (const wchar_t* k : keys) {
    HKEY sub = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(m_raw, k, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &sub, NULL));
    RegCloseKey(sub);
  }
  DWORD one = 1;
  const wchar_t* values[] = {L"Zed", L"Apple", L"mid"};
  for (const wchar_t* v : values) SetRaw(v, REG_DWORD, &one, sizeof(one));
  // A name too long for the enumeration buffer is left out; the rest still count.
  std::wstring longName(300, L'L');
  SetRaw(longName.c_str(), REG_DWORD, &one, sizeof(one));
  SetRaw(L"Last", REG_DWORD, &one, sizeof(one));

  std::vector<std::wstring> expectedKeys, expectedValues;
  for (DWORD i = 0;; ++i) {
    wchar_t name[1024];
    DWORD len = 1024;
    if (RegEnumKeyExW(m_raw, i, name, &len, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
    expectedKeys.push_back(name);
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[1024];
    DWORD len = 1024;
    if (RegEnumValueW(m_raw, i, name, &len, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
    if (wcslen(name) < 256) expectedValues.push_back(name);
  }
  ASSERT_EQ(4u, expectedKeys.size());
  ASSERT_EQ(4u, expectedValues.size());

  XpRegistry* r = XpRegistry::Open(SlashPath(), 0, XpRegistry::kRead);
  RegistryCloser closer(r);
  ASSERT_TRUE(r != NULL);
  XpRegistry::StringList subKeys = r->EnumSubKeys();
  XpRegistry::StringList valueNames = r->EnumValues();
  ASSERT_EQ(expectedKeys.size(), subKeys.size());
  for (size_t i = 0; i < subKeys.size(); ++i) EXPECT_STREQ(expectedKeys[i].c_str(), subKeys[i].c_str());
  ASSERT_EQ(expectedValues.size(), valueNames.size());
  for (size_t i = 0; i < valueNames.size(); ++i)
    EXPECT_STREQ(expectedValues[i].c_str(), valueNames[i].c_str());
  bool hasLast = false;
  for (const XpString& v : valueNames) hasLast = hasLast || v.Compare(L"Last") == 0;
  EXPECT_TRUE(hasLast);
}

TEST_F(XpRegistryTest, DeletionTakesTheSubtreeAndSplitsValuePaths) {
  XpRegistry* r = XpRegistry::Open(SlashPath(L"Tree/Branch/Leaf"), 0, XpRegistry::kReadWrite);
  ASSERT_TRUE(r != NULL);
  EXPECT_EQ(XP_OK, r->WriteString(L"Name", L"v"));
  XpRegistry::Close(r);
  r = XpRegistry::Open(SlashPath(L"Tree/Branch"), 0, XpRegistry::kReadWrite);
  ASSERT_TRUE(r != NULL);
  EXPECT_EQ(XP_OK, r->WriteDword(L"Keep", 1));
  EXPECT_EQ(XP_OK, r->WriteDword(L"Drop", 1));
  XpRegistry::Close(r);

  // Key path of two parts, value name as the third.
  XpString valuePath = m_path + L"\\Tree\\Branch\\Drop";
  EXPECT_EQ(XP_OK, XpRegistry::DeleteValue(valuePath, 0));
  EXPECT_FALSE(RawExists(L"Tree\\Branch", L"Drop"));
  EXPECT_TRUE(RawExists(L"Tree\\Branch", L"Keep"));
  EXPECT_EQ(XP_E_FAIL, XpRegistry::DeleteValue(valuePath, 0));  // already gone
  EXPECT_EQ(XP_E_FAIL, XpRegistry::DeleteValue(L"NoBackslash", 0));
  EXPECT_EQ(XP_E_FAIL, XpRegistry::DeleteValue(L"\\Leading", 0));

  EXPECT_EQ(XP_OK, XpRegistry::DeleteKey(BackslashPath(L"Tree"), 0));
  EXPECT_FALSE(RawExists(L"Tree", NULL));
  EXPECT_EQ(XP_E_FAIL, XpRegistry::DeleteKey(BackslashPath(L"Tree"), 0));
  EXPECT_EQ(XP_E_FAIL, XpRegistry::DeleteKey(L"", 0));
  EXPECT_TRUE(RawExists(L"", NULL));  // the scratch key itself is untouched
}

TEST(XpRegistryRoots, RootOneIsTheLocalMachine) {
  XpString path(L"Software\\XpRegistryTestMachine");
  path.AppendFormat(L"%lu", GetCurrentProcessId());
  XpString slashed(path);
  slashed.Replace(L"\\", L"/");
  XpRegistry* r = XpRegistry::Open(slashed, XpRegistry::kRootLocalMachine, XpRegistry::kReadWrite);
  ASSERT_TRUE(r != NULL);
  EXPECT_EQ(XP_OK, r->WriteDword(L"Marker", 5));
  XpRegistry::Close(r);

  HKEY raw = NULL;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &raw));
  DWORD value = 0, size = sizeof(value);
  EXPECT_EQ(ERROR_SUCCESS,
            RegQueryValueExW(raw, L"Marker", NULL, NULL, reinterpret_cast<BYTE*>(&value), &size));
  EXPECT_EQ(5u, value);
  RegCloseKey(raw);
  // Not under the current user.
  EXPECT_EQ(NULL, XpRegistry::Open(slashed, XpRegistry::kRootCurrentUser, XpRegistry::kRead));

  EXPECT_EQ(XP_OK, XpRegistry::DeleteKey(path, XpRegistry::kRootLocalMachine));
  EXPECT_EQ(NULL, XpRegistry::Open(slashed, XpRegistry::kRootLocalMachine, XpRegistry::kRead));
}
