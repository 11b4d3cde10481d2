// The property-list value tree: dictionaries and arrays that own their
// children, and scalar leaves (boolean, integer, real, string, data, date).
// Nodes are addressed by slash-separated paths; every operation returns an
// XpResult and a node answers only the accessors of its own type.
//
// Containers are walked with explicit work lists, not recursion, so that a
// tree of any depth built through this interface can be looked up and
// destroyed. The XML reader and writer refuse nesting deeper than
// XP_INI_MAX_DEPTH containers (the root dictionary counts as one) with
// XP_E_INI_BAD_DOCUMENT. Nodes are not copyable.
#pragma once

#include <windows.h>
#include <wtypes.h>

#include <cstdint>
#include <map>
#include <vector>

#include "platform/XpDateTime.h"
#include "platform/XpResult.h"
#include "platform/XpString.h"

class XpAbstractFile;

// Type codes returned by GetType and taken by Add and InsertAt. The fixed
// underlying type lets any integer be passed; unknown codes give XP_E_INI_BAD_TYPE.
enum XpIniType : int {
  XpIniTypeBool = 0,
  XpIniTypeInt = 1,
  XpIniTypeReal = 2,
  XpIniTypeString = 3,
  XpIniTypeData = 4,
  XpIniTypeDate = 5,
  XpIniTypeArray = 6,
  XpIniTypeDict = 7
};

// Deepest nesting of containers the XML reader and writer accept.
const int XP_INI_MAX_DEPTH = 512;

class XpIniElement {
 public:
  XpIniElement() {}
  virtual ~XpIniElement();

  virtual int GetCount() const;
  virtual XpIniElement* Lookup(const XpString& path);
  virtual XpIniElement* GetAt(int index);
  [[nodiscard]] virtual XpResult Remove(const XpString& path);
  [[nodiscard]] virtual XpResult RemoveAt(int index);
  [[nodiscard]] virtual XpResult LoadFile(const wchar_t* path);
  [[nodiscard]] virtual XpResult SaveFile(const wchar_t* path);
  // low carries a wide-text pointer for strings, hence pointer-sized; for
  // integers only its low 32 bits count: value = (high << 32) + (uint32)low.
  [[nodiscard]] virtual XpResult Add(const XpString& path, XpIniType type, std::intptr_t low,
                                     std::int32_t high);
  [[nodiscard]] virtual XpResult InsertAt(int index, XpIniType type, std::intptr_t low, std::int32_t high);
  virtual XpIniType GetType() const = 0;
  [[nodiscard]] virtual XpResult GetData(XpAbstractFile* file) const;
  [[nodiscard]] virtual XpResult GetDate(XpDateTime& date) const;
  [[nodiscard]] virtual XpResult GetString(XpString& text) const;
  [[nodiscard]] virtual XpResult GetReal(double& value) const;
  [[nodiscard]] virtual XpResult GetInt64(std::int64_t& value) const;
  [[nodiscard]] virtual XpResult GetInt(std::int32_t& value) const;
  [[nodiscard]] virtual XpResult GetBool(bool& value) const;
  [[nodiscard]] virtual XpResult SetData(XpAbstractFile* file, std::int64_t offset, std::int64_t length);
  [[nodiscard]] virtual XpResult SetDate(const XpDateTime& date);
  [[nodiscard]] virtual XpResult SetString(const wchar_t* text);
  [[nodiscard]] virtual XpResult SetReal(double value);
  [[nodiscard]] virtual XpResult SetInt64(std::int64_t value);

  // Typed spellings of Add for callers; they go through the virtual Add.
  [[nodiscard]] XpResult AddBool(const XpString& path, bool value);
  [[nodiscard]] XpResult AddInt64(const XpString& path, std::int64_t value);
  [[nodiscard]] XpResult AddString(const XpString& path, const wchar_t* text);
  [[nodiscard]] XpResult AddNode(const XpString& path,
                                 XpIniType type);  // real 0.0, empty data/date/containers

 private:
  XpIniElement(const XpIniElement&);
  XpIniElement& operator=(const XpIniElement&);
};

class XpIniBool : public XpIniElement {
 public:
  explicit XpIniBool(bool value = false) : m_value(value) {}
  ~XpIniBool() override;
  XpIniType GetType() const override { return XpIniTypeBool; }
  [[nodiscard]] XpResult GetBool(bool& value) const override;
  [[nodiscard]] virtual XpResult SetBool(int value);

 private:
  unsigned char m_value;
};

class XpIniInt : public XpIniElement {
 public:
  explicit XpIniInt(std::int64_t value = 0) : m_value(value) {}
  ~XpIniInt() override;
  XpIniType GetType() const override { return XpIniTypeInt; }
  [[nodiscard]] XpResult GetInt64(std::int64_t& value) const override;
  [[nodiscard]] XpResult GetInt(std::int32_t& value) const override;
  [[nodiscard]] XpResult SetInt64(std::int64_t value) override;

 private:
  std::int64_t m_value;
};

class XpIniReal : public XpIniElement {
 public:
  XpIniReal() : m_value(0.0) {}
  ~XpIniReal() override;
  XpIniType GetType() const override { return XpIniTypeReal; }
  [[nodiscard]] XpResult GetReal(double& value) const override;
  [[nodiscard]] XpResult SetReal(double value) override;

 private:
  double m_value;
};

class XpIniString : public XpIniElement {
 public:
  explicit XpIniString(const wchar_t* text = nullptr) : m_value(text) {}
  ~XpIniString() override;
  XpIniType GetType() const override { return XpIniTypeString; }
  [[nodiscard]] XpResult GetString(XpString& text) const override;
  [[nodiscard]] XpResult SetString(const wchar_t* text) override;

 private:
  XpString m_value;
};

class XpIniDate : public XpIniElement {
 public:
  XpIniDate() {}
  ~XpIniDate() override;
  XpIniType GetType() const override { return XpIniTypeDate; }
  [[nodiscard]] XpResult GetDate(XpDateTime& date) const override;
  [[nodiscard]] XpResult SetDate(const XpDateTime& date) override;

 private:
  XpDateTime m_value;
};

// XpIniMemChunk (type 4) is declared in plist/XpIniMemChunk.h.

namespace XpIniDetail {

// Plain code-unit order of the keys (wcscmp): case-sensitive, "B" before "a".
struct KeyLess {
  bool operator()(const XpString& a, const XpString& b) const;
};

// Destroys the nodes and, without recursion, everything below them.
void DestroyNodes(std::vector<XpIniElement*>& nodes);

}  // namespace XpIniDetail

class XpIniArray : public XpIniElement {
 public:
  XpIniArray() {}
  ~XpIniArray() override;
  int GetCount() const override;
  XpIniElement* Lookup(const XpString& path) override;
  XpIniElement* GetAt(int index) override;
  [[nodiscard]] XpResult Remove(const XpString& path) override;
  [[nodiscard]] XpResult RemoveAt(int index) override;
  [[nodiscard]] XpResult Add(const XpString& path, XpIniType type, std::intptr_t low,
                             std::int32_t high) override;
  [[nodiscard]] XpResult InsertAt(int index, XpIniType type, std::intptr_t low, std::int32_t high) override;
  XpIniType GetType() const override { return XpIniTypeArray; }

 private:
  friend void XpIniDetail::DestroyNodes(std::vector<XpIniElement*>& nodes);
  std::vector<XpIniElement*> m_items;
};

class XpIniDict : public XpIniElement {
 public:
  typedef std::map<XpString, XpIniElement*, XpIniDetail::KeyLess> Map;

  XpIniDict() : m_isRoot(0) {}
  ~XpIniDict() override;

  // An empty root dictionary owned by the caller; null when out of memory.
  static XpIniDict* CreateRoot();
  // Deletes dict only if CreateRoot made it; any other dictionary is left alone.
  static void DestroyRoot(XpIniDict* dict);

  // Deletes every entry and its node.
  void Clear();

  int GetCount() const override;
  XpIniElement* Lookup(const XpString& path) override;
  [[nodiscard]] XpResult Remove(const XpString& path) override;
  // Clear, then read the property-list document at path.
  [[nodiscard]] XpResult LoadFile(const wchar_t* path) override;
  // Write this dictionary as a property-list document (UTF-8) to path.
  [[nodiscard]] XpResult SaveFile(const wchar_t* path) override;
  [[nodiscard]] XpResult Add(const XpString& path, XpIniType type, std::intptr_t low,
                             std::int32_t high) override;
  XpIniType GetType() const override { return XpIniTypeDict; }
  // Read the document text from the clipboard (format as for GetClipboardData,
  // the data being UTF-16 text). XP_E_FAIL and no change when none is there.
  [[nodiscard]] virtual XpResult LoadClipboard(UINT format);
  [[nodiscard]] virtual XpResult SaveClipboard(UINT format);
  // Clear, then read the document from XML text.
  [[nodiscard]] virtual XpResult LoadText(const wchar_t* text);
  // The document as a system string; the caller frees it with SysFreeString.
  // *text is null unless the result is 0.
  [[nodiscard]] virtual XpResult SaveText(BSTR* text);

  // The entries in key order, for the XML writer.
  const Map& GetEntries() const { return m_entries; }
  // Inserts a node made by the node factory under key, taking key literally
  // (no path split). XP_E_INI_KEY_EXISTS when the key is present.
  [[nodiscard]] XpResult AddKey(const XpString& key, XpIniType type, std::intptr_t low, std::int32_t high,
                                XpIniElement** created = nullptr);

 private:
  friend void XpIniDetail::DestroyNodes(std::vector<XpIniElement*>& nodes);
  Map m_entries;
  unsigned char m_isRoot;
};

// Owner of a root dictionary: DestroyRoot when it goes.
class XpIniRootPtr {
 public:
  XpIniRootPtr() : m_root(XpIniDict::CreateRoot()) {}
  explicit XpIniRootPtr(XpIniDict* root) : m_root(root) {}
  ~XpIniRootPtr() { XpIniDict::DestroyRoot(m_root); }
  XpIniDict* get() const { return m_root; }
  XpIniDict* operator->() const { return m_root; }
  explicit operator bool() const { return m_root != nullptr; }

 private:
  XpIniRootPtr(const XpIniRootPtr&);
  XpIniRootPtr& operator=(const XpIniRootPtr&);
  XpIniDict* m_root;
};
