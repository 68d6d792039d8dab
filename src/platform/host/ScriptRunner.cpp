#include "platform/host/ScriptRunner.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "platform/core/Bundle.h"
#include "platform/core/Files.h"
#include "platform/core/Log.h"
#include "platform/core/RunLoop.h"
#include "platform/gfx/ImageCodec.h"
#include "platform/gl/DisplayLink.h"
#include "platform/host/Application.h"
#include "platform/host/Host.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/TableView.h"
#include "platform/ui/Window.h"

namespace quorbit::platform {
namespace {

using namespace std::chrono_literals;
using Command = ScriptRunner::Command;

// The touch id of the script's finger, apart from the mouse (0) and real fingers.
constexpr int kScriptTouch = 9000;
// How long a scripted finger rests on the glass for a tap.
constexpr auto kTapHold = 30ms;

enum class Arg { Number, Count, Word, Text };

// The arguments each command takes.
const std::map<std::string, std::vector<Arg>>& grammar() {
    static const std::map<std::string, std::vector<Arg>> table = {
        {"wait", {Arg::Count}},
        {"wait-frames", {Arg::Count}},
        {"tap", {Arg::Number, Arg::Number}},
        {"drag", {Arg::Number, Arg::Number, Arg::Number, Arg::Number, Arg::Count}},
        {"tap-control", {Arg::Word}},
        {"tap-row", {Arg::Count}},
        {"tap-alert-button", {Arg::Count}},
        {"expect-alert", {Arg::Text}},
        {"expect-control", {Arg::Word}},
        {"open-url", {Arg::Word}},
        {"screenshot", {Arg::Text}},
        {"quit", {}},
    };
    return table;
}

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

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
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

std::string describe(View* view) {
    if (!view) return "nothing";
    if (!view->controlName().empty()) return "\"" + view->controlName() + "\"";
    return "another view";
}

}  // namespace

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
        auto it = grammar().find(command.name);
        if (it == grammar().end()) return fail("unknown command \"" + command.name + "\"");
        const auto& expected = it->second;
        if (!expected.empty() && expected.back() == Arg::Text) {
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
                return fail("\"" + command.args[i] + "\" is not a number");
            if (expected[i] == Arg::Count && !parseCount(command.args[i], n))
                return fail("\"" + command.args[i] + "\" is not a whole number of 0 or more");
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
        std::string problem = execute(command, quit);
        if (!problem.empty()) {
            _failure = format("%s:%d: %s: %s", _scriptName.c_str(), command.line,
                              command.text.c_str(), problem.c_str());
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

bool ScriptRunner::waitFor(const std::function<bool()>& condition) {
    auto end = RunLoop::Clock::now() + _expectTimeout;
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
    for (Window* window : frontToBack()) {
        if (window->isHidden()) continue;
        Point local = window->convertFromWindow(windowPoint);
        if (!window->pointInside(local)) continue;
        View* hit = window->hitTest(local);
        if (!hit) return "a window above it takes the touch";
        if (hit->isDescendantOf(&view)) return {};
        return "it is covered by " + describe(hit);
    }
    return "it is not in any window";
}

std::string ScriptRunner::execute(const Command& c, bool& quit) {
    const std::string& name = c.name;
    if (name == "quit") {
        quit = true;
        return {};
    }
    if (name == "wait") {
        runFor(std::chrono::milliseconds(count(c.args[0])));
        return {};
    }
    if (name == "wait-frames") {
        auto period =
            std::chrono::duration<double, std::milli>(1000.0 / DisplayLink::refreshRate());
        for (long i = 0; i < count(c.args[0]) && !RunLoop::main().quitting(); ++i)
            runFor(std::chrono::milliseconds(std::lround(period.count())));
        return {};
    }
    if (name == "tap" || name == "drag") {
        std::vector<Point> points;
        for (size_t i = 0; i + 1 < c.args.size(); i += 2)
            points.push_back({number(c.args[i]), number(c.args[i + 1])});
        for (Point p : points) {
            if (!Window::screenBounds().contains(p))
                return format("(%g, %g) is outside the screen", p.x, p.y);
        }
        if (name == "tap") {
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
    if (name == "tap-control") {
        const std::string& control = c.args[0];
        View* view = nullptr;
        waitFor([&] {
            view = findShownAnywhere([&](View& v) { return v.controlName() == control; });
            return view != nullptr;
        });
        if (!view) return "no visible control named \"" + control + "\"";
        Rect b = view->bounds();
        Point centre = view->convertToWindow({b.midX(), b.midY()});
        if (auto problem = checkTappable(*view, centre); !problem.empty())
            return "cannot tap \"" + control + "\": " + problem;
        tapAt(centre);
        return {};
    }
    if (name == "tap-row") {
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
    if (name == "tap-alert-button") {
        long index = count(c.args[0]);
        AlertView* alert = nullptr;
        waitFor([&] { return (alert = AlertView::visibleAlert()) != nullptr; });
        if (!alert) return "no alert on screen";
        if (index >= alert->numberOfButtons())
            return format("the alert \"%s\" has %d button%s", alert->title().c_str(),
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
    if (name == "expect-alert") {
        bool found = waitFor([&] {
            AlertView* alert = AlertView::visibleAlert();
            return alert && alert->title() == c.rest;
        });
        if (found) return {};
        AlertView* alert = AlertView::visibleAlert();
        return alert ? "the alert on screen is \"" + alert->title() + "\"" : "no alert on screen";
    }
    if (name == "expect-control") {
        const std::string& control = c.args[0];
        bool found = waitFor(
            [&] { return findShownAnywhere([&](View& v) { return v.controlName() == control; }); });
        return found ? std::string() : "no visible control named \"" + control + "\"";
    }
    if (name == "open-url") {
        if (!Application::shared().openURL(c.args[0]))
            Log::info("the application did not take " + c.args[0]);
        settle();
        return {};
    }
    if (name == "screenshot") {
        auto image = _host.screenshot();
        if (!image) return image.error().localizedDescription();
        std::filesystem::path path = c.rest;
        std::error_code ec;
        if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
        if (auto written = ImageCodec::writePng(*image, path); !written)
            return written.error().localizedDescription();
        Log::info("screenshot written to " + path.string());
        return {};
    }
    return "unknown command";
}

}  // namespace quorbit::platform
