// device_status_test.cc - what a printer's MIB readings mean in IPP terms:
// the reasons, including those PAPPL has no bit for, supply levels in every
// unit a printer may use, and empty trays.
#include "printer/device_status.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(DeviceStatus, MibReadingsBecomeReasonsSuppliesAndTrays) {
  qvprinter::MibReadings mib;
  // noPaper, lowToner, doorOpen, outputFull, inputTrayEmpty.
  mib.errorState = 0x4000 | 0x2000 | 0x0800 | 0x0008 | 0x0004;
  const auto supply = [&](int index, const char* description, int colorant, int supplyClass,
                          int unit, int capacity, int level) {
    mib.supplyDescription[index] = description;
    mib.supplyColorant[index] = colorant;
    mib.supplyClass[index] = supplyClass;
    mib.supplyType[index] = supplyClass == 3 ? 3 : 4;  // toner, waste toner
    mib.supplyUnit[index] = unit;
    mib.supplyMax[index] = capacity;
    mib.supplyLevel[index] = level;
  };
  mib.colorantName = {{1, "black"}, {2, "cyan"}};
  supply(1, "Black Toner", 1, 3, 19, -2, 40);       // percent: the capacity is 100
  supply(2, "Cyan Toner", 2, 3, 13, 2000, 500);     // tenths of grams
  supply(3, "Waste Toner Box", 0, 4, 19, 100, 30);  // a receptacle 30% full
  supply(4, "Drum", 0, 3, 7, 100, -3);              // "some remains"
  supply(5, "Fuser", 0, 3, 7, 100, -2);             // unknown
  mib.inputMax = {{1, 250}, {2, 250}};
  mib.inputLevel = {{1, 0}, {2, -3}};

  const qvprinter::DeviceReport report = qvprinter::reportFromMib(mib);
  EXPECT_EQ(PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_TONER_LOW | PAPPL_PREASON_DOOR_OPEN,
            report.reasons);
  EXPECT_EQ((std::vector<std::string>{"door-open", "output-area-full"}),
            std::vector<std::string>(report.extraReasons.begin(), report.extraReasons.end()));
  ASSERT_EQ(5u, report.supplies.size());
  std::vector<int> levels;
  for (const pappl_supply_t& s : report.supplies) levels.push_back(s.level);
  EXPECT_EQ((std::vector<int>{40, 25, 70, 50, -1}), levels);
  EXPECT_EQ(PAPPL_SUPPLY_COLOR_BLACK, report.supplies[0].color);
  EXPECT_EQ(PAPPL_SUPPLY_COLOR_CYAN, report.supplies[1].color);
  EXPECT_EQ(PAPPL_SUPPLY_TYPE_WASTE_TONER, report.supplies[2].type);
  EXPECT_FALSE(report.supplies[2].is_consumed);
  EXPECT_EQ(std::vector<int>{1}, report.emptyInputs);

  // A printer that answers without the error state: no reasons at all.
  EXPECT_EQ(PAPPL_PREASON_NONE, qvprinter::reportFromMib({}).reasons);
}

}  // namespace
