#pragma once
// Command-line options of quirlon-render: a few of its own (--help, --list, ...) and every key of
// a job (core/Job.h) as a long option, "--width 1000" for the key "width".
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/Job.h"

namespace quirlon::cli {

struct Options {
  bool Help = false;
  bool Version = false;
  bool List = false;
  bool Verbose = false;
  bool Json = false;   // --list as JSON
  bool Quiet = false;  // no warnings
  // --batch FILE ("-": standard input) and how its jobs run.
  std::string BatchFile;
  std::int32_t Jobs = 0;  // 0: one a core
  std::int32_t ShardIndex = 1, ShardCount = 1;  // --shard K/N
  bool SkipExisting = false;
  bool Strict = false;
  // --scene FILE: its keys under the command line's own.
  std::string SceneFile;
  // The job's keys and values in the order given (a later value of a key wins).
  std::vector<std::pair<std::string, std::string>> JobValues;
  // The job they describe.
  core::TJob Job;
};

// Thrown for a usage error (exit status 2); the message is one line.
class UsageError : public std::exception {
public:
  explicit UsageError(std::string message) : fMessage(std::move(message)) {}
  const char* what() const noexcept override { return fMessage.c_str(); }

private:
  std::string fMessage;
};

// Args without the program name. A value a key does not take is a usage error naming the option.
Options ParseOptions(const std::vector<std::string>& args);
std::string HelpText();

}  // namespace quirlon::cli
