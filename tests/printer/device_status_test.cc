// device_status_test.cc - what a printer's MIB readings mean in IPP terms:
// the reasons, including those PAPPL has no bit for, supply levels in every
// unit a printer may use, and empty trays; PJL status answers among other bytes.
#include "printer/device_status.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "printer/pjl_status.h"

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

// The last whole status message counts; other answers, a message not yet
// ended and a malformed code do not.
TEST(DeviceStatus, PjlStatusBecomesTheSameReasons) {
  const auto message = [](const char* head, const char* code, const char* online = "TRUE") {
    return std::string("@PJL ") + head + "\r\nCODE=" + code +
           "\r\nDISPLAY=\"X\"\r\nONLINE=" + online + "\r\n\f";
  };
  const std::string echo = "@PJL ECHO 1\r\n\f", id = "@PJL INFO ID\r\n\"QV M600\"\r\n\f";
  struct Case {
    const char* why;
    std::string bytes;
    unsigned reasons;
    std::vector<std::string> extra;
  };
  const Case cases[] = {
      {"paper out among other answers",
       echo + message("INFO STATUS", "41100") + id,
       PAPPL_PREASON_MEDIA_EMPTY,
       {}},
      {"a later USTATUS wins",
       message("INFO STATUS", "10001") + message("USTATUS DEVICE", "40021"),
       PAPPL_PREASON_DOOR_OPEN,
       {"door-open"}},
      {"jam in tray 1", message("INFO STATUS", "42110"), PAPPL_PREASON_MEDIA_JAM, {}},
      {"toner low, printing on", message("INFO STATUS", "10006"), PAPPL_PREASON_TONER_LOW, {}},
      {"offline whatever the code",
       message("INFO STATUS", "10001", "FALSE"),
       PAPPL_PREASON_OFFLINE,
       {}},
      {"cartridge missing", message("INFO STATUS", "40010"), 0, {"marker-supply-missing"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    qvprinter::PjlStatusReading reading;
    ASSERT_TRUE(qvprinter::lastPjlStatus(c.bytes, reading));
    const qvprinter::DeviceReport report = qvprinter::reportFromPjl(reading);
    EXPECT_EQ(c.reasons, unsigned{report.reasons});
    EXPECT_EQ(c.extra,
              std::vector<std::string>(report.extraReasons.begin(), report.extraReasons.end()));
  }
  qvprinter::PjlStatusReading reading;
  const std::string whole = message("INFO STATUS", "41100");
  EXPECT_FALSE(qvprinter::lastPjlStatus(whole.substr(0, whole.size() - 1), reading));
  EXPECT_FALSE(qvprinter::lastPjlStatus(message("INFO STATUS", "4x"), reading));
  EXPECT_FALSE(qvprinter::lastPjlStatus(echo + id, reading));
}

}  // namespace
