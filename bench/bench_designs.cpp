// Whole estimates of real placed designs, read with the estimator tool's
// reader: the bundled sample design and every design beside the repository.
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include "front_end/design_netlist.h"
#include "front_end/design_reader.h"
#include "placer_estimate.h"

namespace {

struct LOADED_DESIGN {
    DESIGN design;
    std::unique_ptr<DESIGN_NETLIST> netlist;
    std::vector<int> nets;
};

// Args: net model, threads. The estimate the tool runs with its defaults.
void run_design(benchmark::State& state, const LOADED_DESIGN* loaded)
{
    const auto model = static_cast<CONGESTION::NET_MODEL>(state.range(0));
    tbb::global_control threads(tbb::global_control::max_allowed_parallelism, state.range(1));
    const DESIGN& design = loaded->design;
    PLACER_ESTIMATE settings;
    settings.model = model;
    unsigned long long cookie = 0;
    for (auto _ : state) {
        CONGESTION estimator(design.nx, design.ny, loaded->netlist.get());
        set_design_supply(estimator, design, SUPPLY_MAPPING::HALF);
        cookie = run_placer_estimate(estimator, loaded->nets, settings);
    }
    // The same estimate on 1 and 2 threads must give the same state.
    static std::map<std::string, unsigned long long> seen;
    const std::string key = design.name + "/" + std::to_string(model);
    const auto [it, inserted] = seen.emplace(key, cookie);
    if (!inserted && it->second != cookie)
        state.SkipWithError("cookie differs from the run with another thread count");
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(loaded->nets.size()));
}

}  // namespace

// Registers one benchmark per readable design folder (the bundled design and
// every folder in shared_designs); a folder that does not read is reported
// and left out.
void register_design_benchmarks(const std::string& source_dir, const std::string& shared_designs)
{
    static std::vector<std::unique_ptr<LOADED_DESIGN>> designs;
    std::vector<std::filesystem::path> folders = {std::filesystem::path(source_dir) / "data" / "picorv32_ex"};
    const std::filesystem::path shared = shared_designs;
    std::error_code error;
    if (std::filesystem::is_directory(shared, error))
        for (const auto& entry : std::filesystem::directory_iterator(shared, error))
            if (entry.is_directory())
                folders.push_back(entry.path());
    for (const std::filesystem::path& folder : folders) {
        auto loaded = std::make_unique<LOADED_DESIGN>();
        try {
            loaded->design = read_design(folder.string());
        } catch (const DESIGN_ERROR& failure) {
            std::fprintf(stderr, "design benchmark skipped: %s\n", failure.what());
            continue;
        }
        loaded->netlist = std::make_unique<DESIGN_NETLIST>(loaded->design, CONGESTION_POLICY::RATIO,
                                                           WIRELENGTH_SOURCE::HALF_PERIMETER);
        loaded->nets = get_estimated_nets(loaded->design);
        const std::string where = folder.parent_path().filename() == "data" ? "bundled/" : "shared/";
        auto* bench =
            benchmark::RegisterBenchmark(("design/" + where + loaded->design.name).c_str(), run_design, loaded.get());
        bench->Unit(benchmark::kMillisecond)->UseRealTime()->ArgNames({"model", "threads"});
        for (int64_t model : {0, 1})
            for (int64_t threads : {1, 2})
                bench->Args({model, threads});
        designs.push_back(std::move(loaded));
    }
}
