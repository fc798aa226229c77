// A program of ours running beside the test (one that may hang on a share):
// its output goes to files, the test looks whether it has ended, waits for
// it with a time limit, or kills it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/temp_dir.h"

namespace dovrane::testing {

class BackgroundProgram {
 public:
  BackgroundProgram(const std::string& path, const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env, const std::string& cwd);
  // Kills a program still running, and waits for it.
  ~BackgroundProgram();
  BackgroundProgram(const BackgroundProgram&) = delete;
  BackgroundProgram& operator=(const BackgroundProgram&) = delete;

  bool Running();
  // Waits at most timeout_ms; true when it ended (result() then holds its status and output).
  bool Wait(int timeout_ms);
  void Kill();
  // Sends sig to the program.
  void Signal(int sig);
  const ProgramResult& result();
  // Milliseconds from the start to the end seen by Running or Wait.
  long elapsed_ms() const { return elapsed_ms_; }

 private:
  void Ended(int status);
  TempDir dir_;
  int pid_ = -1;
  long start_ms_ = 0;
  long elapsed_ms_ = -1;
  ProgramResult result_;
};

}  // namespace dovrane::testing
