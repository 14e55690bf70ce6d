// cli.h - the parts of qvprinter's command line that PAPPL 1.3's main loop
// gets wrong for these drivers: `options` (it offers "-c" that submit
// refuses and leaves out sides, output bins and the vendor options),
// `status` (it names no printer and no job), and `submit -n` (it drops the
// copies), and `testpage`, which it does not have.
#pragma once

#include <string>
#include <vector>

namespace qvprinter {

// The command line as papplMainloop is to see it: "-n COPIES" becomes
// "-o copies=COPIES", which its submit sends.
class MainloopArgs {
 public:
  MainloopArgs(int argc, char* argv[]);
  MainloopArgs(const MainloopArgs&) = delete;
  MainloopArgs& operator=(const MainloopArgs&) = delete;
  int argc() const { return static_cast<int>(words_.size()); }
  char** argv() { return pointers_.data(); }
  // The sub-command ("" for none) and the options before or after it.
  const std::string& subcommand() const { return subcommand_; }
  const std::string* option(const char* flag) const;  // "-d" -> its value

 private:
  std::vector<std::string> words_;
  std::vector<char*> pointers_;  // words_, then nullptr
  std::string subcommand_;
};

// Runs `options`, `status` or `testpage` against the running server (through its local
// domain socket, as PAPPL's own sub-commands connect). Returns true with
// `status` set for those; false for every other sub-command, which
// papplMainloop runs.
bool runOwnSubcommand(const MainloopArgs& args, const char* program, int& status);

}  // namespace qvprinter
