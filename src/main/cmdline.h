// The daemon's command line: the option table, a parser with the behaviour of the
// usual two-pass option parsers (options anywhere, "--" ends them, "--name=value" or
// "--name value" for a required argument), and the usage printer.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

enum OptionIndex {
    OPT_UNKNOWN = 0,
    OPT_HELP = 1,
    OPT_VERSION = 2,
    OPT_LOG_PATH = 3,
    OPT_LOG_LEVEL = 4,
    OPT_UNIT_TEST = 5
};

struct ParsedOption {
    OptionIndex index = OPT_UNKNOWN;
    std::string text;  // the option as typed, e.g. "--log-level=debug", "-h"
    std::string name;  // the option's name part, e.g. "--log-level"
    std::string arg;   // its argument (options with a required argument)
};

struct CommandLine {
    std::vector<ParsedOption> options;  // in command-line order
    std::vector<std::string> non_options;
};

// Parses ARGV[1..ARGC-1]. A required argument that is missing prints
// "Option %s requires an argument\n" on ERR and makes the parse fail (false).
bool parse_command_line(int argc, const char* const* argv, CommandLine& out, FILE* err);

// The usage text from the option table, laid out for WIDTH columns: the description
// column starts two blanks after the widest option column and is word-wrapped; it moves
// to a line of its own when the option column would take more than 75 per cent.
std::string usage_text(int width = 80);
