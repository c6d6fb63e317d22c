#ifndef FUNCTIONAL_AUDIO_VOXAIM_TOOLS_COMMON_COMMAND_LINE_H
#define FUNCTIONAL_AUDIO_VOXAIM_TOOLS_COMMON_COMMAND_LINE_H
// The command line of the engine's tools, parsed one way for all of them:
// each tool lists its options, and gets them back in the order given, with
// the operands after them. -h/--help and --version are every tool's:
//
//   --help       the usage on standard output, status 0
//   --version    "<program> <project version>" on standard output, status 0
//
// A problem with the command line is named on standard error before the
// usage ("voxaim_render: unknown option '--x'", "voxaim_render: elevation 95
// is outside -90..90"), with status 1. Options end at the first operand.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace voxaim::tools {

// A tool's name (the prefix of its messages) and usage text (without a final
// newline).
struct Tool {
    const char *program;
    const char *usage;
};

// One option: an id of the tool's choosing, the long name ("type" for
// --type; nullptr for none), the letter ('D' for -D; 0 for none), and whether
// it takes a value.
struct OptionSpec {
    int id;
    const char *name;
    char letter;
    bool takesValue;
};

struct GivenOption {
    int id;
    const char *value; // nullptr for an option without a value
};

struct CommandLine {
    std::vector<GivenOption> options;
    std::vector<const char *> operands;
};

// Parses argv. Returns the command line to act on; or nullopt with `status`
// set once --help, --version or a problem has been answered as above.
std::optional<CommandLine> parseCommandLine(const Tool &tool, std::span<const OptionSpec> specs, int argc, char **argv,
                                            int &status);

// A usage error's message, or nullopt when all is well.
using Problem = std::optional<std::string>;

// A tool's main: parses argv, hands the options in order to `option`, then
// the operands to `operands`, and runs `run` when neither found a problem.
// Returns the exit status: run's, or that of --help, --version or the usage
// error.
int runTool(const Tool &tool, std::span<const OptionSpec> specs, int argc, char **argv,
            const std::function<Problem(const GivenOption &)> &option,
            const std::function<Problem(std::span<const char *const>)> &operands, const std::function<int()> &run);

// An option of a tool whose command line fills an `Options`: its long name
// (or nullptr), its letter (or 0), and what it does: store its value in
// `text`, set `flag` (an option without a value), or hand its value to
// `take`, which returns a usage error's message or nullopt.
template <class Options>
struct ToolOption {
    const char *name = nullptr;
    char letter = 0;
    const char *Options::*text = nullptr;
    bool Options::*flag = nullptr;
    Problem (*take)(const char *value, Options &options) = nullptr;
};

// The whole main of such a tool: its options as listed, then its operands
// to `operands`, then `run`.
template <class Options>
int runTool(const Tool &tool, std::span<const ToolOption<Options>> list, int argc, char **argv,
            Problem (*operands)(std::span<const char *const>, Options &), int (*run)(const Options &))
{
    std::vector<OptionSpec> specs;
    for (std::size_t i = 0; i < list.size(); ++i)
        specs.push_back({static_cast<int>(i), list[i].name, list[i].letter, list[i].flag == nullptr});
    Options options;
    const auto take = [&](const GivenOption &given) -> Problem {
        const ToolOption<Options> &option = list[static_cast<std::size_t>(given.id)];
        if (option.text != nullptr)
            options.*option.text = given.value;
        else if (option.flag != nullptr)
            options.*option.flag = true;
        else
            return option.take(given.value, options);
        return std::nullopt;
    };
    return runTool(
        tool, specs, argc, argv, take, [&](std::span<const char *const> given) { return operands(given, options); },
        [&] { return run(options); });
}

// "<program>: <message>" and the usage on standard error; returns 1.
int usageError(const Tool &tool, const std::string &message);

// "<program>: <message>" on standard error, after whatever standard output
// holds (the lines of the frames before the problem); returns 1.
int failure(const Tool &tool, const std::string &message);

// Values of options, checked: each returns the message of a usage error
// naming `what` ("elevation 95 is outside -90..90", "-n takes a whole number
// from 1 to 100000, not 'x'").
Problem parseNumber(const char *text, const char *what, double lowest, double highest, double &value);
Problem parseCount(const char *text, const char *what, uint64_t lowest, uint64_t highest, uint64_t &value);

} // namespace voxaim::tools

#endif
