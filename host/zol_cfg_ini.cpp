// Configuration switches read from the environment.
#include "host/zol_cfg_ini.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

ORVANE_BOOL cfg_is_on(const std::string& key, bool default_value)
{
    const char* raw = std::getenv(key.c_str());
    if (raw == nullptr)
        return ORVANE_BOOL(default_value);
    std::string text(raw);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (text == "1" || text == "on" || text == "true" || text == "yes")
        return ORVANE_BOOL(true);
    if (text == "0" || text == "off" || text == "false" || text == "no")
        return ORVANE_BOOL(false);
    return ORVANE_BOOL(default_value);
}
