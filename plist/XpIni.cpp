// The value tree: scalar accessors, the containers, path walking and the node factory.
#include "plist/XpIni.h"

#include <climits>
#include <cwchar>
#include <new>

#include "plist/XpIniDetail.h"

namespace XpIniDetail {

bool KeyLess::operator()(const XpString& a, const XpString& b) const {
  return std::wcscmp(a.c_str(), b.c_str()) < 0;
}

// Deletes each node after moving a container's children to the work list, so
// deleting a container never recurses. Should the list fail to grow, the child
// is deleted at once; its own destructor then runs this loop for what is below.
void DestroyNodes(std::vector<XpIniElement*>& nodes) {
  while (!nodes.empty()) {
    XpIniElement* node = nodes.back();
    nodes.pop_back();
    if (node == nullptr) continue;
    if (node->GetType() == XpIniTypeArray) {
      std::vector<XpIniElement*>& items = static_cast<XpIniArray*>(node)->m_items;
      for (size_t i = 0; i < items.size(); ++i) {
        try {
          nodes.push_back(items[i]);
        } catch (const std::bad_alloc&) {
          delete items[i];
        }
      }
      items.clear();
    } else if (node->GetType() == XpIniTypeDict) {
      XpIniDict::Map& entries = static_cast<XpIniDict*>(node)->m_entries;
      for (XpIniDict::Map::iterator it = entries.begin(); it != entries.end(); ++it) {
        try {
          nodes.push_back(it->second);
        } catch (const std::bad_alloc&) {
          delete it->second;
        }
      }
      entries.clear();
    }
    delete node;
  }
}

std::int64_t ParseInt64(const wchar_t* text) {
  if (text == nullptr) return 0;
  while (*text == L' ' || (*text >= L'\t' && *text <= L'\r')) ++text;
  bool negative = false;
  if (*text == L'-' || *text == L'+') {
    negative = *text == L'-';
    ++text;
  }
  // Accumulate as a negative number so that INT64_MIN is reachable.
  std::int64_t value = 0;
  bool overflow = false;
  for (; *text >= L'0' && *text <= L'9'; ++text) {
    int digit = *text - L'0';
    if (value < (INT64_MIN + digit) / 10) {
      overflow = true;
      continue;
    }
    value = value * 10 - digit;
  }
  if (overflow) return negative ? INT64_MIN : INT64_MAX;
  if (!negative) return value == INT64_MIN ? INT64_MAX : -value;
  return value;
}

int ParseInt(const wchar_t* text) {
  std::int64_t v = ParseInt64(text);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

[[nodiscard]] XpResult NewNode(XpIniType type, std::intptr_t low, std::int32_t high, XpIniElement** node) {
  *node = nullptr;
  XpIniElement* made = nullptr;
  switch (type) {
    case XpIniTypeBool:
      made = new (std::nothrow) XpIniBool(low != 0);
      break;
    case XpIniTypeInt: {
      std::uint64_t bits = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(high)) << 32) |
                           static_cast<std::uint32_t>(low);
      made = new (std::nothrow) XpIniInt(static_cast<std::int64_t>(bits));
      break;
    }
    case XpIniTypeReal:
      made = new (std::nothrow) XpIniReal();
      break;
    case XpIniTypeString:
      made = new (std::nothrow) XpIniString(reinterpret_cast<const wchar_t*>(low));
      break;
    case XpIniTypeData:
      made = NewMemChunk();
      break;
    case XpIniTypeDate:
      made = new (std::nothrow) XpIniDate();
      break;
    case XpIniTypeArray:
      made = new (std::nothrow) XpIniArray();
      break;
    case XpIniTypeDict:
      made = new (std::nothrow) XpIniDict();
      break;
    default:
      return XP_E_INI_BAD_TYPE;
  }
  if (made == nullptr) return XP_E_OUT_OF_MEMORY;
  *node = made;
  return XP_OK;
}

namespace {

bool IsContainer(const XpIniElement* node) {
  XpIniType t = node->GetType();
  return t == XpIniTypeArray || t == XpIniTypeDict;
}

// The direct child named by one path part (a key or an index), or null.
XpIniElement* Child(XpIniElement* node, const XpString& part) {
  if (node->GetType() == XpIniTypeDict) {
    const XpIniDict::Map& entries = static_cast<XpIniDict*>(node)->GetEntries();
    XpIniDict::Map::const_iterator it = entries.find(part);
    return it == entries.end() ? nullptr : it->second;
  }
  return node->GetAt(ParseInt(part.c_str()));
}

}  // namespace

// Walks every part but the last. A path is split at its first slash and the
// remainder handed to the child; doing that in a loop gives the same answers
// as handing it down call by call, without a call per level.
[[nodiscard]] XpResult WalkToParent(XpIniElement* start, const XpString& path, XpIniElement** parent,
                                    XpString* last) {
  XpIniElement* node = start;
  XpString rest = path;
  for (;;) {
    int slash = rest.Find(L'/');
    if (slash < 0) break;
    XpIniElement* child = Child(node, rest.Left(slash));
    if (child == nullptr) return XP_E_INI_NOT_FOUND;
    rest = rest.Right(rest.GetLength() - slash - 1);
    if (!IsContainer(child)) {
      *parent = child;  // a scalar answers the remainder with its base behaviour
      *last = rest;
      return XP_E_INI_NOT_SUPPORTED;
    }
    node = child;
  }
  *parent = node;
  *last = rest;
  return XP_OK;
}

}  // namespace XpIniDetail

using XpIniDetail::WalkToParent;

// ---- base: everything unsupported ----

XpIniElement::~XpIniElement() {}
int XpIniElement::GetCount() const { return 0; }
XpIniElement* XpIniElement::Lookup(const XpString&) { return nullptr; }
XpIniElement* XpIniElement::GetAt(int) { return nullptr; }
XpResult XpIniElement::Remove(const XpString&) { return XP_E_INI_NOT_SUPPORTED; }
XpResult XpIniElement::RemoveAt(int) { return XP_E_INI_NOT_SUPPORTED; }
XpResult XpIniElement::LoadFile(const wchar_t*) { return XP_E_INI_NOT_SUPPORTED; }
XpResult XpIniElement::SaveFile(const wchar_t*) { return XP_E_INI_NOT_SUPPORTED; }
XpResult XpIniElement::Add(const XpString&, XpIniType, std::intptr_t, std::int32_t) {
  return XP_E_INI_NOT_SUPPORTED;
}
XpResult XpIniElement::InsertAt(int, XpIniType, std::intptr_t, std::int32_t) {
  return XP_E_INI_NOT_SUPPORTED;
}
XpResult XpIniElement::GetData(XpAbstractFile*) const { return XP_E_INI_NOT_SUPPORTED; }
XpResult XpIniElement::GetDate(XpDateTime&) const { return XP_E_INI_NOT_SUPPORTED; }
XpResult XpIniElement::GetString(XpString&) const { return XP_E_INI_NOT_SUPPORTED; }
XpResult XpIniElement::GetReal(double&) const { return XP_E_INI_NOT_SUPPORTED; }
XpResult XpIniElement::GetInt64(std::int64_t&) const { return XP_E_INI_NOT_SUPPORTED; }
XpResult XpIniElement::GetInt(std::int32_t&) const { return XP_E_INI_NOT_SUPPORTED; }
XpResult XpIniElement::GetBool(bool&) const { return XP_E_INI_NOT_SUPPORTED; }
XpResult XpIniElement::SetData(XpAbstractFile*, std::int64_t, std::int64_t) { return XP_E_INI_NOT_SUPPORTED; }
XpResult XpIniElement::SetDate(const XpDateTime&) { return XP_E_INI_NOT_SUPPORTED; }
XpResult XpIniElement::SetString(const wchar_t*) { return XP_E_INI_NOT_SUPPORTED; }
XpResult XpIniElement::SetReal(double) { return XP_E_INI_NOT_SUPPORTED; }
XpResult XpIniElement::SetInt64(std::int64_t) { return XP_E_INI_NOT_SUPPORTED; }

XpResult XpIniElement::AddBool(const XpString& path, bool value) {
  return Add(path, XpIniTypeBool, value ? 1 : 0, 0);
}

XpResult XpIniElement::AddInt64(const XpString& path, std::int64_t value) {
  std::uint64_t bits = static_cast<std::uint64_t>(value);
  return Add(path, XpIniTypeInt, static_cast<std::intptr_t>(static_cast<std::int32_t>(bits & 0xFFFFFFFFu)),
             static_cast<std::int32_t>(static_cast<std::uint32_t>(bits >> 32)));
}

XpResult XpIniElement::AddString(const XpString& path, const wchar_t* text) {
  return Add(path, XpIniTypeString, reinterpret_cast<std::intptr_t>(text), 0);
}

XpResult XpIniElement::AddNode(const XpString& path, XpIniType type) { return Add(path, type, 0, 0); }

// ---- scalars ----

XpIniBool::~XpIniBool() {}
XpResult XpIniBool::GetBool(bool& value) const {
  value = m_value != 0;
  return XP_OK;
}
XpResult XpIniBool::SetBool(int value) {
  m_value = value != 0 ? 1 : 0;
  return XP_OK;
}

XpIniInt::~XpIniInt() {}
XpResult XpIniInt::GetInt64(std::int64_t& value) const {
  value = m_value;
  return XP_OK;
}
XpResult XpIniInt::GetInt(std::int32_t& value) const {
  value = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(m_value)));
  return (m_value >= INT32_MIN && m_value <= INT32_MAX) ? XP_OK : XP_E_INI_RANGE;
}
XpResult XpIniInt::SetInt64(std::int64_t value) {
  m_value = value;
  return XP_OK;
}

XpIniReal::~XpIniReal() {}
XpResult XpIniReal::GetReal(double& value) const {
  value = m_value;
  return XP_OK;
}
XpResult XpIniReal::SetReal(double value) {
  m_value = value;
  return XP_OK;
}

XpIniString::~XpIniString() {}
XpResult XpIniString::GetString(XpString& text) const {
  text = m_value;
  return XP_OK;
}
XpResult XpIniString::SetString(const wchar_t* text) {
  m_value = text;
  return XP_OK;
}

XpIniDate::~XpIniDate() {}
XpResult XpIniDate::GetDate(XpDateTime& date) const {
  date = m_value;
  return XP_OK;
}
XpResult XpIniDate::SetDate(const XpDateTime& date) {
  m_value = date;
  return XP_OK;
}

// ---- array ----

XpIniArray::~XpIniArray() { XpIniDetail::DestroyNodes(m_items); }

int XpIniArray::GetCount() const { return static_cast<int>(m_items.size()); }

XpIniElement* XpIniArray::GetAt(int index) {
  if (index < 0 || index >= GetCount()) return nullptr;
  return m_items[static_cast<size_t>(index)];
}

XpIniElement* XpIniArray::Lookup(const XpString& path) {
  XpIniElement* parent = nullptr;
  XpString last;
  if (WalkToParent(this, path, &parent, &last) != XP_OK) return nullptr;
  if (parent->GetType() == XpIniTypeDict) return parent->Lookup(last);
  return parent->GetAt(XpIniDetail::ParseInt(last.c_str()));
}

XpResult XpIniArray::RemoveAt(int index) {
  if (index < 0 || index >= GetCount()) return XP_E_INI_NOT_FOUND;
  std::vector<XpIniElement*> doomed(1, m_items[static_cast<size_t>(index)]);
  m_items.erase(m_items.begin() + index);
  XpIniDetail::DestroyNodes(doomed);
  return XP_OK;
}

XpResult XpIniArray::Remove(const XpString& path) {
  XpIniElement* parent = nullptr;
  XpString last;
  XpResult r = WalkToParent(this, path, &parent, &last);
  if (r != XP_OK) return r;
  if (parent->GetType() == XpIniTypeDict) return parent->Remove(last);
  return parent->RemoveAt(XpIniDetail::ParseInt(last.c_str()));
}

XpResult XpIniArray::InsertAt(int index, XpIniType type, std::intptr_t low, std::int32_t high) {
  if (index != -1 && (index < 0 || index > GetCount())) return XP_E_INI_NOT_FOUND;
  XpIniElement* node = nullptr;
  XpResult r = XpIniDetail::NewNode(type, low, high, &node);
  if (r != XP_OK) return r;
  try {
    if (index == -1)
      m_items.push_back(node);
    else
      m_items.insert(m_items.begin() + index, node);
  } catch (const std::bad_alloc&) {
    delete node;
    return XP_E_OUT_OF_MEMORY;
  }
  return XP_OK;
}

XpResult XpIniArray::Add(const XpString& path, XpIniType type, std::intptr_t low, std::int32_t high) {
  XpIniElement* parent = nullptr;
  XpString last;
  XpResult r = WalkToParent(this, path, &parent, &last);
  if (r != XP_OK) return r;
  if (parent->GetType() == XpIniTypeDict)
    return static_cast<XpIniDict*>(parent)->AddKey(last, type, low, high);
  return parent->InsertAt(XpIniDetail::ParseInt(last.c_str()), type, low, high);
}

// ---- dictionary ----

XpIniDict::~XpIniDict() { Clear(); }

XpIniDict* XpIniDict::CreateRoot() {
  XpIniDict* dict = new (std::nothrow) XpIniDict();
  if (dict != nullptr) dict->m_isRoot = 1;
  return dict;
}

void XpIniDict::DestroyRoot(XpIniDict* dict) {
  if (dict != nullptr && dict->m_isRoot) delete dict;
}

void XpIniDict::Clear() {
  std::vector<XpIniElement*> doomed;
  try {
    doomed.reserve(m_entries.size());
  } catch (const std::bad_alloc&) {
  }
  for (Map::iterator it = m_entries.begin(); it != m_entries.end(); ++it) {
    try {
      doomed.push_back(it->second);
    } catch (const std::bad_alloc&) {
      delete it->second;
    }
  }
  m_entries.clear();
  XpIniDetail::DestroyNodes(doomed);
}

int XpIniDict::GetCount() const { return static_cast<int>(m_entries.size()); }

XpIniElement* XpIniDict::Lookup(const XpString& path) {
  XpIniElement* parent = nullptr;
  XpString last;
  if (WalkToParent(this, path, &parent, &last) != XP_OK) return nullptr;
  if (parent->GetType() == XpIniTypeArray) return parent->GetAt(XpIniDetail::ParseInt(last.c_str()));
  XpIniDict* dict = static_cast<XpIniDict*>(parent);
  Map::iterator it = dict->m_entries.find(last);
  return it == dict->m_entries.end() ? nullptr : it->second;
}

XpResult XpIniDict::Remove(const XpString& path) {
  XpIniElement* parent = nullptr;
  XpString last;
  XpResult r = WalkToParent(this, path, &parent, &last);
  if (r != XP_OK) return r;
  if (parent->GetType() == XpIniTypeArray) return parent->RemoveAt(XpIniDetail::ParseInt(last.c_str()));
  XpIniDict* dict = static_cast<XpIniDict*>(parent);
  Map::iterator it = dict->m_entries.find(last);
  if (it == dict->m_entries.end()) return XP_E_INI_NOT_FOUND;
  std::vector<XpIniElement*> doomed(1, it->second);
  dict->m_entries.erase(it);
  XpIniDetail::DestroyNodes(doomed);
  return XP_OK;
}

XpResult XpIniDict::AddKey(const XpString& key, XpIniType type, std::intptr_t low, std::int32_t high,
                           XpIniElement** created) {
  if (created != nullptr) *created = nullptr;
  if (m_entries.find(key) != m_entries.end()) return XP_E_INI_KEY_EXISTS;
  XpIniElement* node = nullptr;
  XpResult r = XpIniDetail::NewNode(type, low, high, &node);
  if (r != XP_OK) return r;
  try {
    m_entries.insert(Map::value_type(key, node));
  } catch (const std::bad_alloc&) {
    delete node;
    return XP_E_OUT_OF_MEMORY;
  }
  if (created != nullptr) *created = node;
  return XP_OK;
}

XpResult XpIniDict::Add(const XpString& path, XpIniType type, std::intptr_t low, std::int32_t high) {
  XpIniElement* parent = nullptr;
  XpString last;
  XpResult r = WalkToParent(this, path, &parent, &last);
  if (r != XP_OK) return r;
  if (parent->GetType() == XpIniTypeArray)
    return parent->InsertAt(XpIniDetail::ParseInt(last.c_str()), type, low, high);
  return static_cast<XpIniDict*>(parent)->AddKey(last, type, low, high);
}
