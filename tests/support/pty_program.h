// Runs a program of ours on a pseudo-terminal, so that it can ask questions,
// and types the given answer lines into it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/run_program.h"

namespace dovrane::testing {

// As RunProgram, with standard input, output and error on one terminal; the
// answer text is typed once the program waits for input. `out` gets all the
// terminal showed.
ProgramResult RunProgramOnTerminal(const std::string& path, const std::vector<std::string>& args,
                                   const std::string& answer, const std::map<std::string, std::string>& env = {},
                                   const std::string& cwd = "");

}  // namespace dovrane::testing
