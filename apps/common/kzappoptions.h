// The programs' command lines, read the same way everywhere: a table of
// options per program or subcommand, "-h"/"--help" answered with the usage
// on stdout, unknown options reported as unknown, and one set of exit codes.
#pragma once
#include <map>
#include <span>
#include <string>
#include <vector>

namespace kzapp {

// Exit codes of every program.
constexpr int kzExitDone = 0;         // done
constexpr int kzExitFailed = 1;       // failed; the reason is printed
constexpr int kzExitUsage = 2;        // the command line is wrong; the reason and the usage are printed
constexpr int kzExitInterrupted = 130;  // stopped by Ctrl-C or SIGTERM after printing the summary

// One option of a command line: "--name VALUE" (or "--name=VALUE"), or a
// flag "--name" when Value is null.
struct TKzOption {
  const char* Name;   // with its dashes: "--seconds"
  const char* Value;  // what the value is, for the usage ("S"); null for a flag
  const char* Help;   // one line for the usage
};

// What a command line says. Values holds the options given (a flag maps to
// an empty value; a repeated option keeps its last value).
struct TKzArgs {
  bool Help = false;
  std::string Error;  // why the command line is wrong; empty when it is fine
  std::map<std::string, std::string> Values;
  std::vector<std::string> Positional;
  std::map<std::string, std::vector<std::string>> Repeated;  // every value of an option given more than once

  bool Has(const std::string& Name) const { return Values.count(Name) != 0; }
  std::string Get(const std::string& Name, const std::string& Default = {}) const;
  // Reads option Name as a number in [Min, Max]; false (with Error set) when
  // it is given and is not one. Out keeps its value when the option is absent.
  bool Number(const std::string& Name, double& Out, double Min, double Max);
};

// Reads Args (the words after the program or subcommand name) against
// Options. "-h" or "--help" anywhere sets Help; "--" ends the options.
TKzArgs KzParseArgs(const std::vector<std::string>& Args, std::span<const TKzOption> Options);

// "usage: Program Synopsis", then one line per option, then Footer.
std::string KzUsageText(const std::string& Program, const std::string& Synopsis, std::span<const TKzOption> Options,
                        const std::string& Footer = {});

// The end of every command-line reading: with Help, prints Usage on stdout
// and returns kzExitDone; with an error, prints "Program: error" and Usage
// on stderr and returns kzExitUsage; otherwise returns -1 (carry on).
int KzArgsOutcome(const TKzArgs& Args, const std::string& Program, const std::string& Usage);

}  // namespace kzapp
