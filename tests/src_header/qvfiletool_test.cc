// Lookups in a settings table: the fixed walk, exact keys, item words only.
#include "src_header/qvfiletool.h"

#include <gtest/gtest.h>

#include <array>

namespace {

// A table of 22 entries with the keys in unusual places, to see the lookups
// walk the table rather than assume the production order.
struct Table {
  std::array<RcParam, kQvParamCount> params{};
  RcInfo info{};
  Table() {
    for (RcParam& p : params) p = RcParam{"Unused", 0, nullptr, nullptr, 0, -1};
    params[kParamPageSize] =
        RcParam{"PageSize", 25, tblCmdItem_PaperType, tblInnerVal_PaperType, 0, 14};  // Qv3x5
    params[kParamCopies] = RcParam{"Copies", 0, nullptr, nullptr, 3, -1};
    params[21] = RcParam{"Late", 3, tblCmdItem_Language, tblInnerVal_Language, 0, 1};
    info.nParamCount = 2;  // the walk ignores it
    info.pParams = params.data();
  }
};

TEST(GetKeyValue, WalksTheWholeTableByExactKey) {
  Table t;
  EXPECT_STREQ("Qv3x5", GetKeyValue("PageSize", &t.info));
  EXPECT_STREQ("canada", GetKeyValue("Late", &t.info)) << "entry 21 despite nParamCount 2";
  EXPECT_EQ(nullptr, GetKeyValue("pagesize", &t.info));
  EXPECT_EQ(nullptr, GetKeyValue("PageSize ", &t.info));
  EXPECT_EQ(nullptr, GetKeyValue("Copies", &t.info)) << "numerical: no item word";
}

TEST(GetPjpInnerValue, ChosenItemsCode) {
  Table t;
  EXPECT_EQ(261, GetPjpInnerValue(kParamPageSize, &t.info));
  EXPECT_EQ(2, GetPjpInnerValue(21, &t.info));
}

TEST(GetPjpInnerValueDeathTest, NumericalOrBrokenEntriesStop) {
  Table t;
  EXPECT_DEATH(GetPjpInnerValue(kParamCopies, &t.info), "pParam->nIndex >= 0");
  t.params[kParamPageSize].nIndex = 25;  // one past the list
  EXPECT_DEATH(GetPjpInnerValue(kParamPageSize, &t.info), "pParam->nIndex >= 0");
}

TEST(ItemTables, InnerValuesThatDoNotFollowItemOrder) {
  // Codes the PJL header switches on; a shifted list would print the wrong paper.
  EXPECT_EQ(6, tblInnerVal_Media[4]);        // BOND
  EXPECT_EQ(2, tblInnerVal_ColorOrMono[0]);  // Auto
  EXPECT_EQ(0, tblInnerVal_ColorOrMono[2]);  // Mono
  EXPECT_EQ(3, tblInnerVal_ColorMatch[0]);   // Auto
  EXPECT_EQ(0, tblInnerVal_Language[2]);     // other
}

}  // namespace
