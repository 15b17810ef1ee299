// The file work of one load and one save: the fifteen GetPrivateProfileIntA reads and
// the fifteen WriteExistingProfileString writes, on msdos.sys files of 2 KiB, 64 KiB,
// 1 MiB and 16 MB shaped like the real one: [Paths], [Options] with the fifteen keys,
// then a long block of padding comment lines that belongs to [Options] (so every call
// has to walk it). Each save changes every value, so no write is skipped as unchanged;
// each write replaces the file atomically and flushes it to disk.
//
// With --image, also the save of the fifteen keys into a disk image, as the program saves.
//
// usage: fileops [--markdown=FILE] [--image=IMAGE] [Google Benchmark flags]
//   --markdown=FILE also writes a Markdown table of the figures to FILE (the medians
//   when --benchmark_repetitions asks for several runs).
//   --image=IMAGE   a disk image holding msdos.sys (scripts/win95-image.sh makes one);
//                   it is written to.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "options/bootoptions.h"
#include "options/saving.h"
#include "platform/files/files.h"
#include "platform/files/profile.h"

namespace {

namespace fs = std::filesystem;

// The two value sets a save alternates between: the Windows 95 defaults, and every value
// changed with its text the same length, so that no write is skipped as unchanged.
BootOptions ChangedValues()
{
    BootOptions changed = Windows95Defaults;
    for (const OptionKey& option : ReadingOrder) {
        if (option.flag)
            changed.*option.flag = !(changed.*option.flag);
        else if (changed.*option.number == option.highest)
            --(changed.*option.number);
        else
            ++(changed.*option.number);
    }
    return changed;
}
const BootOptions SetA = Windows95Defaults;
const BootOptions SetB = ChangedValues();

constexpr const char* MsdosSys = "C:\\msdos.sys";

fs::path& DriveDir()
{
    static fs::path dir;
    return dir;
}

// A msdos.sys of exactly `size` bytes, CR LF line endings, values from set A.
std::string MsdosSysOfSize(size_t size)
{
    std::string text =
        "[Paths]\r\nWinDir=C:\\WINDOWS\r\nWinBootDir=C:\\WINDOWS\r\nHostWinBootDrv=C\r\n\r\n[Options]\r\n";
    for (const OptionKey& option : ReadingOrder)
        text += std::string(option.key) + "=" + OptionValueText(SetA, option) + "\r\n";
    text += ";\r\n;The lines below pad this file out.\r\n";
    const std::string padding = ";" + std::string(69, 'x') + "\r\n";
    while (text.size() + padding.size() <= size)
        text += padding;
    if (text.size() < size) {
        const size_t room = size - text.size();
        text += room >= 3 ? ";" + std::string(room - 3, 'x') + "\r\n" : std::string(room, ';');
    }
    return text;
}

void WriteDrive(size_t size)
{
    std::ofstream(DriveDir() / "msdos.sys", std::ios::binary | std::ios::trunc) << MsdosSysOfSize(size);
}

void BM_Load(benchmark::State& state)
{
    const size_t size = size_t(state.range(0));
    WriteDrive(size);
    for (auto _ : state) {
        for (const OptionKey& option : ReadingOrder)
            benchmark::DoNotOptimize(GetPrivateProfileIntA("Options", option.key, option.missingDefault, MsdosSys));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 15 * int64_t(size));
    state.SetComplexityN(int64_t(size));
    state.counters["per_call"] =
        benchmark::Counter(15, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Save(benchmark::State& state)
{
    const size_t size = size_t(state.range(0));
    WriteDrive(size);
    bool setB = true;
    for (auto _ : state) {
        for (int index : WritingOrder) {
            const std::string value = OptionValueText(setB ? SetB : SetA, ReadingOrder[size_t(index)]);
            if (!WriteExistingProfileString("Options", ReadingOrder[size_t(index)].key, value.c_str(), MsdosSys))
                state.SkipWithError("a write failed");
        }
        setB = !setB;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 15 * int64_t(size));
    state.SetComplexityN(int64_t(size));
    state.counters["per_call"] =
        benchmark::Counter(15, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// A whole save into the disk image mapped as drive I: the attributes cleared, the fifteen
// writes (each reads the file, writes a copy through mtools, reads it back, puts it in
// place and flushes the image), the attributes set again.
void BM_ImageSave(benchmark::State& state)
{
    const char* const path = "I:\\msdos.sys";
    bool setB = true;
    for (auto _ : state) {
        bool saved = SetFileAttributesA(path, 0);
        for (int index : WritingOrder) {
            const std::string value = OptionValueText(setB ? SetB : SetA, ReadingOrder[size_t(index)]);
            saved = saved && WriteExistingProfileString("Options", ReadingOrder[size_t(index)].key, value.c_str(), path);
        }
        if (!SetFileAttributesA(path, 0x07) || !saved)
            state.SkipWithError("the save into the image failed");
        setB = !setB;
    }
}

// 2 KiB, 64 KiB, 1 MiB and 16 MB, with two more points between for the growth fit.
// Baselines: what the machine itself charges for moving the same bytes, fifteen times as a
// load and a save do. A plain read of the whole file into memory...
void BM_PlainReads(benchmark::State& state)
{
    const size_t size = size_t(state.range(0));
    WriteDrive(size);
    const std::string path = (DriveDir() / "msdos.sys").string();
    for (auto _ : state) {
        for (int call = 0; call < 15; ++call) {
            std::string bytes;
            char buffer[65536];
            const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            for (ssize_t count; (count = read(fd, buffer, sizeof buffer)) > 0;)
                bytes.append(buffer, size_t(count));
            close(fd);
            benchmark::DoNotOptimize(bytes.data());
        }
    }
    state.SetComplexityN(int64_t(size));
}

// ...and a plain atomic rewrite: write a temporary file, flush it, rename it over.
void BM_PlainRewrites(benchmark::State& state)
{
    const size_t size = size_t(state.range(0));
    WriteDrive(size);
    const std::string bytes = MsdosSysOfSize(size);
    const std::string path = (DriveDir() / "msdos.sys").string();
    const std::string temporary = (DriveDir() / "msdos.tmp").string();
    for (auto _ : state) {
        for (int call = 0; call < 15; ++call) {
            const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0 || write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()) || fsync(fd) != 0)
                state.SkipWithError("a plain write failed");
            close(fd);
            rename(temporary.c_str(), path.c_str());
        }
    }
    state.SetComplexityN(int64_t(size));
}

constexpr int64_t OneMiB = 1024 * 1024;
constexpr int64_t Largest = 16'000'000;
constexpr int64_t Sizes[] = {2 * 1024, 64 * 1024, 256 * 1024, OneMiB, 4 * OneMiB, Largest};

void BySize(benchmark::internal::Benchmark* b)
{
    for (int64_t size : Sizes)
        b->Arg(size);
    b->Unit(benchmark::kMillisecond)->Complexity(benchmark::oAuto)->UseRealTime();
}

BENCHMARK(BM_Load)->Apply(BySize);
BENCHMARK(BM_PlainReads)->Apply(BySize);
BENCHMARK(BM_Save)->Apply(BySize);
BENCHMARK(BM_PlainRewrites)->Apply(BySize);

// Keeps each run's figures for the Markdown table, and prints as usual.
class Recorder : public benchmark::ConsoleReporter {
public:
    Recorder() : ConsoleReporter(OO_Tabular) {}  // no colours: the output goes into RESULTS.md

    struct Figures {
        double wholeMs = 0;
        double perCallMs = 0;
    };
    std::map<std::string, std::map<int64_t, Figures>> runs;  // name -> size -> figures
    std::map<std::string, std::string> bigO;  // the best fit Google Benchmark found
    std::map<std::string, double> rms;         // and its normalised root-mean-square error

    void ReportRuns(const std::vector<Run>& reports) override
    {
        for (const Run& run : reports) {
            const std::string name = run.run_name.function_name;
            // One figure per size: the median of the repetitions when there are several.
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if ((single || median) && !run.error_occurred) {
                const double ms = run.GetAdjustedRealTime() * Multiplier(run.time_unit);
                runs[name][run.run_name.args.empty() ? 0 : std::stoll(run.run_name.args)] = {ms, ms / 15};
            } else if (run.report_big_o) {
                bigO[name] = BigOText(run.complexity);
            } else if (run.report_rms) {
                rms[name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(reports);
    }

private:
    static std::string BigOText(benchmark::BigO complexity)
    {
        switch (complexity) {
        case benchmark::o1: return "O(1)";
        case benchmark::oN: return "O(N)";
        case benchmark::oNSquared: return "O(N^2)";
        case benchmark::oNCubed: return "O(N^3)";
        case benchmark::oLogN: return "O(log N)";
        case benchmark::oNLogN: return "O(N log N)";
        default: return "?";
        }
    }

    static double Multiplier(benchmark::TimeUnit unit)
    {
        switch (unit) {
        case benchmark::kNanosecond: return 1e-6;
        case benchmark::kMicrosecond: return 1e-3;
        case benchmark::kMillisecond: return 1;
        case benchmark::kSecond: return 1e3;
        }
        return 1;
    }
};

std::string SizeLabel(int64_t size)
{
    if (size >= 1'000'000 && size % (1024 * 1024) != 0)
        return std::to_string(size / 1'000'000) + " MB";
    if (size >= 1024 * 1024)
        return std::to_string(size / (1024 * 1024)) + " MiB";
    return std::to_string(size / 1024) + " KiB";
}

void WriteMarkdown(const Recorder& recorder, const std::string& file)
{
    FILE* out = std::fopen(file.c_str(), "w");
    if (!out) {
        std::perror(file.c_str());
        std::exit(1);
    }
    std::fprintf(out, "| File size | Load: 15 reads (ms) | per read (ms) | per MiB (ms) | vs plain reads "
                      "| Save: 15 writes (ms) | per write (ms) | per MiB (ms) | vs plain rewrites |\n");
    std::fprintf(out, "|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    auto figures = [&](const char* name, int64_t size) {
        auto byName = recorder.runs.find(name);
        if (byName == recorder.runs.end() || !byName->second.count(size))
            return Recorder::Figures{-1, -1};
        return byName->second.at(size);
    };
    for (int64_t size : Sizes) {
        const auto load = figures("BM_Load", size);
        const auto save = figures("BM_Save", size);
        const auto plainReads = figures("BM_PlainReads", size);
        const auto plainRewrites = figures("BM_PlainRewrites", size);
        const double mebibytes = double(size) / double(OneMiB);
        std::fprintf(out, "| %s | %.3f | %.4f | %.2f | %.2fx | %.2f | %.3f | %.1f | %.2fx |\n",
                     SizeLabel(size).c_str(), load.wholeMs, load.perCallMs, load.wholeMs / mebibytes,
                     load.wholeMs / plainReads.wholeMs, save.wholeMs, save.perCallMs, save.wholeMs / mebibytes,
                     save.wholeMs / plainRewrites.wholeMs);
    }
    // Growth: time per byte at 16 MB against 4 MiB and 1 MiB; 1.0 is exactly linear.
    auto perByte = [&](const char* name, int64_t size) { return figures(name, size).wholeMs / double(size); };
    auto growth = [&](const char* name, int64_t from) { return perByte(name, Largest) / perByte(name, from); };
    auto fitted = [&](const char* name) {
        auto it = recorder.bigO.find(name);
        if (it == recorder.bigO.end())
            return std::string("?");
        auto rms = recorder.rms.find(name);
        char text[64] = "";
        if (rms != recorder.rms.end())
            std::snprintf(text, sizeof text, " (RMS %.0f%%)", rms->second * 100);
        return it->second + text;
    };
    std::fprintf(out, "\nGrowth with size: Google Benchmark fits the load as %s and the save as %s. The time "
                      "per byte at 16 MB is %.2fx that at 4 MiB and %.2fx that at 1 MiB for the load, %.2fx and "
                      "%.2fx for the save (1.00 = linear); for plain reads and rewrites of the same bytes, "
                      "%.2fx and %.2fx (16 MB against 1 MiB).\n",
                 fitted("BM_Load").c_str(), fitted("BM_Save").c_str(), growth("BM_Load", 4 * OneMiB),
                 growth("BM_Load", OneMiB), growth("BM_Save", 4 * OneMiB), growth("BM_Save", OneMiB),
                 growth("BM_PlainReads", OneMiB), growth("BM_PlainRewrites", OneMiB));
    const double load1M = figures("BM_Load", OneMiB).wholeMs;
    std::fprintf(out, "Goal: a whole load of a 1 MiB file in under 30 ms: %.2f ms, %s.\n", load1M,
                 load1M >= 0 && load1M < 30 ? "met" : "NOT met");
    if (recorder.runs.count("BM_ImageSave")) {
        const double imageSave = figures("BM_ImageSave", 0).wholeMs;
        std::fprintf(out, "\nA whole save into a 2 GiB disk image with a Windows 95 layout (the attributes cleared, "
                          "fifteen writes, the attributes set again): %.0f ms (%.1f ms a write).\n"
                          "Goal: under one second: %s.\n",
                     imageSave, imageSave / 15, imageSave >= 0 && imageSave < 1000 ? "met" : "NOT met");
    }
    std::fclose(out);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string markdown;
    std::string image;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with("--markdown="))
            markdown = std::string(arg.substr(11));
        else if (arg.starts_with("--image="))
            image = std::string(arg.substr(8));
        else
            args.push_back(argv[i]);
    }
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 2;

    // A scratch directory mapped as drive C, under TMPDIR (or /tmp).
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/varnello-bench.XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    DriveDir() = pattern;
    setenv("VARNELLO_DRIVE_C", pattern.c_str(), 1);
    if (!image.empty()) {
        setenv("VARNELLO_DRIVE_I", image.c_str(), 1);
        benchmark::RegisterBenchmark("BM_ImageSave", BM_ImageSave)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(4);
    }

    Recorder recorder;
    benchmark::RunSpecifiedBenchmarks(&recorder);
    benchmark::Shutdown();
    fs::remove_all(DriveDir());

    if (!markdown.empty())
        WriteMarkdown(recorder, markdown);
    return 0;
}
