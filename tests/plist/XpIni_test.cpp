#include "plist/XpIni.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/XpMemoryFile.h"
#include "plist/XpIniMemChunk.h"

namespace {

TEST(XpIniTree, NestedAddNeedsTheIntermediateDictionary) {
  XpIniRootPtr root;
  ASSERT_TRUE(root);
  EXPECT_EQ(XP_E_INI_NOT_FOUND, root->Add(L"a/b", XpIniTypeInt, 5, 0));
  EXPECT_EQ(0, root->GetCount());
  EXPECT_EQ(XP_OK, root->Add(L"a", XpIniTypeDict, 0, 0));
  EXPECT_EQ(XP_OK, root->Add(L"a/b", XpIniTypeInt, 5, 0));
  XpIniElement* b = root->Lookup(L"a/b");
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(XpIniTypeInt, b->GetType());
  std::int64_t v = 0;
  EXPECT_EQ(XP_OK, b->GetInt64(v));
  EXPECT_EQ(5, v);
  EXPECT_EQ(nullptr, root->Lookup(L"a/c"));
  EXPECT_EQ(nullptr, root->Lookup(L"x/b"));
  // A scalar in the middle of a path answers with its base behaviour.
  EXPECT_EQ(XP_E_INI_NOT_SUPPORTED, root->Add(L"a/b/c", XpIniTypeInt, 1, 0));
  EXPECT_EQ(XP_E_INI_NOT_SUPPORTED, root->Remove(L"a/b/c"));
  EXPECT_EQ(nullptr, root->Lookup(L"a/b/c"));
}

TEST(XpIniTree, AddOfAnExistingKeyKeepsTheOldValue) {
  XpIniRootPtr root;
  ASSERT_EQ(XP_OK, root->AddString(L"k", L"old"));
  EXPECT_EQ(XP_E_INI_KEY_EXISTS, root->AddString(L"k", L"new"));
  EXPECT_EQ(XP_E_INI_KEY_EXISTS, root->Add(L"k", XpIniTypeInt, 1, 0));
  XpString s;
  EXPECT_EQ(XP_OK, root->Lookup(L"k")->GetString(s));
  EXPECT_EQ(XpString(L"old"), s);
  EXPECT_EQ(1, root->GetCount());
}

TEST(XpIniTree, AccessorsOfAnotherTypeAreRefused) {
  XpIniRootPtr root;
  root->Add(L"i", XpIniTypeInt, 7, 0);
  XpIniElement* i = root->Lookup(L"i");
  XpString s(L"unchanged");
  bool b = true;
  double d = 1.0;
  XpDateTime date;
  EXPECT_EQ(XP_E_INI_NOT_SUPPORTED, i->GetString(s));
  EXPECT_EQ(XP_E_INI_NOT_SUPPORTED, i->GetBool(b));
  EXPECT_EQ(XP_E_INI_NOT_SUPPORTED, i->GetReal(d));
  EXPECT_EQ(XP_E_INI_NOT_SUPPORTED, i->GetDate(date));
  EXPECT_EQ(XP_E_INI_NOT_SUPPORTED, i->SetString(L"x"));
  EXPECT_EQ(XP_E_INI_NOT_SUPPORTED, i->SetReal(2.0));
  EXPECT_EQ(XP_E_INI_NOT_SUPPORTED, i->Add(L"x", XpIniTypeInt, 0, 0));
  EXPECT_EQ(XP_E_INI_NOT_SUPPORTED, i->InsertAt(0, XpIniTypeInt, 0, 0));
  EXPECT_EQ(XP_E_INI_NOT_SUPPORTED, i->RemoveAt(0));
  EXPECT_EQ(XP_E_INI_NOT_SUPPORTED, i->LoadFile(L"x.xml"));
  EXPECT_EQ(nullptr, i->GetAt(0));
  EXPECT_EQ(0, i->GetCount());
  EXPECT_EQ(XpString(L"unchanged"), s);
  EXPECT_TRUE(b);
  // A dictionary has no GetAt and no scalar accessors.
  root->Add(L"d", XpIniTypeDict, 0, 0);
  root->Add(L"d/x", XpIniTypeBool, 1, 0);
  EXPECT_EQ(nullptr, root->GetAt(0));
  EXPECT_EQ(XP_E_INI_NOT_SUPPORTED, root->Lookup(L"d")->GetBool(b));
  EXPECT_EQ(XP_E_INI_NOT_SUPPORTED, root->InsertAt(0, XpIniTypeInt, 0, 0));
}

TEST(XpIniTree, IntegersAreBuiltFromBothHalves) {
  XpIniRootPtr root;
  root->Add(L"big", XpIniTypeInt, 0, 1);
  root->Add(L"minus", XpIniTypeInt, -1, -1);
  root->Add(L"unsignedLow", XpIniTypeInt, static_cast<std::intptr_t>(0x80000000u), 0);
  std::int64_t v = 0;
  std::int32_t i = 99;
  root->Lookup(L"big")->GetInt64(v);
  EXPECT_EQ(INT64_C(0x100000000), v);
  EXPECT_EQ(XP_E_INI_RANGE, root->Lookup(L"big")->GetInt(i));
  EXPECT_EQ(0, i);
  root->Lookup(L"minus")->GetInt64(v);
  EXPECT_EQ(-1, v);
  EXPECT_EQ(XP_OK, root->Lookup(L"minus")->GetInt(i));
  EXPECT_EQ(-1, i);
  root->Lookup(L"unsignedLow")->GetInt64(v);
  EXPECT_EQ(INT64_C(0x80000000), v);
  EXPECT_EQ(XP_E_INI_RANGE, root->Lookup(L"unsignedLow")->GetInt(i));
  EXPECT_EQ(INT32_MIN, i);
  EXPECT_EQ(XP_OK, root->AddInt64(L"min", INT64_MIN));
  root->Lookup(L"min")->GetInt64(v);
  EXPECT_EQ(INT64_MIN, v);
  EXPECT_EQ(XP_OK, root->Lookup(L"min")->SetInt64(INT32_MIN));
  EXPECT_EQ(XP_OK, root->Lookup(L"min")->GetInt(i));
  EXPECT_EQ(INT32_MIN, i);
}

TEST(XpIniTree, FactoryDefaultsAndUnknownTypes) {
  XpIniRootPtr root;
  EXPECT_EQ(XP_OK, root->Add(L"r", XpIniTypeReal, 12345, 678));
  double d = 1.0;
  EXPECT_EQ(XP_OK, root->Lookup(L"r")->GetReal(d));
  EXPECT_EQ(0.0, d);
  EXPECT_EQ(XP_OK, root->Lookup(L"r")->SetReal(0.25));
  root->Lookup(L"r")->GetReal(d);
  EXPECT_EQ(0.25, d);
  EXPECT_EQ(XP_OK, root->Add(L"s", XpIniTypeString, 0, 0));
  XpString s(L"x");
  root->Lookup(L"s")->GetString(s);
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_EQ(XP_OK, root->Add(L"t", XpIniTypeBool, 2, 0));
  bool b = false;
  root->Lookup(L"t")->GetBool(b);
  EXPECT_TRUE(b);
  XpIniBool* tb = static_cast<XpIniBool*>(root->Lookup(L"t"));
  EXPECT_EQ(XP_OK, tb->SetBool(0));
  tb->GetBool(b);
  EXPECT_FALSE(b);
  EXPECT_EQ(XP_OK, root->AddNode(L"date", XpIniTypeDate));
  XpDateTime date(2001, 1, 1);
  root->Lookup(L"date")->GetDate(date);
  EXPECT_EQ(0.0, date.GetValue());
  EXPECT_EQ(XP_E_INI_BAD_TYPE, root->Add(L"u", static_cast<XpIniType>(8), 0, 0));
  EXPECT_EQ(XP_E_INI_BAD_TYPE, root->Add(L"u", static_cast<XpIniType>(-1), 0, 0));
  EXPECT_EQ(nullptr, root->Lookup(L"u"));
  for (int t = 0; t <= 7; ++t) {
    XpString key;
    key.Format(L"type%d", t);
    ASSERT_EQ(XP_OK, root->AddNode(key, static_cast<XpIniType>(t)));
    EXPECT_EQ(t, root->Lookup(key)->GetType());
  }
}

TEST(XpIniTree, ArrayInsertRemoveAndIndexPaths) {
  XpIniRootPtr root;
  ASSERT_EQ(XP_OK, root->AddNode(L"list", XpIniTypeArray));
  XpIniElement* list = root->Lookup(L"list");
  EXPECT_EQ(XP_OK, list->InsertAt(-1, XpIniTypeInt, 1, 0));  // [1]
  EXPECT_EQ(XP_OK, list->InsertAt(1, XpIniTypeInt, 3, 0));   // [1 3]
  EXPECT_EQ(XP_OK, list->InsertAt(1, XpIniTypeInt, 2, 0));   // [1 2 3]
  EXPECT_EQ(XP_OK, list->InsertAt(0, XpIniTypeInt, 0, 0));   // [0 1 2 3]
  EXPECT_EQ(XP_E_INI_NOT_FOUND, list->InsertAt(5, XpIniTypeInt, 9, 0));
  EXPECT_EQ(XP_E_INI_NOT_FOUND, list->InsertAt(-2, XpIniTypeInt, 9, 0));
  EXPECT_EQ(XP_E_INI_BAD_TYPE, list->InsertAt(0, static_cast<XpIniType>(42), 9, 0));
  ASSERT_EQ(4, list->GetCount());
  for (int i = 0; i < 4; ++i) {
    std::int64_t v = -1;
    list->GetAt(i)->GetInt64(v);
    EXPECT_EQ(i, v);
  }
  EXPECT_EQ(nullptr, list->GetAt(-1));
  EXPECT_EQ(nullptr, list->GetAt(4));
  // Index text reads like _wtoi: no digits is index 0.
  std::int64_t v = -1;
  root->Lookup(L"list/x")->GetInt64(v);
  EXPECT_EQ(0, v);
  root->Lookup(L"list/2")->GetInt64(v);
  EXPECT_EQ(2, v);
  EXPECT_EQ(nullptr, root->Lookup(L"list/4"));
  EXPECT_EQ(nullptr, root->Lookup(L"list/99999999999999999999"));
  // A direct Add on an array inserts at the index.
  EXPECT_EQ(XP_OK, root->Add(L"list/4", XpIniTypeDict, 0, 0));
  EXPECT_EQ(XP_OK, root->AddString(L"list/4/name", L"n"));
  XpString s;
  root->Lookup(L"list/4/name")->GetString(s);
  EXPECT_EQ(XpString(L"n"), s);
  EXPECT_EQ(XP_E_INI_NOT_FOUND, root->Add(L"list/7/name", XpIniTypeInt, 0, 0));
  // Removing moves later items down.
  EXPECT_EQ(XP_OK, list->RemoveAt(0));
  EXPECT_EQ(XP_E_INI_NOT_FOUND, list->RemoveAt(4));
  EXPECT_EQ(XP_E_INI_NOT_FOUND, list->RemoveAt(-1));
  list->GetAt(0)->GetInt64(v);
  EXPECT_EQ(1, v);
  EXPECT_EQ(XP_OK, root->Remove(L"list/3/name"));
  EXPECT_EQ(0, root->Lookup(L"list/3")->GetCount());
  EXPECT_EQ(XP_OK, root->Remove(L"list/0"));
  EXPECT_EQ(3, list->GetCount());
  EXPECT_EQ(XP_E_INI_NOT_FOUND, root->Remove(L"list/9/x"));
}

TEST(XpIniTree, KeysAreOrderedByCodeUnitsAndRemovable) {
  XpIniRootPtr root;
  EXPECT_EQ(XP_OK, root->AddBool(L"a", true));
  EXPECT_EQ(XP_OK, root->AddBool(L"B", true));
  EXPECT_EQ(XP_OK, root->AddBool(L"_", true));
  EXPECT_EQ(XP_OK, root->AddBool(L"\x00e9", true));
  const XpIniDict::Map& entries = root->GetEntries();
  const wchar_t* expected[] = {L"B", L"_", L"a", L"\x00e9"};
  int i = 0;
  for (XpIniDict::Map::const_iterator it = entries.begin(); it != entries.end(); ++it, ++i)
    EXPECT_STREQ(expected[i], it->first.c_str());
  EXPECT_EQ(XP_E_INI_NOT_FOUND, root->Remove(L"b"));
  EXPECT_EQ(XP_OK, root->Remove(L"B"));
  EXPECT_EQ(nullptr, root->Lookup(L"B"));
  EXPECT_EQ(3, root->GetCount());
  root->Clear();
  EXPECT_EQ(0, root->GetCount());
}

TEST(XpIniTree, DestroyRootOnlyDeletesWhatCreateRootMade) {
  XpIniDict* root = XpIniDict::CreateRoot();
  ASSERT_NE(nullptr, root);
  EXPECT_EQ(XP_OK, root->AddNode(L"inner", XpIniTypeDict));
  XpIniDict* inner = static_cast<XpIniDict*>(root->Lookup(L"inner"));
  EXPECT_EQ(XP_OK, inner->AddBool(L"x", true));
  XpIniDict::DestroyRoot(inner);  // borrowed: nothing happens
  EXPECT_EQ(1, inner->GetCount());
  XpIniDict stackDict;
  XpIniDict::DestroyRoot(&stackDict);
  XpIniDict::DestroyRoot(nullptr);
  XpIniDict::DestroyRoot(root);
}

TEST(XpIniTree, DataChunkCopiesBytesInAndOut) {
  XpIniRootPtr root;
  ASSERT_EQ(XP_OK, root->AddNode(L"d", XpIniTypeData));
  XpIniElement* d = root->Lookup(L"d");
  unsigned char source[] = {1, 2, 3, 4, 5, 6};
  XpMemoryFile in(source, sizeof(source), false);
  EXPECT_EQ(XP_OK, d->SetData(&in, 2, -1));
  XpMemoryFile out;
  EXPECT_EQ(XP_OK, d->GetData(&out));
  ASSERT_EQ(4, out.GetSize());
  EXPECT_EQ(0, std::memcmp(source + 2, out.GetBuffer(), 4));
  // Asking for more than there is keeps only what was read.
  EXPECT_EQ(XP_OK, d->SetData(&in, 4, 100));
  EXPECT_EQ(XP_OK, d->GetData(&out));
  ASSERT_EQ(2, out.GetSize());
  EXPECT_EQ(5, static_cast<unsigned char*>(out.GetBuffer())[0]);
  // A failed read leaves the bytes as they were.
  XpMemoryFile empty;
  EXPECT_NE(XP_OK, d->SetData(&empty, 0, 10));
  EXPECT_EQ(XP_E_FILE_BAD_ARGUMENT, d->SetData(&in, 0, -5));
  EXPECT_EQ(XP_E_FILE_BAD_ARGUMENT, d->SetData(nullptr, 0, -1));
  EXPECT_EQ(2u, static_cast<XpIniMemChunk*>(d)->Size());
  EXPECT_EQ(XP_OK, d->SetData(&in, 0, 0));
  EXPECT_EQ(0u, static_cast<XpIniMemChunk*>(d)->Size());
  EXPECT_EQ(XP_OK, d->GetData(&out));
  EXPECT_EQ(0, out.GetSize());
}

// Nesting far beyond any stack built one level at a time through the interface:
// looking up, removing and destroying must not recurse per level.
TEST(XpIniTree, VeryDeepTreesAreWalkedAndDestroyedWithoutRecursion) {
  const int kDepth = 200000;
  XpIniDict* root = XpIniDict::CreateRoot();
  ASSERT_NE(nullptr, root);
  XpIniElement* node = root;
  XpString path;
  for (int i = 0; i < kDepth; ++i) {
    XpIniType type = (i % 2) ? XpIniTypeArray : XpIniTypeDict;
    if (node->GetType() == XpIniTypeDict) {
      ASSERT_EQ(XP_OK, node->Add(L"k", type, 0, 0));
      node = node->Lookup(L"k");
    } else {
      ASSERT_EQ(XP_OK, node->InsertAt(-1, type, 0, 0));
      node = node->GetAt(0);
    }
    // The part naming this level: a key under a dictionary, an index under an array.
    if (i < 2000) path += (i == 0) ? L"k" : ((i - 1) % 2 ? L"/0" : L"/k");
  }
  EXPECT_EQ(XP_OK, node->AddInt64(L"0", 42));
  ASSERT_NE(nullptr, root->Lookup(path));
  EXPECT_EQ(XP_OK, root->Add(path + L"/leaf", XpIniTypeBool, 1, 0));
  EXPECT_EQ(XP_OK, root->Remove(path + L"/leaf"));
  // Removing a deep subtree and destroying the rest.
  EXPECT_EQ(XP_OK, root->Remove(path));
  XpIniDict::DestroyRoot(root);
}

}  // namespace
