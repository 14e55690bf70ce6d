// cups_test.cc - the CUPS driver's parts: PPD options to settings, CUPS message lines, the
// private job directory, the paper table against PPDs and geometry files.
#include <cups/ppd.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <set>

#include "cups/cups_job.h"
#include "cups/job_options.h"
#include "cups/paper_files.h"
#include "cups/private_dir.h"
#include "host/paper_table.h"
#include "mono/PCLUtils.h"
#include "tests/support/run_program.h"

namespace {

std::unique_ptr<ppd_file_t, void (*)(ppd_file_t*)> openPpd(bool mono) {
  return {ppdOpenFile((QV_PPD_DIR + std::string(mono ? "/qvm600.ppd" : "/qvc600.ppd")).c_str()),
          ppdClose};
}

// The job as "key=value" words: settings lines, "@"-words for the rest, or "@error=...".
std::map<std::string, std::string> readJob(bool mono, const char* options, const char* copies) {
  auto ppd = openPpd(mono);
  qvcups::JobSettings job;
  std::string error;
  if (!ppd || qvcups::readJobSettings(ppd.get(), options, copies, "alice", "", job, error) != 0)
    return {{"@error", error}};
  std::map<std::string, std::string> out(job.settings.begin(), job.settings.end());
  out["@count"] = std::to_string(job.settings.size());
  out["@dpi"] = std::to_string(job.xdpi) + "x" + std::to_string(job.ydpi);
  out["@render"] = std::to_string(job.renderWidth()) + "x" + std::to_string(job.renderHeight());
  out["@raster"] = std::to_string(job.rasterWidth()) + "x" + std::to_string(job.rasterHeight());
  out["@passes"] = std::to_string(job.passes());
  out.insert({{"@pin", job.pin},
              {"@title", job.title},
              {"@tray", job.outputTray},
              {"@flags", job.monoFlags},
              {"@duplex", job.duplex ? "yes" : "no"},
              {"@warning", job.warning.substr(0, job.warning.find(';'))},
              {"@section", job.settingsFile().substr(0, job.settingsFile().find('\n'))}});
  return out;
}

TEST(JobOptions, OptionsBecomeFilterSettings) {
  // Model, options, copies, words the job must hold ("@warning=" takes the rest of the row).
  const std::tuple<bool, const char*, const char*, const char*> cases[] = {
      // Toner saving is written: no key means ON.
      {true, "", "1",
       "PaperType=A4 Copies=1 Resolution=600 PaperSource=AutoSelect Media=PlainPaper Duplex=OFF "
       "TonerSaveMode=OFF Sleep=PrinterDefault OutputBin=Auto @count=9 @section=[QV-M600] "
       "@render=4960x7016 @raster=4960x7016 @pin= @flags= @duplex=no @warning="},
      {false, "", "1",
       "PageSize=A4 Collate=OFF QVMonoColor=Auto @render=4960x7016 @raster=4760x6816 @tray="},
      {true, "PageSize=Executive sides=two-sided-long-edge QVTonerSave=True QVSleep=30", "1",
       "PaperType=Exective Duplex=ON DuplexType=Long TonerSaveMode=ON Sleep=30"},
      {true, "PageSize=EnvYou4 Duplex=DuplexTumble InputSlot=MPTray MediaType=EnvThin", "1",
       "PaperType=EnvYou4 @flags=400 Duplex=ON DuplexType=Short PaperSource=MpTray Media=Env.Thin"},
      {true, "Resolution=300dpi PageSize=Env10", "1",
       "Resolution=300 @dpi=300x300 @render=1237x2850"},
      {true, "Resolution=600x300dpi", "1", "Resolution=600x300 @dpi=600x300 @render=4960x3508"},
      {true, "Resolution=1200dpi PageSize=Legal", "1", "@dpi=1200x1200 @render=10200x16800"},
      {true, "", "3", "Copies=1 @passes=3"},
      {true, "Collate=False", "3", "Copies=3 @passes=1"},
      {false, "multiple-document-handling=separate-documents-uncollated-copies", "2",
       "Copies=2 @passes=1"},
      {false, "PageSize=Oficio Duplex=DuplexNoTumble print-color-mode=monochrome ColorModel=Gray",
       "1", "PageSize=MexicanLegal QVDuplex=DuplexNoTumble QVMonoColor=Mono @duplex=yes"},
      {false,
       "ColorModel=FullColor print-color-mode=monochrome cupsPrintQuality=Normal MediaType=Labels "
       "QVImproveOutput=LessPaperCurl QVSkipBlank=True OutputBin=Upper",
       "1",
       "QVMonoColor=FullColor QVResolution=Normal MediaType=Label QVImproveOutput=QVLessPaperCurl "
       "QVSkipBlank=ON @tray=OFF"},
      // A PIN holds the job; rawtoqv holds only a titled one.
      {true, "job-password=0042", "1", "@pin=0042 @title=Untitled"},
      {false, "QVPin=Custom.1234", "1", "@pin=1234"},  // the PPD's passcode, as dialogs send it
      {true, "media=Custom.3x5in", "1", "PaperType=CUSTOM0 @render=1800x3000 @warning="},
      {true, "PageSize=Custom.612x1008", "1", "PaperType=CUSTOM0 @render=5100x8400 @warning="},
      {true, "PageSize=Custom.613x500", "1",
       "PaperType=A4 @warning=Page size \"Custom.613x500\" is not supported by the Quarno QV M600"},
      {true, "PageSize=Custom.300x359", "1", "PaperType=A4"},
      {false, "PageSize=Custom.300x500", "1",
       "PageSize=A4 @warning=Page size \"Custom.300x500\" is not supported by the Quarno QV C600"},
      {true, "media=iso_a5_148x210mm", "1", "PaperType=A5 @warning="},
      {true, "media=Tray2", "1", "PaperType=A4 @warning="},
      {true, "job-password=12a4", "1", "@error=The secure-print PIN must be four digits."},
      {true, "QVPin=12345", "1", "@error=The secure-print PIN must be four digits."},
      {true, "", "2x", "@error=Invalid number of copies \"2x\"."},
      {true, "", "0", "@error=Invalid number of copies \"0\"."},
      {true, "", "1000", "@error=Invalid number of copies \"1000\"."},
  };
  for (const auto& [mono, options, copies, expect] : cases) {
    SCOPED_TRACE(std::string(options) + " copies " + copies);
    const auto job = readJob(mono, options, copies);
    std::istringstream words(expect);
    for (std::string word; std::getline(words, word, ' ');) {
      const std::string key = word.substr(0, word.find('='));
      if (key == "@warning" || key == "@error") word = std::strstr(expect, key.c_str());
      EXPECT_EQ(word.substr(key.size() + 1), job.count(key) ? job.at(key) : "(missing)") << key;
      if (key == "@warning" || key == "@error") break;  // a sentence: the rest of the row
    }
  }
}

TEST(JobOptions, TextsCannotBreakOutOfTheirLines) {
  // PJL texts: qv::host::pjlText (tests/host).
  // The filters' lines in the CUPS log: errors must show as job errors.
  const std::pair<const char*, const char*> log[] = {
      {"Error: /x/paperinf :cannot open file !!", "ERROR: /x/paperinf :cannot open file"},
      {"ERROR: Unable to create a temporay file", "ERROR: Unable to create a temporay file"},
      {"INFO: ready", "INFO: ready"},
      {"molloc fasle", "DEBUG: molloc fasle"},
      {"Error: invalid option !!\r", "ERROR: invalid option"},
      {"", ""}};
  for (const auto& [line, message] : log) EXPECT_EQ(message, qvcups::cupsMessageFor(line));
}

TEST(PrivateDir, OwnerOnlyUnderTmpdirAndEverythingGoes) {
  qvtest::ScopedTempDir scratch;
  std::string path;
  const auto mode = [](const std::string& name) {
    struct stat info {};
    return ::stat(name.c_str(), &info) == 0 ? info.st_mode & 07777 : 0u;
  };
  for (const std::string& tmpdir : {scratch.path(), std::string()}) {
    ::setenv("TMPDIR", tmpdir.c_str(), 1);
    qvcups::PrivateDir dir;
    ASSERT_EQ(0, dir.create());
    path = dir.path();
    EXPECT_EQ(0u, path.rfind((tmpdir.empty() ? "/tmp" : tmpdir) + "/qvcups-", 0)) << path;
    ASSERT_EQ(0, dir.writeFile("qvmono.rc", "[QV-M600]\n"));
    EXPECT_EQ(std::pair(0700u, 0600u), std::pair(mode(path), mode(dir.file("qvmono.rc"))));
    EXPECT_EQ("[QV-M600]\n", qvtest::readFile(dir.file("qvmono.rc")));
    EXPECT_NE(0, dir.writeFile("qvmono.rc", "again")) << "files are created exclusively";
  }
  ::unsetenv("TMPDIR");
  EXPECT_EQ(0u, mode(path)) << "removed with its files";
  EXPECT_TRUE(qvtest::listDirectory(scratch.path()).empty());
}

std::map<std::string, std::vector<int>> readPaperFile(const std::string& path) {
  std::map<std::string, std::vector<int>> out;
  std::istringstream in(qvtest::readFile(path));
  for (std::string line, word; std::getline(in, line);) {
    std::istringstream fields(line);
    fields >> word;
    if (!word.empty() && word.back() == ':') word.pop_back();
    for (int n; fields >> n;) out[word].push_back(n);
  }
  return out;
}

// Written apart, PPDs, mappings, paper table and geometry files agree (colour areas 100 dots in).
TEST(ShippedData, PpdsMappingsPaperTableAndGeometryAgree) {
  const auto imaging = readPaperFile(QV_GEOMETRY_DIR "/ImagingArea"),
             dimension = readPaperFile(QV_GEOMETRY_DIR "/PaperDimension"),
             raster = readPaperFile(QV_GEOMETRY_DIR "/paperinf");
  for (const bool mono : {true, false}) {
    SCOPED_TRACE(mono ? "mono" : "colour");
    auto ppd = openPpd(mono);
    ASSERT_TRUE(ppd);
    std::set<std::pair<std::string, std::string>> rows;
    for (const auto& row :
         qvcups::optionMappings(mono ? qvcups::Model::kMono : qvcups::Model::kColour)) {
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
    ASSERT_GT(ppd->num_sizes, 0);
    for (const ppd_size_t& size : std::span(ppd->sizes, std::size_t(ppd->num_sizes))) {
      if (std::string(size.name) == "Custom") continue;
      const qv::host::PaperSize* paper = qv::host::findPaperSize(size.name);
      ASSERT_NE(nullptr, paper) << size.name;
      const char* word = mono ? paper->monoWord : paper->colourWord;
      ASSERT_NE(nullptr, word) << size.name;
      EXPECT_NEAR(paper->width600 * 0.12, size.width, 0.5) << word;
      EXPECT_NEAR(paper->height600 * 0.12, size.length, 0.5) << word;
      EXPECT_EQ(std::vector<float>(4, 12.0f),
                (std::vector<float>{size.left, size.bottom, size.width - size.right,
                                    size.length - size.top}));
      if (mono) continue;
      const std::vector<int>& area = imaging.at(word);
      EXPECT_EQ((std::vector<int>{100, 100, paper->width600 - 100, paper->height600 - 100}), area);
      EXPECT_EQ((std::vector<int>{int(size.width), int(size.length)}), dimension.at(word));
      EXPECT_EQ((std::vector<int>{area[2] - area[0], area[3] - area[1]}), raster.at(word));
    }
  }
  // The mono printer's narrowest admissible paper holding a page is as wide, within 1/60 inch.
  for (const qv::host::PaperSize& paper : qv::host::paperSizes()) {
    if (paper.monoWord == nullptr) continue;
    using qv::mono::PaperCheckEntry, qv::mono::paperCheckTable;
    const PaperCheckEntry* chosen = std::find_if(
        std::begin(paperCheckTable), std::end(paperCheckTable), [&](const PaperCheckEntry& entry) {
          const std::string name = entry.name;
          const int flag =
              (name == "FOLIO") * 0x100 + (name == "3x5") * 0x200 + (name == "EnvYou4") * 0x400;
          return (flag == 0 || (paper.monoFlags & flag) != 0) &&
                 entry.length120 >= paper.height600 / 5 && entry.width120 >= paper.width600 / 5;
        });
    ASSERT_NE(std::end(paperCheckTable), chosen) << paper.ppdName;
    EXPECT_LE(chosen->width120 - paper.width600 / 5, 2) << paper.ppdName << " on " << chosen->name;
  }
}

}  // namespace
