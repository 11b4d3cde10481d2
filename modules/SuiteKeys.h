// Registry paths of the suite, written with "/" as XpRegistry takes them. A
// macro so that the paths below it are joined by the compiler.
#pragma once

#define XP_SUITE_KEY L"Software/Zelm Corporation/Vantolo"

const wchar_t kImporterPath[] = XP_SUITE_KEY L"/Importer";
const wchar_t kAccessorPath[] = XP_SUITE_KEY L"/Accessor";
