// Memory-module registration of the host process.
#ifndef ZOL_MEM_H
#define ZOL_MEM_H

#include "host/host_export.h"

class HOST_API MEM_INITIALIZER {
 public:
    // Registers `module` for as long as this object lives.
    explicit MEM_INITIALIZER(const char* module);
    ~MEM_INITIALIZER();
    MEM_INITIALIZER(const MEM_INITIALIZER&) = delete;
    MEM_INITIALIZER& operator=(const MEM_INITIALIZER&) = delete;

    // Number of live registrations of `module`.
    static int get_registration_count(const char* module);

 private:
    const char* m_module;
};

#endif
