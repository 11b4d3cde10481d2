#include "device/XpUsbDevicePath.h"

namespace {

// Four hexadecimal digits at position; false when any is missing.
bool ReadHex4(const XpString& text, int position, DWORD* value) {
  if (position < 0 || position + 4 > text.GetLength()) return false;
  DWORD v = 0;
  for (int i = 0; i < 4; ++i) {
    const wchar_t c = XpToLowerAscii(*text.At(position + i));
    DWORD digit;
    if (c >= L'0' && c <= L'9')
      digit = static_cast<DWORD>(c - L'0');
    else if (c >= L'a' && c <= L'f')
      digit = static_cast<DWORD>(c - L'a' + 10);
    else
      return false;
    v = v * 16 + digit;
  }
  *value = v;
  return true;
}

// Where the ids of \\?\usb#vid_XXXX&pid_YYYY end.
const int kIdsEnd = 25;

}  // namespace

bool XpUsbDevicePath::ParseUsbIds(const XpString& interfacePath, DWORD* vendorId, DWORD* productId) {
  const XpString& p = interfacePath;
  if (!XpHasAtNoCase(p, 0, L"\\\\?\\") && !XpHasAtNoCase(p, 0, L"\\??\\")) return false;
  // \\?\usb#vid_XXXX&pid_YYYY followed by '#' or '&' (composite functions add &mi_NN).
  if (!XpHasAtNoCase(p, 4, L"usb#vid_") || !XpHasAtNoCase(p, 16, L"&pid_")) return false;
  DWORD vid = 0, pid = 0;
  if (!ReadHex4(p, 12, &vid) || !ReadHex4(p, 21, &pid)) return false;
  if (p.GetLength() <= kIdsEnd) return false;
  const wchar_t after = *p.At(kIdsEnd);
  if (after != L'#' && after != L'&') return false;
  if (vendorId) *vendorId = vid;
  if (productId) *productId = pid;
  return true;
}

XpString XpUsbDevicePath::SerialOf(const XpString& interfacePath) {
  if (!ParseUsbIds(interfacePath, nullptr, nullptr)) return XpString();
  // \\?\usb#vid_XXXX&pid_YYYY[&...]#<instance>#{class}
  int start = interfacePath.Find(L'#', kIdsEnd);
  if (start < 0) return XpString();
  int end = interfacePath.Find(L'#', start + 1);
  if (end <= start + 1) return XpString();
  XpString instance = interfacePath.Left(end).Right(end - start - 1);
  if (instance.Find(L'&') >= 0) return XpString();
  return instance;
}
