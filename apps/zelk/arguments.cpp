// Command-line mistakes in our own words: one line, the command it concerns, and a number's
// range as a person would write it.
#include "apps/zelk/arguments.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace zelk::tool {

namespace {

// The subcommand being parsed when the error was thrown, and its path ("camera write").
const CLI::App* deepest(const CLI::App& app, std::string* path) {
    const CLI::App* current = &app;
    for (;;) {
        const auto parsed = current->get_subcommands();
        if (parsed.empty()) return current;
        current = parsed.front();
        *path += (path->empty() ? "" : " ") + current->get_name();
    }
}

std::string afterPrefix(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : "";
}

// "a, b or c"
std::string listed(const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) text += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    return text;
}

std::vector<std::string> commandNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::App* command : app.get_subcommands({})) names.push_back(command->get_name());
    return names;
}

// The number in text, when all of it is one. Hexadecimal, infinities and NaN are not numbers here.
bool readNumber(const std::string& text, double* value) {
    if (text.find_first_not_of("0123456789+-.eE") != std::string::npos || text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    *value = std::strtod(text.c_str(), &end);
    return *end == '\0' && errno == 0 && std::isfinite(*value);
}

std::string shortest(double value) {
    std::string text = std::to_string(value);
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
    return text;
}

}  // namespace

CLI::Validator wholeNumber(long min, long max) {
    const std::string range = max == std::numeric_limits<int>::max()
                                  ? "a whole number, " + std::to_string(min) + " or more"
                                  : "a whole number from " + std::to_string(min) + " to " + std::to_string(max);
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            double value;
            if (readNumber(text, &value) && value == std::floor(value) && value >= double(min) && value <= double(max))
                return "";
            return "must be " + range + ", not " + text;
        },
        range);
}

CLI::Validator positiveNumber(double max) {
    const std::string range = "more than 0 and at most " + shortest(max);
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            double value;
            if (readNumber(text, &value) && value > 0 && value <= max) return "";
            return "must be " + range + ", not " + text;
        },
        range);
}

CLI::Validator oneOf(const std::vector<std::string>& words) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            for (const auto& word : words)
                if (text == word) return "";
            return "must be " + listed(words) + ", not " + text;
        },
        listed(words));
}

std::string unknownCommand(const CLI::App& app, int argc, const char* const* argv) {
    if (argc < 2 || argv[1][0] == '-') return "";
    for (const std::string& name : commandNames(app))
        if (name == argv[1]) return "";
    return std::string("there is no command ") + argv[1] + ": give " + listed(commandNames(app)) +
           " (zelk --help says what each does)";
}

std::string argumentError(const CLI::App& app, const CLI::ParseError& error) {
    std::string path;
    const CLI::App* command = deepest(app, &path);
    const std::string name = path.empty() ? "zelk" : path;
    const std::string help = " (zelk " + (path.empty() ? "" : path + " ") + "--help lists the options)";
    const std::string what = error.what();
    if (dynamic_cast<const CLI::RequiredError*>(&error)) {
        if (what == "A subcommand is required")
            return (path.empty() ? "give a command: " : name + " needs one of ") + listed(commandNames(*command)) +
                   " (zelk " + (path.empty() ? "" : path + " ") + "--help says what each does)";
        const std::string missing = what.substr(0, what.rfind(" is required"));
        return name + " needs " + (missing[0] == '-' ? "" : "the ") + missing + help;
    }
    if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
        const size_t colon = what.find(": ");
        const std::string extra = colon == std::string::npos ? what : what.substr(colon + 2);
        return name + (extra[0] == '-' ? " has no option " : " does not take ") + extra + help;
    }
    if (dynamic_cast<const CLI::ExcludesError*>(&error)) {
        const size_t at = what.find(" excludes ");
        return what.substr(0, at) + " and " + what.substr(at + 10) + " cannot be given together";
    }
    if (dynamic_cast<const CLI::ValidationError*>(&error)) {
        const size_t colon = what.find(": must ");
        if (colon != std::string::npos) return what.substr(0, colon) + what.substr(colon + 1);
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error)) {
        const std::string option = what.substr(0, what.find(':'));
        const CLI::Option* found = command->get_option_no_throw(option);
        if (found && found->get_items_expected_min() > 1)
            return option + " takes " + std::to_string(found->get_items_expected_min()) + " values" + help;
        if (found) return option + " needs a value" + help;
    }
    if (dynamic_cast<const CLI::ConversionError*>(&error)) {
        const std::string given = afterPrefix(what, "Could not convert: ");
        const size_t equals = given.find(" = ");
        if (equals != std::string::npos)
            return given.substr(0, equals) + " takes a number, not " + given.substr(equals + 3);
    }
    return what + help;
}

}  // namespace zelk::tool
