// Per-module registration counts.
#include "host/zol_mem.h"

#include <map>
#include <mutex>
#include <string>

namespace {

struct REGISTRY {
    std::mutex mutex;
    std::map<std::string, int> counts;
};

REGISTRY& registry()
{
    static REGISTRY instance;
    return instance;
}

}  // namespace

MEM_INITIALIZER::MEM_INITIALIZER(const char* module) : m_module(module ? module : "")
{
    REGISTRY& all = registry();
    std::lock_guard<std::mutex> lock(all.mutex);
    all.counts[m_module] += 1;
}

MEM_INITIALIZER::~MEM_INITIALIZER()
{
    REGISTRY& all = registry();
    std::lock_guard<std::mutex> lock(all.mutex);
    all.counts[m_module] -= 1;
}

int MEM_INITIALIZER::get_registration_count(const char* module)
{
    REGISTRY& all = registry();
    std::lock_guard<std::mutex> lock(all.mutex);
    const auto found = all.counts.find(module ? module : "");
    return found == all.counts.end() ? 0 : found->second;
}
