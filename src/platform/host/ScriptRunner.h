#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
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
// application on the main run loop. The commands, their arguments and their help all come
// from one table (see helpText()); among them wait, wait-frames, wait-gone, tap, drag, tap-control,
// tap-row, tap-alert-button, key, wheel, expect-alert, expect-control, open-url, screenshot
// and quit. key and wheel put real SDL events in the queue for the host to handle, as a
// keyboard or mouse would.
// tap-control refuses a name that two visible controls share.
// The whole script is checked before it runs. The first command that fails ends the run
// with a message naming the script and line, and status 1. Script text echoed in messages
// has its control bytes escaped and long lines shortened (see echo()).
class ScriptRunner {
  public:
    struct Command {
        int line = 0;
        std::string text;               // the line as written, without its comment
        std::string name;               // the command word
        std::vector<std::string> args;  // the words after it
        std::string rest;               // everything after the command word, trimmed
    };

    // One line a command: its synopsis and what it does, from the command table.
    static std::string helpText();
    // Script text as it may appear in a message: control bytes written as \xNN, and anything
    // past maxLength bytes cut off (at a character boundary) and marked with "...".
    static std::string echo(const std::string& text, std::size_t maxLength = 80);

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

    // An entry of the command table: the command word, the kinds of its arguments, their
    // names and what the command does (for helpText()), and the handler that runs it. A
    // handler answers an empty string when the command passed, else what went wrong.
    // Key: the rest of the line names a key as SDL does (see parseKey).
    enum class Arg { Number, Count, Word, Text, Key };
    struct CommandEntry {
        const char* name;
        std::vector<Arg> args;
        const char* synopsis;
        const char* help;
        std::string (ScriptRunner::*handler)(const Command&, bool& quit);
    };
    static const std::vector<CommandEntry>& commandTable();

    // A key as a script names it: SDL's name of the key ("space", "return", "escape", "f",
    // "1", "left", "page down", "f11"), after any of the modifiers "ctrl+", "shift+",
    // "alt+" (any case). False for a name SDL does not know.
    struct KeyChord {
        std::int32_t key = 0;         // SDL_Keycode
        std::uint16_t modifiers = 0;  // SDL_Keymod
    };
    static bool parseKey(const std::string& text, KeyChord& chord);

  private:
    static const CommandEntry* findCommand(const std::string& name);
    std::string doWait(const Command& c, bool& quit);
    std::string doWaitFrames(const Command& c, bool& quit);
    std::string doTapOrDrag(const Command& c, bool& quit);
    std::string doTapControl(const Command& c, bool& quit);
    std::string doTapRow(const Command& c, bool& quit);
    std::string doTapAlertButton(const Command& c, bool& quit);
    std::string doExpectAlert(const Command& c, bool& quit);
    std::string doExpectControl(const Command& c, bool& quit);
    std::string doWaitGone(const Command& c, bool& quit);
    std::string doExpectTextsFit(const Command& c, bool& quit);
    std::string doExpectText(const Command& c, bool& quit);
    std::string doOpenUrl(const Command& c, bool& quit);
    std::string doResize(const Command& c, bool& quit);
    std::string doScreenshot(const Command& c, bool& quit);
    std::string doQuit(const Command& c, bool& quit);
    std::string doKey(const Command& c, bool& quit);
    std::string doWheel(const Command& c, bool& quit);
    void tapAt(Point p);
    void settle();
    bool runFor(std::chrono::milliseconds time);
    // Runs the loop until condition holds or timeout (the expectations' own when none) passes.
    bool waitFor(const std::function<bool()>& condition,
                 std::optional<std::chrono::milliseconds> timeout = std::nullopt);
    std::string checkTappable(View& view, Point windowPoint) const;

    Host& _host;
    std::string _scriptName;
    std::string _failure;
    std::chrono::milliseconds _expectTimeout{5000};
};

}  // namespace quorbit::platform
