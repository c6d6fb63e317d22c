#include "functional/audio/voxaim/tools_common/command_line.h"

#include <getopt.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vx_version.h"

namespace voxaim::tools {

namespace {

// getopt_long's values for the options: the letter where there is one, else
// past every char.
constexpr int kLongOnly = 1000;
constexpr int kHelp = 'h';
constexpr int kVersion = kLongOnly - 1;

int valueOf(const OptionSpec &spec, std::size_t index)
{
    return spec.letter != 0 ? spec.letter : kLongOnly + static_cast<int>(index);
}

// The option as the user wrote it, for messages: "--type", "-D". `letter` is
// getopt's optopt: the letter of a short option, 0 or a long-only value else.
std::string optionText(char **argv, int letter)
{
    const std::string given = argv[optind - 1];
    if (given.rfind("--", 0) == 0 || letter <= 0 || letter > 127)
        return given.substr(0, given.find('='));
    return std::string("-") + static_cast<char>(letter);
}

std::string formatLimit(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

} // namespace

int usageError(const Tool &tool, const std::string &message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n%s\n", tool.program, message.c_str(), tool.usage);
    return 1;
}

int failure(const Tool &tool, const std::string &message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", tool.program, message.c_str());
    return 1;
}

std::optional<CommandLine> parseCommandLine(const Tool &tool, std::span<const OptionSpec> specs, int argc, char **argv,
                                            int &status)
{
    std::string letters = "+:h"; // stop at the first operand; report a missing value as ':'
    std::vector<option> longOptions;
    for (std::size_t i = 0; i < specs.size(); ++i) {
        const OptionSpec &spec = specs[i];
        if (spec.letter != 0)
            letters += std::string(1, spec.letter) + (spec.takesValue ? ":" : "");
        if (spec.name != nullptr)
            longOptions.push_back(
                {spec.name, spec.takesValue ? required_argument : no_argument, nullptr, valueOf(spec, i)});
    }
    longOptions.push_back({"help", no_argument, nullptr, kHelp});
    longOptions.push_back({"version", no_argument, nullptr, kVersion});
    longOptions.push_back({nullptr, 0, nullptr, 0});

    CommandLine line;
    opterr = 0;
    optind = 1;
    for (int c; (c = getopt_long(argc, argv, letters.c_str(), longOptions.data(), nullptr)) != -1;) {
        if (c == kHelp) {
            std::printf("%s\n", tool.usage);
            status = 0;
            return std::nullopt;
        }
        if (c == kVersion) {
            std::printf("%s %s\n", tool.program, VX_VERSION_STRING);
            status = 0;
            return std::nullopt;
        }
        if (c == '?' || c == ':') {
            const std::string text = optionText(argv, optopt);
            status =
                usageError(tool, c == ':' ? "option '" + text + "' needs a value" : "unknown option '" + text + "'");
            return std::nullopt;
        }
        for (std::size_t i = 0; i < specs.size(); ++i) {
            if (valueOf(specs[i], i) == c)
                line.options.push_back({specs[i].id, specs[i].takesValue ? optarg : nullptr});
        }
    }
    line.operands.assign(argv + optind, argv + argc);
    return line;
}

int runTool(const Tool &tool, std::span<const OptionSpec> specs, int argc, char **argv,
            const std::function<Problem(const GivenOption &)> &option,
            const std::function<Problem(std::span<const char *const>)> &operands, const std::function<int()> &run)
{
    int status = 0;
    const std::optional<CommandLine> line = parseCommandLine(tool, specs, argc, argv, status);
    if (!line)
        return status;
    for (const GivenOption &given : line->options) {
        if (const Problem problem = option(given))
            return usageError(tool, *problem);
    }
    if (const Problem problem = operands(line->operands))
        return usageError(tool, *problem);
    return run();
}

Problem parseNumber(const char *text, const char *what, double lowest, double highest, double &value)
{
    char *end = nullptr;
    value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value))
        return std::string(what) + " takes a number, not '" + text + "'";
    if (value < lowest || value > highest)
        return std::string(what) + " " + text + " is outside " + formatLimit(lowest) + ".." + formatLimit(highest);
    return std::nullopt;
}

Problem parseCount(const char *text, const char *what, uint64_t lowest, uint64_t highest, uint64_t &value)
{
    char *end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || !std::isdigit(static_cast<unsigned char>(*text)) ||
        value < lowest || value > highest)
        return std::string(what) + " takes a whole number " +
               (highest == UINT64_MAX ? "of at least " + std::to_string(lowest)
                                      : "from " + std::to_string(lowest) + " to " + std::to_string(highest)) +
               ", not '" + text + "'";
    return std::nullopt;
}

} // namespace voxaim::tools
