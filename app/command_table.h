// The command-line options: one table of name, argument count and handler,
// and the dispatcher that runs exactly one of them.
#pragma once

#include <string>
#include <vector>

namespace dovrane::app {

// What an operation gets from the command line (Windows-1252 texts).
struct CommandArgs {
  std::string padded_name;  // the project name padded to 50 blanks (project forms)
  std::string argument;     // the host, output file, path or number; "" when absent
};
using CommandHandler = int (*)(const CommandArgs& args);

enum class CommandForm {
  kProject,  // prj_name option [argument]
  kOption,   // option argument
};

struct Command {
  const char* option;
  int argc;  // entries including the program
  CommandForm form;
  bool clears_interactive;
  CommandHandler run;
};

// The option table, in the order the dispatcher compares the options.
const std::vector<Command>& CommandTable();

// Runs one command for the argument vector (entry 0 the program). Returns the
// operation's result; an unknown form ends in PrintUsage (status 22).
[[nodiscard]] int DispatchCommandLine(const std::vector<std::string>& argv);

// The usage text: "usage:\n" and one line per documented form.
std::string UsageText();
// Shows the usage text with ToolMessageBox of kind (0 warning, 1 error), shuts
// the library down and ends the process with status 22.
[[noreturn]] void PrintUsage(int kind);

// The name's characters, then blanks up to 50 characters.
std::string PadProjectName(const std::string& name);
inline constexpr size_t kProjectNameLength = 50;

// The main window, when this program has one; set by the window code.
using DialogRunner = int (*)();
void SetDialogRunner(DialogRunner runner);
[[nodiscard]] int RunDialogMode();

// Handlers that later parts of the program attach to their table rows.
void SetCommandHandler(const char* option, int argc, CommandHandler handler);

}  // namespace dovrane::app
