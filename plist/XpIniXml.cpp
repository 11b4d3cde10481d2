// Property-list XML documents through the system's XML DOM component: the
// mapping between DOM nodes and tree nodes, the value encodings and the result
// codes. The library, COM and the document live only for one operation.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <msxml2.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "platform/XpFile.h"
#include "platform/XpFileSystem.h"
#include "platform/XpHandle.h"
#include "platform/XpMemoryFile.h"
#include "plist/XpIni.h"
#include "plist/XpIniDetail.h"
#include "plist/XpIniMemChunk.h"

namespace {

// The MSXML 4.0 document class, the version-independent one, and the interfaces asked for.
const CLSID kClsidDomDocument40 = {
    0x88D969C0, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}};
const CLSID kClsidDomDocument = {
    0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kIidDomDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kIidDomDocument2 = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kIidDomElement = {0x2933BF86, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// The largest document read, in bytes.
const size_t kMaxDocumentBytes = 16u * 1024u * 1024u;

const wchar_t kTemplate[] =
    L"<?xml version=\"1.0\" encoding=\"utf-8\" ?><plist version=\"1.0\"><dict/></plist>";

// Node classes of the document format.
enum NodeClass {
  kInteger = 1,
  kReal = 2,
  kString = 3,
  kData = 4,
  kDate = 5,
  kArray = 6,
  kDict = 7,
  kKey = 8,
  kTrue = 9,
  kFalse = 10,
  kComment = 11,
  kText = 12,
  kPlist = 14,
  kOther = 15
};

// Apartment and document for one operation, released in reverse order. The
// document class comes through COM's registration, which names the
// component's file by its full path: nothing is loaded by bare name, so a
// file of that name in the current folder or along the search path is never
// run.
class DomSession {
 public:
  DomSession() {}

  [[nodiscard]] XpResult Begin() {
    if (!m_apartment.entered()) return XP_E_INI_COM;
    // The MSXML 4.0 document first, then the version-independent one.
    const CLSID* classes[] = {&kClsidDomDocument40, &kClsidDomDocument};
    for (const CLSID* cls : classes) {
      if (SUCCEEDED(CoCreateInstance(*cls, nullptr, CLSCTX_INPROC_SERVER, kIidDomDocument,
                                     reinterpret_cast<void**>(m_doc.put()))) &&
          m_doc.get() != nullptr)
        break;
      m_doc.reset();
    }
    if (m_doc.get() == nullptr) return XP_E_INI_NO_DOM;
    return XP_OK;
  }

  IXMLDOMDocument* Doc() const { return m_doc.get(); }

 private:
  DomSession(const DomSession&);
  DomSession& operator=(const DomSession&);
  // Members end in reverse order: document, apartment.
  XpComApartment m_apartment;
  XpComPtr<IXMLDOMDocument> m_doc;
};

// The source cannot be read as a document: say why from the file's point of
// view. Text sources have no file, so the code itself is the answer.
[[nodiscard]] XpResult FileCheck(const wchar_t* path, std::uint32_t flags, XpResult code) {
  if (path == nullptr) return code;
  XpFile file(path);
  XpResult r = file.Open(flags);
  if (r != XP_OK) return r;
  // Opened only to learn whether it can be; code is the answer either way.
  (void)file.Close();
  return code;
}

// The same for writing, without touching what the file holds: an existing
// file is opened for writing as it is (never truncated), a missing one
// answers for its folder.
[[nodiscard]] XpResult WriteCheck(const wchar_t* path, XpResult code) {
  XpUniqueFileHandle h(CreateFileW(path, GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (h) return code;
  DWORD error = GetLastError();
  if (error != ERROR_FILE_NOT_FOUND) return XpResultFromWin32(error);
  XpString folder = GetDirectory(XpString(path));
  if (!folder.IsEmpty() && !IsDirectoryPath(folder)) return XP_E_PATH_NOT_FOUND;
  return code;
}

// A temporary file beside target, made empty and unique; empty on failure
// (error then holds the reason).
XpString TempFileBeside(const wchar_t* target, DWORD* error) {
  XpString folder = GetDirectory(XpString(target));
  if (folder.IsEmpty()) folder = L".\\";
  wchar_t name[MAX_PATH + 1];
  if (GetTempFileNameW(folder.c_str(), L"xpl", 0, name) == 0) {
    *error = GetLastError();
    return XpString();
  }
  name[MAX_PATH] = 0;
  return XpString(name);
}

// Puts the finished file in place of target in one step; target keeps its
// old content when that fails.
[[nodiscard]] XpResult ReplaceWith(const XpString& temp, const wchar_t* target) {
  if (MoveFileExW(temp.c_str(), target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return XP_OK;
  DWORD error = GetLastError();
  if (error == ERROR_CALL_NOT_IMPLEMENTED) {
    // Windows 95/98/Me have no replacing move: the old file goes first.
    if ((!DeleteFileW(target) && GetLastError() != ERROR_FILE_NOT_FOUND) || !MoveFileW(temp.c_str(), target))
      error = GetLastError();
    else
      return XP_OK;
  }
  return XpResultFromWin32(error);
}

[[nodiscard]] XpResult FlushToDisk(const XpString& path) {
  XpUniqueFileHandle h(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h || !FlushFileBuffers(h.get())) return XpResultFromWin32(GetLastError());
  return XP_OK;
}

// Whether the prolog of a document (its bytes, or its text as code units
// below 128) declares a document type with an internal subset, where entities
// are declared. Such a document is not read: an entity that expands into
// millions of others would stall the reader, and a plain property list never
// needs one. The usual external document type line reads (it is not
// fetched). NUL bytes are skipped, so UTF-16 reads as ASCII does.
template <class Unit>
bool DeclaresInternalSubset(const Unit* units, size_t count) {
  std::string text;
  text.reserve(count < 65536 ? count : 65536);
  for (size_t i = 0; i < count; ++i) {
    unsigned value = static_cast<unsigned>(units[i]);
    if (value == 0) continue;
    text += value < 128 ? static_cast<char>(value) : '_';
  }
  size_t at = 0;
  for (;;) {
    at = text.find('<', at);
    if (at == std::string::npos) return false;
    if (text.compare(at, 4, "<!--") == 0) {
      at = text.find("-->", at + 4);
      if (at == std::string::npos) return false;
    } else if (text.compare(at, 2, "<?") == 0) {
      at = text.find("?>", at + 2);
      if (at == std::string::npos) return false;
    } else if (text.compare(at, 9, "<!DOCTYPE") == 0) {
      size_t open = text.find('[', at);
      size_t close = text.find('>', at);
      // No end of the declaration: not a document to read either.
      return close == std::string::npos || (open != std::string::npos && open < close);
    } else {
      return false;  // the root element: the prolog is over
    }
  }
}

// The same for a file, read whole up to the parser's own size limit.
bool FileDeclaresInternalSubset(const wchar_t* path) {
  XpUniqueFileHandle h(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  // A file that cannot be opened is reported by the parser's own attempt.
  if (!h) return false;
  std::string bytes;
  char buffer[65536];
  DWORD read = 0;
  while (bytes.size() < kMaxDocumentBytes && ReadFile(h.get(), buffer, sizeof(buffer), &read, nullptr) &&
         read > 0)
    bytes.append(buffer, read);
  return DeclaresInternalSubset(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

bool IsBlank(const wchar_t* text, UINT length) {
  for (UINT i = 0; i < length; ++i) {
    wchar_t c = text[i];
    if (c != L' ' && c != L'\t' && c != L'\r' && c != L'\n') return false;
  }
  return true;
}

int Classify(IXMLDOMNode* node) {
  DOMNodeType type;
  if (FAILED(node->get_nodeType(&type))) return kOther;
  switch (type) {
    case NODE_COMMENT:
      return kComment;
    case NODE_TEXT:
    case NODE_CDATA_SECTION:
      return kText;
    case NODE_ELEMENT:
      break;
    default:
      return kOther;
  }
  XpUniqueBstr name;
  if (FAILED(node->get_nodeName(name.put())) || name.get() == nullptr) return kOther;
  static const struct {
    const wchar_t* name;
    int nodeClass;
  } kNames[] = {{L"integer", kInteger}, {L"real", kReal},   {L"string", kString}, {L"data", kData},
                {L"date", kDate},       {L"array", kArray}, {L"dict", kDict},     {L"key", kKey},
                {L"true", kTrue},       {L"false", kFalse}, {L"plist", kPlist}};
  for (size_t i = 0; i < sizeof(kNames) / sizeof(kNames[0]); ++i) {
    if (std::wcscmp(name.get(), kNames[i].name) == 0) return kNames[i].nodeClass;
  }
  return kOther;
}

// Children that carry nothing: comments, and the white space between elements
// (kept by the parser so that string values keep theirs).
bool IsSkippable(IXMLDOMNode* node, int nodeClass) {
  if (nodeClass == kComment) return true;
  if (nodeClass != kText) return false;
  DOMNodeType type;
  if (FAILED(node->get_nodeType(&type)) || type != NODE_TEXT) return false;
  XpVariant value;
  if (FAILED(node->get_nodeValue(&value.get())) || value.get().vt != VT_BSTR) return false;
  BSTR b = value.get().bstrVal;
  return IsBlank(b, b == nullptr ? 0 : SysStringLen(b));
}

// The value of the element's first text child, or an empty string.
void ElementText(IXMLDOMNode* element, XpUniqueBstr& text) {
  text.reset();
  XpComPtr<IXMLDOMNode> child;
  if (FAILED(element->get_firstChild(child.put()))) return;
  while (child.get() != nullptr) {
    DOMNodeType type;
    if (SUCCEEDED(child->get_nodeType(&type)) && type == NODE_TEXT) {
      XpVariant value;
      if (SUCCEEDED(child->get_nodeValue(&value.get())) && value.get().vt == VT_BSTR) {
        *text.put() = value.get().bstrVal;
        value.get().vt = VT_EMPTY;  // ownership moved to text
      }
      return;
    }
    XpComPtr<IXMLDOMNode> next;
    if (FAILED(child->get_nextSibling(next.put()))) return;
    child.swap(next);
  }
}

// next is empty at the end or when the sibling cannot be read.
void NextSibling(IXMLDOMNode* node, XpComPtr<IXMLDOMNode>& next) {
  if (FAILED(node->get_nextSibling(next.put()))) next.reset();
}

// ---- value encodings ----

wchar_t LocaleDecimalPoint() {
  const std::lconv* conv = std::localeconv();
  if (conv == nullptr || conv->decimal_point == nullptr || conv->decimal_point[0] == '\0' ||
      conv->decimal_point[1] != '\0')
    return L'.';
  return static_cast<wchar_t>(static_cast<unsigned char>(conv->decimal_point[0]));
}

// The run-time library reads and writes reals in the thread's locale; the
// document always has a point, so it is swapped in and out here.
double ReadReal(const wchar_t* text, UINT length) {
  if (text == nullptr || length == 0) return 0.0;
  std::vector<wchar_t> copy(text, text + length);
  copy.push_back(L'\0');
  wchar_t point = LocaleDecimalPoint();
  if (point != L'.') {
    for (size_t i = 0; i < copy.size(); ++i)
      if (copy[i] == L'.') copy[i] = point;
  }
  double value = _wtof(&copy[0]);
  return std::isfinite(value) ? value : 0.0;
}

XpString WriteReal(double value) {
  if (!std::isfinite(value)) value = 0.0;  // no text form reads back as infinity or NaN
  XpString text;
  text.Format(L"%.15f", value);
  int length = text.GetLength();
  if (length >= 16 && *text.At(length - 16) != L'.') {
    XpString fixed = text.Left(length - 16);
    fixed += L".";
    fixed += text.Right(15);
    text = fixed;
  }
  return text;
}

XpString WriteDate(const XpDateTime& date) {
  int year, month, day, hour, minute, second, weekday;
  XpString text;
  if (!date.GetParts(year, month, day, hour, minute, second, weekday)) {
    // Reads back as an invalid date, like the value it stands for.
    text = L"0000:00:00T00:00:00Z";
    return text;
  }
  text.Format(L"%04ld:%02ld:%02ldT%02ld:%02ld:%02ldZ", static_cast<long>(year), static_cast<long>(month),
              static_cast<long>(day), static_cast<long>(hour), static_cast<long>(minute),
              static_cast<long>(second));
  return text;
}

XpDateTime ReadDate(const wchar_t* text) {
  int parts[6] = {0, 0, 0, 0, 0, 0};
  const wchar_t* p = text;
  for (int i = 0; i < 6; ++i) {
    parts[i] = XpIniDetail::ParseInt(p);
    while (*p >= L'0' && *p <= L'9') ++p;
    if (*p != L'\0') ++p;  // the separator, never the terminator
  }
  return XpDateTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5]);
}

unsigned Nibble(wchar_t c) {
  unsigned b = static_cast<unsigned>(c) & 0xFF;
  if (b >= '0' && b <= '9') return b - '0';
  if (b >= 'A' && b <= 'F') return b - 'A' + 10;
  if (b >= 'a' && b <= 'f') return b - 'a' + 10;
  return b & 0x0F;
}

[[nodiscard]] XpResult ReadData(const wchar_t* text, UINT length, XpIniElement* chunk) {
  if (length < 2) return XP_OK;
  UINT count = length / 2;
  unsigned char* bytes = static_cast<unsigned char*>(std::malloc(count));
  if (bytes == nullptr) return XP_E_OUT_OF_MEMORY;
  for (UINT i = 0; i < count; ++i)
    bytes[i] = static_cast<unsigned char>(Nibble(text[2 * i]) * 16 + Nibble(text[2 * i + 1]));
  XpMemoryFile file(bytes, count, true);
  return chunk->SetData(&file, 0, -1);
}

// ---- reading ----

struct Reader {
  int maxDepth;
  bool tooDeep;
  explicit Reader(int limit) : maxDepth(limit), tooDeep(false) {}

  [[nodiscard]] XpResult ReadDict(IXMLDOMNode* element, XpIniDict* dict, int depth);
  [[nodiscard]] XpResult ReadArray(IXMLDOMNode* element, XpIniArray* array, int depth);
  // Fills a new container or leaf from element; class and node are known.
  [[nodiscard]] XpResult Fill(IXMLDOMNode* element, int nodeClass, XpIniElement* node, int depth);
};

// The type a value element makes, or -1 when it is no value.
int TypeOfClass(int nodeClass) {
  switch (nodeClass) {
    case kInteger:
      return XpIniTypeInt;
    case kReal:
      return XpIniTypeReal;
    case kString:
      return XpIniTypeString;
    case kData:
      return XpIniTypeData;
    case kDate:
      return XpIniTypeDate;
    case kArray:
      return XpIniTypeArray;
    case kDict:
      return XpIniTypeDict;
    case kTrue:
    case kFalse:
      return XpIniTypeBool;
    default:
      return -1;
  }
}

XpResult Reader::Fill(IXMLDOMNode* element, int nodeClass, XpIniElement* node, int depth) {
  switch (nodeClass) {
    case kReal: {
      XpUniqueBstr text;
      ElementText(element, text);
      double value = ReadReal(text.get(), SysStringLen(text.get()));
      if (value != 0.0) node->SetReal(value);
      return XP_OK;
    }
    case kData: {
      XpUniqueBstr text;
      ElementText(element, text);
      return ReadData(text.get(), SysStringLen(text.get()), node);
    }
    case kDate: {
      XpUniqueBstr text;
      ElementText(element, text);
      if (SysStringLen(text.get()) == 0) return XP_OK;
      return node->SetDate(ReadDate(text.get()));
    }
    case kArray:
      return ReadArray(element, static_cast<XpIniArray*>(node), depth);
    case kDict:
      return ReadDict(element, static_cast<XpIniDict*>(node), depth);
    default:
      return XP_OK;
  }
}

// Arguments of the node factory for a value element: integers, strings and
// booleans are complete at creation; the rest are filled afterwards.
void FactoryValue(IXMLDOMNode* element, int nodeClass, XpUniqueBstr& text, std::intptr_t* low,
                  std::int32_t* high) {
  *low = 0;
  *high = 0;
  if (nodeClass == kInteger) {
    ElementText(element, text);
    std::uint64_t bits =
        static_cast<std::uint64_t>(XpIniDetail::ParseInt64(text.get() == nullptr ? L"" : text.get()));
    *low = static_cast<std::intptr_t>(static_cast<std::int32_t>(static_cast<std::uint32_t>(bits)));
    *high = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits >> 32));
  } else if (nodeClass == kString) {
    ElementText(element, text);
    *low = reinterpret_cast<std::intptr_t>(text.get() == nullptr ? L"" : text.get());
  } else if (nodeClass == kTrue) {
    *low = 1;
  }
}

XpResult Reader::ReadDict(IXMLDOMNode* element, XpIniDict* dict, int depth) {
  XpComPtr<IXMLDOMNode> child;
  if (FAILED(element->get_firstChild(child.put()))) child.reset();
  while (child.get() != nullptr) {
    int nodeClass = Classify(child.get());
    if (IsSkippable(child.get(), nodeClass)) {
      XpComPtr<IXMLDOMNode> next;
      NextSibling(child.get(), next);
      child.swap(next);
      continue;
    }
    if (nodeClass != kKey) return XP_E_INI_BAD_DOCUMENT;
    XpUniqueBstr key;
    ElementText(child.get(), key);
    if (SysStringLen(key.get()) == 0) return XP_E_INI_BAD_DOCUMENT;
    // The value: the next sibling that is not a comment.
    XpComPtr<IXMLDOMNode> value;
    NextSibling(child.get(), value);
    int valueClass = kOther;
    while (value.get() != nullptr) {
      valueClass = Classify(value.get());
      if (!IsSkippable(value.get(), valueClass)) break;
      XpComPtr<IXMLDOMNode> next;
      NextSibling(value.get(), next);
      value.swap(next);
    }
    if (value.get() == nullptr) return XP_OK;
    int type = TypeOfClass(valueClass);
    if (type >= 0) {
      if ((type == XpIniTypeArray || type == XpIniTypeDict) && depth + 1 > maxDepth) {
        tooDeep = true;
        return XP_E_INI_BAD_DOCUMENT;
      }
      XpUniqueBstr text;
      std::intptr_t low;
      std::int32_t high;
      FactoryValue(value.get(), valueClass, text, &low, &high);
      XpIniElement* created = nullptr;
      // The key is taken literally: a slash in it names no path here.
      if (dict->AddKey(XpString(key.get()), static_cast<XpIniType>(type), low, high, &created) == XP_OK)
        // A value that cannot be read keeps its default; the rest still loads.
        (void)Fill(value.get(), valueClass, created, depth + 1);
      if (tooDeep) return XP_E_INI_BAD_DOCUMENT;
    }
    XpComPtr<IXMLDOMNode> next;
    NextSibling(value.get(), next);
    child.swap(next);
  }
  return XP_OK;
}

XpResult Reader::ReadArray(IXMLDOMNode* element, XpIniArray* array, int depth) {
  XpComPtr<IXMLDOMNode> child;
  if (FAILED(element->get_firstChild(child.put()))) child.reset();
  while (child.get() != nullptr) {
    int nodeClass = Classify(child.get());
    if (!IsSkippable(child.get(), nodeClass)) {
      int type = TypeOfClass(nodeClass);
      if (type >= 0) {
        if ((type == XpIniTypeArray || type == XpIniTypeDict) && depth + 1 > maxDepth) {
          tooDeep = true;
          return XP_E_INI_BAD_DOCUMENT;
        }
        XpUniqueBstr text;
        std::intptr_t low;
        std::int32_t high;
        FactoryValue(child.get(), nodeClass, text, &low, &high);
        int index = array->GetCount();
        if (array->InsertAt(index, static_cast<XpIniType>(type), low, high) == XP_OK)
          // A value that cannot be read keeps its default; the rest still loads.
          (void)Fill(child.get(), nodeClass, array->GetAt(index), depth + 1);
        if (tooDeep) return XP_E_INI_BAD_DOCUMENT;
      }
    }
    XpComPtr<IXMLDOMNode> next;
    NextSibling(child.get(), next);
    child.swap(next);
  }
  return XP_OK;
}

// Where the component has them, the settings that keep a document's type
// from being fetched or growing without bound; older versions refuse
// properties they do not know, which changes nothing.
void LimitParsing(IXMLDOMDocument* doc) {
  XpComPtr<IXMLDOMDocument2> doc2;
  if (FAILED(doc->QueryInterface(kIidDomDocument2, reinterpret_cast<void**>(doc2.put()))) ||
      doc2.get() == nullptr)
    return;
  struct Setting {
    const wchar_t* name;
    VARTYPE type;
    long value;
  };
  const Setting settings[] = {{L"ResolveExternals", VT_BOOL, 0},
                              // in kilobytes
                              {L"MaxXMLSize", VT_I4, static_cast<LONG>(kMaxDocumentBytes / 1024)}};
  for (const Setting& setting : settings) {
    XpUniqueBstr name(SysAllocString(setting.name));
    if (name.get() == nullptr) return;
    XpVariant value;
    value.get().vt = setting.type;
    if (setting.type == VT_BOOL)
      value.get().boolVal = setting.value ? VARIANT_TRUE : VARIANT_FALSE;
    else
      value.get().lVal = setting.value;
    (void)doc2->setProperty(name.get(), value.get());
  }
}

[[nodiscard]] XpResult ReadDocument(XpIniDict* dict, const wchar_t* path, const wchar_t* text, int maxDepth) {
  DomSession session;
  XpResult r = session.Begin();
  if (r != XP_OK) return r;
  IXMLDOMDocument* doc = session.Doc();
  doc->put_async(VARIANT_FALSE);
  doc->put_validateOnParse(VARIANT_FALSE);
  // A document type is not resolved: nothing the document names is fetched.
  doc->put_resolveExternals(VARIANT_FALSE);
  doc->put_preserveWhiteSpace(VARIANT_TRUE);
  LimitParsing(doc);

  if (path != nullptr ? FileDeclaresInternalSubset(path)
                      : text != nullptr && DeclaresInternalSubset(text, std::wcslen(text)))
    return XP_E_INI_PARSE;
  VARIANT_BOOL ok = VARIANT_FALSE;
  HRESULT hr;
  if (path != nullptr) {
    XpVariant source;
    source.get().vt = VT_BSTR;
    source.get().bstrVal = SysAllocString(path);
    if (source.get().bstrVal == nullptr) return XP_E_OUT_OF_MEMORY;
    hr = doc->load(source.get(), &ok);
  } else {
    XpUniqueBstr source(SysAllocString(text));
    if (source.get() == nullptr) return XP_E_OUT_OF_MEMORY;
    hr = doc->loadXML(source.get(), &ok);
  }
  if (FAILED(hr) || ok != VARIANT_TRUE) return FileCheck(path, XP_FILE_READ, XP_E_INI_PARSE);

  XpComPtr<IXMLDOMElement> root;
  if (FAILED(doc->get_documentElement(root.put())) || root.get() == nullptr)
    return FileCheck(path, XP_FILE_READ, XP_E_INI_FILE);
  if (Classify(root.get()) != kPlist) return XP_E_INI_BAD_DOCUMENT;

  XpComPtr<IXMLDOMNode> child;
  if (FAILED(root->get_firstChild(child.put()))) child.reset();
  while (child.get() != nullptr) {
    if (Classify(child.get()) == kDict) {
      Reader reader(maxDepth);
      r = reader.ReadDict(child.get(), dict, 1);
      // A document nested too deeply is refused as a whole.
      if (reader.tooDeep) dict->Clear();
      return r;
    }
    XpComPtr<IXMLDOMNode> next;
    NextSibling(child.get(), next);
    child.swap(next);
  }
  return XP_E_INI_BAD_DOCUMENT;
}

// ---- writing ----

// XML 1.0 has no form for most control characters, U+FFFE, U+FFFF and
// unpaired surrogates: a document holding them cannot be parsed again.
bool IsWritableText(const wchar_t* text) {
  for (const wchar_t* p = text; *p != L'\0'; ++p) {
    unsigned c = static_cast<unsigned>(*p);
    if (c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) return false;
    if (c == 0xFFFE || c == 0xFFFF) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      unsigned next = static_cast<unsigned>(p[1]);
      if (next < 0xDC00 || next > 0xDFFF) return false;
      ++p;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

[[nodiscard]] XpResult AppendText(IXMLDOMDocument* doc, IXMLDOMNode* parent, const wchar_t* text) {
  if (text != nullptr && !IsWritableText(text)) return XP_E_INI_BAD_DOCUMENT;
  XpUniqueBstr value(SysAllocString(text == nullptr ? L"" : text));
  if (value.get() == nullptr) return XP_E_OUT_OF_MEMORY;
  XpComPtr<IXMLDOMText> node;
  if (FAILED(doc->createTextNode(value.get(), node.put())) || node.get() == nullptr)
    return XP_E_OUT_OF_MEMORY;
  XpComPtr<IXMLDOMNode> added;
  if (FAILED(parent->appendChild(node.get(), added.put()))) return XP_E_OUT_OF_MEMORY;
  return XP_OK;
}

[[nodiscard]] XpResult NewElement(IXMLDOMDocument* doc, const wchar_t* name,
                                  XpComPtr<IXMLDOMElement>& element) {
  XpUniqueBstr tag(SysAllocString(name));
  if (tag.get() == nullptr) return XP_E_OUT_OF_MEMORY;
  if (FAILED(doc->createElement(tag.get(), element.put())) || element.get() == nullptr)
    return XP_E_OUT_OF_MEMORY;
  return XP_OK;
}

[[nodiscard]] XpResult Append(IXMLDOMNode* parent, IXMLDOMNode* child) {
  XpComPtr<IXMLDOMNode> added;
  if (FAILED(parent->appendChild(child, added.put()))) return XP_E_OUT_OF_MEMORY;
  return XP_OK;
}

class Writer {
 public:
  Writer(IXMLDOMDocument* doc, int maxDepth) : m_doc(doc), m_maxDepth(maxDepth) {}
  [[nodiscard]] XpResult WriteDict(const XpIniDict* dict, IXMLDOMElement* element, int depth);
  [[nodiscard]] XpResult WriteArray(XpIniArray* array, IXMLDOMElement* element, int depth);
  [[nodiscard]] XpResult BuildValue(XpIniElement* node, XpComPtr<IXMLDOMElement>& element, int depth);

 private:
  IXMLDOMDocument* m_doc;
  int m_maxDepth;
};

XpResult Writer::BuildValue(XpIniElement* node, XpComPtr<IXMLDOMElement>& element, int depth) {
  XpResult r;
  switch (node->GetType()) {
    case XpIniTypeBool: {
      bool value = false;
      node->GetBool(value);
      return NewElement(m_doc, value ? L"true" : L"false", element);
    }
    case XpIniTypeInt: {
      std::int64_t value = 0;
      node->GetInt64(value);
      XpString text;
      text.Format(L"%I64d", static_cast<long long>(value));
      r = NewElement(m_doc, L"integer", element);
      return r != XP_OK ? r : AppendText(m_doc, element.get(), text.c_str());
    }
    case XpIniTypeReal: {
      double value = 0.0;
      node->GetReal(value);
      r = NewElement(m_doc, L"real", element);
      return r != XP_OK ? r : AppendText(m_doc, element.get(), WriteReal(value).c_str());
    }
    case XpIniTypeString: {
      XpString text;
      node->GetString(text);
      r = NewElement(m_doc, L"string", element);
      return r != XP_OK ? r : AppendText(m_doc, element.get(), text.c_str());
    }
    case XpIniTypeData: {
      r = NewElement(m_doc, L"data", element);
      if (r != XP_OK) return r;
      // One text node made in one piece: appending two digits at a time costs
      // the DOM a copy of the whole text per byte.
      const XpIniMemChunk* chunk = static_cast<const XpIniMemChunk*>(node);
      std::uint64_t size = chunk->Size();
      if (size > (static_cast<std::uint64_t>(0x7FFFFFFF) - 1) / 2) return XP_E_OUT_OF_MEMORY;
      BSTR hex = SysAllocStringLen(nullptr, static_cast<UINT>(size * 2));
      if (hex == nullptr) return XP_E_OUT_OF_MEMORY;
      XpUniqueBstr owner(hex);
      static const wchar_t kDigits[] = L"0123456789abcdef";
      const unsigned char* bytes = chunk->Bytes();
      size_t count = static_cast<size_t>(size);
      for (size_t i = 0; i < count; ++i) {
        hex[2 * i] = kDigits[bytes[i] >> 4];
        hex[2 * i + 1] = kDigits[bytes[i] & 0x0F];
      }
      hex[2 * count] = L'\0';
      XpComPtr<IXMLDOMText> text;
      if (FAILED(m_doc->createTextNode(hex, text.put())) || text.get() == nullptr) return XP_E_OUT_OF_MEMORY;
      return Append(element.get(), text.get());
    }
    case XpIniTypeDate: {
      XpDateTime date;
      node->GetDate(date);
      r = NewElement(m_doc, L"date", element);
      return r != XP_OK ? r : AppendText(m_doc, element.get(), WriteDate(date).c_str());
    }
    case XpIniTypeArray:
      if (depth + 1 > m_maxDepth) return XP_E_INI_BAD_DOCUMENT;
      r = NewElement(m_doc, L"array", element);
      return r != XP_OK ? r : WriteArray(static_cast<XpIniArray*>(node), element.get(), depth + 1);
    case XpIniTypeDict:
      if (depth + 1 > m_maxDepth) return XP_E_INI_BAD_DOCUMENT;
      r = NewElement(m_doc, L"dict", element);
      return r != XP_OK ? r : WriteDict(static_cast<XpIniDict*>(node), element.get(), depth + 1);
    default:
      return XP_E_OUT_OF_MEMORY;
  }
}

XpResult Writer::WriteDict(const XpIniDict* dict, IXMLDOMElement* element, int depth) {
  const XpIniDict::Map& entries = dict->GetEntries();
  for (XpIniDict::Map::const_iterator it = entries.begin(); it != entries.end(); ++it) {
    // An empty key reads back as a broken dictionary: such a tree is not written.
    if (it->first.IsEmpty()) return XP_E_INI_BAD_DOCUMENT;
    XpComPtr<IXMLDOMElement> key;
    XpResult r = NewElement(m_doc, L"key", key);
    if (r == XP_OK) r = Append(element, key.get());
    if (r == XP_OK) r = AppendText(m_doc, key.get(), it->first.c_str());
    if (r != XP_OK) return r;
    XpComPtr<IXMLDOMElement> value;
    r = BuildValue(it->second, value, depth);
    if (r != XP_OK) return r;
    r = Append(element, value.get());
    if (r != XP_OK) return r;
  }
  return XP_OK;
}

XpResult Writer::WriteArray(XpIniArray* array, IXMLDOMElement* element, int depth) {
  int count = array->GetCount();
  for (int i = 0; i < count; ++i) {
    XpComPtr<IXMLDOMElement> value;
    XpResult r = BuildValue(array->GetAt(i), value, depth);
    if (r != XP_OK) return r;
    r = Append(element, value.get());
    if (r != XP_OK) return r;
  }
  return XP_OK;
}

// Builds the document and hands it to a file (path) or to text.
[[nodiscard]] XpResult WriteDocument(const XpIniDict* dict, const wchar_t* path, BSTR* text, int maxDepth) {
  DomSession session;
  XpResult r = session.Begin();
  if (r != XP_OK) return r;
  IXMLDOMDocument* doc = session.Doc();
  doc->put_async(VARIANT_FALSE);
  doc->put_preserveWhiteSpace(VARIANT_TRUE);

  XpUniqueBstr source(SysAllocString(kTemplate));
  if (source.get() == nullptr) return XP_E_OUT_OF_MEMORY;
  VARIANT_BOOL ok = VARIANT_FALSE;
  if (FAILED(doc->loadXML(source.get(), &ok))) return XP_E_INI_FILE;
  if (ok == VARIANT_TRUE) {
    XpComPtr<IXMLDOMElement> root;
    if (FAILED(doc->get_documentElement(root.put())) || root.get() == nullptr) return XP_E_INI_FILE;
    XpComPtr<IXMLDOMNode> first;
    XpComPtr<IXMLDOMElement> content;
    if (SUCCEEDED(root->get_firstChild(first.put())) && first.get() != nullptr &&
        SUCCEEDED(first->QueryInterface(kIidDomElement, reinterpret_cast<void**>(content.put()))) &&
        content.get() != nullptr) {
      Writer writer(doc, maxDepth);
      r = writer.WriteDict(dict, content.get(), 1);
      // An incomplete document is not written: it would read back as different data.
      if (r != XP_OK) return r;
    }
  }
  if (path != nullptr) {
    // A read-only file is not replaced (Windows refuses to move onto it; the
    // check keeps every system alike).
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
      return XP_E_ACCESS_DENIED;
    // Written beside the target and put in its place in one step: a failed
    // or interrupted save leaves the old file as it was.
    DWORD error = 0;
    XpString temp = TempFileBeside(path, &error);
    if (temp.IsEmpty()) {
      XpResult check = WriteCheck(path, XP_E_INI_FILE);
      return check != XP_E_INI_FILE ? check : XpResultFromWin32(error);
    }
    XpVariant target;
    target.get().vt = VT_BSTR;
    target.get().bstrVal = SysAllocString(temp.c_str());
    if (target.get().bstrVal == nullptr) {
      DeleteFileW(temp.c_str());
      return XP_E_OUT_OF_MEMORY;
    }
    if (FAILED(doc->save(target.get()))) {
      DeleteFileW(temp.c_str());
      return WriteCheck(path, XP_E_INI_FILE);
    }
    // On the disk before it takes the old file's place: a crash or a power
    // loss right after the move must not leave an empty file there.
    XpResult flushed = FlushToDisk(temp);
    XpResult replaced = flushed == XP_OK ? ReplaceWith(temp, path) : flushed;
    if (replaced != XP_OK) DeleteFileW(temp.c_str());
    return replaced;
  }
  XpUniqueBstr xml;
  if (FAILED(doc->get_xml(xml.put()))) return XP_E_INI_FILE;
  *text = xml.release();
  return XP_OK;
}

}  // namespace

XpResult XpIniDetail::LoadTextWithDepth(XpIniDict* dict, const wchar_t* text, int maxDepth) {
  dict->Clear();
  return ReadDocument(dict, nullptr, text == nullptr ? L"" : text, maxDepth);
}

XpResult XpIniDetail::SaveTextWithDepth(XpIniDict* dict, BSTR* text, int maxDepth) {
  *text = nullptr;
  return WriteDocument(dict, nullptr, text, maxDepth);
}

XpResult XpIniDict::LoadFile(const wchar_t* path) {
  Clear();
  if (path == nullptr) return XP_E_FILE_BAD_ARGUMENT;
  return ReadDocument(this, path, nullptr, XP_INI_MAX_DEPTH);
}

XpResult XpIniDict::LoadText(const wchar_t* text) {
  Clear();
  return ReadDocument(this, nullptr, text == nullptr ? L"" : text, XP_INI_MAX_DEPTH);
}

XpResult XpIniDict::SaveFile(const wchar_t* path) {
  if (path == nullptr) return XP_E_FILE_BAD_ARGUMENT;
  return WriteDocument(this, path, nullptr, XP_INI_MAX_DEPTH);
}

XpResult XpIniDict::SaveText(BSTR* text) {
  if (text == nullptr) return XP_E_FILE_BAD_ARGUMENT;
  *text = nullptr;
  return WriteDocument(this, nullptr, text, XP_INI_MAX_DEPTH);
}

XpResult XpIniDict::LoadClipboard(UINT format) {
  if (!IsClipboardFormatAvailable(format)) return XP_E_FAIL;
  if (!OpenClipboard(nullptr)) return XP_E_FAIL;
  XpResult r = XP_E_FAIL;
  HANDLE data = GetClipboardData(format);
  const wchar_t* locked = data == nullptr ? nullptr : static_cast<const wchar_t*>(GlobalLock(data));
  if (locked != nullptr) {
    // Clipboard data comes from any program: read no further than its block.
    SIZE_T units = GlobalSize(data) / sizeof(wchar_t);
    SIZE_T length = 0;
    while (length < units && locked[length] != L'\0') ++length;
    Clear();
    if (length > 0x7FFFFFFF) {
      r = XP_E_OUT_OF_MEMORY;
    } else {
      XpUniqueBstr copy(SysAllocStringLen(locked, static_cast<UINT>(length)));
      if (!copy) {
        r = XP_E_OUT_OF_MEMORY;
      } else {
        r = ReadDocument(this, nullptr, copy.get(), XP_INI_MAX_DEPTH);
      }
    }
    GlobalUnlock(data);
  }
  CloseClipboard();
  return r;
}

XpResult XpIniDict::SaveClipboard(UINT format) {
  BSTR text = nullptr;
  XpResult r = SaveText(&text);
  if (r != XP_OK) return r;
  XpUniqueBstr owner(text);
  UINT bytes = SysStringByteLen(text);
  if (bytes == 0) return XP_OK;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, bytes + 2);
  if (block == nullptr) return XP_E_OUT_OF_MEMORY;
  void* target = GlobalLock(block);
  if (target == nullptr) {
    GlobalFree(block);
    return XP_E_OUT_OF_MEMORY;
  }
  std::memcpy(target, text, bytes + 2);
  GlobalUnlock(block);
  if (!OpenClipboard(nullptr)) {
    GlobalFree(block);
    return XP_E_FAIL;
  }
  if (!EmptyClipboard() || SetClipboardData(format, block) == nullptr) {
    CloseClipboard();
    GlobalFree(block);
    return XP_E_FAIL;
  }
  CloseClipboard();  // the clipboard owns the block now
  return XP_OK;
}
