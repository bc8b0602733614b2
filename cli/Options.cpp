#include "cli/Options.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "core/SceneFile.h"
#include "core/Turntable.h"
#include "imagefiles/OutputWriters.h"
#include "imagefiles/Picture.h"

namespace quirlon::cli {
namespace {

// Options of the command line itself; everything else is a key of the job.
struct TOwnOption {
  std::string_view Name;
  std::string_view Argument;  // empty for a switch
  void (*Set)(Options&, const std::string& value);
};

std::int32_t WholeNumber(const std::string& option, const std::string& text, std::int32_t min, std::int32_t max) {
  try {
    return core::ParseWholeNumber(option, text, min, max);
  } catch (const core::EJobValue& e) {
    throw UsageError(e.what());
  }
}

constexpr TOwnOption kOwnOptions[] = {
    {"--help", "", [](Options& o, const std::string&) { o.Help = true; }},
    {"--version", "", [](Options& o, const std::string&) { o.Version = true; }},
    {"--list", "", [](Options& o, const std::string&) { o.List = true; }},
    {"--verbose", "", [](Options& o, const std::string&) { o.Verbose = true; }},
    {"--json", "", [](Options& o, const std::string&) { o.Json = true; }},
    {"--quiet", "", [](Options& o, const std::string&) { o.Quiet = true; }},
    {"--batch", "FILE",
     [](Options& o, const std::string& v) {
       if (v.empty()) throw UsageError("--batch needs a file name (or - for standard input)");
       o.BatchFile = v;
     }},
    {"--scene", "FILE",
     [](Options& o, const std::string& v) {
       if (v.empty()) throw UsageError("--scene needs a file name");
       o.SceneFile = v;
     }},
    {"--jobs", "N", [](Options& o, const std::string& v) { o.Jobs = WholeNumber("--jobs", v, 1, 256); }},
    {"--shard", "K/N",
     [](Options& o, const std::string& v) {
       const auto slash = v.find('/');
       const std::string bad = "--shard takes K/N with 1 <= K <= N, such as 2/8, not '" + v + "'";
       if (slash == std::string::npos) throw UsageError(bad);
       try {
         o.ShardCount = WholeNumber("--shard", v.substr(slash + 1), 1, 1000000);
         o.ShardIndex = WholeNumber("--shard", v.substr(0, slash), 1, o.ShardCount);
       } catch (const UsageError&) {
         throw UsageError(bad);
       }
     }},
    {"--skip-existing", "", [](Options& o, const std::string&) { o.SkipExisting = true; }},
    {"--strict", "", [](Options& o, const std::string&) { o.Strict = true; }},
};

std::string SlotOptionNames() {
  std::string names;
  for (const core::TSlotInfo& info : core::kSlots) names += (names.empty() ? "" : ", ") + std::string(info.Option);
  return names;
}

void ApplyValue(Options& o, const std::string& key, const std::string& value) {
  try {
    core::ApplyJobValue(o.Job, key, value);
  } catch (const core::EJobValue& e) {
    throw UsageError("--" + e.Key() + e.Detail());
  }
  o.JobValues.emplace_back(key, value);
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& args) {
  Options o;
  bool sawOutput = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool inlineValue = false;
    if (name == "-o") name = "--output";
    else if (name == "-t") name = "--template";
    else if (name == "-h") name = "--help";
    else if (name.rfind("--", 0) == 0) {
      const auto eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name = name.substr(0, eq);
        inlineValue = true;
      }
    } else {
      throw UsageError("unexpected argument '" + name + "' (see --help)");
    }
    bool own = false;
    for (const TOwnOption& option : kOwnOptions)
      if (option.Name == name) {
        if (option.Argument.empty() && inlineValue) throw UsageError(name + " takes no value");
        if (!option.Argument.empty() && !inlineValue) {
          if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
          value = args[++i];
        }
        option.Set(o, value);
        own = true;
      }
    if (own) continue;
    // "--source SLOT=VALUE" is the slot's key by another name.
    const bool source = name == "--source";
    const core::TJobKey* key = source ? nullptr : core::FindJobKey(std::string_view(name).substr(2));
    if (!source && (key == nullptr || name.size() < 3)) throw UsageError("unknown option '" + name + "' (see --help)");
    const bool takesValue = source || key->Kind != core::TJobKeyKind::Switch;
    if (takesValue && !inlineValue) {
      if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
      value = args[++i];
    } else if (!takesValue && inlineValue) {
      throw UsageError(name + " takes no value");
    }
    if (source) {
      const auto eq = value.find('=');
      if (eq == std::string::npos || eq == 0 || eq + 1 == value.size())
        throw UsageError(name + " takes SLOT=VALUE, not '" + value + "'");
      const std::string slotName = value.substr(0, eq);
      const core::TSlotInfo* slot = core::FindSlot(core::SourceSlotIndex(slotName));
      if (slot == nullptr) throw UsageError("unknown slot '" + slotName + "' (" + SlotOptionNames() + ")");
      ApplyValue(o, std::string(slot->Option), value.substr(eq + 1));
      continue;
    }
    if (key->Name == "output") {
      sawOutput = true;
      if (value.empty()) throw UsageError("--output needs a file name");
    }
    ApplyValue(o, std::string(key->Name), takesValue ? value : "1");
  }
  if (!o.SceneFile.empty()) {
    if (!o.BatchFile.empty()) throw UsageError("--scene cannot be given with --batch: a row can name its own keys");
    // The scene's keys first, then the command line's over them, wherever --scene stood.
    const std::vector<core::TBatchCell> cells = core::ReadSceneFile(o.SceneFile);
    core::TJob job;
    core::ApplySceneCells(job, cells, o.SceneFile);
    for (const auto& [key, value] : o.JobValues) core::ApplyJobValue(job, key, value);
    o.Job = std::move(job);
    for (const core::TBatchCell& cell : cells) sawOutput = sawOutput || (cell.Key == "output" && !cell.Value.empty());
  }
  if (!o.BatchFile.empty() && sawOutput)
    throw UsageError("-o cannot be given with --batch: every row names its own output");
  const bool batchOnly = o.Jobs != 0 || o.ShardCount != 1 || o.SkipExisting || o.Strict;
  if (o.Json && !o.List) throw UsageError("--json goes with --list");
  if (o.BatchFile.empty() && batchOnly)
    throw UsageError("--jobs, --shard, --skip-existing and --strict go with --batch FILE");
  if (!o.Help && !o.Version && !o.List && o.BatchFile.empty() && !sawOutput && o.Job.Product.SaveTemplate.empty() &&
      o.Job.Turntable.FramesFolder.empty())
    throw UsageError("-o FILE or --save-template FILE is required (see --help)");
  try {
    core::CheckTurntableJob(o.Job);
  } catch (const core::EJobValue& e) {
    throw UsageError("--" + e.Key() + e.Detail());
  }
  if (sawOutput && o.Job.Turntable.Frames == 0) {
    // The format is settled before anything is rendered.
    try {
      core::OutputFormatOfJob(o.Job.Output);
    } catch (const core::EJobValue& e) {
      throw UsageError("--" + e.Key() + e.Detail());
    }
  }
  return o;
}

std::string HelpText() {
  std::string text = R"(Usage: quirlon-render -o FILE [options]
       quirlon-render --product KIND [--size WxHxD] -o FILE [options]
       quirlon-render --product KIND --turntable N -o FILE.webp|.png|.gif [options]
Renders a box shot from a template, or from a product's dimensions, and saves it as PNG, JPEG,
WebP, TIFF or BMP.

)";
  auto line = [&](const std::string& left, std::string_view help) {
    std::string l = left;
    if (l.size() < 30) l.resize(31, ' ');
    else l += "  ";
    std::string body(help);
    for (std::size_t at = body.find('\n'); at != std::string::npos; at = body.find('\n', at + 1))
      body.insert(at + 1, std::string(31, ' '));
    text += l + body + "\n";
  };
  std::string_view section;
  for (const core::TJobKey& key : core::JobKeys()) {
    if (key.Section != section) {
      section = key.Section;
      text += "\n" + std::string(section) + ":\n";
    }
    const std::string shortForm = key.Name == "output" ? "  -o, " : key.Name == "template" ? "  -t, " : "      ";
    std::string left = shortForm + "--" + std::string(key.Name);
    if (!key.Argument.empty()) left += " " + std::string(key.Argument);
    std::string help(key.Help);
    if (key.Name == "output")
      help += "; its extension names the format:\n" + imagefiles::OutputExtensionList() +
              ";\n- writes to standard output (see --format);\na device or a FIFO is written to, never replaced";
    line(left, help);
    if (key.Name == "background")
      line("      --source SLOT=VALUE", "the same for any slot (repeatable); SLOT is one of\n" + SlotOptionNames() +
                                            ";\nVALUE is a file, \"#RRGGBB\" or a colour text such as clRed or $0000FF");
  }
  text += "\n";
  line("      --batch FILE", "render every row of FILE (- for standard input): CSV with a\n"
       "header row, or JSON Lines; the columns are the keys above without\n"
       "their dashes; options given here apply to every row, a row's own\n"
       "values win; relative paths are relative to FILE's folder");
  line("      --scene FILE", "render the scene FILE saved by the window: one JSON object of the\n"
       "keys above; options given here override its values; relative\n"
       "paths are relative to FILE's folder");
  line("      --jobs N", "jobs rendered at once, 1..256 (default: one a core)");
  line("      --shard K/N", "only the rows i (from 0) with i mod N = K-1, so that N machines\n"
       "share one file");
  line("      --skip-existing", "skip a row whose output is newer than its template and pictures");
  line("      --strict", "any bad row stops the batch before anything is rendered");
  line("      --list", "print \"N<TAB>display name<TAB>slots\" for every template and exit;\n"
       "slots are the sources it shows, such as front,side,top");
  line("      --json", "with --list: a JSON array of {\"number\", \"name\", \"slots\"}");
  line("      --quiet", "no warnings (a source the template does not show, a slot it\n"
       "shows left at its default colour, a picture of other proportions\nthan its face)");
  line("      --verbose", "say what was written");
  line("      --version", "print the version and exit");
  line("  -h, --help", "print this help and exit");
  text += R"(
Every option listed before --batch is also a key of batch files, scene files and the render
service: its name without the dashes ("width", "front").

Exit status: 0 success, 1 rendering, loading or saving failed (with --batch: any row failed),
2 usage error.
)";
  return text;
}

}  // namespace quirlon::cli
