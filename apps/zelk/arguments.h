// Option checks and command-line mistakes, worded as one line of ours.
#pragma once
#include <limits>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace zelk::tool {

// An option's value checks; the message reads after the option's name ("--frames must be ...").
CLI::Validator wholeNumber(long min, long max = std::numeric_limits<int>::max());
CLI::Validator positiveNumber(double max);
CLI::Validator oneOf(const std::vector<std::string>& words);

// The message for a first argument that names no command; empty when it names one (or is an option).
std::string unknownCommand(const CLI::App& app, int argc, const char* const* argv);
// One line for a command-line mistake the parser found.
std::string argumentError(const CLI::App& app, const CLI::ParseError& error);

}  // namespace zelk::tool
