// A scratch folder under the temporary directory for file-system tests,
// created for one test and removed with everything in it afterwards.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/XpTestSupport.h"

class XpScratchFolder {
 public:
  XpScratchFolder() {
    wchar_t temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) return;
    static LONG serial = 0;
    wchar_t name[64];
    swprintf(name, 64, L"xpfs_%lu_%ld", GetCurrentProcessId(), InterlockedIncrement(&serial));
    m_path = std::wstring(temp) + name;
    if (!CreateDirectoryW(m_path.c_str(), nullptr)) m_path.clear();
  }
  ~XpScratchFolder() {
    if (!m_path.empty()) xptest::RemoveTree(m_path);
  }

  // Without a trailing backslash.
  const std::wstring& Path() const { return m_path; }
  std::wstring Sub(const std::wstring& relative) const { return m_path + L"\\" + relative; }

  // Writes a file with the given bytes; false on failure.
  bool Write(const std::wstring& relative, const std::string& bytes) const {
    HANDLE file = CreateFileW(Sub(relative).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok =
        bytes.empty() || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
  }
  bool MakeDir(const std::wstring& relative) const {
    return CreateDirectoryW(Sub(relative).c_str(), nullptr) != 0;
  }
  bool Exists(const std::wstring& relative) const {
    return GetFileAttributesW(Sub(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  std::string Read(const std::wstring& relative) const {
    std::string bytes;
    HANDLE file = CreateFileW(Sub(relative).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
  }

 private:
  std::wstring m_path;
};
