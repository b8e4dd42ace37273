// What congestion-estimate writes where a path already holds something (a
// symbolic link, a FIFO, its own standard output, a full device, a folder in
// the way), and its warnings.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tool_test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr int EXIT_OUTPUT_FAILED = 1;

PROGRAM_RESULT run_tool(const std::vector<std::string>& args, const fs::path& dir, const std::string& stdout_path = "")
{
    return run_program(ESTIMATE_TOOL, args, dir, stdout_path);
}

// The cookie of a JSON report, "" when the text is not one.
std::string get_cookie(const std::string& text)
{
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    return json.is_object() ? json.value("cookie", "") : "";
}

// Every name under `dir`, relative to it, sorted.
std::vector<std::string> list_tree(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        names.push_back(entry.path().lexically_relative(dir).string());
    std::sort(names.begin(), names.end());
    return names;
}

class ToolOutputs : public ::testing::Test {
 protected:
    static void SetUpTestSuite()
    {
        const SCRATCH_DIR dir;
        const fs::path json = dir.get_path() / "report.json";
        run_tool({SAMPLE_DESIGN, "--json", json.string()}, dir.get_path());
        s_cookie = new std::string(get_cookie(read_text(json)));
    }
    static void TearDownTestSuite() { delete s_cookie; }

    fs::path at(const std::string& name) const { return m_dir.get_path() / name; }

    static std::string* s_cookie;
    SCRATCH_DIR m_dir;
};

std::string* ToolOutputs::s_cookie = nullptr;

TEST_F(ToolOutputs, ASymbolicLinkIsFollowedAndTheFileItReplacesKeepsItsPermissions)
{
    ASSERT_EQ(s_cookie->size(), 16u);
    write_lines(at("target.json"), {"old"});
    fs::permissions(at("target.json"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("target.json", at("link.json"));
    const PROGRAM_RESULT result = run_tool({SAMPLE_DESIGN, "--json", at("link.json").string()}, m_dir.get_path());
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(fs::is_symlink(at("link.json")));
    EXPECT_EQ(get_cookie(read_text(at("target.json"))), *s_cookie);
    EXPECT_EQ(fs::status(at("target.json")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(list_tree(m_dir.get_path()), (std::vector<std::string>{"link.json", "target.json"}));
}

TEST_F(ToolOutputs, StreamsAreWrittenDirectly)
{
    // A FIFO with a reader stays a FIFO and carries the report.
    ASSERT_EQ(::mkfifo(at("fifo").c_str(), S_IRUSR | S_IWUSR), 0);
    std::string received;
    std::thread reader([&] { received = read_text(at("fifo")); });
    const PROGRAM_RESULT result = run_tool({SAMPLE_DESIGN, "--json", at("fifo").string()}, m_dir.get_path());
    // Should the tool never have opened the FIFO, this releases the reader.
    const int release = ::open(at("fifo").c_str(), O_WRONLY | O_NONBLOCK);
    if (release >= 0)
        ::close(release);
    reader.join();
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(fs::is_fifo(at("fifo")));
    EXPECT_EQ(get_cookie(received), *s_cookie);

    // Standard output by both its names, here redirected to a regular file
    // that must not be renamed over: the JSON takes the text report's place.
    for (const char* name : {"-", "/dev/stdout"}) {
        const PROGRAM_RESULT named = run_tool({SAMPLE_DESIGN, "--json", name}, m_dir.get_path());
        EXPECT_EQ(named.exit_code, 0) << named.err;
        EXPECT_EQ(get_cookie(named.out), *s_cookie) << name;
    }
}

// A failed run exits with 1 and one sentence that says what had already been
// written; nothing staged stays behind.
TEST_F(ToolOutputs, AFailedOutputSaysWhatWasAlreadyWritten)
{
    fs::create_directories(at("blocked/vertical.png/occupied"));
    const std::string maps = at("maps").string();
    const std::string blocked = at("blocked").string();
    struct CASE {
        std::vector<std::string> args;
        std::string stdout_path;
        std::string message;
        std::vector<std::string> left;  // what the scratch folder holds afterwards
    };
    const CASE cases[] = {
        {{}, "/dev/full", "cannot write standard output: No space left on device; no output was written.", {}},
        {{"--heatmaps", maps, "--json", "/dev/full"},
         "",
         "cannot write /dev/full: No space left on device; already written: the heatmaps in " + maps +
             " and the report on standard output.",
         {"maps", "maps/horizontal.png", "maps/horizontal_left.png", "maps/horizontal_right.png", "maps/lab_input.png",
          "maps/vertical.png", "maps/vertical_down.png", "maps/vertical_up.png"}},
        {{"--json", at("report.json").string(), "--heatmaps", blocked},
         "",
         "cannot write " + blocked + "/vertical.png: it is a directory; no output was written.",
         {}},
    };
    for (const CASE& c : cases) {
        std::vector<std::string> args = {SAMPLE_DESIGN};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const PROGRAM_RESULT result = run_tool(args, m_dir.get_path(), c.stdout_path);
        EXPECT_EQ(result.exit_code, EXIT_OUTPUT_FAILED) << c.message;
        EXPECT_EQ(result.err, "congestion-estimate: " + c.message + "\n");
        std::vector<std::string> left = {"blocked", "blocked/vertical.png", "blocked/vertical.png/occupied"};
        left.insert(left.end(), c.left.begin(), c.left.end());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(list_tree(m_dir.get_path()), left) << c.message;
        fs::remove_all(maps);
    }
}

TEST(ToolWarnings, ADoubtfulSwitchAndADesignWithoutWireSupplyAreReported)
{
    SCRATCH_DIR dir;
    const char* previous = std::getenv("congestion_use_orig");
    const std::string restore = previous != nullptr ? previous : "";
    ::setenv("congestion_use_orig", "maybe", 1);
    const PROGRAM_RESULT doubtful = run_tool({SAMPLE_DESIGN}, dir.get_path());
    if (previous != nullptr)
        ::setenv("congestion_use_orig", restore.c_str(), 1);
    else
        ::unsetenv("congestion_use_orig");
    EXPECT_EQ(doubtful.exit_code, 0);
    EXPECT_EQ(doubtful.err,
              "congestion-estimate: warning: congestion_use_orig=maybe is neither on (1, on, true, yes) "
              "nor off (0, off, false, no); the new smoothing algorithm is used.\n");

    // Every tile's h4, h12, v4 and v12 set to 0; routed usage cannot exceed
    // that supply, so the routed file goes.
    const fs::path design = dir.get_path() / "design";
    fs::create_directories(design);
    copy_sample_design(design);
    fs::remove(design / "routed.txt");
    std::vector<std::string> tiles = read_lines(design / "tiles.txt");
    for (std::size_t i = 2; i < tiles.size(); ++i) {
        std::istringstream fields(tiles[i]);
        std::string x, y, kind, h4, h12, v4, v12, lab_in;
        fields >> x >> y >> kind >> h4 >> h12 >> v4 >> v12 >> lab_in;
        tiles[i] = x + " " + y + " " + kind + " 0 0 0 0 " + lab_in;
    }
    write_lines(design / "tiles.txt", tiles);
    const PROGRAM_RESULT bare = run_tool({design.string()}, dir.get_path());
    EXPECT_EQ(bare.exit_code, 0);
    EXPECT_EQ(bare.err, "congestion-estimate: warning: no tile of " + (design / "tiles.txt").string() +
                            " has wire supply (h4, h12, v4 and v12 are 0 everywhere), so the wire utilization "
                            "figures mean nothing.\n");
}

}  // namespace
