// The scratch key the registry tests work in.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <shlwapi.h>

#include "platform/XpRegistry.h"

// Every test works in a scratch key of its own under the current user, created
// fresh and removed afterwards.
class XpRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_path = L"Software\\XpRegistryTest";
    m_path.AppendFormat(L"%lu", GetCurrentProcessId());
    SHDeleteKeyW(HKEY_CURRENT_USER, m_path.c_str());
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS,
                                             NULL, &m_raw, NULL));
  }
  void TearDown() override {
    if (m_raw) RegCloseKey(m_raw);
    SHDeleteKeyW(HKEY_CURRENT_USER, m_path.c_str());
    HKEY gone = NULL;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, KEY_READ, &gone));
    if (gone) RegCloseKey(gone);
  }

  // The scratch path written the way callers write it, with forward slashes.
  XpString SlashPath(const wchar_t* sub = NULL) const {
    XpString p(m_path);
    p.Replace(L"\\", L"/");
    if (sub) {
      p += L"/";
      p += sub;
    }
    return p;
  }
  XpString BackslashPath(const wchar_t* sub) const { return m_path + L"\\" + sub; }

  void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(m_raw, name, 0, type, static_cast<const BYTE*>(data), size));
  }
  bool RawExists(const wchar_t* sub, const wchar_t* value) {
    HKEY key = NULL;
    if (RegOpenKeyExW(m_raw, sub, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    bool ok = !value || RegQueryValueExW(key, value, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
  }

  XpString m_path;
  HKEY m_raw = NULL;
};
