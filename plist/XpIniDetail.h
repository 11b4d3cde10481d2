// Helpers shared by the tree and the XML code; not part of the interface.
#pragma once

#include <cstdint>

#include "plist/XpIni.h"

namespace XpIniDetail {

// Read like _wtoi64 / _wtoi (leading white space, sign, digits), but a value
// too large for the type saturates instead of depending on the run-time library.
std::int64_t ParseInt64(const wchar_t* text);
int ParseInt(const wchar_t* text);

// The node factory of Add and InsertAt.
[[nodiscard]] XpResult NewNode(XpIniType type, std::intptr_t low, std::int32_t high, XpIniElement** node);
// An empty data node, or null when out of memory.
XpIniElement* NewMemChunk();

// Resolves every part of path but the last, starting at start. XP_OK with the
// container holding the last part; XP_E_INI_NOT_FOUND for a missing part;
// XP_E_INI_NOT_SUPPORTED when a part names a scalar.
[[nodiscard]] XpResult WalkToParent(XpIniElement* start, const XpString& path, XpIniElement** parent,
                                    XpString* last);

// LoadText and SaveText with another nesting limit than XP_INI_MAX_DEPTH, so
// that the limit can be tried below the depth at which the DOM's own parser
// gives up (Wine's stops near 256 levels).
[[nodiscard]] XpResult LoadTextWithDepth(XpIniDict* dict, const wchar_t* text, int maxDepth);
[[nodiscard]] XpResult SaveTextWithDepth(XpIniDict* dict, BSTR* text, int maxDepth);

}  // namespace XpIniDetail
