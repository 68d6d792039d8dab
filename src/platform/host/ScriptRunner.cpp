#include "platform/host/ScriptRunner.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include <SDL2/SDL.h>
#include <strings.h>

#include "platform/core/Bundle.h"
#include "platform/core/Files.h"
#include "platform/core/Log.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Text.h"
#include "platform/gfx/Canvas.h"
#include "platform/gfx/ImageCodec.h"
#include "platform/host/Application.h"
#include "platform/host/Host.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/DisplayLink.h"
#include "platform/ui/Label.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TableViewCell.h"
#include "platform/ui/Window.h"

namespace quorbit::platform {
namespace {

using namespace std::chrono_literals;
using Command = ScriptRunner::Command;

// The touch id of the script's finger, apart from the mouse (0) and real fingers.
constexpr int kScriptTouch = 9000;
// How long a scripted finger rests on the glass for a tap.
constexpr auto kTapHold = 30ms;

using Arg = ScriptRunner::Arg;

bool parseNumber(const std::string& word, double& out) {
    if (word.empty()) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(word.c_str(), &end);
    return *end == '\0' && errno == 0 && std::isfinite(out);
}

bool parseCount(const std::string& word, long& out) {
    if (word.empty() || word[0] == '-' || word[0] == '+') return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtol(word.c_str(), &end, 10);
    return *end == '\0' && errno == 0 && out >= 0 && out <= INT_MAX;
}

double number(const std::string& word) {
    double v = 0;
    parseNumber(word, v);
    return v;
}

long count(const std::string& word) {
    long v = 0;
    parseCount(word, v);
    return v;
}

// Whether a view and all its ancestors are shown, up to a visible window, with some part
// of it on the screen.
bool isShown(View& view) {
    View* v = &view;
    for (; v; v = v->superview()) {
        if (v->isHidden() || v->alpha() < 0.01) return false;
        if (!v->superview() && !dynamic_cast<Window*>(v)) return false;
    }
    Rect b = view.bounds();
    Point a = view.convertToWindow({b.minX(), b.minY()});
    Point c = view.convertToWindow({b.maxX(), b.maxY()});
    Rect onScreen(std::min(a.x, c.x), std::min(a.y, c.y), std::abs(c.x - a.x), std::abs(c.y - a.y));
    return !onScreen.intersection(Window::screenBounds()).isEmpty();
}

// Windows from the front to the back.
std::vector<Window*> frontToBack() {
    auto windows = Window::windows();
    return {windows.rbegin(), windows.rend()};
}

View* findShown(View& view, const std::function<bool(View&)>& match) {
    if (view.isHidden()) return nullptr;
    if (match(view) && isShown(view)) return &view;
    auto children = view.subviews();
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        if (View* found = findShown(**it, match)) return found;
    }
    return nullptr;
}

View* findShownAnywhere(const std::function<bool(View&)>& match) {
    for (Window* window : frontToBack()) {
        if (View* found = findShown(*window, match)) return found;
    }
    return nullptr;
}

void collectShown(View& view, const std::function<bool(View&)>& match, std::vector<View*>& found) {
    if (view.isHidden()) return;
    if (match(view) && isShown(view)) found.push_back(&view);
    for (const auto& child : view.subviews())
        collectShown(*child, match, found);
}

// Every visible view that matches, in all windows.
std::vector<View*> findAllShown(const std::function<bool(View&)>& match) {
    std::vector<View*> found;
    for (Window* window : frontToBack())
        collectShown(*window, match, found);
    return found;
}

std::string describe(View* view) {
    if (!view) return "nothing";
    if (!view->controlName().empty()) return "\"" + ScriptRunner::echo(view->controlName()) + "\"";
    return "another view";
}

std::string inQuotes(const std::string& text) {
    return "\"" + ScriptRunner::echo(text) + "\"";
}

}  // namespace

const std::vector<ScriptRunner::CommandEntry>& ScriptRunner::commandTable() {
    static const std::vector<CommandEntry> table = {
        {"wait",
         {Arg::Count},
         "MS",
         "let the application run for MS milliseconds",
         &ScriptRunner::doWait},
        {"wait-frames",
         {Arg::Count},
         "N",
         "let it run for N display refreshes",
         &ScriptRunner::doWaitFrames},
        {"tap",
         {Arg::Number, Arg::Number},
         "X Y",
         "a finger down and up at window point (X, Y)",
         &ScriptRunner::doTapOrDrag},
        {"drag",
         {Arg::Number, Arg::Number, Arg::Number, Arg::Number, Arg::Count},
         "X1 Y1 X2 Y2 MS",
         "a finger moved from one point to the other over MS ms",
         &ScriptRunner::doTapOrDrag},
        {"tap-control",
         {Arg::Word},
         "NAME",
         "a tap at the centre of the one visible control NAME",
         &ScriptRunner::doTapControl},
        {"tap-row",
         {Arg::Count},
         "N",
         "a tap on row N (over all sections) of the table on top",
         &ScriptRunner::doTapRow},
        {"tap-alert-button",
         {Arg::Count},
         "N",
         "a tap on button N of the alert on screen",
         &ScriptRunner::doTapAlertButton},
        {"key",
         {Arg::Key},
         "NAME",
         "presses and lets go the key SDL names NAME (ctrl+, shift+, alt+ hold those)",
         &ScriptRunner::doKey},
        {"wheel",
         {Arg::Number, Arg::Number},
         "DX DY",
         "turns the wheel DX notches right, DY away from the user",
         &ScriptRunner::doWheel},
        {"expect-alert",
         {Arg::Text},
         "TITLE",
         "an alert titled TITLE is on screen (waits a little)",
         &ScriptRunner::doExpectAlert},
        {"expect-control",
         {Arg::Word},
         "NAME",
         "the control NAME is visible (waits a little)",
         &ScriptRunner::doExpectControl},
        {"wait-gone",
         {Arg::Word, Arg::Count},
         "NAME MS",
         "waits at most MS milliseconds until no control NAME is visible",
         &ScriptRunner::doWaitGone},
        {"expect-texts-fit",
         {Arg::Text},
         "[MARK]",
         "every visible label and button shows its whole text within its frame; given MARK, "
         "every text with a letter in it begins with MARK",
         &ScriptRunner::doExpectTextsFit},
        {"expect-text",
         {Arg::Word, Arg::Text},
         "NAME TEXT",
         "the control NAME is visible and its text or title holds TEXT (waits a little)",
         &ScriptRunner::doExpectText},
        {"open-url",
         {Arg::Word},
         "URL",
         "hands URL to the application as an incoming URL",
         &ScriptRunner::doOpenUrl},
        {"resize",
         {Arg::Word},
         "WxH",
         "resizes the window to W x H points, as a user dragging its edge would",
         &ScriptRunner::doResize},
        {"expect-size",
         {Arg::Word},
         "WxH",
         "waits until the window is W x H points (resized by the user or the shell)",
         &ScriptRunner::doResize},
        {"screenshot",
         {Arg::Text},
         "PNG",
         "writes what the window shows to the file PNG",
         &ScriptRunner::doScreenshot},
        {"quit", {}, "", "ends the run with status 0", &ScriptRunner::doQuit},
    };
    return table;
}

const ScriptRunner::CommandEntry* ScriptRunner::findCommand(const std::string& name) {
    for (const CommandEntry& entry : commandTable()) {
        if (name == entry.name) return &entry;
    }
    return nullptr;
}

std::string ScriptRunner::helpText() {
    std::string text;
    for (const CommandEntry& entry : commandTable()) {
        std::string synopsis =
            std::string(entry.name) + (*entry.synopsis ? " " : "") + entry.synopsis;
        text += format("  %-30s %s\n", synopsis.c_str(), entry.help);
    }
    return text;
}

std::string ScriptRunner::echo(const std::string& text, std::size_t maxLength) {
    std::string out;
    std::size_t shown = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        // A character is whole or absent: a UTF-8 sequence is not split by the cut.
        std::size_t length = 1;
        if (byte >= 0xc0) {
            while (i + length < text.size() &&
                   (static_cast<unsigned char>(text[i + length]) & 0xc0) == 0x80)
                ++length;
        }
        if (shown + length > maxLength) {
            out += "...";
            break;
        }
        if (byte < 0x20 || byte == 0x7f) {
            out += format("\\x%02x", byte);
        } else {
            out.append(text, i, length);
        }
        shown += length;
        i += length - 1;
    }
    return out;
}

Result<std::vector<Command>> ScriptRunner::parse(const std::string& text,
                                                 const std::string& scriptName) {
    std::vector<Command> commands;
    std::istringstream in(text);
    std::string raw;
    int lineNumber = 0;
    while (std::getline(in, raw)) {
        ++lineNumber;
        // A comment starts with "#" at the beginning of a word.
        std::string line = raw;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) {
                line.resize(i);
                break;
            }
        }
        line = trim(line);
        if (line.empty()) continue;
        Command command;
        command.line = lineNumber;
        command.text = line;
        std::istringstream words(line);
        words >> command.name;
        command.rest = trim(line.substr(command.name.size()));
        for (std::string w; words >> w;)
            command.args.push_back(w);

        auto fail = [&](const std::string& reason) {
            return Error::make(ScriptError::BadLine,
                               format("%s:%d: %s", scriptName.c_str(), lineNumber, reason.c_str()));
        };
        const CommandEntry* entry = findCommand(command.name);
        if (!entry) {
            std::string known;
            for (const CommandEntry& e : commandTable())
                known += (known.empty() ? "" : ", ") + std::string(e.name);
            return fail("unknown command " + inQuotes(command.name) + " (the commands: " + known +
                        ")");
        }
        const auto& expected = entry->args;
        if (!expected.empty() && (expected.back() == Arg::Text || expected.back() == Arg::Key)) {
            if (command.rest.empty()) return fail(command.name + " needs an argument");
        } else if (command.args.size() != expected.size()) {
            return fail(format("%s takes %zu argument%s, not %zu", command.name.c_str(),
                               expected.size(), expected.size() == 1 ? "" : "s",
                               command.args.size()));
        }
        for (size_t i = 0; i < expected.size() && i < command.args.size(); ++i) {
            double d;
            long n;
            if (expected[i] == Arg::Number && !parseNumber(command.args[i], d))
                return fail(inQuotes(command.args[i]) + " is not a number");
            if (expected[i] == Arg::Count && !parseCount(command.args[i], n))
                return fail(inQuotes(command.args[i]) + " is not a whole number of 0 or more");
            KeyChord chord;
            if (expected[i] == Arg::Key && !parseKey(command.rest, chord))
                return fail(inQuotes(command.rest) + " is not a key SDL knows");
        }
        commands.push_back(std::move(command));
    }
    return commands;
}

Result<std::vector<Command>> ScriptRunner::parseFile(const std::string& path) {
    auto text = readRegularFile(path, kMaxScriptBytes);
    if (!text) {
        Error error = Error::make(ScriptError::Unreadable,
                                  "cannot read the script: " + text.error().localizedDescription());
        error.underlying = std::make_shared<const Error>(text.error());
        return error;
    }
    return parse(*text, path);
}

ScriptRunner::ScriptRunner(Host& host, std::string scriptName)
    : _host(host), _scriptName(std::move(scriptName)) {}

int ScriptRunner::run(const std::vector<Command>& commands) {
    _failure.clear();
    settle();
    for (const Command& command : commands) {
        if (RunLoop::main().quitting()) return 0;
        bool quit = false;
        const CommandEntry* entry = findCommand(command.name);
        std::string problem = entry ? (this->*entry->handler)(command, quit)
                                    : "unknown command " + inQuotes(command.name);
        if (!problem.empty()) {
            // A wait cut short by the end of the application (a signal, a quit) is not what
            // the command found.
            if (RunLoop::main().quitting()) problem = "cut short: the application is ending";
            _failure = format("%s:%d: %s: %s", _scriptName.c_str(), command.line,
                              echo(command.text).c_str(), problem.c_str());
            Log::error(_failure);
            return 1;
        }
        if (quit) return 0;
    }
    return 0;
}

bool ScriptRunner::runFor(std::chrono::milliseconds time) {
    RunLoop& loop = RunLoop::main();
    auto end = RunLoop::Clock::now() + time;
    for (auto now = RunLoop::Clock::now(); now < end; now = RunLoop::Clock::now()) {
        if (loop.quitting()) return false;
        loop.runOnce(end - now);
    }
    return !loop.quitting();
}

bool ScriptRunner::waitFor(const std::function<bool()>& condition,
                           std::optional<std::chrono::milliseconds> timeout) {
    auto end = RunLoop::Clock::now() + timeout.value_or(_expectTimeout);
    while (!condition()) {
        if (RunLoop::Clock::now() >= end || RunLoop::main().quitting()) return condition();
        RunLoop::main().runOnce(10ms);
    }
    return true;
}

// Lets the application react to what the script did and shows the result.
void ScriptRunner::settle() {
    RunLoop& loop = RunLoop::main();
    for (int i = 0; i < 8 && loop.runOnce(RunLoop::Duration::zero()); ++i) {
    }
    _host.renderFrame();
}

void ScriptRunner::tapAt(Point p) {
    Window::dispatchTouch(TouchPhase::Began, kScriptTouch, p);
    runFor(kTapHold);
    Window::dispatchTouch(TouchPhase::Ended, kScriptTouch, p);
    settle();
}

// Whether a finger at windowPoint would reach view: the topmost visible window under the
// point takes the touch, and its deepest interactive view under the point gets it.
std::string ScriptRunner::checkTappable(View& view, Point windowPoint) const {
    auto [window, hit] = Window::targetAt(windowPoint);
    if (!window) return "it is not in any window";
    if (!hit) return "a window above it takes the touch";
    if (hit->isDescendantOf(&view)) return {};
    return "it is covered by " + describe(hit);
}

bool ScriptRunner::parseKey(const std::string& text, KeyChord& chord) {
    static const struct {
        const char* prefix;
        std::uint16_t modifier;
    } kModifiers[] = {{"ctrl+", KMOD_LCTRL}, {"shift+", KMOD_LSHIFT}, {"alt+", KMOD_LALT}};
    chord = {};
    std::string rest = text;
    for (bool found = true; found;) {
        found = false;
        for (const auto& m : kModifiers) {
            std::size_t n = std::strlen(m.prefix);
            // "ctrl++" holds Control with the plus key: a prefix needs a key after it.
            if (rest.size() > n && strncasecmp(rest.c_str(), m.prefix, n) == 0) {
                chord.modifiers |= m.modifier;
                rest.erase(0, n);
                found = true;
            }
        }
    }
    chord.key = SDL_GetKeyFromName(rest.c_str());
    if (chord.key == SDLK_UNKNOWN && rest.find(' ') != std::string::npos) {
        // SDL writes some names as one word ("PageDown"); "page down" means the same.
        std::erase(rest, ' ');
        chord.key = SDL_GetKeyFromName(rest.c_str());
    }
    return chord.key != SDLK_UNKNOWN;
}

std::string ScriptRunner::doKey(const Command& c, bool&) {
    KeyChord chord;
    if (!parseKey(c.rest, chord)) return inQuotes(c.rest) + " is not a key SDL knows";
    Uint32 windowId = SDL_GetWindowID(_host.window());
    SDL_Event event{};
    event.key.windowID = windowId;
    event.key.keysym.sym = chord.key;
    event.key.keysym.scancode = SDL_GetScancodeFromKey(chord.key);
    event.key.keysym.mod = chord.modifiers;
    event.type = SDL_KEYDOWN;
    event.key.type = SDL_KEYDOWN;
    event.key.state = SDL_PRESSED;
    if (SDL_PushEvent(&event) < 0) return std::string("cannot queue the key: ") + SDL_GetError();
    // A key that types a character also types it where text is taken, as a keyboard does.
    bool types = chord.key >= 0x20 && chord.key < 0x7f &&
                 !(chord.modifiers & (KMOD_CTRL | KMOD_ALT)) && SDL_IsTextInputActive();
    if (types) {
        SDL_Event text{};
        text.text.type = SDL_TEXTINPUT;
        text.text.windowID = windowId;
        char typed = static_cast<char>(chord.key);
        if ((chord.modifiers & KMOD_SHIFT) && typed >= 'a' && typed <= 'z') typed -= 'a' - 'A';
        text.text.text[0] = typed;
        SDL_PushEvent(&text);
    }
    _host.pumpEvents();
    event.type = SDL_KEYUP;
    event.key.type = SDL_KEYUP;
    event.key.state = SDL_RELEASED;
    SDL_PushEvent(&event);
    _host.pumpEvents();
    settle();
    return {};
}

std::string ScriptRunner::doWheel(const Command& c, bool&) {
    SDL_Event event{};
    event.type = SDL_MOUSEWHEEL;
    event.wheel.type = SDL_MOUSEWHEEL;
    event.wheel.windowID = SDL_GetWindowID(_host.window());
    event.wheel.preciseX = static_cast<float>(number(c.args[0]));
    event.wheel.preciseY = static_cast<float>(number(c.args[1]));
    event.wheel.x = static_cast<Sint32>(event.wheel.preciseX);
    event.wheel.y = static_cast<Sint32>(event.wheel.preciseY);
    event.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
    if (SDL_PushEvent(&event) < 0) return std::string("cannot queue the wheel: ") + SDL_GetError();
    _host.pumpEvents();
    settle();
    return {};
}

std::string ScriptRunner::doQuit(const Command&, bool& quit) {
    quit = true;
    return {};
}

std::string ScriptRunner::doWait(const Command& c, bool&) {
    runFor(std::chrono::milliseconds(count(c.args[0])));
    return {};
}

std::string ScriptRunner::doWaitFrames(const Command& c, bool&) {
    auto period = std::chrono::duration<double, std::milli>(1000.0 / DisplayLink::refreshRate());
    for (long i = 0; i < count(c.args[0]) && !RunLoop::main().quitting(); ++i)
        runFor(std::chrono::milliseconds(std::lround(period.count())));
    return {};
}

std::string ScriptRunner::doTapOrDrag(const Command& c, bool&) {
    std::vector<Point> points;
    for (size_t i = 0; i + 1 < c.args.size(); i += 2)
        points.push_back({number(c.args[i]), number(c.args[i + 1])});
    for (Point p : points) {
        if (!Window::screenBounds().contains(p))
            return format("(%g, %g) is outside the screen", p.x, p.y);
    }
    if (c.name == "tap") {
        tapAt(points[0]);
        return {};
    }
    long ms = count(c.args[4]);
    Point from = points[0], to = points[1];
    Window::dispatchTouch(TouchPhase::Began, kScriptTouch, from);
    // One move per display refresh, the last one on the end point.
    long frame = std::max(1L, std::lround(1000.0 / DisplayLink::refreshRate()));
    long steps = std::max(1L, ms / frame);
    auto stepTime = std::chrono::milliseconds(ms / steps);
    for (long i = 1; i <= steps; ++i) {
        runFor(stepTime);
        double t = double(i) / double(steps);
        Window::dispatchTouch(TouchPhase::Moved, kScriptTouch,
                              {from.x + (to.x - from.x) * t, from.y + (to.y - from.y) * t});
    }
    Window::dispatchTouch(TouchPhase::Ended, kScriptTouch, to);
    settle();
    return {};
}

std::string ScriptRunner::doTapControl(const Command& c, bool&) {
    const std::string& control = c.args[0];
    auto named = [&](View& v) { return v.controlName() == control; };
    std::vector<View*> views;
    waitFor([&] {
        views = findAllShown(named);
        return !views.empty();
    });
    if (views.empty()) return "no visible control named " + inQuotes(control);
    // A name two controls share would make the tap land on whichever is found first.
    if (views.size() > 1)
        return format("%zu visible controls are named %s", views.size(), inQuotes(control).c_str());
    View* view = views.front();
    Rect b = view->bounds();
    Point centre = view->convertToWindow({b.midX(), b.midY()});
    if (auto problem = checkTappable(*view, centre); !problem.empty())
        return "cannot tap " + inQuotes(control) + ": " + problem;
    tapAt(centre);
    return {};
}

std::string ScriptRunner::doTapRow(const Command& c, bool&) {
    long wanted = count(c.args[0]);
    auto* table = static_cast<TableView*>(
        findShownAnywhere([](View& v) { return dynamic_cast<TableView*>(&v) != nullptr; }));
    if (!table) return "no table on screen";
    long index = wanted;
    std::optional<IndexPath> path;
    int sections = table->numberOfSections();
    for (int s = 0; s < sections && !path; ++s) {
        int rows = table->numberOfRowsInSection(s);
        if (index < rows)
            path = IndexPath{s, static_cast<int>(index)};
        else
            index -= rows;
    }
    if (!path) return format("the table has no row %ld", wanted);
    Rect visible = table->rectForRowAtIndexPath(*path).intersection(table->bounds());
    if (visible.height() < 1) return format("row %ld is scrolled out of view", wanted);
    Point centre = table->convertToWindow({visible.midX(), visible.midY()});
    if (auto problem = checkTappable(*table, centre); !problem.empty())
        return format("cannot tap row %ld: %s", wanted, problem.c_str());
    tapAt(centre);
    return {};
}

std::string ScriptRunner::doTapAlertButton(const Command& c, bool&) {
    long index = count(c.args[0]);
    AlertView* alert = nullptr;
    waitFor([&] { return (alert = AlertView::visibleAlert()) != nullptr; });
    if (!alert) return "no alert on screen";
    if (index >= alert->numberOfButtons())
        return format("the alert %s has %d button%s", inQuotes(alert->title()).c_str(),
                      alert->numberOfButtons(), alert->numberOfButtons() == 1 ? "" : "s");
    Button* button = alert->buttonAtIndex(static_cast<int>(index));
    if (button && isShown(*button)) {
        Rect b = button->bounds();
        Point centre = button->convertToWindow({b.midX(), b.midY()});
        if (auto problem = checkTappable(*button, centre); !problem.empty())
            return format("cannot tap button %ld: %s", index, problem.c_str());
        tapAt(centre);
    } else {
        alert->dismissWithClickedButtonIndex(static_cast<int>(index), true);
        settle();
    }
    return {};
}

std::string ScriptRunner::doExpectAlert(const Command& c, bool&) {
    bool found = waitFor([&] {
        AlertView* alert = AlertView::visibleAlert();
        return alert && alert->title() == c.rest;
    });
    if (found) return {};
    AlertView* alert = AlertView::visibleAlert();
    return alert ? "the alert on screen is " + inQuotes(alert->title()) : "no alert on screen";
}

std::string ScriptRunner::doWaitGone(const Command& c, bool&) {
    const std::string& control = c.args[0];
    bool gone = waitFor(
        [&] { return !findShownAnywhere([&](View& v) { return v.controlName() == control; }); },
        std::chrono::milliseconds(count(c.args[1])));
    return gone ? std::string() : "the control " + inQuotes(control) + " is still visible";
}

namespace {

// Whether the text a label or a button shows is cut or spills out of its frame; empty when it
// fits, else what is wrong.
std::string textFit(View& view, const std::string& text, const Font& font, int lines) {
    static Canvas measure(1, 1);
    Rect b = view.bounds();
    constexpr double kSlack = 0.5;
    if (lines == 1) {
        double width = measure.measureText(text, font).width;
        if (width <= b.width() + kSlack) return {};
        return format("needs %.0f points across, has %.0f", width, b.width());
    }
    double height = measure.measureText(text, font, b.width()).height;
    double line = measure.measureText("Ag", font).height;
    if (height > b.height() + kSlack)
        return format("needs %.0f points down, has %.0f", height, b.height());
    if (lines > 1 && height > lines * line * 1.05) return format("needs more than %d lines", lines);
    return {};
}

}  // namespace

std::string ScriptRunner::doExpectTextsFit(const Command& c, bool&) {
    const std::string& mark = c.args[0];
    settle();
    std::vector<std::string> problems;
    for (View* view : findAllShown(
             [](View& v) { return dynamic_cast<Label*>(&v) || dynamic_cast<Button*>(&v); })) {
        std::string text, problem;
        if (auto* label = dynamic_cast<Label*>(view)) {
            text = label->text();
            auto [font, lines] = label->fitted();
            if (!text.empty()) problem = textFit(*view, text, font, lines);
        } else if (auto* button = dynamic_cast<Button*>(view)) {
            text = button->currentTitle().value_or("");
            if (!text.empty()) problem = textFit(*view, text, button->font(), 1);
        }
        bool letters = std::any_of(text.begin(), text.end(),
                                   [](unsigned char ch) { return std::isalpha(ch) || ch >= 0x80; });
        if (problem.empty() && !mark.empty() && letters && text.rfind(mark, 0) != 0)
            problem = "is not marked for translation";
        if (!problem.empty()) problems.push_back(inQuotes(text) + " " + problem);
    }
    if (problems.empty()) return {};
    std::string all = "texts that do not fit or are not marked:";
    for (size_t i = 0; i < problems.size() && i < 5; ++i)
        all += (i ? "; " : " ") + problems[i];
    if (problems.size() > 5) all += format("; and %zu more", problems.size() - 5);
    return all;
}

std::string ScriptRunner::doExpectControl(const Command& c, bool&) {
    const std::string& control = c.args[0];
    bool found = waitFor(
        [&] { return findShownAnywhere([&](View& v) { return v.controlName() == control; }); });
    return found ? std::string() : "no visible control named " + inQuotes(control);
}

std::string ScriptRunner::doExpectText(const Command& c, bool&) {
    const std::string& control = c.args[0];
    std::string text = trim(std::string_view(c.rest).substr(control.size()));
    if (text.empty()) return "expect-text needs a text after the control's name";
    std::optional<std::string> shown;
    auto holdsText = [&](View& v) {
        if (v.controlName() != control) return false;
        if (auto* label = dynamic_cast<Label*>(&v)) shown = label->text();
        if (auto* button = dynamic_cast<Button*>(&v)) shown = button->currentTitle();
        if (auto* cell = dynamic_cast<TableViewCell*>(&v)) shown = cell->textLabel()->text();
        return shown && shown->find(text) != std::string::npos;
    };
    if (waitFor([&] { return findShownAnywhere(holdsText); })) return {};
    if (!shown) return "no visible control named " + inQuotes(control) + " shows a text";
    return "the control " + inQuotes(control) + " shows " + inQuotes(*shown);
}

std::string ScriptRunner::doOpenUrl(const Command& c, bool&) {
    if (!Application::shared().openURL(c.args[0]))
        Log::info("the application did not take " + echo(c.args[0]));
    settle();
    return {};
}

std::string ScriptRunner::doResize(const Command& c, bool&) {
    auto size = HostOptions::parseSize(c.args[0]);
    if (!size)
        return format("%s takes WIDTHxHEIGHT in points, each from %g to %g", c.name.c_str(),
                      HostOptions::kMinimumSide, HostOptions::kMaximumSide);
    if (c.name == "resize") {
        _host.resizeWindow(size->width, size->height);
        settle();
        return {};
    }
    // A person or a window manager resizes in its own time: a longer wait than for a control.
    if (waitFor([&] { return _host.pointSize() == *size; },
                std::max(_expectTimeout, std::chrono::milliseconds(30000))))
        return {};
    return format("the window is %g x %g points, not %g x %g", _host.pointSize().width,
                  _host.pointSize().height, size->width, size->height);
}

std::string ScriptRunner::doScreenshot(const Command& c, bool&) {
    auto image = _host.screenshot();
    if (!image) return image.error().localizedDescription();
    std::filesystem::path path = c.rest;
    std::error_code ec;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    if (auto written = ImageCodec::writePng(*image, path); !written)
        return written.error().localizedDescription();
    Log::info("screenshot written to " + echo(path.string()));
    return {};
}

}  // namespace quorbit::platform
