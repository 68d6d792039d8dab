#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>

#include "json/Value.h"

namespace quorbit::platform {

// The application's persistent settings: typed values (bool, integer, double, text, date)
// under text keys, kept in one JSON file.
//
// Every change is written through at once: a temporary file in the same folder, flushed
// to disk, then renamed over the old one, so the file is always either the old or the new
// whole; it is readable by its owner only (0600). A change that leaves the file as it was
// writes nothing. Changes from several threads are all kept: one writer at a time writes
// the latest state, and a writer that finds its change already written by another returns
// at once. When the settings file is a symbolic link, the write goes to the file at the end
// of the link (in that file's folder), and the link stays.
//
// Several processes may share the file (two instances, another program). A write holds an
// advisory lock (flock on "<name>.lock" beside the settings file), reads the file as it is
// then, takes every key from it except those this store changed (set or removed) and not
// yet written, and writes that: the keys others changed are picked up, theirs are never
// dropped, and of two writes of one key the later wins. incrementInteger counts under the
// same lock, so counts from several processes add up.
//
// The file is never written over when it could not be read: when it exists but cannot be
// read (no permission, larger than kMaxFileBytes) or is not a regular file (a directory, a
// FIFO), the store starts empty, says so once in the log and keeps this session's changes
// in memory only. A file that cannot be parsed, or whose top level is not an object, is
// moved aside to "<name>.corrupt-<UTC time>" beside it (the newest five such copies are
// kept) and the store starts empty; this is logged. Every number a JSON file can hold is
// read (see JsonParser::setOutOfRangeNumbersAsDoubles), and members the store has no type
// for (arrays, objects, null) are kept as they are and written back unchanged.
//
// In the file, bools, numbers and texts are plain JSON values; a date is an object
// {"date": "YYYY-MM-DDThh:mm:ss.ffffffZ"} (UTC, to the microsecond).
class UserDefaults {
  public:
    using Date = std::chrono::system_clock::time_point;
    static constexpr std::uint64_t kMaxFileBytes = std::uint64_t(64) << 20;

    // The application's store: defaults.json in $QUORBIT_CONFIG_DIR, else in
    // $XDG_CONFIG_HOME/quorbit, else in ~/.config/quorbit.
    static UserDefaults& standard();
    static std::filesystem::path standardPath();

    // Loads path (a missing file is an empty store).
    explicit UserDefaults(std::filesystem::path path);
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    const std::filesystem::path& path() const { return _path; }

    // True for every key in the file, also those of a kind the store has no type for.
    bool contains(const std::string& key) const;
    // Absent values, and those of other kinds, read as false, 0 and empty. Numbers and bools
    // convert into each other (non-zero is true), and texts holding a number read as that number.
    bool boolForKey(const std::string& key) const;
    // The value as a bool where it reads as one (a bool, a number, a text "true", "yes",
    // "false", "no" or holding a number); none when absent or of another kind.
    std::optional<bool> boolValueForKey(const std::string& key) const;
    std::int64_t integerForKey(const std::string& key) const;
    double doubleForKey(const std::string& key) const;
    // Texts, and numbers as their text.
    std::optional<std::string> stringForKey(const std::string& key) const;
    std::optional<Date> dateForKey(const std::string& key) const;

    // Each stores the value and writes the file; false when the value cannot be stored (a
    // double that is not finite, a text or key that is not UTF-8, a date too far out to be
    // read back) or the file cannot be written (the value is then kept in memory and written
    // with the next change, unless the file could not be read: see above).
    bool setBool(const std::string& key, bool value);
    bool setInteger(const std::string& key, std::int64_t value);
    bool setDouble(const std::string& key, double value);
    bool setString(const std::string& key, const std::string& value);
    bool setDate(const std::string& key, Date value);
    bool removeObjectForKey(const std::string& key);
    // Adds by to the key's integer as it is in the file at this moment (another process may
    // have counted too) and writes it; the new value, or nullopt when it could not be
    // written (it is then counted in memory only).
    std::optional<std::int64_t> incrementInteger(const std::string& key, std::int64_t by = 1);

    // Writes any change not yet on disk; false when the file cannot be written, or is left
    // alone because it could not be read.
    bool synchronize();

  private:
    // One value: of a type the store reads and writes, or a JSON value kept as it was read
    // (another kind, or a number that is not a 64-bit integer, kept with all its digits).
    struct Stored {
        std::variant<bool, std::int64_t, double, std::string, Date, json::Value> value;
        // How the writer puts it in the file.
        json::Value proxyForJson() const;
    };

    using Values = std::map<std::string, Stored>;
    // What the file holds; nullopt for a file that is not valid JSON or not an object.
    using Parsed = std::optional<Values>;

    static bool sameInFile(const Stored& a, const Stored& b);
    static bool sameInFile(const Stored* a, const Stored* b);
    static const json::Value* keptNumber(const std::optional<Stored>& stored);
    static std::int64_t integerOf(const std::optional<Stored>& stored);
    // why tells a file that cannot be parsed from one that holds no object.
    static Parsed parse(std::string text, std::string* why);

    void load();
    void setAside(const std::string& why, const std::string& then = "starting with empty settings");
    bool store(const std::string& key, std::optional<Stored> value);
    std::optional<Stored> find(const std::string& key) const;
    // Writes under the file lock; change (when given) runs, under _mutex, once the file's
    // keys are merged into _values, may change them further and says whether it did.
    bool write(const std::function<bool()>& change);
    void markChanged(const std::string& key);

    std::filesystem::path _path;
    mutable std::mutex _mutex;  // the values, versions and state
    std::mutex _writeMutex;     // one writer at a time
    Values _values;
    std::uint64_t _version = 0;  // changes made
    // The keys changed in this process and not yet written, with the version of their
    // latest change.
    std::map<std::string, std::uint64_t> _changed;
    bool _leaveFileAlone = false;  // the file could not be read: never write over it
};

}  // namespace quorbit::platform
