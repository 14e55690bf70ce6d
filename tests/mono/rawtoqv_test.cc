// rawtoqv_test.cc - settings and paper files, the entry in process, the binary.
#include "tests/mono/mono_test_util.h"

namespace {

using namespace monotest;
using namespace std::string_literals;

// settings file | result | field | its value
TEST(GetRcFile, KeyLinesSectionsAndRefusals) {
  using S = PrintSettings;
  const std::map<std::string, std::int32_t S::*> fields = {
      {"copies", &S::copies},         {"sleep", &S::sleep},           {"paper", &S::paperType},
      {"resolution", &S::resolution}, {"duplexType", &S::duplexType}, {"tonerSave", &S::tonerSave}};
  for (const auto& row : tableRows(R"(
# copies 1 to 999; an unknown paper word resets the type; a line over 1023 characters goes on
[QV]\nCopies=5\nCopies=0 | 0 | copies | 5
[QV]\nCopies=12abc | 0 | copies | 12
[QV]\nCopies=4294967298 | 0 | copies | 0
[QV]\nSleep=30\nSleep=PrinterDefault | 0 | sleep | 0
[QV]\nSleep=30\nSleep=100 | 0 | sleep | 30
[QV]\nPaperType=A4\nPaperType=a4 | 0 | paper | 0
[QV]\n Paper Type = A 4\t | 0 | paper | 1
[QV]\nresolution=300 | 0 | resolution | 0
[QV]\nDuplexType=None | 0 | duplexType | 1
[QV]\nColour=Red\nCopies 7\nCopies=2 | 0 | copies | 2
[QV]\nLONG Copies=4 | 0 | copies | 4
# sections: one, before every key line; comments alone leave every code 0
\t# printer\n\n   \n# Copies=9 | 0 | tonerSave | 0
Copies=2\n[QV] | -1 | section |
[QV]\n[QV] | -1 | section | QV
[]\nCopies=2 | 0 | copies | 2
\r\n[QV] | -1 | section |
 | 0 | section |
[ QV-Mono ]extra | 0 | section | QV-Mono
[nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn] | 0 | section | nnnnnnnnnnnnnnnnnnnnnnn)")) {
    SCOPED_TRACE(row[0]);
    std::string text = row[0];
    if (const std::size_t at = text.find("LONG "); at != std::string::npos)
      text.replace(at, 5, "#" + std::string(1022, 'x'));
    PrintSettings settings = {};
    const qv::UniqueFile rc = fileWith(text + "\n");
    EXPECT_EQ(row[1] == "0" ? Status::kOk : Status::kInvalid, getRcFile(rc.get(), &settings));
    EXPECT_EQ(row.size() > 3 ? row[3] : "", row[2] == "section"
                                                ? settings.sectionName
                                                : std::to_string(settings.*fields.at(row[2])));
  }
  // No file, or a directory (it opens on Linux, but every read fails).
  PrintSettings settings = {};
  const qv::UniqueFile directory(std::fopen("/", "r"));
  EXPECT_TRUE(getRcFile(nullptr, &settings) == Status::kInvalid &&
              getRcFile(directory.get(), &settings) == Status::kInvalid);
}

// paper file | paper code | result | width x height (-1: unchanged)
TEST(GetPaperInf, LooksUpThePaperByName) {
  for (const auto& row : tableRows(R"(
# names are prefixes: A4L matches A4; the first matching line wins, with its height or not at all
A4L\t6614\t4677\nA4\t4960\t7016 | 1 | 0 | 6614x4677
A4\nA4L\t6614\t4677 | 1 | 1 | -1x-1
NULL\t10\t20 | 0 | 0 | 10x20
A4\t4960\t7016 | 37 | 1 | -1x-1
garbage\n\n#A4\nCUSTOM3\t3000\t4000 | 30 | 0 | 3000x4000
 | 1 | 1 | -1x-1)")) {
    SCOPED_TRACE(row[0]);
    const qv::UniqueFile file = fileWith(row[0] + "\n");
    std::int32_t width = -1, height = -1;
    EXPECT_EQ(std::stoi(row[2]), getPaperInf(file.get(), std::stoi(row[1]), width, height));
    EXPECT_EQ(row[3], std::to_string(width) + "x" + std::to_string(height));
  }
  std::int32_t width = -1, height = -1;
  EXPECT_EQ(-1, getPaperInf(nullptr, 1, width, height));
  // The shipped paper file gives a size for every paper name, A4 unshadowed.
  for (std::int32_t code = QV_COMMAND_VALUE_PT_COUNT - 1; code > 0; --code) {
    const qv::UniqueFile file(std::fopen(QV_SOURCE_DIR "/samples/mono/paperinf", "r"));
    EXPECT_EQ(0, getPaperInf(file.get(), code, width, height)) << QV_COMMAND_VALUE_PT[code];
    EXPECT_TRUE(width > 0 && height > 0);
  }
  EXPECT_EQ(std::pair(4960, 7016), std::pair(width, height));
}

class RawtoqvEntry : public testing::Test {
 protected:
  RawtoqvEntry() {
    for (const std::string& rc : {dir_.file("rc"), expand("@longrc")})
      qvtest::writeFile(rc, "[QV]\nPaperType=A4\n");
    qvtest::writeFile(dir_.file("pi"), "A4\t4960\t7016\n");
  }
  ~RawtoqvEntry() override {
    for (const char* name : qvtest::kFilterVariables) ::unsetenv(name);
  }

  // "@name" a scratch file, "@:<text>" a new one holding <text>, "@longrc" a settings file of
  // 254 path characters, "@long" a 256-character path, "@<n>x<text>" <text> n times.
  std::string expand(const std::string& word) {
    if (word.starts_with("@:")) {
      qvtest::writeFile(dir_.file(std::to_string(++files_)), word.substr(2));
      return dir_.file(std::to_string(files_));
    }
    if (word == "@longrc") return dir_.file(std::string(254 - dir_.path().size() - 1, 'r'));
    if (word == "@long") return "/" + std::string(255, 'p');
    if (word.size() > 2 && word[0] == '@' && std::isdigit(word[1])) {
      std::string out;
      for (int n = std::stoi(word.substr(1)); n > 0; --n) out += word.substr(word.find('x') + 1);
      return out;
    }
    return word.starts_with('@') ? dir_.file(word.substr(1)) : word;
  }

  // The entry (or its settings part) on `args` (NAME=value sets a variable).
  int run(const std::string& args, bool prepareOnly = false) {
    for (const char* name : qvtest::kFilterVariables) ::unsetenv(name);
    std::vector<std::string> words = {"rawtoqv"};
    for (std::size_t at = 0, end = 0, equals; at < args.size(); at = end + 1) {
      const std::string word =
          args.substr(at, (end = std::min(args.find(' ', at), args.size())) - at);
      if (equals = word.find('='); std::isupper(word[0]) && equals != std::string::npos)
        ::setenv(word.substr(0, equals).c_str(), expand(word.substr(equals + 1)).c_str(), 1);
      else if (!word.empty())
        words.push_back(expand(word));
    }
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    qv::UniqueFile in = fileWith(std::string(620, '\0')), out(std::tmpfile());
    qv::UniqueFd owner;
    PageSource input{::fileno(in.get())};
    const int argc = static_cast<int>(words.size());
    argv.push_back(nullptr);
    testing::internal::CaptureStderr();
    const int status = prepareOnly
                           ? static_cast<int>(prepareRawtoqvJob(argc, argv.data(), settings_, owner,
                                                                input, commandLineEnv()))
                           : runRawtoqv(argc, argv.data(), input, out.get(), commandLineEnv());
    err_ = testing::internal::GetCapturedStderr();
    out_.resize(static_cast<std::size_t>(std::ftell(out.get())));
    std::rewind(out.get());
    out_.resize(std::fread(out_.data(), 1, out_.size(), out.get()));
    return status;
  }

  // rawtoqv on a page and a byte short of another, after `redirect`, output through a pipe.
  qvtest::ProgramResult runBinary(const std::string& redirect, std::vector<std::string> args = {}) {
    qvtest::writeFile(dir_.file("in"), std::string(2 * 620 * 7016 - 1, '\0'));
    args.insert(
        args.begin(),
        {"-c",
         "set -o pipefail; (" + redirect + "; exec \"$0\" \"$@\" <" + dir_.file("in") + ") | cat",
         RAWTOQV_PATH, "-rc",
         expand("@:[QV]\nPaperSource=Tray1\nPaperType=A4\nTonerSaveMode=OFF\n"), "-pi",
         dir_.file("pi")});
    return qvtest::runProgram({"/bin/bash", args, {}, {}});
  }

  qvtest::ScopedTempDir dir_;
  std::string err_, out_;
  PrintSettings settings_{};
  int files_ = 0;
};

// args | exit status | message ("@name" in it is the file's path)
TEST_F(RawtoqvEntry, RefusedJobsSendNothing) {
  for (const auto& row : tableRows(R"(
# no arguments: the empty settings path; the environment never stands in
 | 1 | Error:  :cannot open file !!
-rc @rc -pi @pi -owner a -owner a -owner a -owner a -owner a -owner a x | 2 | Error: invalid option !!
-rc @rc @pi second | 2 | Error: second :invalid option !!
-rc @rc @missing | 1 | Error: @missing :cannot open file !!
-rc @:Copies=2\n[QV]\n -pi @pi | 2 | Error: invalid option !!
-rc @longrc -pi @pi | 2 | Error: invalid option !!
-rc @rc | 1 | Error: paperinf :cannot open file !!
-rc @:[QV]\nPaperType=Letter\n -pi @pi | 2 | Error: invalid option !!
-rc @rc -pi @:A4\t4960\nA4L\t6614\t4677\n | 2 | Error: invalid option !!
-rc | 2 | Error: -rc :invalid option !!
-rc @long | 2 | Error: -rc :invalid option !!
-rc @rc -ps 0x7016 | 2 | Error: -ps :invalid option !!
-rc @:[QV]\nPaperType=A4\nResolution=1200\n -ps 4960x16384 | 2 | Error: -ps :invalid option !!
-rc @:[QV]\nPaperType=A4\nResolution=300\n -ps 1x1 | 2 | Error: -ps :invalid option !!
-rc @rc -pi @:A4\t0\t7016\n | 2 | Error: invalid option !!
-rc @rc -pi @:A4\t4960\t40000\n | 2 | Error: invalid option !!
-rc @rc -pi @:A4\t32768\t7016\n | 2 | Error: invalid option !!)")) {
    SCOPED_TRACE(row[0]);
    EXPECT_EQ(std::stoi(row[1]), run(row[0] + " OWNER=alice TITLE=t"));
    std::string err = row[2];
    if (const std::size_t at = err.find('@'); at != std::string::npos) {
      const std::size_t end = err.find(' ', at);
      err.replace(at, end - at, expand(err.substr(at, end - at)));
    }
    EXPECT_EQ(err + "\n", err_);
    EXPECT_EQ("", out_) << "a refused job must send the printer nothing";
  }
  // The 253-character limit on the settings path applies only without -func; 17 words pass.
  EXPECT_EQ(0, run("-func f -rc @longrc -pi @pi -owner a -owner a -owner a -owner a -owner a"));
  EXPECT_TRUE(out_.starts_with("\x1b%-12345X@PJL\n"));
}

// args | environment | field | value
TEST_F(RawtoqvEntry, WhatTheCommandLineAndEnvironmentSet) {
  for (const auto& row : tableRows(R"(
# the key: four digits, missing or non-digits as 0; the variable as it is
-password 12 | | password | 1200
-password 1a3456 | | password | 1034
 | PASSWORD=abcdefgh | password | abcdefg
 | PASSWORD=ab\ncd | password | ab
-flags 123 -flags 4 | | flags | 42100000000000000000000000000000
-flags 0123456789abcdef0123456789ABCDEF01234567 | | flags | FEDCBA9876543210fedcba9876543210
# texts: the option wins, an empty one lets the variable fill; cut lengths; they stop at CR, LF
# or ESC; UTF-8 titles end at whole characters; EUC titles are converted with -enable-euf or flag 3/1
-owner @100xo | | owner | @63xo
 | NODENAME=@300xo | node | @78xo
-jobname @300xo | | title | @78xo
-owner alice | OWNER=bob | owner | alice
 | TMPDIR=/var/spool/q | tmpdir | /var/spool/q
-owner alice\rbob | | owner | alice
-jobname R~%-12345X | | title | R
 | TITLE=a\n@PJL | title | a
 | CHARSET=@100xo | charset | @63xo
-jobname @30xあ | | title | @26xあ
-jobname abあ\xe3\x81 | | title | abあ
-jobname abc\xff | CHARSET=UTF-8 | title | abc\xff
-enable-euf YeS | CHARSET=euc-jp TITLE=\xa4\xa2\xa4\xa4 | title | あい
-flags f000 | CHARSET=euc-jp TITLE=\xa4\xa2\xa4\xa4 | title | あい
-offset 65596 | | offset | 65596
-offset 99999999999 | | offset | 2147483647
-ps 4962x7016 | | size | 4962x7016 4962x7016
-ps 4962 | | size | 4960x7016 4960x7016
# sizes from -ps, else from the paper file, scaled to the resolution
-rc @:[QV]\nPaperType=A4\nResolution=300\n -ps 4961x7017 | | size | 2480x3508 2480x3508
-rc @:[QV]\nPaperType=A4\nResolution=600x300\n | | size | 4960x3508 4960x3508
-rc @:[QV]\nPaperType=A4\nResolution=NoSuchMode\n | | size | 4960x7016 4960x7016
-rc @:[QV]\nPaperType=A4\nResolution=1200\n -ps 16383x16383 | | size | 32766x32766 32766x32766)")) {
    SCOPED_TRACE(row[0] + " | " + row[1]);
    ASSERT_EQ(0, run("-rc @rc -pi @pi " + row[0] + " " + row[1], true));
    const PrintSettings& s = settings_;
    const std::string size = std::to_string(s.width) + "x" + std::to_string(s.height) + " " +
                             std::to_string(s.paperWidth) + "x" + std::to_string(s.paperHeight);
    const std::string offset = std::to_string(s.arg_offset), flags(s.cflags, sizeof s.cflags);
    const std::map<std::string, std::string> fields = {
        {"password", s.password}, {"owner", s.owner},     {"title", s.jobName},
        {"node", s.nodeName},     {"charset", s.charset}, {"tmpdir", s.tmpDir},
        {"size", size},           {"offset", offset},     {"flags", flags}};
    EXPECT_EQ(expand(row.size() > 3 ? row[3] : ""), fields.at(row[2]));
  }
}

// A blank A4 page: 6816 blank records, 53 blocks of 128 and one of 32; the short second page
// is dropped. A job lost for memory, to a full disk or a gone reader fails, a status each.
TEST_F(RawtoqvEntry, BinarySmokeBlankPageAndLostJobs) {
  const qvtest::ProgramResult smoke = runBinary(":");
  std::string page = "\x1b*b1030m";
  for (int block = 0; block < 53; ++block) page += "130w\x00\x80"s + std::string(128, '\xff');
  page += "34w\x00\x20"s + std::string(32, '\xff') + "1030M\f";
  EXPECT_TRUE(smoke.status == 0 && smoke.err.empty());
  EXPECT_EQ(kGoldenHeader + page + kTrailer, smoke.out);
#if !defined(__SANITIZE_ADDRESS__)  // address-space limits and its shadow memory do not mix
  const qvtest::ProgramResult unallocated = runBinary("ulimit -v 65536", {"-ps", "32767x32767"});
  EXPECT_EQ(std::tuple(3, "Error: cannot allocate memory !!\n"s, ""s),
            std::tuple(unallocated.status, unallocated.err, unallocated.out));
#endif
  for (const std::string redirect : {"exec >/dev/full", "exec 4> >(:); wait $!; exec >&4 4>&-"}) {
    const qvtest::ProgramResult result = runBinary(redirect);
    EXPECT_EQ(std::pair(4, "Error: cannot write output !!\n"s),
              std::pair(result.status, result.err))
        << redirect;
  }
  // Sorted copies that cannot be made fail: a copy file cut by a full disk leaves the job sent
  // once with its trailer; a TMPDIR that is no directory, nothing sent.
  const std::string sorter3 = expand("@:[QV]\nPaperType=A4\nOutputBin=Sorter3\n");
  const qvtest::ProgramResult cut =
      runBinary("unset TMPDIR; ulimit -f 4; trap '' XFSZ", {"-rc", sorter3});
  EXPECT_EQ(std::pair(6,
                      "ERROR: Writing the sorted copies to a temporary file in /tmp failed, "
                      "just ONE copy was printed!\n"s),
            std::pair(cut.status, cut.err));
  EXPECT_TRUE(cut.out.ends_with("1030M\f" + kTrailer) &&
              cut.out.find("@PJL SET COPY=2") == std::string::npos);
  const std::string none = dir_.file("none");
  const qvtest::ProgramResult nowhere = runBinary("export TMPDIR=" + none, {"-rc", sorter3});
  EXPECT_EQ(
      std::tuple(5, "ERROR: Unable to create a temporary file in " + none + " for sorted copies\n",
                 ""s),
      std::tuple(nowhere.status, nowhere.err, nowhere.out));
}

// A host that reads the input itself (no descriptor) gets the bytes of the job the program
// reads from a file. Its reporter gets every message, standard error nothing; a cancel before
// the first page gives the job without pages.
TEST_F(RawtoqvEntry, AHostsOwnReaderReporterAndCancel) {
  std::mt19937 rng(11);
  std::string job(3 * 300 * 3000 + 123457, '\0');
  std::ranges::generate(job, [&rng] { return static_cast<char>(rng() & rng() & rng()); });
  qvtest::writeFile(dir_.file("job"), job);
  std::vector<std::string> args = {"-rc", dir_.file("rc"), "-ps", "2400x3000"};
  const qvtest::ProgramResult file = qvtest::runProgram(
      {RAWTOQV_PATH, {args[0], args[1], args[2], args[3], dir_.file("job")}, {}, {}});
  EXPECT_TRUE(file.status == 0 && file.err.empty() && file.out.ends_with("1030M\f" + kTrailer));
  args.insert(args.begin(), "rawtoqv");
  std::vector<char*> argv;
  for (std::string& word : args) argv.push_back(word.data());
  std::vector<std::string> reports;
  qv::JobEnv env{[](void* to, qv::ReportLevel, std::string_view text) {
                   static_cast<std::vector<std::string>*>(to)->emplace_back(text);
                 },
                 nullptr, &reports};
  const auto run = [&](std::FILE* out, bool cancelled) {
    const qv::UniqueFile in(fmemopen(job.data(), job.size(), "r"));
    const PageSource reader{-1,
                            [](void* from, std::span<std::uint8_t> bytes) {
                              return std::fread(bytes.data(), 1, bytes.size(),
                                                static_cast<std::FILE*>(from));
                            },
                            in.get()};
    env.isCancelled = cancelled ? +[](void*) { return true; } : nullptr;
    return runRawtoqv(static_cast<int>(argv.size()), argv.data(), reader, out, env);
  };
  testing::internal::CaptureStderr();
  for (const bool cancelled : {false, true}) {
    const qv::UniqueFile out(std::tmpfile());
    EXPECT_EQ(0, run(out.get(), cancelled));
    std::string bytes(static_cast<std::size_t>(std::ftell(out.get())), '\0');
    std::rewind(out.get());
    EXPECT_EQ(bytes.size(), std::fread(bytes.data(), 1, bytes.size(), out.get()));
    EXPECT_EQ(cancelled ? file.out.substr(0, file.out.find("\x1b*b1030m")) + kTrailer : file.out,
              bytes);
  }
  const qv::UniqueFile full(std::fopen("/dev/full", "w"));
  EXPECT_EQ(4, run(full.get(), false));
  std::string missing = dir_.file("missing");
  argv[2] = missing.data();
  EXPECT_EQ(1, run(full.get(), false));
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
  EXPECT_EQ((std::vector<std::string>{"Error: cannot write output !!",
                                      "Error: " + missing + " :cannot open file !!"}),
            reports);
}

}  // namespace
