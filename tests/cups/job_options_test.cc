// job_options_test.cc - CUPS options, marked in the generated PPDs, become
// the settings words, raster and copies the filters get; texts for the
// printer and the CUPS log cannot break out of their lines.
#include "cups/job_options.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "cups/cups_job.h"

namespace {

using qvcups::JobSettings;
using qvcups::Model;

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using UniquePpd = std::unique_ptr<ppd_file_t, PpdCloser>;

UniquePpd openPpd(bool mono) {
  return UniquePpd(
      ppdOpenFile((std::string(QV_PPD_DIR) + (mono ? "/qvm600.ppd" : "/qvc600.ppd")).c_str()));
}

// The job as "key=value" words: the settings file's lines, and "@"-words
// for what travels another way (resolution, raster, passes, PIN, title,
// OUTPUTTRAY, -flags), or "@error=..." when the job is refused.
std::map<std::string, std::string> readJob(bool mono, const char* options, const char* copies,
                                           const char* title) {
  UniquePpd ppd = openPpd(mono);
  JobSettings job;
  std::string error;
  if (!ppd || qvcups::readJobSettings(ppd.get(), options, copies, "alice", title, job, error) != 0)
    return {{"@error", error}};
  std::map<std::string, std::string> out(job.settings.begin(), job.settings.end());
  out["@count"] = std::to_string(job.settings.size());
  out["@dpi"] = std::to_string(job.xdpi) + "x" + std::to_string(job.ydpi);
  out["@render"] = std::to_string(job.renderWidth()) + "x" + std::to_string(job.renderHeight());
  out["@raster"] = std::to_string(job.rasterWidth()) + "x" + std::to_string(job.rasterHeight());
  out["@passes"] = std::to_string(job.passes());
  out["@pin"] = job.pin;
  out["@title"] = job.title;
  out["@tray"] = job.outputTray;
  out["@flags"] = job.monoFlags;
  out["@duplex"] = job.duplex ? "yes" : "no";
  out["@warning"] = job.warning.substr(0, job.warning.find(';'));
  out["@section"] = job.settingsFile().substr(0, job.settingsFile().find('\n'));
  return out;
}

TEST(JobOptions, OptionsBecomeFilterSettings) {
  struct Case {
    const char* why;
    bool mono;
    const char* options;
    const char* copies;
    const char* expect;  // words the job must hold
  };
  const Case cases[] = {
      {"mono defaults, toner saving written (no key means ON)", true, "", "1",
       "PaperType=A4 Copies=1 Resolution=600 PaperSource=AutoSelect Media=PlainPaper Duplex=OFF "
       "TonerSaveMode=OFF Sleep=PrinterDefault OutputBin=Auto @count=9 @section=[QV-M600] "
       "@render=4960x7016 @raster=4960x7016 @pin= @flags= @duplex=no @warning="},
      {"colour defaults: imaging area 1/6 inch in, colour with adaptation, no OUTPUTTRAY", false,
       "", "1",
       "PageSize=A4 Collate=OFF QVMonoColor=Auto @render=4960x7016 @raster=4760x6816 @tray="},
      {"IPP media name", true, "media=Letter", "1", "PaperType=Letter"},
      {"mono spells Executive its own way", true, "PageSize=Executive", "1", "PaperType=Exective"},
      {"You4 needs its matching flag", true, "PageSize=EnvYou4", "1",
       "PaperType=EnvYou4 @flags=400"},
      {"IPP sides", true, "sides=two-sided-long-edge", "1", "Duplex=ON DuplexType=Long"},
      {"short edge", true, "Duplex=DuplexTumble", "1", "Duplex=ON DuplexType=Short"},
      {"tray and media words differ per model", true, "InputSlot=MPTray MediaType=EnvThin", "1",
       "PaperSource=MpTray Media=Env.Thin"},
      {"toner save and sleep", true, "QVTonerSave=True QVSleep=30", "1",
       "TonerSaveMode=ON Sleep=30"},
      {"300 dpi halves the raster, truncated", true, "Resolution=300dpi PageSize=Env10", "1",
       "Resolution=300 @dpi=300x300 @render=1237x2850"},
      {"600x300 halves the rows only", true, "Resolution=600x300dpi", "1",
       "Resolution=600x300 @dpi=600x300 @render=4960x3508"},
      {"1200 doubles", true, "Resolution=1200dpi PageSize=Legal", "1",
       "@dpi=1200x1200 @render=10200x16800"},
      {"collated copies are whole passes", true, "", "3", "Copies=1 @passes=3"},
      {"uncollated copies go to the printer", true, "Collate=False", "3", "Copies=3 @passes=1"},
      {"IPP uncollated", false, "multiple-document-handling=separate-documents-uncollated-copies",
       "2", "Copies=2 @passes=1"},
      {"colour paper word", false, "PageSize=Oficio", "1", "PageSize=MexicanLegal"},
      {"colour duplex keeps CUPS's words", false, "Duplex=DuplexNoTumble", "1",
       "QVDuplex=DuplexNoTumble"},
      {"cupsd's monochrome", false, "print-color-mode=monochrome ColorModel=Gray", "1",
       "QVMonoColor=Mono"},
      {"an explicit choice wins over print-color-mode", false,
       "ColorModel=FullColor print-color-mode=monochrome", "1", "QVMonoColor=FullColor"},
      {"colour quality, media, improvement, blank skipping, bin", false,
       "cupsPrintQuality=Normal MediaType=Labels QVImproveOutput=LessPaperCurl QVSkipBlank=True "
       "OutputBin=Upper",
       "1",
       "QVResolution=Normal MediaType=Label QVImproveOutput=QVLessPaperCurl QVSkipBlank=ON "
       "@tray=OFF"},
      {"a PIN holds the job; rawtoqv holds only a titled one", true, "job-password=0042", "1",
       "@pin=0042 @title=Untitled"},
      {"the PPD's passcode, as print dialogs send it", false, "QVPin=Custom.1234", "1",
       "@pin=1234"},
      {"a plain QVPin value", true, "QVPin=4711", "1", "@pin=4711"},
      {"the PPD's no-PIN choice", true, "QVPin=None", "1", "@pin="},
      {"a custom size is the mono custom paper", true, "PageSize=Custom.360x504", "1",
       "PaperType=CUSTOM0 @render=3000x4200 @warning="},
      {"custom sizes at the limits", true, "media=Custom.3x5in", "1",
       "PaperType=CUSTOM0 @render=1800x3000 @warning="},
      {"in points", true, "PageSize=Custom.612x1008", "1", "@render=5100x8400 @warning="},
      {"wider than Legal: the default instead, with a warning", true, "PageSize=Custom.613x500",
       "1",
       "PaperType=A4 @warning=Page size \"Custom.613x500\" is not supported by the Quarno QV M600"},
      {"shorter than 5 inch", true, "PageSize=Custom.300x359", "1", "PaperType=A4"},
      {"no custom paper on the colour printer", false, "PageSize=Custom.300x500", "1",
       "PageSize=A4 @warning=Page size \"Custom.300x500\" is not supported by the Quarno QV C600"},
      {"a size of the other model only", false, "PageSize=ISOB6", "1", "PageSize=A4"},
      {"an IPP media name", true, "media=iso_a5_148x210mm", "1", "PaperType=A5 @warning="},
      {"media naming a tray is no size", true, "media=Tray2", "1", "PaperType=A4 @warning="},
      {"two-sided on either model", false, "sides=two-sided-short-edge", "1", "@duplex=yes"},
      {"a PIN with a letter would print the secret job openly", true, "job-password=12a4", "1",
       "@error=The secure-print PIN must be four digits."},
      {"a PIN of five digits", true, "QVPin=12345", "1",
       "@error=The secure-print PIN must be four digits."},
      {"copies not a number", true, "", "2x", "@error=Invalid number of copies \"2x\"."},
      {"copies zero", true, "", "0", "@error=Invalid number of copies \"0\"."},
      {"copies beyond the filters' range", true, "", "1000",
       "@error=Invalid number of copies \"1000\"."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const auto job = readJob(c.mono, c.options, c.copies, "");
    const std::string expect = c.expect;
    if (expect.rfind("@error=", 0) == 0) {
      EXPECT_EQ(expect.substr(7), job.count("@error") ? job.at("@error") : "(accepted)");
      continue;
    }
    std::istringstream words(expect);
    for (std::string word; std::getline(words, word, ' ');) {
      if (word.rfind("@warning=", 0) == 0) word = expect.substr(expect.find("@warning="));
      const std::string key = word.substr(0, word.find('=')), value = word.substr(key.size() + 1);
      EXPECT_EQ(value, job.count(key) ? job.at(key) : "(missing)") << key;
      if (key == "@warning") break;  // a sentence: the rest of the row
    }
  }
}

TEST(JobOptions, TextsCannotBreakOutOfTheirLines) {
  struct Case {
    const char* why;
    const char* text;
    std::size_t max;
    std::string safe;
  };
  const Case pjl[] = {
      {"plain title", "Report Q3", 78, "Report Q3"},
      {"line feed ends it", "a\n@PJL SET HOLD=OFF", 78, "a"},
      {"escape ends it", "a\x1b%-12345X", 78, "a"},
      {"quote cannot close the value", "say \"hi\"", 78, "say 'hi'"},
      {"cut on a UTF-8 boundary", "ab\xc3\xa9", 3, "ab"},
      {"null", nullptr, 78, ""},
  };
  for (const Case& c : pjl) EXPECT_EQ(c.safe, qvcups::pjlSafeText(c.text, c.max)) << c.why;
  // The filters' lines in the CUPS log: errors must show as job errors.
  const Case log[] = {
      {"filter error, marker dropped", "Error: /x/paperinf :cannot open file !!", 0,
       "ERROR: /x/paperinf :cannot open file"},
      {"already in CUPS form", "ERROR: Unable to create a temporay file", 0,
       "ERROR: Unable to create a temporay file"},
      {"info passes", "INFO: ready", 0, "INFO: ready"},
      {"anything else is debug", "molloc fasle", 0, "DEBUG: molloc fasle"},
      {"trailing CR trimmed", "Error: invalid option !!\r", 0, "ERROR: invalid option"},
      {"empty line dropped", "", 0, ""},
  };
  for (const Case& c : log) EXPECT_EQ(c.safe, qvcups::cupsMessageFor(c.text)) << c.why;
}

// The PPD source and the mapping tables are written separately: every
// choice a user can pick must reach the filter, every row must name a
// choice that exists, and every size must be the model's.
TEST(JobOptions, EveryPpdChoiceHasAMappingAndBack) {
  for (const bool mono : {true, false}) {
    SCOPED_TRACE(mono ? "mono" : "colour");
    UniquePpd ppd = openPpd(mono);
    ASSERT_TRUE(ppd);
    std::set<std::pair<std::string, std::string>> rows;
    for (const qvcups::OptionMapping& row :
         qvcups::optionMappings(mono ? Model::kMono : Model::kColour)) {
      rows.emplace(row.option, row.choice);
      ppd_option_t* option = ppdFindOption(ppd.get(), row.option);
      ASSERT_NE(nullptr, option) << row.option;
      EXPECT_NE(nullptr, ppdFindChoice(option, row.choice)) << row.option << "=" << row.choice;
    }
    for (const auto& [name, choice] : rows) {
      ppd_option_t* option = ppdFindOption(ppd.get(), name.c_str());
      for (int i = 0; i < option->num_choices; ++i)
        EXPECT_TRUE(rows.count({name, option->choices[i].choice}))
            << name << "=" << option->choices[i].choice << " reaches no filter setting";
    }
    // What print dialogs and printer set-up tools read: a passcode for the
    // PIN, four digits long, and the printer's IEEE 1284 device ID.
    ppd_cparam_t* code = ppdFindCustomParam(ppdFindCustomOption(ppd.get(), "QVPin"), "Code");
    ASSERT_NE(nullptr, code);
    EXPECT_EQ(PPD_CUSTOM_PASSCODE, code->type);
    EXPECT_EQ(4, code->minimum.custom_passcode);
    EXPECT_EQ(4, code->maximum.custom_passcode);
    ppd_attr_t* id = ppdFindAttr(ppd.get(), "1284DeviceID", nullptr);
    ASSERT_NE(nullptr, id);
    EXPECT_EQ(std::string("MFG:Quarno;MDL:") + (ppd->modelname + 7) + ";",
              std::string(id->value).substr(0, 23));
    ppd_option_t* pageSize = ppdFindOption(ppd.get(), "PageSize");
    ASSERT_NE(nullptr, pageSize);
    for (int i = 0; i < pageSize->num_choices; ++i) {
      if (std::string(pageSize->choices[i].choice) == "Custom") continue;  // the custom paper
      const qvcups::PaperSize* paper = qvcups::findPaperSize(pageSize->choices[i].choice);
      ASSERT_NE(nullptr, paper) << pageSize->choices[i].choice;
      EXPECT_NE(nullptr, mono ? paper->monoWord : paper->colourWord);
    }
  }
}

}  // namespace
