// Parse and write throughput on the sample documents, beside nlohmann::json and RapidJSON
// (full-precision number parsing), all in one run. After the usual benchmark output a table
// gives MB/s (10^6 bytes of the input document per CPU second) per file; writing is measured
// against the same input size.
//
//   bench_json [--json-dir=DIR] [benchmark options]
//
// With --benchmark_repetitions=N the table shows the median of the repetitions.
// The documents are DIR/{canada,citm_catalog,twitter}.json; DIR defaults to
// $QUORBIT_BENCH_JSON_DIR, else the samples under tests/data/json.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "json/JsonParser.h"
#include "json/JsonWriter.h"

namespace {

using quorbit::json::JsonParser;
using quorbit::json::JsonWriter;

const char* const kFiles[] = {"canada", "citm_catalog", "twitter"};
const char* const kLibraries[] = {"quorbit", "nlohmann", "rapidjson"};

struct Document {
    std::string name;
    std::string text;
};

std::vector<Document> documents;

void parseQuorbit(benchmark::State& state, const Document* doc) {
    JsonParser parser;
    for (auto _ : state) {
        auto value = parser.objectWithString(doc->text);
        if (!value) state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * doc->text.size());
}

void parseNlohmann(benchmark::State& state, const Document* doc) {
    for (auto _ : state) {
        auto value = nlohmann::json::parse(doc->text);
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * doc->text.size());
}

void parseRapidjson(benchmark::State& state, const Document* doc) {
    for (auto _ : state) {
        rapidjson::Document value;
        value.Parse<rapidjson::kParseFullPrecisionFlag>(doc->text.c_str(), doc->text.size());
        if (value.HasParseError()) state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * doc->text.size());
}

void writeQuorbit(benchmark::State& state, const Document* doc) {
    JsonParser parser;
    auto value = parser.objectWithString(doc->text);
    JsonWriter writer;
    for (auto _ : state) {
        auto text = writer.stringWithObject(*value);
        if (!text) state.SkipWithError("write failed");
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * doc->text.size());
}

void writeNlohmann(benchmark::State& state, const Document* doc) {
    auto value = nlohmann::json::parse(doc->text);
    for (auto _ : state) {
        std::string text = value.dump();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * doc->text.size());
}

void writeRapidjson(benchmark::State& state, const Document* doc) {
    rapidjson::Document value;
    value.Parse<rapidjson::kParseFullPrecisionFlag>(doc->text.c_str(), doc->text.size());
    for (auto _ : state) {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        value.Accept(writer);
        benchmark::DoNotOptimize(buffer.GetString());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * doc->text.size());
}

// Keeps each run's throughput for the table.
class TableReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> megabytesPerSecond;
    std::map<std::string, std::size_t> sizes;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations == 0) continue;
            // With repetitions the median stands for the benchmark; the other statistics
            // are left out of the table.
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Aggregate && !median) continue;
            std::string name = run.run_name.str();
            // CPU time: the machine may be shared, and every run is single-threaded.
            double seconds = run.cpu_accumulated_time / double(run.iterations);
            auto size = sizes.find(name);
            if (size != sizes.end() && seconds > 0) {
                megabytesPerSecond[name] = double(size->second) / seconds / 1e6;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

// Peak memory of one parse: the process's high-water mark of resident memory before and after
// parsing the file once with the named library, in a process of its own for each.
int peakMemory(const std::string& path, const std::string& library) {
    // Read straight into its place, so that the reading leaves no higher mark than the text.
    std::string text;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        std::fseek(file, 0, SEEK_END);
        long size = std::ftell(file);
        std::fseek(file, 0, SEEK_SET);
        text.resize(size > 0 ? size_t(size) : 0);
        if (std::fread(text.data(), 1, text.size(), file) != text.size()) text.clear();
        std::fclose(file);
    }
    if (text.empty()) {
        std::fprintf(stderr, "bench_json: cannot read %s\n", path.c_str());
        return 1;
    }
    auto peakKiB = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return long(usage.ru_maxrss);
    };
    long before = peakKiB();
    bool parsed = false;
    if (library == "quorbit") {
        JsonParser parser;
        auto value = parser.objectWithString(text);
        parsed = bool(value);
        benchmark::DoNotOptimize(value);
    } else if (library == "rapidjson") {
        rapidjson::Document value;
        value.Parse<rapidjson::kParseFullPrecisionFlag>(text.c_str(), text.size());
        parsed = !value.HasParseError();
        benchmark::DoNotOptimize(value);
    } else {
        std::fprintf(stderr, "bench_json: --peak-memory takes quorbit or rapidjson\n");
        return 2;
    }
    long after = peakKiB();
    std::printf("%s: %s %.1f MB of text, peak memory %.1f MB above the text\n", library.c_str(),
                parsed ? "parsed" : "FAILED to parse", double(text.size()) / 1e6,
                double(after - before) / 1024);
    return parsed ? 0 : 1;
}

int main(int argc, char** argv) {
    // bench_json --peak-memory FILE quorbit|rapidjson
    if (argc == 4 && std::strcmp(argv[1], "--peak-memory") == 0)
        return peakMemory(argv[2], argv[3]);
    std::string dir = QUORBIT_DEFAULT_BENCH_JSON_DIR;
    if (const char* env = std::getenv("QUORBIT_BENCH_JSON_DIR")) dir = env;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--json-dir=", 11) == 0) {
            dir = argv[i] + 11;
        } else {
            args.push_back(argv[i]);
        }
    }
    for (const char* file : kFiles) {
        std::string path = dir + "/" + file + ".json";
        std::string text = readFile(path);
        if (text.empty()) {
            std::fprintf(stderr, "bench_json: cannot read %s\n", path.c_str());
            return 1;
        }
        documents.push_back({file, std::move(text)});
    }

    TableReporter reporter;
    using Function = void (*)(benchmark::State&, const Document*);
    const Function parse[] = {parseQuorbit, parseNlohmann, parseRapidjson};
    const Function write[] = {writeQuorbit, writeNlohmann, writeRapidjson};
    for (const Document& doc : documents) {
        for (int library = 0; library < 3; ++library) {
            for (int operation = 0; operation < 2; ++operation) {
                std::string name = std::string(operation == 0 ? "parse/" : "write/") +
                                   kLibraries[library] + "/" + doc.name;
                benchmark::RegisterBenchmark(name.c_str(),
                                             operation == 0 ? parse[library] : write[library], &doc)
                    ->Unit(benchmark::kMillisecond);
                reporter.sizes[name] = doc.text.size();
            }
        }
    }

    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto rate = [&](const char* operation, const char* library, const std::string& file) {
        auto it =
            reporter.megabytesPerSecond.find(std::string(operation) + "/" + library + "/" + file);
        return it == reporter.megabytesPerSecond.end() ? 0.0 : it->second;
    };
    std::printf(
        "\nMB/s        |        parse: ours  nlohmann  rapidjson |        write: ours  "
        "nlohmann  rapidjson\n");
    for (const Document& doc : documents) {
        std::printf("%-12s| %18.0f %9.0f %10.0f | %18.0f %9.0f %10.0f\n", doc.name.c_str(),
                    rate("parse", "quorbit", doc.name), rate("parse", "nlohmann", doc.name),
                    rate("parse", "rapidjson", doc.name), rate("write", "quorbit", doc.name),
                    rate("write", "nlohmann", doc.name), rate("write", "rapidjson", doc.name));
    }
    return 0;
}
