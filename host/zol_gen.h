// Scoped profiler of the host process: calls and wall time per tag.
#ifndef ZOL_GEN_H
#define ZOL_GEN_H

#include <chrono>
#include <string>
#include <vector>

#include "host/host_export.h"

class HOST_API GEN_PROFILER {
 public:
    // Starts timing `tag` of `module`; the remaining arguments are accepted
    // for call compatibility and not used.
    GEN_PROFILER(const char* module, const char* tag, unsigned int mask, const char* extra1, const char* extra2);
    // Adds one call and the elapsed wall time to the tag's process-wide total.
    ~GEN_PROFILER();
    GEN_PROFILER(const GEN_PROFILER&) = delete;
    GEN_PROFILER& operator=(const GEN_PROFILER&) = delete;

    struct ENTRY {
        std::string tag;
        unsigned long long calls;
        double total_ms;
    };
    // The totals recorded so far, sorted by tag.
    static std::vector<ENTRY> get_totals();

 private:
    const char* m_tag;
    std::chrono::steady_clock::time_point m_start;
};

#endif
