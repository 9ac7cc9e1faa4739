// Settings store figures: a read, a write, and a whole start-up publication.
#include <benchmark/benchmark.h>

#include "policy/policy.h"
#include "settings/settings_store.h"
#include "tests/support/temp_install.h"

namespace {

void BM_ReadSetting(benchmark::State& state) {
    testsupport::TempInstall install;
    settings::WriteSetting(settings::kKeyNormalContent, {}, "16383");
    for (auto _ : state) benchmark::DoNotOptimize(settings::ReadTableSetting(settings::kKeyNormalContent));
}
BENCHMARK(BM_ReadSetting);

void BM_ReadMissingSettingWithDefault(benchmark::State& state) {
    testsupport::TempInstall install;
    for (auto _ : state) benchmark::DoNotOptimize(settings::ReadTableSetting(settings::kKeyAmStart));
}
BENCHMARK(BM_ReadMissingSettingWithDefault);

// Every write is durable (flushed to disk), so this is bounded by the disk.
void BM_WriteSetting(benchmark::State& state) {
    testsupport::TempInstall install;
    int i = 0;
    for (auto _ : state)
        settings::WriteSetting(settings::kKeySource, {}, std::to_string(i++));
}
BENCHMARK(BM_WriteSetting)->Unit(benchmark::kMicrosecond);

void BM_PublishPolicy(benchmark::State& state) {
    testsupport::TempInstall install;
    for (auto _ : state) policy::PublishPolicy({.values = true});
}
BENCHMARK(BM_PublishPolicy)->Unit(benchmark::kMillisecond);

}  // namespace
