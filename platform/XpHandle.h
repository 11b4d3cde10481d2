// One owner type per kind of system handle. Each owner is movable and not
// copyable, closes its handle in the destructor, and keeps the caller's last
// error across the close, so an error read after clean-up is still the one the
// failing call left. release() gives the handle up without closing it.
//
// Validity is decided once per kind, in its traits: kernel objects (events,
// mutexes, processes, threads, tokens) are empty when null, files, devices and
// snapshots when INVALID_HANDLE_VALUE (what their functions return on
// failure). The two never share an owner: a failed CreateFile is never closed
// as a handle, and a kernel object is never tested against
// INVALID_HANDLE_VALUE, which is also the current process's pseudo handle.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <setupapi.h>

#include <cstdlib>
#include <utility>

// Runs close() and puts back the last error it may have changed.
template <class Close>
void XpKeepLastError(Close close) {
  const DWORD error = GetLastError();
  close();
  SetLastError(error);
}

// Traits: Type, Invalid(), IsValid(value) and Close(value). Traits with state
// (a closing interface) are passed to the constructor and kept by value.
template <class Traits>
class XpUniqueAny : private Traits {
 public:
  typedef typename Traits::Type Type;

  XpUniqueAny() : m_value(Traits::Invalid()) {}
  explicit XpUniqueAny(Type value) : m_value(value) {}
  XpUniqueAny(Type value, const Traits& traits) : Traits(traits), m_value(value) {}
  XpUniqueAny(XpUniqueAny&& other) noexcept : Traits(other), m_value(other.release()) {}
  XpUniqueAny& operator=(XpUniqueAny&& other) noexcept {
    if (this != &other) {
      reset();
      static_cast<Traits&>(*this) = static_cast<Traits&>(other);
      m_value = other.release();
    }
    return *this;
  }
  ~XpUniqueAny() { reset(); }

  XpUniqueAny(const XpUniqueAny&) = delete;
  XpUniqueAny& operator=(const XpUniqueAny&) = delete;

  Type get() const { return m_value; }
  bool valid() const { return Traits::IsValid(m_value); }
  explicit operator bool() const { return valid(); }

  // Closes the handle held (if valid) and takes value.
  void reset(Type value = Traits::Invalid()) {
    if (Traits::IsValid(m_value)) {
      Type old = m_value;
      XpKeepLastError([this, old]() { this->Close(old); });
    }
    m_value = value;
  }
  // The caller takes the handle over; the owner is left empty.
  [[nodiscard]] Type release() {
    Type value = m_value;
    m_value = Traits::Invalid();
    return value;
  }
  // For functions that return a handle through an out-parameter: closes the
  // handle held first.
  Type* put() {
    reset();
    return &m_value;
  }

 private:
  Type m_value;
};

namespace XpHandleDetail {

template <class T, T (*InvalidValue)(), BOOL (*CloseFunction)(T)>
struct BoolTraits {
  typedef T Type;
  static T Invalid() { return InvalidValue(); }
  static bool IsValid(T value) { return value != InvalidValue(); }
  static void Close(T value) { (void)CloseFunction(value); }
};

inline HANDLE NullHandle() { return nullptr; }
inline HANDLE InvalidHandleValue() { return INVALID_HANDLE_VALUE; }
inline HMODULE NullModule() { return nullptr; }
inline HWND NullWindow() { return nullptr; }
inline HMENU NullMenu() { return nullptr; }
inline HICON NullIcon() { return nullptr; }
inline HDEVNOTIFY NullDevNotify() { return nullptr; }

inline BOOL CloseKernelObject(HANDLE handle) { return ::CloseHandle(handle); }
inline BOOL EndFind(HANDLE handle) { return ::FindClose(handle); }
inline BOOL UnloadLibrary(HMODULE module) { return ::FreeLibrary(module); }
inline BOOL DestroyWindowHandle(HWND window) { return ::DestroyWindow(window); }
inline BOOL DestroyMenuHandle(HMENU menu) { return ::DestroyMenu(menu); }
inline BOOL DestroyIconHandle(HICON icon) { return ::DestroyIcon(icon); }
inline BOOL UnregisterNotify(HDEVNOTIFY notify) { return ::UnregisterDeviceNotification(notify); }

// CreateFile and the snapshot functions fail with INVALID_HANDLE_VALUE and
// never return null, so a null one is not taken for an open handle either.
struct FileTraits {
  typedef HANDLE Type;
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE handle) { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
  static void Close(HANDLE handle) { (void)::CloseHandle(handle); }
};

struct KeyTraits {
  typedef HKEY Type;
  static HKEY Invalid() { return nullptr; }
  static bool IsValid(HKEY key) { return key != nullptr; }
  static void Close(HKEY key) { (void)::RegCloseKey(key); }
};

// Sets are returned as INVALID_HANDLE_VALUE on failure; a null one was never made either.
struct DevInfoTraits {
  typedef HDEVINFO Type;
  static HDEVINFO Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HDEVINFO set) { return set != INVALID_HANDLE_VALUE && set != nullptr; }
  static void Close(HDEVINFO set) { (void)::SetupDiDestroyDeviceInfoList(set); }
};

template <class T>
struct CoTaskMemTraits {
  typedef T* Type;
  static T* Invalid() { return nullptr; }
  static bool IsValid(T* block) { return block != nullptr; }
  static void Close(T* block) { ::CoTaskMemFree(block); }
};

struct HeapBlockTraits {
  typedef void* Type;
  static void* Invalid() { return nullptr; }
  static bool IsValid(void* block) { return block != nullptr; }
  static void Close(void* block) { std::free(block); }
};

struct BstrTraits {
  typedef BSTR Type;
  static BSTR Invalid() { return nullptr; }
  static bool IsValid(BSTR text) { return text != nullptr; }
  static void Close(BSTR text) { ::SysFreeString(text); }
};

}  // namespace XpHandleDetail

// Kernel objects: events, mutexes, processes, threads, tokens. Null is invalid.
typedef XpUniqueAny<
    XpHandleDetail::BoolTraits<HANDLE, XpHandleDetail::NullHandle, XpHandleDetail::CloseKernelObject>>
    XpUniqueHandle;
// Files, devices and snapshots: empty is INVALID_HANDLE_VALUE.
typedef XpUniqueAny<XpHandleDetail::FileTraits> XpUniqueFileHandle;
// FindFirstFile enumerations.
typedef XpUniqueAny<
    XpHandleDetail::BoolTraits<HANDLE, XpHandleDetail::InvalidHandleValue, XpHandleDetail::EndFind>>
    XpUniqueFindHandle;
typedef XpUniqueAny<XpHandleDetail::KeyTraits> XpUniqueKey;
typedef XpUniqueAny<
    XpHandleDetail::BoolTraits<HMODULE, XpHandleDetail::NullModule, XpHandleDetail::UnloadLibrary>>
    XpUniqueModule;
typedef XpUniqueAny<
    XpHandleDetail::BoolTraits<HWND, XpHandleDetail::NullWindow, XpHandleDetail::DestroyWindowHandle>>
    XpUniqueWindow;
typedef XpUniqueAny<
    XpHandleDetail::BoolTraits<HMENU, XpHandleDetail::NullMenu, XpHandleDetail::DestroyMenuHandle>>
    XpUniqueMenu;
// Icons made by CreateIcon*, CopyIcon or LoadImage without LR_SHARED only.
typedef XpUniqueAny<
    XpHandleDetail::BoolTraits<HICON, XpHandleDetail::NullIcon, XpHandleDetail::DestroyIconHandle>>
    XpUniqueIcon;
typedef XpUniqueAny<XpHandleDetail::DevInfoTraits> XpUniqueDevInfo;
typedef XpUniqueAny<
    XpHandleDetail::BoolTraits<HDEVNOTIFY, XpHandleDetail::NullDevNotify, XpHandleDetail::UnregisterNotify>>
    XpUniqueDevNotify;
// A block from the COM task allocator (item id lists, shell strings).
template <class T>
using XpUniqueCoTaskMem = XpUniqueAny<XpHandleDetail::CoTaskMemTraits<T>>;
typedef XpUniqueAny<XpHandleDetail::BstrTraits> XpUniqueBstr;
// A block from the run-time library's malloc or calloc.
typedef XpUniqueAny<XpHandleDetail::HeapBlockTraits> XpUniqueHeapBlock;

// One reference to a COM object.
template <class T>
class XpComPtr {
 public:
  XpComPtr() : m_p(nullptr) {}
  // Takes over a reference the caller already holds.
  explicit XpComPtr(T* p) : m_p(p) {}
  XpComPtr(XpComPtr&& other) noexcept : m_p(other.release()) {}
  XpComPtr& operator=(XpComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      m_p = other.release();
    }
    return *this;
  }
  ~XpComPtr() { reset(); }

  XpComPtr(const XpComPtr&) = delete;
  XpComPtr& operator=(const XpComPtr&) = delete;

  T* get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  void reset() {
    if (m_p != nullptr) {
      T* p = m_p;
      m_p = nullptr;
      XpKeepLastError([p]() { p->Release(); });
    }
  }
  [[nodiscard]] T* release() {
    T* p = m_p;
    m_p = nullptr;
    return p;
  }
  // For creation functions: drops the reference held first.
  T** put() {
    reset();
    return &m_p;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }
  void swap(XpComPtr& other) { std::swap(m_p, other.m_p); }

 private:
  T* m_p;
};

// COM on the calling thread, apartment model, for one scope. The apartment is
// left only when this scope entered it (a thread already in a multithreaded
// apartment gets a failure and leaves nothing).
class XpComApartment {
 public:
  XpComApartment() : m_entered(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~XpComApartment() {
    if (m_entered) CoUninitialize();
  }
  bool entered() const { return m_entered; }

  XpComApartment(const XpComApartment&) = delete;
  XpComApartment& operator=(const XpComApartment&) = delete;

 private:
  bool m_entered;
};

// A VARIANT cleared when the scope ends (a string or object it holds is freed).
class XpVariant {
 public:
  XpVariant() { VariantInit(&m_value); }
  ~XpVariant() {
    XpKeepLastError([this]() { (void)VariantClear(&m_value); });
  }
  VARIANT& get() { return m_value; }

  XpVariant(const XpVariant&) = delete;
  XpVariant& operator=(const XpVariant&) = delete;

 private:
  VARIANT m_value;
};
