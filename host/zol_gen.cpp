// Process-wide profiler totals, printed at exit when HOST_PROFILE is set.
#include "host/zol_gen.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

namespace {

struct PROFILE_TOTALS {
    std::mutex mutex;
    std::map<std::string, GEN_PROFILER::ENTRY> entries;

    ~PROFILE_TOTALS()
    {
        if (std::getenv("HOST_PROFILE") == nullptr || entries.empty())
            return;
        std::fprintf(stderr, "%-50s %10s %14s\n", "tag", "calls", "total ms");
        for (const auto& [tag, entry] : entries)
            std::fprintf(stderr, "%-50s %10llu %14.3f\n", tag.c_str(), entry.calls, entry.total_ms);
    }
};

PROFILE_TOTALS& totals()
{
    static PROFILE_TOTALS instance;
    return instance;
}

}  // namespace

GEN_PROFILER::GEN_PROFILER(const char* /*module*/, const char* tag, unsigned int /*mask*/, const char* /*extra1*/,
                           const char* /*extra2*/)
    : m_tag(tag ? tag : ""), m_start(std::chrono::steady_clock::now())
{
    totals();  // constructed before us, so destroyed after our last use
}

GEN_PROFILER::~GEN_PROFILER()
{
    const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - m_start;
    PROFILE_TOTALS& all = totals();
    std::lock_guard<std::mutex> lock(all.mutex);
    ENTRY& entry = all.entries[m_tag];
    entry.tag = m_tag;
    entry.calls += 1;
    entry.total_ms += elapsed.count();
}

std::vector<GEN_PROFILER::ENTRY> GEN_PROFILER::get_totals()
{
    PROFILE_TOTALS& all = totals();
    std::lock_guard<std::mutex> lock(all.mutex);
    std::vector<ENTRY> result;
    for (const auto& item : all.entries)
        result.push_back(item.second);
    return result;
}
