// Load and save of a settings file with 10,000 keys (two sections of 5,000 point
// coordinates, as calibration persistence writes them). Baselines: reading the same bytes
// with one fread, and writing them with fwrite, fflush and fsync.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "ratio_reporter.h"
#include "settings/ConfigFile.h"

namespace epipolar {
namespace {

namespace fs = std::filesystem;

constexpr int kKeys = 10000;

// A directory holding a 10,000-key settings file, removed at exit.
struct Fixture {
  Fixture() {
    std::string pattern = (fs::temp_directory_path() / "settings-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    dir = pattern;
    path = (dir / "cams.conf").string();
    std::FILE* file = std::fopen(path.c_str(), "w");
    std::fclose(file);
    ConfigFile config(path);
    for (int i = 0; i < kKeys / 4; ++i) {
      for (const char* section : {"Cam0", "Cam1"}) {
        config.setDouble(section, "pt" + std::to_string(i) + "x", 0.1234567891 * i + 17);
        config.setDouble(section, "pt" + std::to_string(i) + "y", 479.987654321 - 0.1 * i);
      }
    }
    config.save();
    text = config.text();
  }
  ~Fixture() { fs::remove_all(dir); }
  fs::path dir;
  std::string path;
  std::string text;
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_SettingsLoad(benchmark::State& state) {
  for (auto _ : state) {
    ConfigFile config(fixture().path);
    benchmark::DoNotOptimize(config.sections().size());
  }
}

void BM_RawRead(benchmark::State& state) {
  std::string buffer(fixture().text.size() + 1, '\0');
  for (auto _ : state) {
    std::FILE* file = std::fopen(fixture().path.c_str(), "r");
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
    std::fclose(file);
    benchmark::DoNotOptimize(got);
  }
}

void BM_SettingsSave(benchmark::State& state) {
  ConfigFile config(fixture().path);
  for (auto _ : state) {
    config.setDouble("", "matrixStored", static_cast<double>(state.iterations()));
    benchmark::DoNotOptimize(config.save());
  }
}

void BM_RawWrite(benchmark::State& state) {
  const std::string other = (fixture().dir / "raw.conf").string();
  for (auto _ : state) {
    std::FILE* file = std::fopen(other.c_str(), "w");
    std::fwrite(fixture().text.data(), 1, fixture().text.size(), file);
    std::fflush(file);
    ::fsync(::fileno(file));
    std::fclose(file);
  }
}

BENCHMARK(BM_SettingsLoad)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RawRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SettingsSave)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RawWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace epipolar

int main(int argc, char** argv) {
  // Overheads over reading and writing the same bytes; shown without a target.
  return epipolar::bench::runWithRatios(
      argc,
      argv,
      std::vector<epipolar::bench::RatioFigure>{
          {"settings_load", "BM_SettingsLoad/real_time", "BM_RawRead/real_time", false, "-"},
          {"settings_save", "BM_SettingsSave/real_time", "BM_RawWrite/real_time", false, "-"},
      });
}
