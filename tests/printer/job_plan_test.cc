// job_plan_test.cc - IPP job attributes to the cores' settings, media lists, refused jobs.
#include "printer/job_plan.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

#include "cups/job_options.h"

namespace qvprinter {
namespace {

// One media name per paper as ipptool wants it; every word is one the CUPS driver also writes.
TEST(PrinterTables, PwgMediaNamesAndWordsTheCupsDriverAlsoWrites) {
  const std::regex pwg("^[a-z]+_[a-z0-9][-a-z0-9]*_[0-9.]+x[0-9.]+(mm|in)$");
  for (const Model model : {Model::kMono, Model::kColour}) {
    const bool mono = model == Model::kMono;
    std::set<std::string> names;
    for (const Medium& medium : media(model)) {
      EXPECT_TRUE(std::regex_match(medium.pwgName, pwg)) << medium.pwgName;
      EXPECT_TRUE(names.insert(medium.pwgName).second) << medium.pwgName;
      EXPECT_EQ(&medium, findMedium(model, medium.pwgName, 0, 0));
      EXPECT_EQ(&medium, findMedium(model, "", medium.widthHmm + 90, medium.lengthHmm - 90));
    }
    EXPECT_EQ(mono ? 18u : 24u, names.size());
    std::set<std::pair<std::string, std::string>> known;
    for (const auto& row :
         qvcups::optionMappings(mono ? qvcups::Model::kMono : qvcups::Model::kColour))
      known.emplace(row.settingsKey, row.settingsWord);
    for (const auto& [list, key] :
         {std::pair{mediaSources(model), mono ? "PaperSource" : "InputSlot"},
          {mediaTypes(model), mono ? "Media" : "MediaType"},
          {outputBins(model), mono ? "OutputBin" : "OUTPUTTRAY"}})
      for (const Choice& choice : list)
        EXPECT_TRUE(known.count({key, choice.word})) << key << "=" << choice.word;
  }
  EXPECT_EQ(nullptr, findMedium(Model::kMono, "om_195x270mm_195x270mm", 19500, 27000));
  EXPECT_EQ(nullptr, findMedium(Model::kColour, "iso_a3_297x420mm", 29700, 42000));
}

// Edits, then the words they give ("(none)": absent; "pin=", "passes=": the plan's) or "!" and
// why not.
TEST(PrinterPlan, MapsEveryChoiceOrSaysWhyNot) {
  const std::pair<void (*)(JobRequest&), const char*> cases[] = {
      {[](JobRequest&) {},
       "Resolution=600 PaperType=A4 Duplex=OFF DuplexType=(none) TonerSaveMode=OFF Copies=1"},
      {[](JobRequest& r) {
         r.xdpi = r.ydpi = 1200, r.sides = Sides::kLongEdge, r.source = "by-pass-tray";
         r.type = "envelope-heavyweight", r.outputBin = "mailbox-2", r.tonerSave = true,
         r.copies = 3, r.collate = false;
       },
       "Resolution=1200 Duplex=ON DuplexType=Long PaperSource=MpTray Media=Env.Thick "
       "OutputBin=Outbin2 TonerSaveMode=ON Copies=3 passes=1"},
      {[](JobRequest& r) { r.model = Model::kColour, r.copies = 3; }, "Copies=1 passes=3"},
      {[](JobRequest& r) { r.mediaName = "na_foolscap_8.5x13in"; }, "PaperType=FOLIO"},
      {[](JobRequest& r) { r.pin = "0042"; }, "pin=0042"},
      {[](JobRequest& r) { r.model = Model::kColour; },
       "PageSize=A4 QVResolution=Normal QVDuplex=None QVMonoColor=Auto Collate=OFF"},
      {[](JobRequest& r) {
         r.model = Model::kColour, r.quality = 5, r.monochrome = true, r.sides = Sides::kShortEdge;
         r.source = "tray-3", r.type = "photographic-glossy";
       },
       "QVResolution=Fine QVMonoColor=Mono QVDuplex=DuplexTumble InputSlot=Tray3 MediaType=Glossy"},
      {[](JobRequest& r) { r.mediaName = "iso_a3_297x420mm"; },
       "!Media size \"iso_a3_297x420mm\" is not supported by the QV M600"},
      {[](JobRequest& r) { r.model = Model::kColour, r.mediaName = "iso_b6_125x176mm"; },
       "!not supported by the QV C600"},
      {[](JobRequest& r) { r.pin = "12a4"; }, "!PIN must be exactly 4 digits"},
      {[](JobRequest& r) { r.model = Model::kColour, r.pin = "123"; },
       "!PIN must be exactly 4 digits"},
      {[](JobRequest& r) { r.pin = "12345"; }, "!PIN must be exactly 4 digits"},
      {[](JobRequest& r) { r.xdpi = r.ydpi = 400; }, "!Resolution 400x400dpi"},
      {[](JobRequest& r) { r.ydpi = 300; }, "!Resolution 600x300dpi"},
      {[](JobRequest& r) { r.model = Model::kColour, r.copies = 1000; },
       "!Copies must be 1 to 999"},
  };
  for (const auto& [edit, want] : cases) {
    SCOPED_TRACE(want);
    JobRequest request;
    request.mediaName = "iso_a4_210x297mm";
    edit(request);
    JobPlan plan;
    std::string error;
    ASSERT_EQ(want[0] != '!', planJob(request, plan, error)) << error;
    std::istringstream words(want[0] == '!' ? "" : want);
    EXPECT_NE(std::string::npos, error.find(want[0] == '!' ? want + 1 : "")) << error;
    for (std::string word; words >> word;) {
      std::string got = word.starts_with("pin=")      ? "pin=" + plan.pin
                        : word.starts_with("passes=") ? "passes=" + std::to_string(plan.passes)
                                                      : "(none)";
      for (const auto& [key, value] : plan.settings)
        if (word.starts_with(key + "=")) got = key + "=" + value;
      EXPECT_EQ(word, word.ends_with("=(none)") && got == "(none)" ? word : got);
    }
  }
}

}  // namespace
}  // namespace qvprinter
