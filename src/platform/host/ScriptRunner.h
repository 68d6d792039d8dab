#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/core/Error.h"
#include "platform/core/Geometry.h"

namespace quorbit::platform {

// Why a script cannot run; the codes of the "quorbit.script" domain.
enum class ScriptError : long {
    BadLine = 1,     // a line names an unknown command or gives it the wrong arguments
    Unreadable = 2,  // the script file could not be read (the file error lies underneath)
};
constexpr const char* errorDomain(ScriptError) {
    return "quorbit.script";
}

class Host;
class View;

// Runs a headless script: one command a line, "#" starting a comment, against the
// application on the main run loop. The commands:
//   wait MS                       let the application run for MS milliseconds
//   wait-frames N                 let it run for N display refreshes
//   tap X Y                       a finger down and up at window point (X, Y)
//   drag X1 Y1 X2 Y2 MS           a finger moved from one point to the other over MS ms
//   tap-control NAME              a tap at the centre of the visible control NAME
//   tap-row N                     a tap on row N (counted over all sections) of the table
//                                 on top
//   tap-alert-button N            a tap on button N of the alert on screen
//   expect-alert TITLE            an alert titled TITLE is on screen (waits a little)
//   expect-control NAME           the control NAME is visible (waits a little)
//   open-url URL                  hands URL to the application as an incoming URL
//   screenshot PNG                writes what the window shows to the file PNG
//   quit                          ends the run with status 0
// The whole script is checked before it runs. The first command that fails ends the run
// with a message naming the script and line, and status 1.
class ScriptRunner {
  public:
    struct Command {
        int line = 0;
        std::string text;               // the line as written, without its comment
        std::string name;               // the command word
        std::vector<std::string> args;  // the words after it
        std::string rest;               // everything after the command word, trimmed
    };

    // Checks every line; the error names the first bad line as "NAME:LINE: reason".
    static Result<std::vector<Command>> parse(const std::string& text,
                                              const std::string& scriptName = "script");
    // Only a regular file of at most kMaxScriptBytes is read: a directory, a FIFO or a device
    // is refused.
    static constexpr std::uint64_t kMaxScriptBytes = std::uint64_t(1) << 20;
    static Result<std::vector<Command>> parseFile(const std::string& path);

    ScriptRunner(Host& host, std::string scriptName = "script");

    // Runs the commands on the main run loop; 0 when every command passed or quit ended
    // the run (also when the application quit by itself), else 1. The message of the
    // failure is logged as an error and kept in failure().
    int run(const std::vector<Command>& commands);
    const std::string& failure() const { return _failure; }

    // How long expect-alert and expect-control wait for their condition.
    void setExpectTimeout(std::chrono::milliseconds timeout) { _expectTimeout = timeout; }

  private:
    // An empty result means the command passed.
    std::string execute(const Command& command, bool& quit);
    void tapAt(Point p);
    void settle();
    bool runFor(std::chrono::milliseconds time);
    bool waitFor(const std::function<bool()>& condition);
    std::string checkTappable(View& view, Point windowPoint) const;

    Host& _host;
    std::string _scriptName;
    std::string _failure;
    std::chrono::milliseconds _expectTimeout{5000};
};

}  // namespace quorbit::platform
