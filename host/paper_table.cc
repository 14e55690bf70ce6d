// paper_table.cc - the QV driver's paper sizes.
#include "host/paper_table.h"

#include <array>

namespace qv::host {
namespace {

// Sizes in dots at 600 dpi. The mono sizes are chosen so that rawtoqv's paper
// matching (which works in 1/120 inch, dots / 5) lands on the printer's own
// paper of the same name with no centring margin: its B5 is 1180/120 inch
// long, so ISO B5 here is 5900 dots rather than 5906. A4 keeps the 4960 x 7016
// that both printers' paper files use. The 16K sizes, Chou3 and the legal
// variants exist on the colour printer only; ISO B6 on the mono printer only.
// The mono printer chooses 3x5, Folio and You4 only when the matching flags
// (-flags digit 2, bits 2, 1 and 4) allow it.
constexpr std::array kPaperSizes = {
    PaperSize{"A4", "A4", "A4", "A4", 4960, 7016, 0},
    PaperSize{"Letter", "US Letter", "Letter", "Letter", 5100, 6600, 0},
    PaperSize{"Legal", "US Legal", "Legal", "Legal", 5100, 8400, 0},
    PaperSize{"Executive", "Executive", "Exective", "Executive", 4350, 6300, 0},
    PaperSize{"A5", "A5", "A5", "A5", 3496, 4960, 0},
    PaperSize{"A5Rotated", "A5 Landscape", nullptr, "PRA5Rotated", 4960, 3496, 0},
    PaperSize{"A6", "A6", "A6", "A6", 2480, 3496, 0},
    PaperSize{"ISOB5", "B5 (ISO)", "B5", "ISOB5", 4157, 5900, 0},
    PaperSize{"B5", "B5 (JIS)", "JISB5", "JISB5", 4299, 6071, 0},
    PaperSize{"ISOB6", "B6 (ISO)", "B6", nullptr, 2953, 4157, 0},
    PaperSize{"B6", "B6 (JIS)", "JISB6", "JISB6", 3024, 4299, 0},
    PaperSize{"EnvDL", "Envelope DL", "DL", "EnvDL", 2598, 5197, 0},
    PaperSize{"EnvC5", "Envelope C5", "C5", "EnvC5", 3827, 5409, 0},
    PaperSize{"Env10", "Envelope #10", "Com-10", "Env10", 2475, 5700, 0},
    PaperSize{"EnvMonarch", "Envelope Monarch", "Monarch", "EnvMonarch", 2325, 4500, 0},
    PaperSize{"3x5", "Index Card 3x5in", "3x5", "Qv3x5", 1800, 3000, 0x200},
    PaperSize{"FanFoldGermanLegal", "Folio 8.5x13in", "FOLIO", "FanFoldGermanLegal", 5100, 7800,
              0x100},
    PaperSize{"Postcard", "Postcard", "Postcard", "Postcard", 2362, 3496, 0},
    PaperSize{"EnvYou4", "Envelope You4", "EnvYou4", "EnvYou4", 2480, 5551, 0x400},
    PaperSize{"EnvChou3", "Envelope Chou3", nullptr, "EnvChou3", 2835, 5551, 0},
    PaperSize{"210x270mm", "16K 210x270mm", nullptr, "210x270mm", 4960, 6378, 0},
    PaperSize{"195x270mm", "16K 195x270mm", nullptr, "195x270mm", 4606, 6378, 0},
    PaperSize{"184x260mm", "16K 184x260mm", nullptr, "184x260mm", 4346, 6142, 0},
    PaperSize{"197x273mm", "16K 197x273mm", nullptr, "197x273mm", 4654, 6449, 0},
    PaperSize{"Oficio", "Oficio (Mexican Legal) 8.5x13.4in", nullptr, "MexicanLegal", 5100, 8040,
              0},
    PaperSize{"IndianLegal", "Indian Legal 215x345mm", nullptr, "IndianLegal", 5079, 8150, 0},
};

}  // namespace

std::span<const PaperSize> paperSizes() { return kPaperSizes; }

const PaperSize* findPaperSize(std::string_view name) {
  for (const PaperSize& paper : kPaperSizes)
    if (name == paper.ppdName) return &paper;
  return nullptr;
}

}  // namespace qv::host
