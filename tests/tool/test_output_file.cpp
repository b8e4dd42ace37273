// Output files appear complete or not at all: a failed write or rename leaves
// neither a partial file nor a temporary one behind.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tool_test_support.h"
#include "tools/output_file.h"

namespace {

namespace fs = std::filesystem;

// Every path under `dir`, relative to it, sorted.
std::vector<std::string> list_tree(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        names.push_back(fs::relative(entry.path(), dir).string());
    std::sort(names.begin(), names.end());
    return names;
}

// Calls `write` and returns the OUTPUT_ERROR's message, or "" if none came.
template <typename WRITE>
std::string get_output_error(const WRITE& write)
{
    try {
        write();
    } catch (const OUTPUT_ERROR& error) {
        return error.what();
    }
    return "";
}

TEST(OutputFile, WritesUnderAHiddenNameInTheTargetsFolder)
{
    SCRATCH_DIR dir;
    const fs::path target = dir.get_path() / "report.json";
    const fs::path temporary = get_temporary_path(target.string());
    EXPECT_EQ(temporary.parent_path(), dir.get_path());
    EXPECT_EQ(temporary.filename().string().front(), '.');
    write_file_atomically(target.string(), [&](const std::string& path) {
        EXPECT_EQ(path, temporary.string());
        EXPECT_FALSE(fs::exists(target));  // nothing under the final name while writing
        std::ofstream(path) << "complete\n";
    });
    EXPECT_EQ(read_text(target), "complete\n");
    EXPECT_EQ(list_tree(dir.get_path()), std::vector<std::string>{"report.json"});
}

TEST(OutputFile, AWriterThatFailsHalfwayLeavesTheOldFile)
{
    SCRATCH_DIR dir;
    const fs::path target = dir.get_path() / "report.json";
    write_text_file(target.string(), "old\n");
    EXPECT_THROW(write_file_atomically(target.string(),
                                       [](const std::string& path) {
                                           std::ofstream(path) << "half of the n";
                                           throw std::runtime_error("no space left on device");
                                       }),
                 std::runtime_error);
    EXPECT_EQ(read_text(target), "old\n");
    EXPECT_EQ(list_tree(dir.get_path()), std::vector<std::string>{"report.json"});
}

TEST(OutputFile, AnImpossibleRenameLeavesNoTemporary)
{
    // A folder that is not empty cannot be replaced by a file.
    SCRATCH_DIR dir;
    const fs::path target = dir.get_path() / "map.png";
    fs::create_directories(target / "occupied");
    const std::string message = get_output_error([&] { write_text_file(target.string(), "complete\n"); });
    EXPECT_EQ(message, "cannot rename the finished " + target.string() + " into place: Is a directory.");
    EXPECT_EQ(list_tree(dir.get_path()), (std::vector<std::string>{"map.png", "map.png/occupied"}));
}

TEST(OutputFile, AnUnwritablePathLeavesNothing)
{
    SCRATCH_DIR dir;
    const fs::path target = dir.get_path() / "absent" / "report.json";
    const std::string message = get_output_error([&] { write_text_file(target.string(), "complete\n"); });
    EXPECT_EQ(message, "cannot write " + target.string() + ": writing " + get_temporary_path(target.string()) +
                           " failed.");
    // A writer that reports success without creating the file is caught too.
    const fs::path silent = dir.get_path() / "silent.txt";
    EXPECT_EQ(get_output_error([&] { write_file_atomically(silent.string(), [](const std::string&) {}); }),
              "cannot write " + silent.string() + ": the file could not be created.");
    EXPECT_TRUE(list_tree(dir.get_path()).empty());
}

}  // namespace
