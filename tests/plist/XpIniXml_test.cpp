// Property-list documents read and written through the system's XML DOM.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>
#include <vector>
#include <cwchar>

#include "platform/XpMemoryFile.h"
#include "plist/XpIni.h"
#include "plist/XpIniDetail.h"
#include "plist/XpIniMemChunk.h"

namespace {

std::wstring TempPath(const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  std::wstring path = dir;
  path += L"xpplist_";
  path += std::to_wstring(GetCurrentProcessId());
  path += L"_";
  path += name;
  return path;
}

std::wstring Doc(const std::wstring& dictContent) {
  return L"<?xml version=\"1.0\" encoding=\"utf-8\"?><plist version=\"1.0\"><dict>" + dictContent +
         L"</dict></plist>";
}

std::wstring SaveToText(XpIniDict* dict, XpResult* result = nullptr) {
  BSTR text = nullptr;
  XpResult r = dict->SaveText(&text);
  if (result != nullptr) *result = r;
  std::wstring out = text == nullptr ? L"" : text;
  SysFreeString(text);
  return out;
}

// The DOM may indent what it writes; the white space between tags carries nothing.
std::wstring Squeeze(const std::wstring& text) {
  std::wstring out;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == L'>') {
      size_t j = i + 1;
      while (j < text.size() && (text[j] == L' ' || text[j] == L'\t' || text[j] == L'\r' || text[j] == L'\n'))
        ++j;
      out += L'>';
      if (j < text.size() && text[j] == L'<') {
        i = j;
        continue;
      }
      ++i;
      continue;
    }
    out += text[i++];
  }
  return out;
}

std::string Bytes(XpIniElement* node) {
  XpMemoryFile out;
  node->GetData(&out);
  const char* p = static_cast<const char*>(out.GetBuffer());
  return p == nullptr ? std::string() : std::string(p, static_cast<size_t>(out.GetSize()));
}

std::int64_t Int(XpIniElement* node) {
  std::int64_t v = -12345;
  EXPECT_NE(nullptr, node);
  if (node != nullptr) {
    EXPECT_EQ(XP_OK, node->GetInt64(v));
  }
  return v;
}

std::wstring Str(XpIniElement* node) {
  XpString s(L"<missing>");
  if (node != nullptr) node->GetString(s);
  return s.c_str();
}

// Structural equality of two small trees (test helper; recursion is fine here).
::testing::AssertionResult SameTree(XpIniElement* a, XpIniElement* b, const std::wstring& where = L"") {
  std::string at(where.begin(), where.end());
  if (a->GetType() != b->GetType()) return ::testing::AssertionFailure() << "type differs at " << at;
  switch (a->GetType()) {
    case XpIniTypeBool: {
      bool x = false, y = false;
      a->GetBool(x);
      b->GetBool(y);
      if (x != y) return ::testing::AssertionFailure() << "bool differs at " << at;
      break;
    }
    case XpIniTypeInt:
      if (Int(a) != Int(b)) return ::testing::AssertionFailure() << "int differs at " << at;
      break;
    case XpIniTypeReal: {
      double x = 1, y = 2;
      a->GetReal(x);
      b->GetReal(y);
      if (x != y) return ::testing::AssertionFailure() << "real " << x << " vs " << y << " at " << at;
      break;
    }
    case XpIniTypeString:
      if (Str(a) != Str(b)) return ::testing::AssertionFailure() << "string differs at " << at;
      break;
    case XpIniTypeData:
      if (Bytes(a) != Bytes(b)) return ::testing::AssertionFailure() << "data differs at " << at;
      break;
    case XpIniTypeDate: {
      XpDateTime x, y;
      a->GetDate(x);
      b->GetDate(y);
      if (x.GetValue() != y.GetValue() || x.IsValid() != y.IsValid())
        return ::testing::AssertionFailure() << "date differs at " << at;
      break;
    }
    case XpIniTypeArray:
      if (a->GetCount() != b->GetCount()) return ::testing::AssertionFailure() << "count differs at " << at;
      for (int i = 0; i < a->GetCount(); ++i) {
        ::testing::AssertionResult r = SameTree(a->GetAt(i), b->GetAt(i), where + L"/" + std::to_wstring(i));
        if (!r) return r;
      }
      break;
    case XpIniTypeDict: {
      const XpIniDict::Map& ma = static_cast<XpIniDict*>(a)->GetEntries();
      const XpIniDict::Map& mb = static_cast<XpIniDict*>(b)->GetEntries();
      if (ma.size() != mb.size()) return ::testing::AssertionFailure() << "key count differs at " << at;
      XpIniDict::Map::const_iterator ia = ma.begin(), ib = mb.begin();
      for (; ia != ma.end(); ++ia, ++ib) {
        if (ia->first != ib->first) return ::testing::AssertionFailure() << "keys differ at " << at;
        ::testing::AssertionResult r = SameTree(ia->second, ib->second, where + L"/" + ia->first.c_str());
        if (!r) return r;
      }
      break;
    }
  }
  return ::testing::AssertionSuccess();
}

// A tree with every type and the awkward values of each.
void BuildSample(XpIniDict* root) {
  EXPECT_EQ(XP_OK, root->AddBool(L"yes", true));
  EXPECT_EQ(XP_OK, root->AddBool(L"no", false));
  EXPECT_EQ(XP_OK, root->AddInt64(L"zero", 0));
  EXPECT_EQ(XP_OK, root->AddInt64(L"max", INT64_MAX));
  EXPECT_EQ(XP_OK, root->AddInt64(L"min", INT64_MIN));
  const double reals[] = {0.5, -1234.125, 1e300, 3.0e-5, 123456789.0};
  for (int i = 0; i < 5; ++i) {
    XpString key;
    key.Format(L"real%d", i);
    EXPECT_EQ(XP_OK, root->AddNode(key, XpIniTypeReal));
    root->Lookup(key)->SetReal(reals[i]);
  }
  EXPECT_EQ(XP_OK, root->AddString(L"empty", L""));
  EXPECT_EQ(XP_OK, root->AddString(L"space", L"  "));
  EXPECT_EQ(XP_OK, root->AddString(L"markup", L" <a href=\"x\">&amp; 'q'</a> "));
  EXPECT_EQ(XP_OK, root->AddString(L"lines", L"one\ntwo\n\tthree\n"));
  EXPECT_EQ(XP_OK, root->AddString(L"wide", L"\x00e9\x4e2d\xd83d\xde00 ok"));
  EXPECT_EQ(XP_OK, root->AddNode(L"bytes", XpIniTypeData));
  unsigned char all[256];
  for (int i = 0; i < 256; ++i) all[i] = static_cast<unsigned char>(i);
  XpMemoryFile src(all, sizeof(all), false);
  root->Lookup(L"bytes")->SetData(&src, 0, -1);
  EXPECT_EQ(XP_OK, root->AddNode(L"nobytes", XpIniTypeData));
  EXPECT_EQ(XP_OK, root->AddNode(L"when", XpIniTypeDate));
  root->Lookup(L"when")->SetDate(XpDateTime(2007, 1, 2, 3, 4, 5));
  EXPECT_EQ(XP_OK, root->AddNode(L"epoch", XpIniTypeDate));
  EXPECT_EQ(XP_OK, root->AddNode(L"list", XpIniTypeArray));
  XpIniElement* list = root->Lookup(L"list");
  list->InsertAt(-1, XpIniTypeString, reinterpret_cast<std::intptr_t>(L"first"), 0);
  list->InsertAt(-1, XpIniTypeDict, 0, 0);
  EXPECT_EQ(XP_OK, root->AddInt64(L"list/1/n", 7));
  list->InsertAt(-1, XpIniTypeArray, 0, 0);
  list->InsertAt(-1, XpIniTypeBool, 1, 0);
  EXPECT_EQ(XP_OK, root->AddNode(L"nested", XpIniTypeDict));
  EXPECT_EQ(XP_OK, root->AddNode(L"nested/inner", XpIniTypeDict));
  EXPECT_EQ(XP_OK, root->AddString(L"nested/inner/B", L"upper"));
  EXPECT_EQ(XP_OK, root->AddString(L"nested/inner/a", L"lower"));
}

TEST(XpIniXml, EveryTypeSurvivesAFileRoundTrip) {
  XpIniRootPtr written;
  BuildSample(written.get());
  std::wstring path = TempPath(L"all.xml");
  ASSERT_EQ(XP_OK, written->SaveFile(path.c_str()));
  XpIniRootPtr read;
  ASSERT_EQ(XP_OK, read->LoadFile(path.c_str()));
  EXPECT_TRUE(SameTree(written.get(), read.get()));
  // Saving what was read gives the same bytes again.
  std::wstring again = TempPath(L"again.xml");
  ASSERT_EQ(XP_OK, read->SaveFile(again.c_str()));
  XpMemoryFile a, b;
  HANDLE h1 = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE h2 = CreateFileW(again.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h1);
  ASSERT_NE(INVALID_HANDLE_VALUE, h2);
  char buf1[20000], buf2[20000];
  DWORD n1 = 0, n2 = 0;
  ReadFile(h1, buf1, sizeof(buf1), &n1, nullptr);
  ReadFile(h2, buf2, sizeof(buf2), &n2, nullptr);
  CloseHandle(h1);
  CloseHandle(h2);
  EXPECT_EQ(n1, n2);
  EXPECT_EQ(0, std::memcmp(buf1, buf2, n1));
  // The file is UTF-8 as declared: the e acute is two bytes.
  std::string bytes(buf1, n1);
  EXPECT_NE(std::string::npos, bytes.find("\xc3\xa9"));
  EXPECT_NE(std::string::npos, bytes.find("<plist"));
  DeleteFileW(path.c_str());
  DeleteFileW(again.c_str());
}

TEST(XpIniXml, WrittenEncodings) {
  XpIniRootPtr root;
  BuildSample(root.get());
  std::wstring text = Squeeze(SaveToText(root.get()));
  EXPECT_NE(std::wstring::npos, text.find(L"<real>0.500000000000000</real>")) << text;
  EXPECT_NE(std::wstring::npos, text.find(L"<real>-1234.125000000000000</real>"));
  EXPECT_NE(std::wstring::npos, text.find(L"<real>0.000030000000000</real>"));
  EXPECT_NE(std::wstring::npos, text.find(L"<integer>-9223372036854775808</integer>"));
  EXPECT_NE(std::wstring::npos, text.find(L"<integer>9223372036854775807</integer>"));
  EXPECT_NE(std::wstring::npos, text.find(L"<date>2007:01:02T03:04:05Z</date>"));
  EXPECT_NE(std::wstring::npos, text.find(L"<date>1899:12:30T00:00:00Z</date>"));
  EXPECT_NE(std::wstring::npos, text.find(L"<data>000102030405060708090a0b0c0d0e0f10"));
  EXPECT_NE(std::wstring::npos, text.find(L"fafbfcfdfeff</data>"));
  EXPECT_NE(std::wstring::npos, text.find(L"<key>yes</key><true/>"));
  EXPECT_NE(std::wstring::npos, text.find(L"<key>no</key><false/>"));
  EXPECT_NE(std::wstring::npos, text.find(L"<key>B</key><string>upper</string><key>a</key>"));
  // Keys in code-unit order: upper case before lower case.
  EXPECT_LT(text.find(L"<key>bytes</key>"), text.find(L"<key>empty</key>"));
  EXPECT_LT(text.find(L"<key>yes</key>"), text.find(L"<key>zero</key>"));
}

TEST(XpIniXml, EmptyDictionaryAndTemplate) {
  XpIniRootPtr root;
  std::wstring text = SaveToText(root.get());
  EXPECT_NE(std::wstring::npos, Squeeze(text).find(L"<plist version=\"1.0\"><dict/></plist>")) << text;
  XpIniRootPtr read;
  EXPECT_EQ(XP_OK, read->AddBool(L"stale", true));
  EXPECT_EQ(XP_OK, read->LoadText(text.c_str()));
  EXPECT_EQ(0, read->GetCount());
}

TEST(XpIniXml, DocumentStructureRules) {
  XpIniRootPtr d;
  // A comment before the dict, other elements and comments around it.
  EXPECT_EQ(XP_OK, d->LoadText(L"<plist><!-- c --><other/><dict><!-- x --><key>a</key><!-- y -->"
                               L"<integer>3</integer></dict><dict><key>b</key><true/></dict></plist>"));
  EXPECT_EQ(3, Int(d->Lookup(L"a")));
  EXPECT_EQ(nullptr, d->Lookup(L"b"));
  // Pretty-printed documents with CR LF line ends.
  EXPECT_EQ(XP_OK, d->LoadText(L"<?xml version=\"1.0\"?>\r\n<plist version=\"1.0\">\r\n  <dict>\r\n"
                               L"    <key>a</key>\r\n    <array>\r\n      <integer>1</integer>\r\n"
                               L"      <string> two </string>\r\n    </array>\r\n  </dict>\r\n</plist>\r\n"));
  EXPECT_EQ(2, d->Lookup(L"a")->GetCount());
  EXPECT_EQ(L" two ", Str(d->Lookup(L"a/1")));
  // No dict under the root: refused and empty.
  EXPECT_EQ(XP_OK, d->AddBool(L"stale", true));
  EXPECT_EQ(XP_E_INI_BAD_DOCUMENT, d->LoadText(L"<plist><array/></plist>"));
  EXPECT_EQ(0, d->GetCount());
  // Wrong root, also by case.
  EXPECT_EQ(XP_E_INI_BAD_DOCUMENT, d->LoadText(L"<dict><key>a</key><true/></dict>"));
  EXPECT_EQ(XP_E_INI_BAD_DOCUMENT, d->LoadText(L"<PList><dict/></PList>"));
  // Not XML, truncated, empty.
  EXPECT_EQ(XP_E_INI_PARSE, d->LoadText(L"this is not XML"));
  EXPECT_EQ(XP_E_INI_PARSE, d->LoadText(Doc(L"<key>a</key><integer>1</int").c_str()));
  EXPECT_EQ(XP_E_INI_PARSE, d->LoadText(L""));
  EXPECT_EQ(XP_E_INI_PARSE, d->LoadText(nullptr));
  // A text node or a stray element directly inside a dict.
  EXPECT_EQ(XP_E_INI_BAD_DOCUMENT, d->LoadText(Doc(L"<key>a</key><true/>stray<key>b</key><true/>").c_str()));
  EXPECT_NE(nullptr, d->Lookup(L"a"));
  EXPECT_EQ(nullptr, d->Lookup(L"b"));
  EXPECT_EQ(XP_E_INI_BAD_DOCUMENT, d->LoadText(Doc(L"<integer>1</integer>").c_str()));
  EXPECT_EQ(XP_E_INI_BAD_DOCUMENT, d->LoadText(Doc(L"<![CDATA[x]]>").c_str()));
  // Empty keys.
  EXPECT_EQ(XP_E_INI_BAD_DOCUMENT, d->LoadText(Doc(L"<key></key><true/>").c_str()));
  EXPECT_EQ(XP_E_INI_BAD_DOCUMENT, d->LoadText(Doc(L"<key/><true/>").c_str()));
  // Duplicate keys: the first wins, for every type.
  EXPECT_EQ(XP_OK, d->LoadText(Doc(L"<key>a</key><string>1</string><key>a</key><string>2</string>"
                                   L"<key>r</key><real>1.5</real><key>r</key><real>2.5</real>")
                                   .c_str()));
  EXPECT_EQ(L"1", Str(d->Lookup(L"a")));
  double r = 0;
  d->Lookup(L"r")->GetReal(r);
  EXPECT_EQ(1.5, r);
  // A key at the end without a value, and a key whose value is another key.
  // A key whose value is another key: that key is consumed as a bad value, so
  // the integer after it stands where a key belongs.
  EXPECT_EQ(XP_E_INI_BAD_DOCUMENT, d->LoadText(Doc(L"<key>a</key><key>b</key><integer>1</integer>").c_str()));
  EXPECT_EQ(0, d->GetCount());
  EXPECT_EQ(XP_OK, d->LoadText(Doc(L"<key>a</key><true/><key>c</key>").c_str()));
  EXPECT_EQ(1, d->GetCount());
  // Unknown value elements leave the entry out and reading goes on.
  EXPECT_EQ(XP_OK, d->LoadText(Doc(L"<key>a</key><bogus/><key>b</key><integer>2</integer>").c_str()));
  EXPECT_EQ(nullptr, d->Lookup(L"a"));
  EXPECT_EQ(2, Int(d->Lookup(L"b")));
  // A slash in a key is part of the key, not a path.
  EXPECT_EQ(XP_OK, d->LoadText(Doc(L"<key>x</key><dict/><key>x/y</key><integer>4</integer>").c_str()));
  EXPECT_EQ(2, d->GetCount());
  EXPECT_EQ(0, d->Lookup(L"x")->GetCount());
}

TEST(XpIniXml, ArraysKeepGoodItems) {
  XpIniRootPtr d;
  EXPECT_EQ(XP_OK, d->LoadText(Doc(L"<key>l</key><array><integer>1</integer><key>k</key><!-- c -->"
                                   L"<real>2.5</real>text<data>ff</data><date>2007-01-02T03:04:05Z</date>"
                                   L"<array/><dict><key>z</key><false/></dict><true/></array>")
                                   .c_str()));
  XpIniElement* l = d->Lookup(L"l");
  ASSERT_EQ(7, l->GetCount());
  EXPECT_EQ(1, Int(l->GetAt(0)));
  double r = 0;
  l->GetAt(1)->GetReal(r);
  EXPECT_EQ(2.5, r);
  EXPECT_EQ("\xff", Bytes(l->GetAt(2)));
  XpDateTime date;
  l->GetAt(3)->GetDate(date);
  EXPECT_EQ(2007, date.GetYear());
  EXPECT_EQ(XpIniTypeArray, l->GetAt(4)->GetType());
  bool b = true;
  d->Lookup(L"l/5/z")->GetBool(b);
  EXPECT_FALSE(b);
  l->GetAt(6)->GetBool(b);
  EXPECT_TRUE(b);
}

TEST(XpIniXml, ValueDecodingOfOddInput) {
  XpIniRootPtr d;
  ASSERT_EQ(XP_OK, d->LoadText(Doc(L"<key>emptyInt</key><integer></integer>"
                                   L"<key>spaced</key><integer>  -42xyz</integer>"
                                   L"<key>hugeInt</key><integer>99999999999999999999999999</integer>"
                                   L"<key>hugeNeg</key><integer>-99999999999999999999999999</integer>"
                                   L"<key>zeroReal</key><real>0</real>"
                                   L"<key>junkReal</key><real>abc</real>"
                                   L"<key>hugeReal</key><real>1e999</real>"
                                   L"<key>expReal</key><real>2.5e3</real>"
                                   L"<key>odd</key><data>0A1</data>"
                                   L"<key>nonHex</key><data>ZZ</data>"
                                   L"<key>one</key><data>A</data>"
                                   L"<key>upper</key><data>DEADbeef</data>"
                                   L"<key>wideChars</key><data>\x4e2d\x0131</data>"
                                   L"<key>dash</key><date>2007-01-02T03:04:05Z</date>"
                                   L"<key>colon</key><date>2007:01:02T03:04:05Z</date>"
                                   L"<key>short</key><date>2007</date>"
                                   L"<key>noDate</key><date></date>"
                                   L"<key>badDate</key><date>2007:13:45T99:99:99Z</date>"
                                   L"<key>hugeDate</key><date>99999999999999999999:1:1</date>"
                                   L"<key>trueWithText</key><true>no</true>"
                                   L"<key>cdataString</key><string><![CDATA[hidden]]>shown</string>")
                                   .c_str()));
  EXPECT_EQ(0, Int(d->Lookup(L"emptyInt")));
  EXPECT_EQ(-42, Int(d->Lookup(L"spaced")));
  EXPECT_EQ(INT64_MAX, Int(d->Lookup(L"hugeInt")));
  EXPECT_EQ(INT64_MIN, Int(d->Lookup(L"hugeNeg")));
  const wchar_t* zeroReals[] = {L"zeroReal", L"junkReal", L"hugeReal"};
  for (int i = 0; i < 3; ++i) {
    double r = 1;
    ASSERT_EQ(XP_OK, d->Lookup(zeroReals[i])->GetReal(r));
    EXPECT_EQ(0.0, r) << i;
  }
  double r = 0;
  d->Lookup(L"expReal")->GetReal(r);
  EXPECT_EQ(2500.0, r);
  EXPECT_EQ("\x0a", Bytes(d->Lookup(L"odd")));
  EXPECT_EQ("\xaa", Bytes(d->Lookup(L"nonHex")));
  EXPECT_EQ("", Bytes(d->Lookup(L"one")));
  EXPECT_EQ("\xde\xad\xbe\xef", Bytes(d->Lookup(L"upper")));
  // Each character counts by its low byte: U+4E2D is 0x2D ("-", low bits D), U+0131 is "1".
  EXPECT_EQ("\xd1", Bytes(d->Lookup(L"wideChars")));
  XpDateTime dash, colon, shortDate, noDate, badDate, hugeDate;
  d->Lookup(L"dash")->GetDate(dash);
  d->Lookup(L"colon")->GetDate(colon);
  EXPECT_TRUE(dash.IsValid());
  EXPECT_EQ(dash.GetValue(), colon.GetValue());
  EXPECT_EQ(XpDateTime(2007, 1, 2, 3, 4, 5).GetValue(), dash.GetValue());
  d->Lookup(L"short")->GetDate(shortDate);
  EXPECT_FALSE(shortDate.IsValid());  // month and day 0
  d->Lookup(L"noDate")->GetDate(noDate);
  EXPECT_TRUE(noDate.IsValid());
  EXPECT_EQ(0.0, noDate.GetValue());
  d->Lookup(L"badDate")->GetDate(badDate);
  EXPECT_FALSE(badDate.IsValid());
  d->Lookup(L"hugeDate")->GetDate(hugeDate);
  EXPECT_FALSE(hugeDate.IsValid());
  bool b = false;
  d->Lookup(L"trueWithText")->GetBool(b);
  EXPECT_TRUE(b);
  EXPECT_EQ(L"shown", Str(d->Lookup(L"cdataString")));
  // An invalid date is written so that it reads back invalid.
  std::wstring text = SaveToText(d.get());
  EXPECT_NE(std::wstring::npos, Squeeze(text).find(L"<key>badDate</key><date>0000:00:00T00:00:00Z</date>"));
  XpIniRootPtr again;
  ASSERT_EQ(XP_OK, again->LoadText(text.c_str()));
  EXPECT_TRUE(SameTree(d.get(), again.get()));
}

std::wstring NestedDicts(int levels) {
  std::wstring s;
  for (int i = 1; i < levels; ++i) s += L"<key>k</key><dict>";
  s += L"<key>leaf</key><integer>1</integer>";
  for (int i = 1; i < levels; ++i) s += L"</dict>";
  return Doc(s);
}

std::wstring NestedArrays(int levels) {
  std::wstring s = L"<key>k</key>";
  for (int i = 1; i < levels; ++i) s += L"<array>";
  for (int i = 1; i < levels; ++i) s += L"</array>";
  return Doc(s);
}

TEST(XpIniXml, NestingIsCappedOnReading) {
  XpIniRootPtr d;
  // The root dictionary is level 1; the limit itself is accepted, one more is
  // refused as a whole. Tried with a small limit: the DOM's parser gives up
  // at its own depth before XP_INI_MAX_DEPTH.
  const int kLimit = 8;
  ASSERT_EQ(XP_OK, XpIniDetail::LoadTextWithDepth(d.get(), NestedDicts(kLimit).c_str(), kLimit));
  EXPECT_EQ(1, Int(d->Lookup(L"k/k/k/k/k/k/k/leaf")));
  EXPECT_EQ(XP_OK, XpIniDetail::LoadTextWithDepth(d.get(), NestedArrays(kLimit).c_str(), kLimit));
  EXPECT_EQ(XP_E_INI_BAD_DOCUMENT,
            XpIniDetail::LoadTextWithDepth(d.get(), NestedDicts(kLimit + 1).c_str(), kLimit));
  EXPECT_EQ(0, d->GetCount());
  EXPECT_EQ(XP_E_INI_BAD_DOCUMENT,
            XpIniDetail::LoadTextWithDepth(d.get(), NestedArrays(kLimit + 1).c_str(), kLimit));
  EXPECT_EQ(0, d->GetCount());
  // With the real limit: 200 levels read; beyond the limit there is a clear
  // code, whichever of parser and reader stops first, and nothing is left.
  EXPECT_EQ(XP_OK, d->LoadText(NestedDicts(200).c_str()));
  const int deep[] = {XP_INI_MAX_DEPTH + 1, 100000};
  for (int i = 0; i < 2; ++i) {
    XpResult r = d->LoadText(NestedArrays(deep[i]).c_str());
    EXPECT_TRUE(r == XP_E_INI_BAD_DOCUMENT || r == XP_E_INI_PARSE) << std::hex << r;
    EXPECT_EQ(0, d->GetCount());
  }
}

TEST(XpIniXml, NestingIsCappedOnWriting) {
  XpIniRootPtr root;
  XpIniElement* node = root.get();
  for (int i = 1; i < XP_INI_MAX_DEPTH; ++i) {
    ASSERT_EQ(XP_OK, node->AddNode(L"k", XpIniTypeDict));
    node = node->Lookup(L"k");
  }
  XpResult r = XP_E_FAIL;
  std::wstring text = SaveToText(root.get(), &r);
  EXPECT_EQ(XP_OK, r);
  // One level more: refused, and no file is written.
  EXPECT_EQ(XP_OK, node->AddNode(L"k", XpIniTypeArray));
  SaveToText(root.get(), &r);
  EXPECT_EQ(XP_E_INI_BAD_DOCUMENT, r);
  std::wstring path = TempPath(L"deep.xml");
  DeleteFileW(path.c_str());
  EXPECT_EQ(XP_E_INI_BAD_DOCUMENT, root->SaveFile(path.c_str()));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));
  // Far deeper trees are refused just as well, and destroyed without trouble.
  for (int i = 0; i < 100000; ++i) {
    EXPECT_EQ(XP_OK, node->AddNode(L"d", XpIniTypeDict));
    node = node->Lookup(L"d");
  }
  SaveToText(root.get(), &r);
  EXPECT_EQ(XP_E_INI_BAD_DOCUMENT, r);
  // A tree at a small limit writes and reads back.
  XpIniRootPtr small;
  EXPECT_EQ(XP_OK, small->AddNode(L"a", XpIniTypeArray));
  small->Lookup(L"a")->InsertAt(-1, XpIniTypeDict, 0, 0);
  BSTR out = nullptr;
  EXPECT_EQ(XP_OK, XpIniDetail::SaveTextWithDepth(small.get(), &out, 3));
  XpIniRootPtr back;
  EXPECT_EQ(XP_OK, XpIniDetail::LoadTextWithDepth(back.get(), out, 3));
  EXPECT_TRUE(SameTree(small.get(), back.get()));
  SysFreeString(out);
  EXPECT_EQ(XP_E_INI_BAD_DOCUMENT, XpIniDetail::SaveTextWithDepth(small.get(), &out, 2));
  EXPECT_EQ(nullptr, out);
}

TEST(XpIniXml, TextThatXmlCannotCarry) {
  // XML reads every line end as LF.
  XpIniRootPtr root;
  EXPECT_EQ(XP_OK, root->AddString(L"s", L"a\r\nb\rc"));
  std::wstring text = SaveToText(root.get());
  XpIniRootPtr back;
  ASSERT_EQ(XP_OK, back->LoadText(text.c_str()));
  EXPECT_EQ(L"a\nb\nc", Str(back->Lookup(L"s")));
  // Characters with no XML form are refused rather than written unreadable.
  const wchar_t* bad[] = {L"a\x01", L"\xffff", L"x\xd800y", L"\xdc00"};
  for (int i = 0; i < 4; ++i) {
    XpIniRootPtr t;
    EXPECT_EQ(XP_OK, t->AddString(L"s", bad[i]));
    XpResult r = XP_OK;
    SaveToText(t.get(), &r);
    EXPECT_EQ(XP_E_INI_BAD_DOCUMENT, r) << i;
    XpIniRootPtr k;
    EXPECT_EQ(XP_OK, k->AddBool(bad[i], true));
    SaveToText(k.get(), &r);
    EXPECT_EQ(XP_E_INI_BAD_DOCUMENT, r) << i;
  }
  std::wstring path = TempPath(L"ctl.xml");
  DeleteFileW(path.c_str());
  XpIniRootPtr t;
  EXPECT_EQ(XP_OK, t->AddString(L"s", L"\x02"));
  EXPECT_EQ(XP_E_INI_BAD_DOCUMENT, t->SaveFile(path.c_str()));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));
}

TEST(XpIniXml, FileErrorsComeFromTheFile) {
  XpIniRootPtr d;
  std::wstring missing = TempPath(L"does_not_exist.xml");
  EXPECT_EQ(XP_E_FILE_NOT_FOUND, d->LoadFile(missing.c_str()));
  std::wstring garbage = TempPath(L"garbage.xml");
  HANDLE h = CreateFileW(garbage.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  DWORD written = 0;
  WriteFile(h, "<plist><dict><key>a</key><inte", 31, &written, nullptr);
  CloseHandle(h);
  EXPECT_EQ(XP_E_INI_PARSE, d->LoadFile(garbage.c_str()));
  DeleteFileW(garbage.c_str());
  std::wstring noDir = TempPath(L"no_such_dir\\x.xml");
  XpResult r = d->SaveFile(noDir.c_str());
  EXPECT_NE(XP_OK, r);
  EXPECT_EQ(0x8100u, r & 0xFF00u) << std::hex << r;
  EXPECT_EQ(XP_E_FILE_BAD_ARGUMENT, d->LoadFile(nullptr));
  EXPECT_EQ(XP_E_FILE_BAD_ARGUMENT, d->SaveFile(nullptr));
  EXPECT_EQ(XP_E_FILE_BAD_ARGUMENT, d->SaveText(nullptr));
}

TEST(XpIniXml, ClipboardRoundTrip) {
  XpIniRootPtr written;
  BuildSample(written.get());
  ASSERT_EQ(XP_OK, written->SaveClipboard(CF_UNICODETEXT));
  XpIniRootPtr read;
  ASSERT_EQ(XP_OK, read->LoadClipboard(CF_UNICODETEXT));
  EXPECT_TRUE(SameTree(written.get(), read.get()));
  // A format the clipboard does not hold leaves the dictionary alone.
  UINT other = RegisterClipboardFormatW(L"XpPlistTestFormat");
  EXPECT_EQ(XP_E_FAIL, read->LoadClipboard(other));
  EXPECT_EQ(written->GetCount(), read->GetCount());
  // Clipboard data without a terminator is read no further than its block.
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  const wchar_t doc[] = L"<plist><dict><key>a</key><true/></dict></plist>";
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof(doc) - sizeof(wchar_t));
  void* p = GlobalLock(block);
  std::memcpy(p, doc, sizeof(doc) - sizeof(wchar_t));
  GlobalUnlock(block);
  SetClipboardData(other, block);
  CloseClipboard();
  XpResult r = read->LoadClipboard(other);
  EXPECT_TRUE(r == XP_OK || r == XP_E_INI_PARSE);
}

TEST(XpIniXml, RealsIgnoreTheThreadLocale) {
  const char* german = std::setlocale(LC_ALL, "German_Germany.1252");
  if (german == nullptr) german = std::setlocale(LC_ALL, "de-DE");
  XpIniRootPtr root;
  EXPECT_EQ(XP_OK, root->AddNode(L"r", XpIniTypeReal));
  root->Lookup(L"r")->SetReal(1.25);
  std::wstring text = SaveToText(root.get());
  XpIniRootPtr back;
  XpResult r = back->LoadText(text.c_str());
  double value = 0;
  if (r == XP_OK) back->Lookup(L"r")->GetReal(value);
  std::setlocale(LC_ALL, "C");
  EXPECT_NE(std::wstring::npos, text.find(L"<real>1.250000000000000</real>")) << text;
  EXPECT_EQ(XP_OK, r);
  EXPECT_EQ(1.25, value);
  if (german == nullptr) GTEST_SKIP() << "no German locale in this run-time library";
}

// Runs in the child started below: MSXML 4.0 must be out of reach there.
TEST(XpIniXml, ChildWithoutMsxml4) {
  wchar_t flag[8];
  if (GetEnvironmentVariableW(L"XP_PLIST_NO_MSXML4", flag, 8) == 0) GTEST_SKIP() << "only in the child";
  HMODULE library = LoadLibraryW(L"msxml4.dll");
  EXPECT_EQ(nullptr, library);
  if (library != nullptr) FreeLibrary(library);
}

// Without msxml4.dll the documents go through the version-independent DOM
// class: the same tests again in a child process whose Wine loader has the
// library switched off (a per-program DLL override).
TEST(XpIniXml, VersionIndependentDomWhenMsxml4IsMissing) {
  wchar_t flag[8];
  if (GetEnvironmentVariableW(L"XP_PLIST_NO_MSXML4", flag, 8) != 0) GTEST_SKIP() << "already the child";
  wchar_t exe[MAX_PATH];
  ASSERT_NE(0u, GetModuleFileNameW(nullptr, exe, MAX_PATH));
  const wchar_t* name = std::wcsrchr(exe, L'\\');
  name = name == nullptr ? exe : name + 1;
  std::wstring keyPath = std::wstring(L"Software\\Wine\\AppDefaults\\") + name + L"\\DllOverrides";
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                           nullptr, &key, nullptr));
  const wchar_t disabled[] = L"";
  RegSetValueExW(key, L"msxml4", 0, REG_SZ, reinterpret_cast<const BYTE*>(disabled), sizeof(disabled));
  RegCloseKey(key);
  SetEnvironmentVariableW(L"XP_PLIST_NO_MSXML4", L"1");
  std::wstring command =
      std::wstring(L"\"") + exe +
      L"\" --gtest_color=no --gtest_filter=XpIniXml.ChildWithoutMsxml4:XpIniXml.EveryType*:"
      L"XpIniXml.Document*:XpIniXml.Value*:XpIniXml.Arrays*:XpIniXml.Empty*";
  std::vector<wchar_t> line(command.begin(), command.end());
  line.push_back(L'\0');
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  BOOL started = CreateProcessW(exe, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  SetEnvironmentVariableW(L"XP_PLIST_NO_MSXML4", nullptr);
  DWORD code = 1;
  if (started) {
    WaitForSingleObject(pi.hProcess, 120000);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  RegDeleteKeyW(HKEY_CURRENT_USER, keyPath.c_str());
  ASSERT_TRUE(started);
  EXPECT_EQ(0u, code);
}

}  // namespace
