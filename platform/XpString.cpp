#include "platform/XpString.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <functional>
#include <map>
#include <utility>

namespace {

using XpStringDetail::StringRep;

// Characters are sized in steps of 64; a buffer shrinks only when the new need
// is under half of a buffer of more than 128, so repeated appends stay cheap.
template <class C>
void SizeFor(StringRep<C>* rep, int n) {
  int step = (n / 64 + 1) * 64;
  if (rep->buffer != nullptr && rep->capacity >= step && (step >= rep->capacity / 2 || rep->capacity <= 128))
    return;
  C* grown = static_cast<C*>(std::realloc(rep->buffer, static_cast<size_t>(step) * sizeof(C)));
  if (grown == nullptr) std::abort();  // allocation failure is not handled further
  rep->buffer = grown;
  rep->capacity = step;
}

template <class C>
StringRep<C>* NewRep(const C* text, int length) {
  StringRep<C>* rep = new StringRep<C>;
  rep->buffer = nullptr;
  rep->capacity = 0;
  rep->refs = 1;
  rep->length = length;
  SizeFor(rep, length);
  if (length > 0) std::memcpy(rep->buffer, text, static_cast<size_t>(length) * sizeof(C));
  rep->buffer[length] = 0;
  return rep;
}

template <class C>
void ReleaseRep(StringRep<C>* rep) {
  if (InterlockedDecrement(&rep->refs) == 0) {
    std::free(rep->buffer);
    delete rep;
  }
}

template <class C>
StringRep<C>* Unique(StringRep<C>* rep) {
  if (rep->refs == 1) return rep;
  StringRep<C>* copy = NewRep(rep->buffer, rep->length);
  ReleaseRep(rep);
  return copy;
}

template <class C>
bool PointsInto(const StringRep<C>* rep, const C* p) {
  std::less_equal<const C*> le;
  std::less<const C*> lt;
  return rep->buffer != nullptr && le(rep->buffer, p) && lt(p, rep->buffer + rep->capacity);
}

// Makes rep share other's value; the old value loses one reference.
template <class C>
void ShareRep(StringRep<C>*& rep, StringRep<C>* other) {
  if (other == rep) return;
  InterlockedIncrement(&other->refs);
  ReleaseRep(rep);
  rep = other;
}

// Gives rep a value of its own holding length units of text.
template <class C>
void AssignRep(StringRep<C>*& rep, const C* text, int length) {
  if (PointsInto(rep, text)) {
    // The source lives in our own buffer, which resizing may move or free.
    StringRep<C>* copy = NewRep(text, length);
    AssignRep(rep, copy->buffer, length);
    ReleaseRep(copy);
    return;
  }
  rep = Unique(rep);
  SizeFor(rep, length);
  std::memcpy(rep->buffer, text, static_cast<size_t>(length) * sizeof(C));
  rep->buffer[length] = 0;
  rep->length = length;
}

// Converts length units of text and its terminator with convert(source,
// count, out, outCount), which answers as the system's code-page conversions
// do (units written, or needed when out is null; 0 on failure). make builds
// the result from the units without the terminator; a failure gives empty.
template <class To, class From, class Convert, class Make>
auto ConvertText(const From* text, int length, Convert convert, Make make)
    -> decltype(make(static_cast<const To*>(nullptr), 0)) {
  static const To kEmpty[1] = {0};
  To stack[1024 / sizeof(To)];
  const int stackUnits = static_cast<int>(sizeof(stack) / sizeof(stack[0]));
  // Short texts mostly fit; one that does not fails here and is sized below.
  if (length < stackUnits) {
    const int got = convert(text, length + 1, stack, stackUnits);
    if (got > 0) return make(stack, got - 1);
  }
  const int need = convert(text, length + 1, nullptr, 0);
  if (need <= 0) return make(kEmpty, 0);
  To* heap = static_cast<To*>(std::malloc(static_cast<size_t>(need) * sizeof(To)));
  if (heap == nullptr) return make(kEmpty, 0);
  const int got = convert(text, length + 1, heap, need);
  auto result = make(heap, got > 0 ? got - 1 : 0);
  std::free(heap);
  return result;
}

// The per-thread empty strings are guarded by a plain Win32 critical section.
class EmptyLock {
 public:
  EmptyLock() { InitializeCriticalSection(&m_cs); }
  ~EmptyLock() { DeleteCriticalSection(&m_cs); }
  void Enter() { EnterCriticalSection(&m_cs); }
  void Leave() { LeaveCriticalSection(&m_cs); }

 private:
  EmptyLock(const EmptyLock&);
  EmptyLock& operator=(const EmptyLock&);
  CRITICAL_SECTION m_cs;
};

struct EmptyStrings {
  EmptyLock lock;
  std::map<DWORD, XpString> byThread;
};

EmptyStrings& TheEmptyStrings() {
  static EmptyStrings strings;  // lives to process exit
  return strings;
}

// Past this many code units a rendering is given up rather than retried.
const int kFormatCeiling = 1 << 20;

size_t Len(const wchar_t* s) { return s ? std::wcslen(s) : 0; }

}  // namespace

// ---- XpString -------------------------------------------------------------

XpString::XpString() {
  EmptyStrings& empty = TheEmptyStrings();
  DWORD id = GetCurrentThreadId();
  empty.lock.Enter();
  std::map<DWORD, XpString>::iterator it = empty.byThread.find(id);
  if (it == empty.byThread.end()) it = empty.byThread.insert(std::make_pair(id, XpString(L""))).first;
  m_rep = it->second.m_rep;
  InterlockedIncrement(&m_rep->refs);
  empty.lock.Leave();
  m_text = m_rep->buffer;
}

XpString::XpString(const wchar_t* text) {
  m_rep = NewRep(text ? text : L"", static_cast<int>(Len(text)));
  m_text = m_rep->buffer;
}

XpString::XpString(const wchar_t* text, int length) {
  m_rep = NewRep(text, length);
  m_text = m_rep->buffer;
}

XpString::XpString(const XpString& other) : m_text(other.m_text), m_rep(other.m_rep) {
  InterlockedIncrement(&m_rep->refs);
}

XpString::XpString(const XpStringA& ansi) : XpString(ansi.ToWide()) {}

XpString::~XpString() { ReleaseRep(m_rep); }

XpString& XpString::operator=(const XpString& other) {
  ShareRep(m_rep, other.m_rep);
  m_text = m_rep->buffer;
  return *this;
}

XpString& XpString::operator=(const wchar_t* text) {
  Assign(text ? text : L"", static_cast<int>(Len(text)));
  return *this;
}

XpString& XpString::operator+=(const wchar_t* text) {
  Append(text ? text : L"", static_cast<int>(Len(text)));
  return *this;
}

XpString& XpString::operator+=(const XpString& other) {
  Append(other.m_text, other.GetLength());
  return *this;
}

void XpString::MakeUnique() {
  m_rep = Unique(m_rep);
  m_text = m_rep->buffer;
}

void XpString::Assign(const wchar_t* text, int length) {
  AssignRep(m_rep, text, length);
  m_text = m_rep->buffer;
}

void XpString::Append(const wchar_t* text, int length) {
  if (length == 0) return;
  if (PointsInto(m_rep, text)) {
    XpString copy(text, length);
    Append(copy.m_text, length);
    return;
  }
  MakeUnique();
  int old = m_rep->length;
  SizeFor(m_rep, old + length);
  std::memcpy(m_rep->buffer + old, text, static_cast<size_t>(length) * sizeof(wchar_t));
  m_rep->length = old + length;
  m_rep->buffer[m_rep->length] = 0;
  m_text = m_rep->buffer;
}

int XpString::Compare(const wchar_t* other) const { return std::wcscmp(m_text, other ? other : L""); }

int XpString::CompareNoCase(const wchar_t* other) const { return _wcsicmp(m_text, other ? other : L""); }

bool XpHasAtNoCase(const XpString& text, int position, const wchar_t* prefix) {
  if (prefix == nullptr) return false;
  const size_t n = wcslen(prefix);
  if (position < 0 || position > text.GetLength()) return false;
  if (n > static_cast<size_t>(text.GetLength() - position)) return false;
  return _wcsnicmp(text.At(position), prefix, n) == 0;
}

int XpString::Find(wchar_t ch, int start) const {
  if (start < 0) start = 0;
  for (int i = start; i < m_rep->length; ++i)
    if (m_text[i] == ch) return i;
  return -1;
}

int XpString::ReverseFind(wchar_t ch) const {
  for (int i = m_rep->length - 1; i >= 0; --i)
    if (m_text[i] == ch) return i;
  return -1;
}

XpString XpString::Left(int n) const {
  if (n < 0) n = 0;
  if (n >= m_rep->length) return *this;
  return XpString(m_text, n);
}

XpString XpString::Right(int n) const {
  if (n < 0) n = 0;
  if (n >= m_rep->length) return *this;
  return XpString(m_text + (m_rep->length - n), n);
}

XpString operator+(const XpString& a, const XpString& b) {
  XpString r(a.m_text, a.GetLength());
  r.Append(b.m_text, b.GetLength());
  return r;
}

XpString operator+(const XpString& a, const wchar_t* b) {
  XpString r(a.m_text, a.GetLength());
  r += b;
  return r;
}

XpString operator+(const wchar_t* a, const XpString& b) {
  XpString r(a ? a : L"", static_cast<int>(Len(a)));
  r.Append(b.m_text, b.GetLength());
  return r;
}

bool operator==(const XpString& a, const XpString& b) { return a.Compare(b.c_str()) == 0; }
bool operator==(const XpString& a, const wchar_t* b) { return a.Compare(b) == 0; }
bool operator==(const wchar_t* a, const XpString& b) { return b.Compare(a) == 0; }
bool operator!=(const XpString& a, const XpString& b) { return !(a == b); }
bool operator!=(const XpString& a, const wchar_t* b) { return !(a == b); }
bool operator!=(const wchar_t* a, const XpString& b) { return !(a == b); }
bool operator<(const XpString& a, const XpString& b) { return a.Compare(b.c_str()) < 0; }

bool XpString::Render(const wchar_t* fmt, va_list args, XpString& out) {
  if (fmt == nullptr) fmt = L"";
  wchar_t stack[256];
  std::memset(stack, 0, sizeof(stack));
  va_list copy;
  va_copy(copy, args);
  int n = _vsnwprintf(stack, 256, fmt, copy);
  va_end(copy);
  stack[255] = 0;
  if (n >= 0 && n < 256) {
    out = XpString(stack, n);
    return true;
  }
  // Heap path: grow in steps of 512 units up to the ceiling, so a rendering
  // that fails at every size ends instead of looping forever.
  int size = 512;
  va_copy(copy, args);
  int needed = _vscwprintf(fmt, copy);
  va_end(copy);
  if (needed >= kFormatCeiling) return false;
  if (needed >= 0) size = (needed / 512 + 1) * 512;  // the first size that would succeed
  for (; size <= kFormatCeiling; size += 512) {
    wchar_t* heap = static_cast<wchar_t*>(std::malloc(static_cast<size_t>(size) * sizeof(wchar_t)));
    if (heap == nullptr) return false;
    heap[0] = 0;
    va_copy(copy, args);
    n = _vsnwprintf(heap, static_cast<size_t>(size), fmt, copy);
    va_end(copy);
    if (n >= 0 && n < size) {
      out = XpString(heap, n);
      std::free(heap);
      return true;
    }
    std::free(heap);
  }
  return false;
}

void XpString::Format(const wchar_t* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  FormatV(fmt, args);
  va_end(args);
}

void XpString::FormatV(const wchar_t* fmt, va_list args) {
  XpString rendered(L"", 0);
  if (Render(fmt, args, rendered))
    Assign(rendered.m_text, rendered.GetLength());
  else
    Assign(L"", 0);
}

void XpString::AppendFormat(const wchar_t* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  AppendFormatV(fmt, args);
  va_end(args);
}

void XpString::AppendFormatV(const wchar_t* fmt, va_list args) {
  XpString rendered(L"", 0);
  if (Render(fmt, args, rendered)) Append(rendered.m_text, rendered.GetLength());
}

int XpString::Replace(const wchar_t* pattern, const wchar_t* replacement) {
  size_t p = Len(pattern);
  if (p == 0) return 0;  // an empty pattern matches nowhere useful
  if (replacement == nullptr) replacement = L"";
  size_t r = Len(replacement);
  // The exact result length, counted first and in 64 bits: an estimate sized
  // in the address width wraps on 32-bit builds into a buffer far too small.
  unsigned long long matches = 0;
  for (const wchar_t* hit = std::wcsstr(m_text, pattern); hit != nullptr; hit = std::wcsstr(hit + p, pattern))
    ++matches;
  if (matches == 0) return 0;
  unsigned long long length = static_cast<unsigned long long>(m_rep->length);
  unsigned long long cap;
  if (r >= p) {
    cap = length + matches * (r - p);
  } else {
    cap = length - matches * (p - r);
  }
  // A string longer than the length type can hold is not made; nothing changes.
  if (r > 0x7FFFFFFEu || cap > 0x7FFFFFFEull) return 0;
  wchar_t* work = static_cast<wchar_t*>(std::malloc((static_cast<size_t>(cap) + 1) * sizeof(wchar_t)));
  if (work == nullptr) return 0;
  int count = 0;
  wchar_t* out = work;
  const wchar_t* from = m_text;
  for (const wchar_t* hit = std::wcsstr(from, pattern); hit != nullptr; hit = std::wcsstr(from, pattern)) {
    size_t before = static_cast<size_t>(hit - from);
    std::memcpy(out, from, before * sizeof(wchar_t));
    out += before;
    std::memcpy(out, replacement, r * sizeof(wchar_t));
    out += r;
    from = hit + p;
    ++count;
  }
  size_t rest = std::wcslen(from);
  std::memcpy(out, from, rest * sizeof(wchar_t));
  out += rest;
  *out = 0;
  if (count > 0) Assign(work, static_cast<int>(out - work));
  std::free(work);
  return count;
}

XpStringA XpString::ToAnsi() const {
  return ConvertText<char>(
      m_text, m_rep->length,
      [](const wchar_t* text, int count, char* out, int outCount) {
        return WideCharToMultiByte(CP_ACP, 0, text, count, out, outCount, nullptr, nullptr);
      },
      [](const char* text, int length) { return XpStringA(text, length); });
}

// ---- XpStringA ------------------------------------------------------------

XpStringA::XpStringA() {
  m_rep = NewRep("", 0);
  m_text = m_rep->buffer;
}

XpStringA::XpStringA(const char* text) {
  m_rep = NewRep(text ? text : "", text ? static_cast<int>(std::strlen(text)) : 0);
  m_text = m_rep->buffer;
}

XpStringA::XpStringA(const char* text, int length) {
  m_rep = NewRep(text, length);
  m_text = m_rep->buffer;
}

XpStringA::XpStringA(const XpStringA& other) : m_text(other.m_text), m_rep(other.m_rep) {
  InterlockedIncrement(&m_rep->refs);
}

XpStringA::XpStringA(const XpString& wide) : XpStringA(wide.ToAnsi()) {}

XpStringA::~XpStringA() { ReleaseRep(m_rep); }

XpStringA& XpStringA::operator=(const XpStringA& other) {
  ShareRep(m_rep, other.m_rep);
  m_text = m_rep->buffer;
  return *this;
}

XpStringA& XpStringA::operator=(const char* text) {
  Assign(text ? text : "", text ? static_cast<int>(std::strlen(text)) : 0);
  return *this;
}

void XpStringA::Assign(const char* text, int length) {
  AssignRep(m_rep, text, length);
  m_text = m_rep->buffer;
}

XpString XpStringA::ToWide() const {
  return ConvertText<wchar_t>(
      m_text, m_rep->length,
      [](const char* text, int count, wchar_t* out, int outCount) {
        return MultiByteToWideChar(CP_ACP, 0, text, count, out, outCount);
      },
      [](const wchar_t* text, int length) { return XpString(text, length); });
}
