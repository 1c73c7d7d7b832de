// The benchmark program's entry point. It runs the benchmarks as usual, printing only the
// medians when repetitions are asked for, then sums the per-frame benchmarks up in two
// tables: every stage at every scene size, and the detectors side by side, each system's
// time divided by Zelk_Update's with its detection rate on its own markers. The tables
// give CPU time: on a shared machine wall-clock time also counts other processes' turns.
// A third table puts the host's whole frame beside the peers'. The program fails when a
// benchmark reports an error.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <set>
#include <utility>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A scene as the per-frame benchmarks name it: width, height, markers.
struct SceneKey {
    int width, height, markers;
    bool operator<(const SceneKey& o) const {
        return width != o.width ? width < o.width : height != o.height ? height < o.height : markers < o.markers;
    }
};

struct Result {
    double seconds = 0;                      // median (or only) CPU time per iteration
    double detected = -1;                    // the detection rate, for detectors
    std::map<std::string, double> counters;  // the run's counters, e.g. microseconds per mode
};

class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        bool aggregated = false;
        for (const Run& run : runs) aggregated |= run.run_type == Run::RT_Aggregate;
        std::vector<Run> shown;
        for (const Run& run : runs) {
            if (aggregated && run.aggregate_name != "median") continue;
            shown.push_back(run);
            if (run.error_occurred)
                failed_ = true;
            else
                keep(run);
        }
        if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
    }

    bool failed() const { return failed_; }

    void printTables() const {
        printStages();
        printDetectors();
        printWholeFrames();
        printPreciseCost();
    }

private:
    // Per-frame benchmarks are those with w, h and markers arguments; their other arguments
    // become part of the row's name.
    void keep(const Run& run) {
        std::map<std::string, int> args;
        std::string rest;
        std::istringstream parts(run.run_name.args);
        for (std::string part; std::getline(parts, part, '/');) {
            const size_t colon = part.find(':');
            const std::string name = part.substr(0, colon);
            if (colon != std::string::npos && (name == "w" || name == "h" || name == "markers"))
                args[name] = std::stoi(part.substr(colon + 1));
            else
                rest += " " + part;
        }
        if (args.size() != 3) return;
        std::string row = run.run_name.function_name;
        if (row.rfind("BM_", 0) == 0) row = row.substr(3);
        row += rest;
        const SceneKey scene{args["w"], args["h"], args["markers"]};
        Result result;
        result.seconds = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        const auto detected = run.counters.find("detected");
        if (detected != run.counters.end()) result.detected = detected->second.value;
        for (const auto& [name, counter] : run.counters) result.counters[name] = counter.value;
        if (!results_.count(row)) rows_.push_back(row);
        results_[row][scene] = result;
        scenes_.insert(scene);
    }

    static std::string sceneName(const SceneKey& s) {
        return std::to_string(s.width) + "x" + std::to_string(s.height) + " " + std::to_string(s.markers) +
               (s.markers == 1 ? " marker" : " markers");
    }

    const Result* find(const std::string& row, const SceneKey& scene) const {
        const auto r = results_.find(row);
        if (r == results_.end()) return nullptr;
        const auto s = r->second.find(scene);
        return s == r->second.end() ? nullptr : &s->second;
    }

    void printStages() const {
        if (rows_.empty()) return;
        std::printf("\nMedian CPU time per call, microseconds\n%-28s", "");
        for (const SceneKey& scene : scenes_) std::printf(" %22s", sceneName(scene).c_str());
        std::printf("\n");
        for (const std::string& row : rows_) {
            std::printf("%-28s", row.c_str());
            for (const SceneKey& scene : scenes_) {
                const Result* r = find(row, scene);
                r ? std::printf(" %22.1f", r->seconds * 1e6) : std::printf(" %22s", "-");
            }
            std::printf("\n");
        }
        printRatio("ZelkUpdate", "PlainPass");
        printRatio("ZelkUpdateAuto", "ZelkUpdate");
        printRatio("ZelkGetBmap", "FrameMemcpy");
    }

    // A row of the first row's times over the second's, taken in this run.
    void printRatio(const char* row, const char* over) const {
        std::printf("%-28s", (std::string(row) + " / " + over).c_str());
        for (const SceneKey& scene : scenes_) {
            const Result *a = find(row, scene), *b = find(over, scene);
            a&& b ? std::printf(" %22.2f", a->seconds / b->seconds) : std::printf(" %22s", "-");
        }
        std::printf("\n");
    }

    // The whole frame as a host pays it (the rows named WholeFrame...), beside a memcpy of the frame.
    void printWholeFrames() const {
        std::vector<std::string> systems = {"FrameMemcpy"};
        for (const std::string& row : rows_)
            if (row.rfind("WholeFrame", 0) == 0) systems.push_back(row);
        if (systems.size() < 2) return;
        std::printf("\nThe whole frame as the host makes it, median CPU time per frame\n");
        std::printf("%-22s %-30s %12s %16s\n", "scene", "system", "ms", "/ WholeFrameZelk");
        for (const SceneKey& scene : scenes_) {
            const Result* ours = find("WholeFrameZelk", scene);
            for (const std::string& row : systems) {
                const Result* r = find(row, scene);
                if (!r) continue;
                std::printf("%-22s %-30s %12.3f", sceneName(scene).c_str(), row.c_str(), r->seconds * 1e3);
                ours ? std::printf(" %16.2f\n", r->seconds / ours->seconds) : std::printf(" %16s\n", "-");
            }
        }
    }

    // What precise mode adds to a frame: both modes on the same frames, taken in turn.
    void printPreciseCost() const {
        if (!results_.count("PreciseModeCost")) return;
        std::printf("\nZelk_Update and a query of every marker found, median CPU microseconds\n");
        std::printf("%-22s %12s %12s %12s %22s\n", "scene", "default", "precise", "markers", "added per marker");
        for (const auto& [scene, r] : results_.at("PreciseModeCost")) {
            const auto counter = [&r = r](const char* name) {
                const auto c = r.counters.find(name);
                return c == r.counters.end() ? 0.0 : c->second;
            };
            std::printf("%-22s %12.1f %12.1f %12.2f %22.1f\n", sceneName(scene).c_str(), counter("default_us"),
                        counter("precise_us"), counter("markers"), counter("added_us_per_marker"));
        }
    }

    // Every benchmark with a detection rate is a detector of its own markers.
    void printDetectors() const {
        std::vector<std::string> detectors;
        for (const std::string& row : rows_)
            for (const auto& [scene, result] : results_.at(row))
                if (result.detected >= 0) {
                    detectors.push_back(row);
                    break;
                }
        if (detectors.size() < 2) return;
        std::printf("\nDetectors side by side, one thread, median CPU time per frame\n");
        std::printf("%-22s %-24s %12s %12s %10s\n", "scene", "system", "ms", "/ ZelkUpdate", "detected");
        for (const SceneKey& scene : scenes_) {
            const Result* ours = find("ZelkUpdate", scene);
            for (const std::string& row : detectors) {
                const Result* r = find(row, scene);
                if (!r) continue;
                std::printf("%-22s %-24s %12.3f", sceneName(scene).c_str(), row.c_str(), r->seconds * 1e3);
                ours ? std::printf(" %12.1f", r->seconds / ours->seconds) : std::printf(" %12s", "-");
                std::printf(" %9.1f%%\n", 100 * r->detected);
            }
        }
    }

    std::vector<std::string> rows_;  // in the order the benchmarks ran
    std::map<std::string, std::map<SceneKey, Result>> results_;
    std::set<SceneKey> scenes_;
    bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printTables();
    benchmark::Shutdown();
    return reporter.failed() ? 1 : 0;
}
