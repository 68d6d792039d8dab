#include "platform/core/UserDefaults.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#include "json/JsonParser.h"
#include "json/JsonWriter.h"
#include "platform/core/Bundle.h"
#include "platform/core/Files.h"
#include "platform/core/Log.h"
#include "platform/core/Text.h"

namespace quorbit::platform {
namespace fs = std::filesystem;
namespace {

constexpr const char* kDateKey = "date";
constexpr const char* kCorruptSuffix = ".corrupt-";
constexpr std::size_t kKeptCorruptCopies = 5;

// The text of a date in the years 1 to 9999 (the four-digit years the file holds).
std::optional<std::string> formatDate(UserDefaults::Date date) {
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
    if (!gmtime_r(&t, &tm) || tm.tm_year + 1900 < 1 || tm.tm_year + 1900 > 9999)
        return std::nullopt;
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
    // Fields out of their ranges would be carried over into the next (a month 13 is January
    // of the next year) and could leave the years the file can hold.
    if (tm.tm_year < 1 || tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 || tm.tm_mday > 31 ||
        tm.tm_hour < 0 || tm.tm_hour > 23 || tm.tm_min < 0 || tm.tm_min > 59 || tm.tm_sec < 0 ||
        tm.tm_sec > 59)
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
    // Only dates the clock's time points can hold (on some systems a few centuries around
    // 1970).
    using Duration = UserDefaults::Date::duration;
    constexpr long long kLimit =
        std::chrono::duration_cast<std::chrono::seconds>(Duration::max()).count() - 1;
    if (seconds > kLimit || seconds < -kLimit) return std::nullopt;
    return UserDefaults::Date(std::chrono::duration_cast<Duration>(
        std::chrono::seconds(seconds) + std::chrono::microseconds(micros)));
}

// The date of a {"date": TEXT} object.
std::optional<UserDefaults::Date> dateIn(const json::Value& v) {
    const json::Value* date = v.find(kDateKey);
    if (!date || v.size() != 1 || !date->isString()) return std::nullopt;
    return parseDate(date->asString());
}

bool isUtf8(const std::string& text) {
    return json::JsonWriter().stringWithFragment(json::Value(text)).has_value();
}

// "<file>.corrupt-<UTC time to the microsecond>", with a number added in the unlikely case
// that the name is taken.
fs::path corruptCopyPath(const fs::path& file) {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t t = system_clock::to_time_t(now);
    long long micros = duration_cast<microseconds>(now.time_since_epoch()).count() % 1'000'000;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02dT%02d%02d%02d.%06lldZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  micros < 0 ? 0 : micros);
    std::string base = file.string() + kCorruptSuffix + stamp;
    std::string name = base;
    struct stat st {};
    for (int n = 1; lstat(name.c_str(), &st) == 0; ++n)
        name = base + "-" + std::to_string(n);
    return name;
}

// Removes the oldest corrupt copies of file beyond the newest kKeptCorruptCopies.
void pruneCorruptCopies(const fs::path& file) {
    std::string prefix = file.filename().string() + kCorruptSuffix;
    fs::path dir = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    std::vector<fs::path> copies;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.compare(0, prefix.size(), prefix) == 0) copies.push_back(it->path());
    }
    if (copies.size() <= kKeptCorruptCopies) return;
    // The time stamps are of fixed width: names sort oldest first.
    std::sort(copies.begin(), copies.end());
    for (std::size_t i = 0; i + kKeptCorruptCopies < copies.size(); ++i)
        fs::remove(copies[i], ec);
}

// A text holding a number, as that number.
std::optional<double> numberInText(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v)) return std::nullopt;
    return v;
}

// The advisory lock that writers of one settings file hold while they read and write it.
// Held only for a read and a write; a holder that has stopped (a process stopped by a
// debugger) is waited for a few seconds, after which the write goes ahead unlocked, as
// it always did before there was a lock.
class FileLock {
  public:
    explicit FileLock(const fs::path& path) {
        _file.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!_file) return;  // no folder yet, or not writable: the write will say so
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (::flock(_file.fd(), LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) ||
                std::chrono::steady_clock::now() > deadline) {
                Log::warn("the settings lock " + path.string() +
                          " is held too long; writing the settings without it");
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

  private:
    FileHandle _file;  // closing it lets go of the lock
};

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
    auto text = readRegularFile(_path, kMaxFileBytes);
    if (!text) {
        if (text.error().is(FileError::Missing)) return;
        _leaveFileAlone = true;
        Log::warn("cannot read the settings file: " + text.error().localizedDescription() +
                  "; using the built-in settings for this session and leaving the file alone");
        return;
    }
    std::string why;
    Parsed values = parse(std::move(*text), &why);
    if (!values) {
        setAside(why);
        return;
    }
    _values = std::move(*values);
}

UserDefaults::Parsed UserDefaults::parse(std::string text, std::string* why) {
    json::JsonParser parser;
    parser.setOutOfRangeNumbersAsDoubles(true);
    auto root = parser.objectWithString(std::string_view(text));
    text = std::string();  // the text is no longer needed; large files are freed early
    if (!root || !root->isObject()) {
        *why = root ? " does not hold an object" : " is not valid JSON";
        const json::ErrorTrace& trace = parser.errorTrace();
        if (!root && !trace.empty()) {
            // Where the text went wrong and the innermost reason, so that it can be mended.
            if (const auto& at = trace.back()->position()) {
                *why += " at line " + std::to_string(at->line) + ", column " +
                        std::to_string(at->column);
            }
            *why += " (" + trace.front()->localizedDescription() + ")";
        }
        return std::nullopt;
    }
    Values values;
    for (auto& member : root->members()) {
        json::Value& v = member.value();
        Stored stored;
        if (v.isBool()) {
            stored.value = v.asBool();
        } else if (v.isString()) {
            stored.value = std::string(v.asString());
        } else if (auto i = v.asInt64()) {
            stored.value = *i;
        } else if (auto date = dateIn(v)) {
            stored.value = *date;
        } else {
            // Other numbers keep all their digits; other kinds are kept as they are.
            stored.value = std::move(v);
        }
        values.emplace_hint(values.end(), std::string(member.key()), std::move(stored));
    }
    return values;
}

json::Value UserDefaults::Stored::proxyForJson() const {
    return std::visit(
        [](const auto& v) -> json::Value {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, Date>)
                return json::Value::object({{kDateKey, formatDate(v).value_or("")}});
            else
                return json::Value(v);
        },
        value);
}

std::optional<UserDefaults::Stored> UserDefaults::find(const std::string& key) const {
    std::lock_guard lock(_mutex);
    auto it = _values.find(key);
    if (it == _values.end()) return std::nullopt;
    return it->second;
}

// Whether two values are written alike: equal, or numbers of different types with the same
// text.
bool UserDefaults::sameInFile(const Stored& a, const Stored& b) {
    if (a.value == b.value) return true;
    auto isNumber = [](const Stored& s) {
        const auto* kept = std::get_if<json::Value>(&s.value);
        return std::holds_alternative<std::int64_t>(s.value) ||
               std::holds_alternative<double>(s.value) || (kept && kept->isNumber());
    };
    if (!isNumber(a) || !isNumber(b)) return false;
    json::JsonWriter writer;
    return writer.stringWithFragment(a.proxyForJson()) ==
           writer.stringWithFragment(b.proxyForJson());
}

// Whether a key is written alike with either (nullptr: absent).
bool UserDefaults::sameInFile(const Stored* a, const Stored* b) {
    if (!a || !b) return !a && !b;
    return sameInFile(*a, *b);
}

// A JSON value kept as read, when it is a number.
const json::Value* UserDefaults::keptNumber(const std::optional<Stored>& stored) {
    const auto* v = stored ? std::get_if<json::Value>(&stored->value) : nullptr;
    return v && v->isNumber() ? v : nullptr;
}

bool UserDefaults::contains(const std::string& key) const {
    return find(key).has_value();
}

bool UserDefaults::boolForKey(const std::string& key) const {
    return boolValueForKey(key).value_or(false);
}

std::optional<bool> UserDefaults::boolValueForKey(const std::string& key) const {
    auto v = find(key);
    if (!v) return std::nullopt;
    if (auto* b = std::get_if<bool>(&v->value)) return *b;
    if (auto* i = std::get_if<std::int64_t>(&v->value)) return *i != 0;
    if (auto* d = std::get_if<double>(&v->value)) return *d != 0;
    if (auto* n = keptNumber(v)) return *n->asDouble() != 0;
    if (auto* s = std::get_if<std::string>(&v->value)) {
        std::string word = lower(*s);
        if (word == "true" || word == "yes") return true;
        if (word == "false" || word == "no") return false;
        if (auto n = numberInText(*s)) return *n != 0;
    }
    return std::nullopt;
}

std::int64_t UserDefaults::integerForKey(const std::string& key) const {
    return integerOf(find(key));
}

std::int64_t UserDefaults::integerOf(const std::optional<Stored>& v) {
    if (!v) return 0;
    if (auto* b = std::get_if<bool>(&v->value)) return *b ? 1 : 0;
    if (auto* i = std::get_if<std::int64_t>(&v->value)) return *i;
    if (auto* d = std::get_if<double>(&v->value)) return toInteger(*d);
    if (auto* n = keptNumber(v)) return toInteger(*n->asDouble());
    if (auto* s = std::get_if<std::string>(&v->value)) {
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
    if (auto* b = std::get_if<bool>(&v->value)) return *b ? 1 : 0;
    if (auto* i = std::get_if<std::int64_t>(&v->value)) return static_cast<double>(*i);
    if (auto* d = std::get_if<double>(&v->value)) return *d;
    if (auto* n = keptNumber(v)) return *n->asDouble();
    if (auto* s = std::get_if<std::string>(&v->value)) return numberInText(*s).value_or(0);
    return 0;
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
    auto v = find(key);
    if (!v) return std::nullopt;
    if (auto* s = std::get_if<std::string>(&v->value)) return *s;
    if (auto* i = std::get_if<std::int64_t>(&v->value)) return std::to_string(*i);
    // Other numbers read as the shortest text of their double, however the file holds them,
    // so that the answer stays the same when the file is written again.
    const double* d = std::get_if<double>(&v->value);
    auto* n = keptNumber(v);
    if (!d && !n) return std::nullopt;
    char text[32];
    auto [end, err] = std::to_chars(text, text + sizeof text, d ? *d : *n->asDouble());
    return err == std::errc() ? std::optional<std::string>(std::string(text, end)) : std::nullopt;
}

std::optional<UserDefaults::Date> UserDefaults::dateForKey(const std::string& key) const {
    auto v = find(key);
    if (!v) return std::nullopt;
    if (auto* d = std::get_if<Date>(&v->value)) return *d;
    return std::nullopt;
}

bool UserDefaults::setBool(const std::string& key, bool value) {
    return store(key, Stored{value});
}
bool UserDefaults::setInteger(const std::string& key, std::int64_t value) {
    return store(key, Stored{value});
}

bool UserDefaults::setDouble(const std::string& key, double value) {
    if (!std::isfinite(value)) {
        Log::warn("the setting \"" + key + "\" cannot hold a number that is not finite");
        return false;
    }
    return store(key, Stored{value});
}

bool UserDefaults::setString(const std::string& key, const std::string& value) {
    // The file is JSON: a text that the writer refuses (not UTF-8) would block every later
    // write, so it is refused here.
    if (!isUtf8(value)) {
        Log::warn("the setting \"" + key + "\" cannot hold a text that is not UTF-8");
        return false;
    }
    return store(key, Stored{value});
}

bool UserDefaults::setDate(const std::string& key, Date value) {
    // Only a date that reads back: the file holds four-digit years, and the clock's time
    // points reach only so far.
    auto text = formatDate(value);
    if (!text || !parseDate(*text)) {
        Log::warn("the setting \"" + key + "\" cannot hold a date that could not be read back");
        return false;
    }
    return store(key, Stored{value});
}

bool UserDefaults::removeObjectForKey(const std::string& key) {
    return store(key, std::nullopt);
}

std::optional<std::int64_t> UserDefaults::incrementInteger(const std::string& key,
                                                           std::int64_t by) {
    if (!isUtf8(key)) {
        Log::warn("a setting's key must be UTF-8 text");
        return std::nullopt;
    }
    std::int64_t result = 0;
    bool written = write([&] {
        auto it = _values.find(key);
        std::int64_t was =
            integerOf(it == _values.end() ? std::nullopt : std::optional<Stored>(it->second));
        if (__builtin_add_overflow(was, by, &result)) result = by > 0 ? INT64_MAX : INT64_MIN;
        _values[key] = Stored{result};
        markChanged(key);
        return true;
    });
    if (!written) return std::nullopt;
    return result;
}

void UserDefaults::markChanged(const std::string& key) {
    _changed[key] = ++_version;
}

bool UserDefaults::store(const std::string& key, std::optional<Stored> value) {
    if (!isUtf8(key)) {
        Log::warn("a setting's key must be UTF-8 text");
        return false;
    }
    {
        std::lock_guard lock(_mutex);
        // Marked as changed even when this store holds the value already: another process
        // may have written another one since, and this later write must win. The write
        // leaves the file alone when it holds the value too.
        if (value)
            _values.insert_or_assign(key, std::move(*value));
        else
            _values.erase(key);
        markChanged(key);
    }
    return synchronize();
}

bool UserDefaults::synchronize() {
    return write(nullptr);
}

bool UserDefaults::write(const std::function<bool()>& change) {
    std::lock_guard writing(_writeMutex);
    auto changeInMemory = [&] {
        std::lock_guard lock(_mutex);
        if (change) change();
    };
    {
        std::lock_guard lock(_mutex);
        if (_leaveFileAlone) {
            if (change) change();
            return false;
        }
        if (_changed.empty() && !change) return true;
    }
    auto target = writeTarget(_path);
    if (!target) {
        Log::error("cannot save the settings: " + target.error().localizedDescription());
        changeInMemory();
        return false;
    }
    std::error_code ec;
    fs::path dir = target->parent_path();
    if (*target == _path && !dir.empty() && !fs::exists(dir, ec)) {
        if (fs::create_directories(dir, ec)) chmod(dir.c_str(), 0700);
    }
    FileLock fileLock(_path.string() + ".lock");

    // The file as it is now, written by whoever wrote it last.
    Values onDisk;
    bool rewrite = false;  // the file is to be written whatever changed
    auto current = readRegularFile(_path, kMaxFileBytes);
    if (current) {
        std::string why;
        Parsed values = parse(std::move(*current), &why);
        if (values) {
            onDisk = std::move(*values);
        } else {
            // Damaged since it was read: it goes aside as at the start, and what this store
            // knows takes its place.
            setAside(why, "writing the settings this session knows");
            std::lock_guard lock(_mutex);
            if (_leaveFileAlone) {
                if (change) change();
                return false;
            }
            onDisk = _values;
            rewrite = true;
        }
    } else if (!current.error().is(FileError::Missing)) {
        Log::error("cannot save the settings: " + current.error().localizedDescription());
        changeInMemory();
        return false;
    }

    std::optional<std::string> text;
    std::uint64_t version;
    {
        std::lock_guard lock(_mutex);
        // Every key from the file, except those changed here and not yet written.
        for (const auto& [key, changedAt] : _changed) {
            (void)changedAt;
            auto mine = _values.find(key);
            auto theirs = onDisk.find(key);
            const Stored* a = mine == _values.end() ? nullptr : &mine->second;
            const Stored* b = theirs == onDisk.end() ? nullptr : &theirs->second;
            if (sameInFile(a, b)) continue;
            rewrite = true;
            if (a)
                onDisk.insert_or_assign(key, *a);
            else
                onDisk.erase(theirs);
        }
        _values = std::move(onDisk);
        if (change && change()) rewrite = true;
        version = _version;
        if (!rewrite) {
            // The file holds every change already.
            _changed.clear();
            return true;
        }
        // The map is in byte order of its keys already: one pass writes it.
        json::JsonWriter writer;
        writer.setHumanReadable(true);
        writer.setMaxDepth(0);  // kept values are no deeper than the parser allowed
        text = writer.stringWithObject(_values);
    }
    if (!text) {
        Log::error("cannot write the settings as JSON");
        return false;
    }
    text->push_back('\n');
    std::string problem = writeFileAtomically(*target, *text, true, 0600);
    if (!problem.empty()) {
        Log::error("cannot save the settings: " + problem);
        return false;
    }
    std::lock_guard lock(_mutex);
    std::erase_if(_changed, [version](const auto& entry) { return entry.second <= version; });
    return true;
}

void UserDefaults::setAside(const std::string& why, const std::string& then) {
    // The file itself is moved, at the end of any symbolic link, so that a link stays.
    std::string problem;
    if (auto file = writeTarget(_path)) {
        fs::path aside = corruptCopyPath(*file);
        if (std::rename(file->c_str(), aside.c_str()) == 0) {
            pruneCorruptCopies(*file);
            Log::warn("the settings file " + _path.string() + why + "; it was moved to " +
                      aside.string() + "; " + then);
            return;
        }
        problem = std::strerror(errno);
    } else {
        problem = file.error().localizedDescription();
    }
    _leaveFileAlone = true;
    Log::warn("the settings file " + _path.string() + why + " and could not be moved aside (" +
              problem + "); using the built-in settings for this session and leaving the file " +
              "alone");
}

}  // namespace quorbit::platform
