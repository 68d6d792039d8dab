#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>

namespace quorbit::platform {

// The application's persistent settings: typed values (bool, integer, double, text, date)
// under text keys, kept in one JSON file.
//
// Every change is written through at once: a temporary file in the same folder, flushed
// to disk, then renamed over the old one, so the file is always either the old or the new
// whole; it is readable by its owner only (0600). Changes from several threads are all
// kept: one writer at a time writes the latest state, and a writer that finds its change
// already written by another returns at once.
//
// A file that cannot be parsed, or whose top level is not an object, is moved aside to
// "<name>.corrupt" (replacing an older one) and the store starts empty; this is logged.
// A member of a kind the store does not hold (an array, say) is skipped with a log line.
//
// In the file, bools, numbers and texts are plain JSON values; a date is an object
// {"date": "YYYY-MM-DDThh:mm:ss.ffffffZ"} (UTC, to the microsecond).
class UserDefaults {
  public:
    using Date = std::chrono::system_clock::time_point;

    // The application's store: defaults.json in $QUORBIT_CONFIG_DIR, else in
    // $XDG_CONFIG_HOME/quorbit, else in ~/.config/quorbit.
    static UserDefaults& standard();
    static std::filesystem::path standardPath();

    // Loads path (a missing file is an empty store).
    explicit UserDefaults(std::filesystem::path path);
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    const std::filesystem::path& path() const { return _path; }

    bool contains(const std::string& key) const;
    // Absent values read as false, 0 and empty. Numbers and bools convert into each other
    // (non-zero is true), and texts holding a number read as that number.
    bool boolForKey(const std::string& key) const;
    std::int64_t integerForKey(const std::string& key) const;
    double doubleForKey(const std::string& key) const;
    // Texts, and numbers as their text.
    std::optional<std::string> stringForKey(const std::string& key) const;
    std::optional<Date> dateForKey(const std::string& key) const;

    // Each stores the value and writes the file; false when the value cannot be stored (a
    // double that is not finite, a text that is not UTF-8) or the file cannot be written
    // (the value is then kept in memory and written with the next change).
    bool setBool(const std::string& key, bool value);
    bool setInteger(const std::string& key, std::int64_t value);
    bool setDouble(const std::string& key, double value);
    bool setString(const std::string& key, const std::string& value);
    bool setDate(const std::string& key, Date value);
    bool removeObjectForKey(const std::string& key);

    // Writes any change not yet on disk; false when the file cannot be written.
    bool synchronize();

  private:
    using Stored = std::variant<bool, std::int64_t, double, std::string, Date>;

    void load();
    bool store(const std::string& key, std::optional<Stored> value);
    std::optional<Stored> find(const std::string& key) const;

    std::filesystem::path _path;
    mutable std::mutex _mutex;  // the values and versions
    std::mutex _writeMutex;     // one writer at a time
    std::map<std::string, Stored> _values;
    std::uint64_t _version = 0;  // changes made
    std::uint64_t _writtenVersion = 0;
};

}  // namespace quorbit::platform
