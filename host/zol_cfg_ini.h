// Configuration switches of the host process.
#ifndef ZOL_CFG_INI_H
#define ZOL_CFG_INI_H

#include <string>

#include "host/host_export.h"

// A boolean answer of the configuration query.
class ORVANE_BOOL {
 public:
    explicit ORVANE_BOOL(bool value) : m_value(value) {}
    bool get_value() const { return m_value; }
    explicit operator bool() const { return m_value; }

 private:
    bool m_value;
};

// Reads the switch from the environment variable named exactly `key`:
// 1/on/true/yes give true, 0/off/false/no give false (any case); an unset
// variable or any other text gives `default_value`.
HOST_API ORVANE_BOOL cfg_is_on(const std::string& key, bool default_value);

#endif
