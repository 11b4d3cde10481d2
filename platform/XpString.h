// Reference-counted, copy-on-write strings (UTF-16 and ANSI) and the owning
// shared pointer. Counts change only through interlocked operations, so copies
// of one value may live on different threads; a single object must not be
// changed by two threads at once.
#pragma once

#include <windows.h>

#include <cstdarg>

class XpString;
class XpStringA;

namespace XpStringDetail {

// Shared by every copy of one value. The buffer comes from malloc/realloc.
template <class C>
struct StringRep {
  C* buffer;
  int length;
  int capacity;
  volatile LONG refs;
};

}  // namespace XpStringDetail

class XpString {
 public:
  XpString();
  XpString(const wchar_t* text);  // null is the empty string
  XpString(const XpString& other);
  explicit XpString(const XpStringA& ansi);
  ~XpString();

  XpString& operator=(const XpString& other);
  XpString& operator=(const wchar_t* text);
  XpString& operator+=(const wchar_t* text);
  XpString& operator+=(const XpString& other);

  const wchar_t* c_str() const { return m_text; }
  int GetLength() const { return m_rep->length; }
  bool IsEmpty() const { return m_rep->length == 0; }
  // Pointer to the code unit at index (no range check, like the raw text).
  const wchar_t* At(int index) const { return m_text + index; }
  // Units the buffer holds; exposed so the sizing rule can be checked.
  int GetCapacity() const { return m_rep->capacity; }

  int Compare(const wchar_t* other) const;
  int CompareNoCase(const wchar_t* other) const;

  int Find(wchar_t ch, int start = 0) const;
  int ReverseFind(wchar_t ch) const;

  XpString Left(int n) const;
  XpString Right(int n) const;

  XpStringA ToAnsi() const;

  void Format(const wchar_t* fmt, ...);
  void FormatV(const wchar_t* fmt, va_list args);
  void AppendFormat(const wchar_t* fmt, ...);
  void AppendFormatV(const wchar_t* fmt, va_list args);

  int Replace(const wchar_t* pattern, const wchar_t* replacement);

 private:
  typedef XpStringDetail::StringRep<wchar_t> Rep;
  friend class XpStringA;
  XpString(const wchar_t* text, int length);
  void MakeUnique();
  void Assign(const wchar_t* text, int length);
  void Append(const wchar_t* text, int length);
  // Renders fmt; false when no buffer up to the ceiling was enough.
  static bool Render(const wchar_t* fmt, va_list args, XpString& out);

  friend XpString operator+(const XpString& a, const XpString& b);
  friend XpString operator+(const XpString& a, const wchar_t* b);
  friend XpString operator+(const wchar_t* a, const XpString& b);

  wchar_t* m_text;  // copy of m_rep->buffer, refreshed after every change
  Rep* m_rep;
};

XpString operator+(const XpString& a, const XpString& b);
XpString operator+(const XpString& a, const wchar_t* b);
XpString operator+(const wchar_t* a, const XpString& b);

bool operator==(const XpString& a, const XpString& b);
bool operator==(const XpString& a, const wchar_t* b);
bool operator==(const wchar_t* a, const XpString& b);
bool operator!=(const XpString& a, const XpString& b);
bool operator!=(const XpString& a, const wchar_t* b);
bool operator!=(const wchar_t* a, const XpString& b);
bool operator<(const XpString& a, const XpString& b);

// Case without the user's locale: only A..Z and a..z change, as device
// paths, drive letters and kernel object names want it.
inline wchar_t XpToLowerAscii(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}
inline wchar_t XpToUpperAscii(wchar_t c) {
  return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// Whether text holds prefix at position, letter case ignored as CompareNoCase
// ignores it; false when position is outside text or prefix runs past its end.
bool XpHasAtNoCase(const XpString& text, int position, const wchar_t* prefix);
inline bool XpStartsWithNoCase(const XpString& text, const wchar_t* prefix) {
  return XpHasAtNoCase(text, 0, prefix);
}

// Orders keys as CompareNoCase does, for maps of paths and device names.
struct XpNoCaseLess {
  bool operator()(const XpString& a, const XpString& b) const { return a.CompareNoCase(b.c_str()) < 0; }
};

// Narrow twin: carries ANSI bytes to and from byte-oriented interfaces.
class XpStringA {
 public:
  XpStringA();
  XpStringA(const char* text);  // null is the empty string
  XpStringA(const XpStringA& other);
  explicit XpStringA(const XpString& wide);
  ~XpStringA();

  XpStringA& operator=(const XpStringA& other);
  XpStringA& operator=(const char* text);

  const char* c_str() const { return m_text; }
  int GetLength() const { return m_rep->length; }
  bool IsEmpty() const { return m_rep->length == 0; }
  int GetCapacity() const { return m_rep->capacity; }

  XpString ToWide() const;

 private:
  typedef XpStringDetail::StringRep<char> Rep;
  friend class XpString;
  XpStringA(const char* text, int length);
  void Assign(const char* text, int length);

  char* m_text;
  Rep* m_rep;
};

namespace XpSharedPtrDetail {

class _XpSharedCounterBase {
 public:
  _XpSharedCounterBase() : m_useCount(1), m_counterCount(1) {}
  virtual ~_XpSharedCounterBase() {}
  // Drops one use; at zero the object and then this counter's own count go.
  virtual LONG Release() = 0;
  virtual void ReleaseCounter() = 0;

  void AddRef() { InterlockedIncrement(&m_useCount); }
  LONG UseCount() const { return m_useCount; }

 protected:
  volatile LONG m_useCount;
  volatile LONG m_counterCount;

 private:
  _XpSharedCounterBase(const _XpSharedCounterBase&);
  _XpSharedCounterBase& operator=(const _XpSharedCounterBase&);
};

template <class T>
class _XpSharedCounter : public _XpSharedCounterBase {
 public:
  explicit _XpSharedCounter(T* object) : m_object(object) {}

  LONG Release() override {
    LONG left = InterlockedDecrement(&m_useCount);
    if (left == 0) {
      if (m_object != nullptr) {
        T* object = m_object;
        m_object = nullptr;
        delete object;  // as the type the counter was made for
      }
      ReleaseCounter();  // may delete this; nothing below touches members
    }
    return left;
  }

  void ReleaseCounter() override {
    if (InterlockedDecrement(&m_counterCount) == 0) delete this;
  }

 private:
  T* m_object;
};

}  // namespace XpSharedPtrDetail

template <class T>
class XpSharedPtr {
 public:
  XpSharedPtr() : m_object(nullptr), m_counter(new XpSharedPtrDetail::_XpSharedCounter<T>(nullptr)) {}
  explicit XpSharedPtr(T* object)
      : m_object(object), m_counter(new XpSharedPtrDetail::_XpSharedCounter<T>(object)) {}
  XpSharedPtr(const XpSharedPtr& other) : m_object(other.m_object), m_counter(other.m_counter) {
    m_counter->AddRef();
  }
  // Base/derived conversion: the counter stays the one made for the created
  // type, so the object is still deleted as that type. No run-time check.
  template <class U>
  XpSharedPtr(const XpSharedPtr<U>& other)
      : m_object(static_cast<T*>(other.m_object)), m_counter(other.m_counter) {
    m_counter->AddRef();
  }
  ~XpSharedPtr() { m_counter->Release(); }

  // The source is read and its use taken before our own object goes: that
  // object may own the source (p = p->next), and self-assignment stays safe.
  XpSharedPtr& operator=(const XpSharedPtr& other) {
    T* object = other.m_object;
    XpSharedPtrDetail::_XpSharedCounterBase* counter = other.m_counter;
    counter->AddRef();
    XpSharedPtrDetail::_XpSharedCounterBase* previous = m_counter;
    m_object = object;
    m_counter = counter;
    previous->Release();
    return *this;
  }
  template <class U>
  XpSharedPtr& operator=(const XpSharedPtr<U>& other) {
    T* object = static_cast<T*>(other.m_object);
    XpSharedPtrDetail::_XpSharedCounterBase* counter = other.m_counter;
    counter->AddRef();
    XpSharedPtrDetail::_XpSharedCounterBase* previous = m_counter;
    m_object = object;
    m_counter = counter;
    previous->Release();
    return *this;
  }

  T* get() const { return m_object; }
  T* operator->() const { return m_object; }
  T& operator*() const { return *m_object; }
  bool IsNull() const { return m_object == nullptr; }
  explicit operator bool() const { return m_object != nullptr; }
  // Current use count of the shared counter (for diagnostics and tests).
  LONG UseCount() const { return m_counter->UseCount(); }

 private:
  template <class U>
  friend class XpSharedPtr;

  T* m_object;
  XpSharedPtrDetail::_XpSharedCounterBase* m_counter;
};
