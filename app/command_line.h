#pragma once
// The window program's own options. They are answered before the application
// object exists (it needs a display), so `trellikon --help` answers in a
// terminal without one. Any other argument is the template to open.

#include <optional>
#include <string>

struct CommandLineAnswer {
    std::string text; // for standard output
    int status = 0;
};

// The answer when the first argument is --help, -h or --version; nothing
// otherwise (no argument, a file name, the toolkit's own options).
std::optional<CommandLineAnswer> answerCommandLine(int argc, const char* const* argv);
