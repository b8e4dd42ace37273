// Tests of the substitute host services.
#include <cstdarg>
#include <cstdlib>
#include <string>

#include <boost/assert.hpp>
#include <gtest/gtest.h>

#include "host/zol_cfg_ini.h"
#include "host/zol_fio.h"
#include "host/zol_gen.h"
#include "host/zol_mem.h"
#include "host/zol_msg.h"
#include "test_support.h"

namespace {

bool vdebug(MSG_D_LEVEL level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const bool shown = msg_local_vdebug("TESTMOD", level, format, args);
    va_end(args);
    return shown;
}

TEST(HostReport, NamesMessageModuleFileAndLineThenAborts)
{
    EXPECT_DEATH(MSG_INTERNAL_ERROR::report("a < b", "CONGESTION", "dir/file.cpp", 42),
                 "CONGESTION \\(dir/file\\.cpp:42\\): a < b\n");
    EXPECT_FATAL(MSG_INTERNAL_ERROR::report("x[1] (y) * z", "M", "f", 1), "x[1] (y) * z");
}

TEST(HostReport, BoostAssertionsGoThroughTheReporter)
{
    const int value = 1;
    EXPECT_FATAL(BOOST_ASSERT(value == 2), "value == 2");
}

TEST(HostDebug, PrintsOnlyUpToTheConfiguredLevel)
{
    ::setenv("HOST_DEBUG_LEVEL", "2", 1);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(vdebug(MSG_D_LEVEL_2, "value %d of %s", 7, "seven"));
    EXPECT_FALSE(vdebug(MSG_D_LEVEL_3, "hidden %d", 3));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "TESTMOD: value 7 of seven\n");

    ::unsetenv("HOST_DEBUG_LEVEL");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(vdebug(MSG_D_LEVEL_0, "hidden"));
    ::setenv("HOST_DEBUG_LEVEL", "not a number", 1);
    EXPECT_FALSE(vdebug(MSG_D_LEVEL_0, "hidden"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ::unsetenv("HOST_DEBUG_LEVEL");
}

TEST(HostConfig, ReadsTheSwitchFromTheEnvironment)
{
    const std::string key = "congestion_host_test_switch";
    ::unsetenv(key.c_str());
    EXPECT_FALSE(cfg_is_on(key, false).get_value());
    EXPECT_TRUE(cfg_is_on(key, true).get_value());
    for (const char* on : {"1", "on", "TRUE", "Yes"}) {
        ::setenv(key.c_str(), on, 1);
        EXPECT_TRUE(cfg_is_on(key, false).get_value()) << on;
    }
    for (const char* off : {"0", "OFF", "false", "no"}) {
        ::setenv(key.c_str(), off, 1);
        EXPECT_FALSE(cfg_is_on(key, true).get_value()) << off;
    }
    ::setenv(key.c_str(), "maybe", 1);
    EXPECT_TRUE(cfg_is_on(key, true).get_value());
    EXPECT_FALSE(cfg_is_on(key, false).get_value());
    ::unsetenv(key.c_str());
}

TEST(HostPaths, AreAbsoluteAndNormalised)
{
    const std::wstring full = fio_get_unc_full_path("a/./b/../c.txt");
    ASSERT_FALSE(full.empty());
    EXPECT_EQ(full.front(), L'/');
    EXPECT_EQ(full.substr(full.size() - 8), L"/a/c.txt");
    EXPECT_EQ(fio_get_unc_full_path("/tmp/x/../y"), L"/tmp/y");
}

TEST(HostProfiler, CountsCallsPerTag)
{
    for (int i = 0; i < 3; ++i)
        GEN_PROFILER profiler("CONGESTION", "HOST_TEST_tag", 0x7fffffff, nullptr, nullptr);
    unsigned long long calls = 0;
    for (const GEN_PROFILER::ENTRY& entry : GEN_PROFILER::get_totals())
        if (entry.tag == "HOST_TEST_tag") {
            calls = entry.calls;
            EXPECT_GE(entry.total_ms, 0.0);
        }
    EXPECT_EQ(calls, 3u);
}

TEST(HostMemory, CountsLiveRegistrations)
{
    EXPECT_EQ(MEM_INITIALIZER::get_registration_count("HOST_TEST"), 0);
    {
        MEM_INITIALIZER first("HOST_TEST");
        MEM_INITIALIZER second("HOST_TEST");
        EXPECT_EQ(MEM_INITIALIZER::get_registration_count("HOST_TEST"), 2);
    }
    EXPECT_EQ(MEM_INITIALIZER::get_registration_count("HOST_TEST"), 0);
}

}  // namespace
