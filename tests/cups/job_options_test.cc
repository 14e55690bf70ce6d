// job_options_test.cc - CUPS options, marked in the generated PPDs, become
// the settings words the filters understand.
#include "cups/job_options.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace {

using qvcups::JobSettings;
using qvcups::Model;

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using UniquePpd = std::unique_ptr<ppd_file_t, PpdCloser>;

UniquePpd openPpd(const char* name) {
  return UniquePpd(ppdOpenFile((std::string(QV_PPD_DIR) + "/" + name).c_str()));
}

std::map<std::string, std::string> settingsOf(const JobSettings& job) {
  std::map<std::string, std::string> out;
  for (const auto& [key, word] : job.settings) out[key] = word;
  return out;
}

struct OptionsRun {
  JobSettings job;
  std::string error;
  int rc = -1;
};

OptionsRun readJob(const char* ppdName, const char* options, const char* copies = "1",
                   const char* title = "doc") {
  UniquePpd ppd = openPpd(ppdName);
  OptionsRun run;
  if (!ppd) {
    run.error = "cannot open PPD";
    return run;
  }
  run.rc = qvcups::readJobSettings(ppd.get(), options, copies, "alice", title, run.job, run.error);
  return run;
}

TEST(JobOptions, DefaultsGiveACompleteSettingsFile) {
  const OptionsRun mono = readJob("qvm600.ppd", "");
  ASSERT_EQ(0, mono.rc) << mono.error;
  EXPECT_EQ(Model::kMono, mono.job.model);
  // Toner saving must be written: a file without the key means ON to rawtoqv.
  const std::map<std::string, std::string> expected = {
      {"PaperType", "A4"},      {"Copies", "1"},
      {"Resolution", "600"},    {"PaperSource", "AutoSelect"},
      {"Media", "PlainPaper"},  {"Duplex", "OFF"},
      {"TonerSaveMode", "OFF"}, {"Sleep", "PrinterDefault"},
      {"OutputBin", "Auto"}};
  EXPECT_EQ(expected, settingsOf(mono.job));
  EXPECT_EQ("[QV-M600]\n", mono.job.settingsFile().substr(0, 10));

  const OptionsRun colour = readJob("qvc600.ppd", "");
  ASSERT_EQ(0, colour.rc) << colour.error;
  EXPECT_EQ("QV-C600", colour.job.printerName);
  EXPECT_EQ(4760, colour.job.rasterWidth()) << "the imaging area, 1/6 inch in from each edge";
  EXPECT_EQ(6816, colour.job.rasterHeight());
  EXPECT_EQ(4960, colour.job.renderWidth());
  EXPECT_EQ("", colour.job.outputTray) << "no OUTPUTTRAY unless a bin is chosen";
}

TEST(JobOptions, OptionsMapOntoFilterWords) {
  struct Case {
    const char* why;
    const char* ppd;
    const char* options;
    std::map<std::string, std::string> expect;  // a subset of the settings
  };
  const Case cases[] = {
      {"IPP media name picks the paper", "qvm600.ppd", "media=Letter", {{"PaperType", "Letter"}}},
      {"mono spells Executive its own way",
       "qvm600.ppd",
       "PageSize=Executive",
       {{"PaperType", "Exective"}}},
      {"IPP sides maps to long-edge duplex",
       "qvm600.ppd",
       "sides=two-sided-long-edge",
       {{"Duplex", "ON"}, {"DuplexType", "Long"}}},
      {"short-edge duplex",
       "qvm600.ppd",
       "Duplex=DuplexTumble",
       {{"Duplex", "ON"}, {"DuplexType", "Short"}}},
      {"multi-purpose tray word differs per model",
       "qvm600.ppd",
       "InputSlot=MPTray",
       {{"PaperSource", "MpTray"}}},
      {"mono media words", "qvm600.ppd", "MediaType=EnvThin", {{"Media", "Env.Thin"}}},
      {"toner save and sleep",
       "qvm600.ppd",
       "QVTonerSave=True QVSleep=30",
       {{"TonerSaveMode", "ON"}, {"Sleep", "30"}}},
      {"300 dpi", "qvm600.ppd", "Resolution=300dpi", {{"Resolution", "300"}}},
      {"colour paper word", "qvc600.ppd", "PageSize=Oficio", {{"PageSize", "MexicanLegal"}}},
      {"colour duplex keeps CUPS's words",
       "qvc600.ppd",
       "Duplex=DuplexNoTumble",
       {{"QVDuplex", "DuplexNoTumble"}}},
      {"gray printing", "qvc600.ppd", "ColorModel=Gray", {{"QVMonoColor", "Mono"}}},
      {"colour by default, with the printer's colour adaptation",
       "qvc600.ppd",
       "",
       {{"QVMonoColor", "Auto"}}},
      {"IPP monochrome as cupsd passes it",
       "qvc600.ppd",
       "print-color-mode=monochrome ColorModel=Gray",
       {{"QVMonoColor", "Mono"}}},
      {"an explicit choice wins over cupsd's print-color-mode",
       "qvc600.ppd",
       "ColorModel=FullColor print-color-mode=monochrome",
       {{"QVMonoColor", "FullColor"}}},
      {"print quality normal",
       "qvc600.ppd",
       "cupsPrintQuality=Normal",
       {{"QVResolution", "Normal"}}},
      {"colour media words", "qvc600.ppd", "MediaType=Labels", {{"MediaType", "Label"}}},
      {"colour improvement and blank skipping",
       "qvc600.ppd",
       "QVImproveOutput=LessPaperCurl QVSkipBlank=True",
       {{"QVImproveOutput", "QVLessPaperCurl"}, {"QVSkipBlank", "ON"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const OptionsRun run = readJob(c.ppd, c.options);
    ASSERT_EQ(0, run.rc) << run.error;
    const auto settings = settingsOf(run.job);
    for (const auto& [key, word] : c.expect)
      EXPECT_EQ(word, settings.count(key) ? settings.at(key) : "(missing)") << key;
  }
}

TEST(JobOptions, CopiesResolutionAndPin) {
  struct Case {
    const char* why;
    const char* ppd;
    const char* options;
    const char* copies;
    int xdpi, ydpi, passes, filterCopies;
    int width, height;
  };
  const Case cases[] = {
      {"collated copies are whole passes", "qvm600.ppd", "", "3", 600, 600, 3, 1, 4960, 7016},
      {"uncollated copies go to the printer", "qvm600.ppd", "Collate=False", "3", 600, 600, 1, 3,
       4960, 7016},
      {"IPP uncollated", "qvc600.ppd",
       "multiple-document-handling=separate-documents-uncollated-copies", "2", 600, 600, 1, 2, 4760,
       6816},
      {"300 dpi halves the raster (truncated)", "qvm600.ppd", "Resolution=300dpi PageSize=Env10",
       "1", 300, 300, 1, 1, 1237, 2850},
      {"600x300 halves the rows only", "qvm600.ppd", "Resolution=600x300dpi", "1", 600, 300, 1, 1,
       4960, 3508},
      {"1200 doubles", "qvm600.ppd", "Resolution=1200dpi PageSize=Legal", "1", 1200, 1200, 1, 1,
       10200, 16800},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const OptionsRun run = readJob(c.ppd, c.options, c.copies);
    ASSERT_EQ(0, run.rc) << run.error;
    EXPECT_EQ(c.xdpi, run.job.xdpi);
    EXPECT_EQ(c.ydpi, run.job.ydpi);
    EXPECT_EQ(c.passes, run.job.passes());
    EXPECT_EQ(c.filterCopies, run.job.filterCopies());
    EXPECT_EQ(c.width, run.job.rasterWidth());
    EXPECT_EQ(c.height, run.job.rasterHeight());
    EXPECT_EQ(std::to_string(c.filterCopies), settingsOf(run.job).at("Copies"));
  }
}

TEST(JobOptions, RefusesWhatWouldPrintWrongly) {
  struct Case {
    const char* why;
    const char* options;
    const char* copies;
  };
  const Case cases[] = {
      {"a PIN with a letter would print the secret job openly", "job-password=12a4", "1"},
      {"a PIN of five digits", "QVPin=12345", "1"},
      {"copies not a number", "", "2x"},
      {"copies zero", "", "0"},
      {"copies beyond the filters' range", "", "1000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const OptionsRun run = readJob("qvm600.ppd", c.options, c.copies);
    EXPECT_EQ(1, run.rc);
    EXPECT_FALSE(run.error.empty());
  }
}

TEST(JobOptions, SecurePrintNeedsOwnerTitleAndPin) {
  const OptionsRun run = readJob("qvm600.ppd", "job-password=0042", "1", "");
  ASSERT_EQ(0, run.rc) << run.error;
  EXPECT_EQ("0042", run.job.pin);
  EXPECT_EQ("Untitled", run.job.title) << "rawtoqv holds a job only when it has a title";
}

TEST(JobOptions, PjlTextCannotBreakOutOfItsLine) {
  struct Case {
    const char* why;
    const char* text;
    std::size_t max;
    std::string safe;
  };
  const Case cases[] = {
      {"plain title", "Report Q3", 78, "Report Q3"},
      {"line feed ends it", "a\n@PJL SET HOLD=OFF", 78, "a"},
      {"escape ends it", "a\x1b%-12345X", 78, "a"},
      {"quote cannot close the value", "say \"hi\"", 78, "say 'hi'"},
      {"cut on a UTF-8 boundary", "ab\xc3\xa9", 3, "ab"},
      {"null", nullptr, 78, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(c.safe, qvcups::pjlSafeText(c.text, c.max));
  }
}

// The PPD source and the mapping tables are written separately: every
// choice a user can pick must reach the filter, and every row must name a
// choice that exists.
TEST(JobOptions, EveryPpdChoiceHasAMappingAndBack) {
  for (const auto& [file, model] :
       {std::pair{"qvm600.ppd", Model::kMono}, std::pair{"qvc600.ppd", Model::kColour}}) {
    SCOPED_TRACE(file);
    UniquePpd ppd = openPpd(file);
    ASSERT_TRUE(ppd);
    std::set<std::string> mappedOptions;
    std::set<std::pair<std::string, std::string>> rows;
    for (const qvcups::OptionMapping& row : qvcups::optionMappings(model)) {
      mappedOptions.insert(row.option);
      rows.emplace(row.option, row.choice);
      ppd_option_t* option = ppdFindOption(ppd.get(), row.option);
      ASSERT_NE(nullptr, option) << row.option;
      EXPECT_NE(nullptr, ppdFindChoice(option, row.choice)) << row.option << "=" << row.choice;
    }
    for (const std::string& name : mappedOptions) {
      ppd_option_t* option = ppdFindOption(ppd.get(), name.c_str());
      for (int i = 0; i < option->num_choices; ++i)
        EXPECT_TRUE(rows.count({name, option->choices[i].choice}))
            << name << "=" << option->choices[i].choice << " reaches no filter setting";
    }
    ppd_option_t* pageSize = ppdFindOption(ppd.get(), "PageSize");
    ASSERT_NE(nullptr, pageSize);
    for (int i = 0; i < pageSize->num_choices; ++i) {
      const qvcups::PaperSize* paper = qvcups::findPaperSize(pageSize->choices[i].choice);
      ASSERT_NE(nullptr, paper) << pageSize->choices[i].choice;
      EXPECT_NE(nullptr, model == Model::kMono ? paper->monoWord : paper->colourWord);
    }
  }
}

}  // namespace
