// Strings that installers store with variables (REG_EXPAND_SZ) read with the
// variables put in, and subkey names that hold "/" open as they are listed.
#include "platform/XpRegistry.h"

#include <gtest/gtest.h>

#include <shlwapi.h>

#include "XpRegistryScratch.h"

namespace {

class XpRegistryNames : public XpRegistryTest {};

}  // namespace

TEST_F(XpRegistryNames, ExpandableStringsReadExpanded) {
  SetEnvironmentVariableW(L"XP_REG_TEST_ROOT", L"C:\\Suite");
  const wchar_t stored[] = L"%XP_REG_TEST_ROOT%\\Viewer";
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(m_raw, L"InstalledLocation", 0, REG_EXPAND_SZ,
                                          reinterpret_cast<const BYTE*>(stored), sizeof(stored)));
  const wchar_t unknown[] = L"%XP_REG_TEST_NOT_SET%\\x";
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(m_raw, L"Unknown", 0, REG_EXPAND_SZ,
                                          reinterpret_cast<const BYTE*>(unknown), sizeof(unknown)));
  XpScopedRegistry key(XpRegistry::Open(m_path, XpRegistry::kRootCurrentUser, XpRegistry::kRead));
  ASSERT_TRUE(key);
  EXPECT_EQ(XpString(L"C:\\Suite\\Viewer"), key->ReadString(L"InstalledLocation", XpString(L"default")));
  // A variable that is not set stays as written, as the system leaves it.
  EXPECT_EQ(XpString(L"%XP_REG_TEST_NOT_SET%\\x"), key->ReadString(L"Unknown", XpString()));
  SetEnvironmentVariableW(L"XP_REG_TEST_ROOT", NULL);
}

TEST_F(XpRegistryNames, ListedSubkeyNamesWithASlashOpen) {
  HKEY entry = NULL;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExW(m_raw, L"Reader A/B", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &entry, NULL));
  DWORD vid = 0x1234;
  RegSetValueExW(entry, L"VID", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&vid), sizeof(vid));
  RegCloseKey(entry);
  XpScopedRegistry list(XpRegistry::Open(m_path, XpRegistry::kRootCurrentUser, XpRegistry::kRead));
  ASSERT_TRUE(list);
  XpRegistry::StringList names = list->EnumSubKeys();
  ASSERT_EQ(1u, names.size());
  EXPECT_EQ(XpString(L"Reader A/B"), names[0]);
  // The path form turns "/" into a level of its own and misses the key.
  XpScopedRegistry byPath(XpRegistry::OpenSubKey(list.get(), names[0], XpRegistry::kRead));
  EXPECT_FALSE(byPath);
  XpScopedRegistry literal(XpRegistry::OpenSubKeyLiteral(list.get(), names[0], XpRegistry::kRead));
  ASSERT_TRUE(literal);
  EXPECT_EQ(0x1234u, literal->ReadDword(L"VID", 0));
  EXPECT_FALSE(XpRegistry::OpenSubKeyLiteral(list.get(), XpString(L"missing"), XpRegistry::kRead));
  EXPECT_FALSE(XpRegistry::OpenSubKeyLiteral(nullptr, names[0], XpRegistry::kRead));
}
