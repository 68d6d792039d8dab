#include "platform/core/UserDefaults.h"

#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "json/JsonParser.h"
#include "json/JsonWriter.h"
#include "platform/core/Bundle.h"
#include "platform/core/Log.h"

namespace quorbit::platform {
namespace fs = std::filesystem;
namespace {

constexpr const char* kDateKey = "date";

std::string formatDate(UserDefaults::Date date) {
    using namespace std::chrono;
    long long us = duration_cast<microseconds>(date.time_since_epoch()).count();
    long long seconds = us / 1'000'000;
    long long fraction = us % 1'000'000;
    if (fraction < 0) {
        fraction += 1'000'000;
        --seconds;
    }
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, fraction);
    return text;
}

std::optional<UserDefaults::Date> parseDate(std::string_view text) {
    std::string s(text);
    std::tm tm{};
    int used = 0;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &used) != 6)
        return std::nullopt;
    long long micros = 0;
    size_t i = static_cast<size_t>(used);
    if (i < s.size() && s[i] == '.') {
        int digits = 0;
        for (++i; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i, ++digits)
            if (digits < 6) micros = micros * 10 + (s[i] - '0');
        if (digits == 0) return std::nullopt;
        for (; digits < 6; ++digits)
            micros *= 10;
    }
    if (i + 1 != s.size() || s[i] != 'Z') return std::nullopt;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    std::time_t seconds = timegm(&tm);
    return UserDefaults::Date(std::chrono::duration_cast<UserDefaults::Date::duration>(
        std::chrono::seconds(seconds) + std::chrono::microseconds(micros)));
}

// A text holding a number, as that number.
std::optional<double> numberInText(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::int64_t toInteger(double v) {
    if (!std::isfinite(v)) return 0;
    if (v >= 9.2e18) return INT64_MAX;
    if (v <= -9.2e18) return INT64_MIN;
    return static_cast<std::int64_t>(v);
}

}  // namespace

fs::path UserDefaults::standardPath() {
    auto env = [](const char* name) -> const char* {
        const char* v = std::getenv(name);
        return v && *v ? v : nullptr;
    };
    if (const char* dir = env("QUORBIT_CONFIG_DIR")) return fs::path(dir) / "defaults.json";
    if (const char* xdg = env("XDG_CONFIG_HOME"))
        return fs::path(xdg) / "quorbit" / "defaults.json";
    if (const char* home = env("HOME"))
        return fs::path(home) / ".config" / "quorbit" / "defaults.json";
    return "defaults.json";
}

UserDefaults& UserDefaults::standard() {
    static UserDefaults defaults(standardPath());
    return defaults;
}

UserDefaults::UserDefaults(fs::path path) : _path(std::move(path)) {
    load();
}

void UserDefaults::load() {
    std::error_code ec;
    if (!fs::exists(_path, ec)) return;
    auto text = readFile(_path);
    if (!text) {
        Log::warn("cannot read the settings file " + _path.string() + "; starting without it");
        return;
    }
    json::JsonParser parser;
    auto root = parser.objectWithString(std::string_view(*text));
    if (!root || !root->isObject()) {
        fs::path aside = _path.string() + ".corrupt";
        fs::rename(_path, aside, ec);
        Log::warn("the settings file " + _path.string() +
                  (root ? " does not hold an object" : " is not valid JSON") +
                  (ec ? "; it could not be moved aside (" + ec.message() + ")"
                      : "; it was moved to " + aside.string()) +
                  "; starting with empty settings");
        return;
    }
    for (const auto& member : root->members()) {
        std::string key(member.key());
        const json::Value& v = member.value();
        if (v.isBool()) {
            _values[key] = v.asBool();
        } else if (v.isNumber()) {
            if (auto i = v.asInt64())
                _values[key] = *i;
            else if (auto d = v.asDouble())
                _values[key] = *d;
        } else if (v.isString()) {
            _values[key] = std::string(v.asString());
        } else if (const json::Value* date = v.find(kDateKey);
                   date && v.size() == 1 && date->isString() && parseDate(date->asString())) {
            _values[key] = *parseDate(date->asString());
        } else {
            Log::warn("the settings file " + _path.string() +
                      " has a value of an unknown kind for \"" + key + "\"; it is left out");
        }
    }
}

std::optional<UserDefaults::Stored> UserDefaults::find(const std::string& key) const {
    std::lock_guard lock(_mutex);
    auto it = _values.find(key);
    if (it == _values.end()) return std::nullopt;
    return it->second;
}

bool UserDefaults::contains(const std::string& key) const {
    return find(key).has_value();
}

bool UserDefaults::boolForKey(const std::string& key) const {
    auto v = find(key);
    if (!v) return false;
    if (auto* b = std::get_if<bool>(&*v)) return *b;
    if (auto* i = std::get_if<std::int64_t>(&*v)) return *i != 0;
    if (auto* d = std::get_if<double>(&*v)) return *d != 0;
    if (auto* s = std::get_if<std::string>(&*v)) {
        std::string lower;
        for (char c : *s)
            lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        if (lower == "true" || lower == "yes") return true;
        auto n = numberInText(*s);
        return n && *n != 0;
    }
    return false;
}

std::int64_t UserDefaults::integerForKey(const std::string& key) const {
    auto v = find(key);
    if (!v) return 0;
    if (auto* b = std::get_if<bool>(&*v)) return *b ? 1 : 0;
    if (auto* i = std::get_if<std::int64_t>(&*v)) return *i;
    if (auto* d = std::get_if<double>(&*v)) return toInteger(*d);
    if (auto* s = std::get_if<std::string>(&*v)) {
        std::int64_t exact = 0;
        auto [end, err] = std::from_chars(s->data(), s->data() + s->size(), exact);
        if (err == std::errc() && end == s->data() + s->size()) return exact;
        auto n = numberInText(*s);
        return n ? toInteger(*n) : 0;
    }
    return 0;
}

double UserDefaults::doubleForKey(const std::string& key) const {
    auto v = find(key);
    if (!v) return 0;
    if (auto* b = std::get_if<bool>(&*v)) return *b ? 1 : 0;
    if (auto* i = std::get_if<std::int64_t>(&*v)) return static_cast<double>(*i);
    if (auto* d = std::get_if<double>(&*v)) return *d;
    if (auto* s = std::get_if<std::string>(&*v)) return numberInText(*s).value_or(0);
    return 0;
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
    auto v = find(key);
    if (!v) return std::nullopt;
    if (auto* s = std::get_if<std::string>(&*v)) return *s;
    if (auto* i = std::get_if<std::int64_t>(&*v)) return std::to_string(*i);
    if (auto* d = std::get_if<double>(&*v)) {
        char text[32];
        auto [end, err] = std::to_chars(text, text + sizeof text, *d);
        return err == std::errc() ? std::optional<std::string>(std::string(text, end))
                                  : std::nullopt;
    }
    return std::nullopt;
}

std::optional<UserDefaults::Date> UserDefaults::dateForKey(const std::string& key) const {
    auto v = find(key);
    if (!v) return std::nullopt;
    if (auto* d = std::get_if<Date>(&*v)) return *d;
    return std::nullopt;
}

bool UserDefaults::setBool(const std::string& key, bool value) {
    return store(key, value);
}
bool UserDefaults::setInteger(const std::string& key, std::int64_t value) {
    return store(key, value);
}

bool UserDefaults::setDouble(const std::string& key, double value) {
    if (!std::isfinite(value)) {
        Log::warn("the setting \"" + key + "\" cannot hold a number that is not finite");
        return false;
    }
    return store(key, value);
}

bool UserDefaults::setString(const std::string& key, const std::string& value) {
    // The file is JSON: a text that the writer refuses (not UTF-8) would block every later
    // write, so it is refused here.
    json::JsonWriter writer;
    if (!writer.stringWithFragment(json::Value(value))) {
        Log::warn("the setting \"" + key + "\" cannot hold a text that is not UTF-8");
        return false;
    }
    return store(key, value);
}

bool UserDefaults::setDate(const std::string& key, Date value) {
    return store(key, value);
}

bool UserDefaults::removeObjectForKey(const std::string& key) {
    return store(key, std::nullopt);
}

bool UserDefaults::store(const std::string& key, std::optional<Stored> value) {
    {
        std::lock_guard lock(_mutex);
        if (value) {
            _values[key] = std::move(*value);
        } else if (!_values.erase(key)) {
            return true;
        }
        ++_version;
    }
    return synchronize();
}

bool UserDefaults::synchronize() {
    std::lock_guard writing(_writeMutex);
    json::Value root = json::Value::object();
    std::uint64_t version;
    {
        std::lock_guard lock(_mutex);
        if (_writtenVersion == _version) return true;
        version = _version;
        for (const auto& [key, stored] : _values) {
            std::visit(
                [&](const auto& v) {
                    using T = std::decay_t<decltype(v)>;
                    if constexpr (std::is_same_v<T, Date>)
                        root.set(key, json::Value::object({{kDateKey, formatDate(v)}}));
                    else
                        root.set(key, json::Value(v));
                },
                stored);
        }
    }
    json::JsonWriter writer;
    writer.setHumanReadable(true);
    writer.setSortKeys(true);
    auto text = writer.stringWithObject(root);
    if (!text) {
        Log::error("cannot write the settings as JSON");
        return false;
    }
    std::error_code ec;
    fs::path dir = _path.parent_path();
    if (!dir.empty() && !fs::exists(dir, ec)) {
        if (fs::create_directories(dir, ec)) chmod(dir.c_str(), 0700);
    }
    std::string problem = writeFileAtomically(_path, *text + "\n", true, 0600);
    if (!problem.empty()) {
        Log::error("cannot save the settings: " + problem);
        return false;
    }
    std::lock_guard lock(_mutex);
    if (version > _writtenVersion) _writtenVersion = version;
    return true;
}

}  // namespace quorbit::platform
