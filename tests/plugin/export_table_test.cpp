// The export table as a host finds it: every name, and on Windows every ordinal.
#include <gtest/gtest.h>

#include "tests/support/exports.h"

TEST(ExportTable, EveryNameIsFound) {
  for (const char* name : ExportNames) EXPECT_NE(FindExport(name), nullptr) << name;
  EXPECT_NO_THROW(Exports());
}

TEST(ExportTable, NoDecoratedOrInternalNames) {
  for (const char* name : {"_QueryMirlFilter@4", "QueryMirlFilter@4", "DllMain", "_lopen", "GlobalAlloc", "CodeForTag",
                           "AlawToPcm", "DllEntryPoint"}) {
    EXPECT_EQ(FindExport(name), nullptr) << name;
  }
}

#ifdef _WIN32
namespace {
FARPROC ByOrdinal(int ordinal) {
  return GetProcAddress(static_cast<HMODULE>(LibraryModule()), MAKEINTRESOURCEA(ordinal));
}
}  // namespace

TEST(ExportTable, OrdinalsMatchNamesAndSixAndTwentyTwoAreEmpty) {
  for (int i = 0; i < 21; ++i) {
    EXPECT_EQ(reinterpret_cast<void*>(ByOrdinal(ExportOrdinals[i])), FindExport(ExportNames[i]))
        << ExportNames[i] << " at ordinal " << ExportOrdinals[i];
  }
  for (int empty : {0, 1, 6, 22, 25, 26}) EXPECT_EQ(ByOrdinal(empty), nullptr) << "ordinal " << empty;
  EXPECT_EQ(reinterpret_cast<void*>(ByOrdinal(20)), FindExport("DIALOGMsgProc"));
}
#endif
