// The settings store with many keys: loading the file, and one change written back (the
// whole file, as every change is). Both must grow linearly with the number of keys.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>

#include "platform/core/UserDefaults.h"

namespace {

namespace fs = std::filesystem;
using quorbit::platform::UserDefaults;

// A settings file of `count` keys of every kind the store holds, in a fresh folder.
class SettingsFile {
  public:
    explicit SettingsFile(long count) {
        _dir = fs::temp_directory_path() /
               ("quorbit-bench-settings-" + std::to_string(getpid()) + "-" + std::to_string(count));
        fs::remove_all(_dir);
        fs::create_directories(_dir);
        _path = _dir / "defaults.json";
        // Keys in no particular order, as a file edited over time holds them.
        std::string text = "{";
        for (long i = 0; i < count; ++i) {
            text += (i ? ",\n\"key." : "\"key.") + std::to_string(i * 7919 % count) + "\": ";
            switch (i % 5) {
                case 0:
                    text += std::to_string(i);
                    break;
                case 1:
                    text += "\"text value " + std::to_string(i) + "\"";
                    break;
                case 2:
                    text += std::to_string(i) + ".25";
                    break;
                case 3:
                    text += i % 10 == 3 ? "true" : "false";
                    break;
                default:
                    text += R"({"date": "2025-06-01T12:00:00.250000Z"})";
                    break;
            }
        }
        text += "}";
        FILE* file = std::fopen(_path.c_str(), "w");
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
    ~SettingsFile() { fs::remove_all(_dir); }
    const fs::path& path() const { return _path; }

  private:
    fs::path _dir, _path;
};

void SettingsLoad(benchmark::State& state) {
    SettingsFile file(state.range(0));
    for (auto _ : state) {
        UserDefaults defaults(file.path());
        benchmark::DoNotOptimize(defaults.integerForKey("key.0"));
    }
}
BENCHMARK(SettingsLoad)->Arg(25'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

void SettingsSave(benchmark::State& state) {
    SettingsFile file(state.range(0));
    UserDefaults defaults(file.path());
    std::int64_t value = 0;
    for (auto _ : state) {
        if (!defaults.setInteger("LastFilterUsed", ++value)) state.SkipWithError("not written");
    }
}
BENCHMARK(SettingsSave)->Arg(25'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
