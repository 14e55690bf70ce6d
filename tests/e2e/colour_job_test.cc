// colour_job_test.cc - rastertoqv end to end: PJL, pages, copies, cancels, failures, round trip.
#include <signal.h>

#include "tests/e2e/colour_roundtrip.h"

namespace colourtest {
namespace {

using qv::colour::kPjlTextMax;

const std::string kReady = "INFO: The printer is ready to print.\n";
const std::string kPhase = "Error: error occurred at print phase !!\n";
const std::string kExec = "exec \"$0\" \"$@\"";  // a shell line that runs the filter

// Default settings, no environment.
const std::string kDefaultHeader =
    kUel +
    "@PJL \n@PJL SET HOLD=OFF\n@PJL SET STRINGCODESET=UTF8\n@PJL SET PAPER=A4\n"
    "@PJL SET RENDERMODE=COLOR\n@PJL SET COLORADAPT=ON\n@PJL SET ECONOPRINT=OFF\n"
    "@PJL SET APTMODE=ON\n@PJL SET DUPLEX=OFF\n@PJL SET MEDIATYPE=REGULAR\n"
    "@PJL SET MANUALFEED=OFF\n@PJL SET SOURCETRAY=AUTO\n@PJL SET LESSPAPERCURL=OFF\n"
    "@PJL SET FIXINTENSITYUP=OFF\n@PJL SET COLORMODE=AUTO\n@PJL SET FIDELITY=TRUE\n" +
    kEnterPwg;

const std::string kRgb4x3 = qvtest::str(qvtest::pwgHeader(4, 3, true)),
                  kGray4x3 = qvtest::str(qvtest::pwgHeader(4, 3, false));
// Solid 4 x 3 pages by letter (Red Green Blue White Near-white) as PPM, or as the job sends them.
std::string in(std::string_view letters, bool pwg = false) {
  constexpr int kRgb[][3] = {
      {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}, {255, 255, 254}};
  std::string out;
  for (const char letter : letters) {
    const int* c = kRgb[std::string_view("RGBWN").find(letter)];
    std::string page;
    for (int i = pwg ? 11 : 0; i < 12; ++i) page += bytes({c[0], c[1], c[2]});
    out += pwg ? kRgb4x3 + bytes({2, 3}) + page : ppmPage(4, 3, page);
  }
  return out;
}
std::string out(std::string_view letters) { return "RaS2" + in(letters, true) + kTrailer; }

// `input` via `shell` ("$0": the filter), `env` "A=x|..."; planted old scratch names stay.
qvtest::ProgramResult runJob(const TestPrinter& printer, const std::string& input,
                             const std::string& env = "", const std::string& shell = kExec,
                             int signal = 0) {
  qvtest::ProgramRun run = printer.run(input);
  run.env["TMPDIR"] = printer.dir().path();
  for (std::size_t at = 0, end, equals; at < env.size(); at = end + 1) {
    end = std::min(env.find('|', at), env.size()), equals = env.find('=', at);
    run.env[env.substr(at, equals - at)] = env.substr(equals + 1, end - equals - 1);
  }
  run.args.insert(run.args.begin(), {"-c", shell, run.path});
  run.path = "/bin/bash";
  qvtest::RunningProgram program(run);
  const std::string pid = std::to_string(program.pid());
  std::vector<std::string> planted;
  for (const std::string& dir : {std::string("/tmp"), printer.dir().path()})
    for (const char* suffix : {"_1", "_2", "_1_"})
      qvtest::writeFile(planted.emplace_back(dir + "/ec_tmppage_" + pid + suffix), "planted");
  program.writeInput(input);
  if (signal == 0) program.closeInput();
  // Signal once the filter has taken all and each of its threads sleeps (woken but not run, a
  // thread is awake). The threads are read one after the other, so they are read twice: a
  // thread that ran in between has switched once more, and a sleeping thread cannot be woken
  // by one that sleeps too.
  const auto threads = [&] {
    std::string all;
    for (const std::string& task : qvtest::listDirectory("/proc/" + pid + "/task")) {
      const std::string dir = "/proc/" + pid + "/task/" + task + "/";
      const std::string stat = qvtest::readFile(dir + "stat"),
                        status = qvtest::readFile(dir + "status");
      if (stat.find(") S ", stat.rfind(')')) == std::string::npos) return std::string();
      all += task + ":" + status.substr(status.find("voluntary_ctxt_switches")) + ";";
    }
    return all;
  };
  const auto asleep = [&] {
    const std::string before = threads();
    return !before.empty() && program.unread() == 0 && threads() == before;
  };
  while (signal != 0 && !asleep()) program.pump(1);
  if (signal != 0) program.signal(signal);
  qvtest::ProgramResult r = program.wait();
  for (const std::string& name : planted)
    EXPECT_TRUE(qvtest::readFile(name) == "planted" && std::filesystem::remove(name)) << name;
  EXPECT_EQ(2u, qvtest::listDirectory(printer.dir().path()).size());
  for (const auto& [from, to] :  // as @dir and @pid in messages
       {std::pair(printer.dir().path(), "@dir"), std::pair("tmppage_" + pid, "tmppage_@pid")})
    if (const std::size_t at = r.err.find(from); at != std::string::npos)
      r.err.replace(at, from.size(), to);
  return r;
}

struct Case {
  std::string why, settings, input, afterPjl, err = kReady, shell = kExec;
  int status = 0, signal = 0;
  std::string env = "", edits = "";  // the default header's edits: "from>to", "|" between
};

// Each case on a printer of the first page's size; the header: the default with its edits.
void expectJobs(std::initializer_list<Case> cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why + c.settings + c.env);
    int width = 0, height = 0;
    ASSERT_EQ(2, std::sscanf(c.input.c_str(), "P6 %d %d", &width, &height));
    const qvtest::ProgramResult r =
        runJob(TestPrinter(width, height, c.settings), c.input, c.env, c.shell, c.signal);
    EXPECT_EQ(c.status, r.status);
    if (c.signal == SIGKILL) continue;
    EXPECT_EQ(c.err, r.err);
    EXPECT_EQ(c.afterPjl, afterHeader(r.out));
    std::string header = r.out.empty() ? "" : kDefaultHeader;  // empty: nothing was sent
    const bool duplex = c.edits.empty() && c.settings.find("QVDuplex=Dup") != std::string::npos;
    const std::string edits = duplex ? "DUPLEX=OFF>DUPLEX=ON" : c.edits;
    for (std::size_t at = 0, end, arrow, from; at < edits.size(); at = end + 1) {
      end = std::min(edits.find('|', at), edits.size()), arrow = edits.find('>', at);
      ASSERT_NE(std::string::npos, from = header.find(edits.substr(at, arrow - at)));
      header.replace(from, arrow - at, edits.substr(arrow + 1, end - arrow - 1));
    }
    EXPECT_EQ(header, r.out.substr(0, r.out.size() - afterHeader(r.out).size()));
  }
}

// SIGTERM in a wait: fill, last complete page, trailer, status 0. SIGKILL: no scratch file.
TEST(ColourCancel, StallsInAndBetweenPages) {
  const std::string half = in("B").substr(0, 30), fill = kCancelFill;
  const std::string rFillG = "RaS2" + in("R", true) + fill + in("G", true) + kTrailer;
  const auto term = [](std::string why, std::string settings, std::string input,
                       std::string after) -> Case {
    return {why, settings, input, after, "", kExec, 0, SIGTERM};
  };
  expectJobs({
      term("two pages, half of the third", "", in("RG") + half, rFillG),
      term("half of the first page read", "", half, fill + kTrailer),
      term("copies file too", "Copies=2\n", in("R") + half,
           "RaS2" + in("R", true) + fill + in("R", true) + kTrailer),
      term("waiting for the next header", "", in("R"), fill + out("R")),
      term("duplex", "QVDuplex=DuplexNoTumble\n", in("RG"), rFillG),
      {"SIGKILL mid-page with copies", "Copies=2\n", in("R") + half, "", "", kExec, -1, SIGKILL},
  });
}

// Settings and environment in the PJL header and trailer.
TEST(ColourJob, PjlHeaderAndTrailerLines) {
  const std::string names = "@PJL SET STRINGCODESET", a254(kPjlTextMax - 1, 'a');
  const std::string b255(kPjlTextMax, 'b');
  const auto secure = [](const std::string& key) {
    return "HOLD=OFF>HOLD=STORE\n@PJL SET HOLDTYPE=PRIVATE\n@PJL SET HOLDKEY=" + key + "|";
  };
  const auto named = [&](const std::string& owner, const std::string& title) {
    return names + ">@PJL SET USERNAME=\"" + owner + "\"\n@PJL SET JOBNAME=\"" + title +
           "\"\n@PJL SET LOGINUSER=\"" + owner + "\"\n@PJL JOB NAME=\"" + title + "\"\n" + names;
  };
  const auto eoj = [](const std::string& title) {
    return kUel + "@PJL EOJ NAME=\"" + title + "\"\n" + kUel + "\n";
  };
  const auto pjl = [](std::string settings, std::string env, std::string edits,
                      std::string trailer = kTrailer, std::string page = in("R", true)) -> Case {
    return {"", settings, in("R"), "RaS2" + page + trailer, kReady, kExec, 0, 0, env, edits};
  };
  expectJobs({
      pjl("", "PASSWORD=|OWNER=|TITLE=", ""),
      // A value cannot end its line or start a universal exit.
      pjl("", "PASSWORD=12\n@PJL|TITLE=a\x1b%-12345X@PJL RESET|OWNER=b\r\n@PJL X",
          secure("12") + named("b", "a"), eoj("a")),
      // Cut at 255 bytes, between UTF-8 characters.
      pjl("",
          "PASSWORD=" + std::string(300, '7') + "|OWNER=" + a254 + "\xc3\xa9|TITLE=" + b255 + "c",
          secure(std::string(kPjlTextMax, '7')) + named(a254, b255), eoj(b255)),
      pjl("", "QVREDVAL=500", "STRINGCODESET>SPECIALRED=0x009F9F\n@PJL SET STRINGCODESET"),
      pjl("", "QVREDVAL=13", "STRINGCODESET>SPECIALRED=0x00FFF7\n@PJL SET STRINGCODESET"),
      // Blanks are erased; keys match exactly; unknown words, no "=": no change.
      pjl("QVMonoColor = Mono\nTonerSaveMode=ON\nQVResolution=Normal\nQVResolution=Best\nCopies\n"
          "QVDuplex=DuplexTumble\npagesize=Letter\nMediaType=BOND\nInputSlot=Manual\n"
          "QVImproveOutput=QVLessPaperCurl\nQVColorMatching=Normal\nBrightness = - 5\n",
          "OUTPUTTRAY=OFF",
          "COLOR\n@PJL SET COLORADAPT=ON>GRAYSCALE\n@PJL SET COLORADAPT=OFF|"
          "ECONOPRINT=OFF>ECONOMODE=ON|APTMODE=ON>APTMODE=OFF|DUPLEX=OFF>DUPLEX=ON|REGULAR>BOND|"
          "MANUALFEED=OFF\n@PJL SET SOURCETRAY=AUTO\n>MANUALFEED=ON\n|"
          "@PJL SET LESSPAPERCURL=OFF>@PJL SET OUTBIN=UPPER\n@PJL SET FINISH=NONE\n"
          "@PJL SET LESSPAPERCURL=ON|COLORMODE=AUTO\n>COLORMODE=NORMAL\n"
          "@PJL SET IMPROVEGRAY=OFF\n@PJL SET UCRGCRFORIMAGE=OFF\n@PJL SET BRIGHTNESS=-5\n"
          "@PJL SET CONTRAST=0\n@PJL SET DENSITYRED=0\n@PJL SET DENSITYGREEN=0\n"
          "@PJL SET DENSITYBLUE=0\n",
          kTrailer, kGray4x3 + bytes({2, 3, 76})),  // pure red is gray 76
      // Numbers keep their low 16 bits.
      pjl("QVMonoColor=FullColor\nQVDuplex=DuplexNoTumble\nMediaType=Thicker\n"
          "InputSlot=MPTray\nQVImproveOutput=QVFixIntensity\nQVColorMatching=Vivid\nQVGray=ON\n"
          "QVEnhanceBlkPrt=ON\nContrast=20\nRedKey=-32768\nGreenKey=40000\nBlueKey=65537\n",
          "OUTPUTTRAY=off",
          "COLORADAPT=ON>COLORADAPT=OFF|DUPLEX=OFF>DUPLEX=ON|REGULAR>THICK2|"
          "TRAY=AUTO>TRAY=MPTRAY|@PJL SET LESSPAPERCURL>@PJL SET OUTBIN=AUTO\n"
          "@PJL SET LESSPAPERCURL|UP=OFF>UP=ON|COLORMODE=AUTO\n>COLORMODE=VIVID\n"
          "@PJL SET IMPROVEGRAY=ON\n@PJL SET UCRGCRFORIMAGE=ON\n@PJL SET BRIGHTNESS=0\n"
          "@PJL SET CONTRAST=20\n@PJL SET DENSITYRED=-32768\n@PJL SET DENSITYGREEN=-25536\n"
          "@PJL SET DENSITYBLUE=1\n"),
  });
}

TEST(ColourJob, PagesCopiesBlankPagesDuplexAndFailures) {
  const std::string noPixels = "ERROR:   Reading pixels failed\n" + kReady;
  const std::string page = ppmPage(2, 2, bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 7, 8, 9}));
  const auto job = [](const std::string& settings, const std::string& input) {
    return afterHeader(runJob(TestPrinter(2, 2, settings), input).out);
  };
  const std::string noTumble = "QVDuplex=DuplexNoTumble\n", turned = job(noTumble, page + page);
  ASSERT_NE(job("", page + page), turned);  // turning itself is the round trip's
  std::mt19937 rng(3);
  std::string noise;  // pages that each encode to more than a pipe holds
  for (int p = 0; p < 3; ++p) noise += ppmPage(200, 100, randomPage(rng, 200, 100));
  const std::string sent = "ERROR: Unable to send print data: ";
  const auto fails = [](std::string why, std::string settings, std::string input, std::string after,
                        std::string err, std::string shell, int status) {
    return Case{why, settings, input, after, err, shell, status};
  };
  expectJobs({
    {"headers on one line or with a comment (tokens of up to 70 characters)", "",
     "P6 4 3 255 " + in("R").substr(11) + "P6\n# c\n" + std::string(69, '0') + "4 3\n255\n" +
         in("G").substr(11),
     out("RG")},
        {"malformed second header", "", in("R") + "P7\n4 3\n255\n", out("R"), kPhase + kReady},
        {"surplus bytes: a next header", "", in("R") + "\xff", out("R"), kPhase + kReady},
        {"short page: missing lines are zero", "", ppmPage(4, 3, in("R").substr(11, 12) + "\x01"),
         "RaS2" + kRgb4x3 + bytes({0, 3, 255, 0, 0, 0, 0, 1, 0, 0, 2, 0, 0, 0, 0, 3, 0, 0, 0}) +
             kTrailer},
        {"second page without pixels", "", in("R") + ppmPage(4, 3, ""), out("R"), noPixels},
        {"first page without pixels", "", ppmPage(4, 3, ""), kTrailer, noPixels},
        {"3 copies, collate off", "Copies=3\nCollate=OFF\n", in("RG"), out("RRRGGG")},
        {"3 copies, collate on: each page once", "Copies=3\nCollate=ON\n", in("RG"), out("RG")},
        {"skipping off prints white pages", "", in("WR"), out("WR")},
        {"near white is printed", "QVSkipBlank=ON\n", in("NWW"), out("N")},
        {"every blank copy skipped", "QVSkipBlank=ON\nCopies=2\n", in("RWB"), out("RRBB")},
        {"a skipped blank page shifts the parity", noTumble + "QVSkipBlank=ON\n",
         page + ppmPage(2, 2, std::string(12, '\xff')) + page, turned},
        fails("no arguments: the binary's own failure path", "", in("R"), "",
              "Error: invalid option !!\n", "exec \"$0\"", 2),
        // A lost job is a failure: the filter stops at the first failed write.
        fails("a full disk behind the output", "Copies=2\n", noise, "",
              sent + "No space left on device\n", kExec + " >/dev/full", 1),
        fails("a reader that is gone", "Copies=2\n", noise, "", sent + "Broken pipe\nexit 1\n",
              "exec 4> >(:); wait $!; \"$0\" \"$@\" >&4 4>&-; echo exit $? >&2", 0),
        fails("no page files in a missing TMPDIR", "Copies=2\n", noise, kTrailer,
              "ERROR: Unable to create a temporay file\nERROR: Unable to create page file "
              "@dir/missing/ec_tmppage_@pid_1_: No such file or directory\n",
              "TMPDIR=$TMPDIR/missing " + kExec, 1),
#if !defined(__SANITIZE_ADDRESS__)
        // The largest page (7200 x 32767 pixels, 707 MB) under a 256 MB limit.
        fails("a page buffer that cannot be had", "", "P6\n7200 32767\n255\n", kTrailer,
              "ERROR: Insufficient memory!\n", "ulimit -v 262144; " + kExec, 1),
#endif
  });
}

// The printer and qvinspect see the input; a hash of the jobs pins the encoding.
TEST(ColourRoundTrip, RandomPages) {
  std::string jobs;
  for (std::uint32_t seed = 1; seed <= 30; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    checkRoundTrip(rng, 40, &jobs, seed <= 8);
  }
  std::uint64_t hash = 0xcbf29ce484222325;  // FNV-1a
  for (const char c : jobs) hash = (hash ^ static_cast<std::uint8_t>(c)) * 0x100000001b3;
  EXPECT_EQ(0xd906b724e8aaf05du, hash) << std::hex << hash;
}

}  // namespace
}  // namespace colourtest
