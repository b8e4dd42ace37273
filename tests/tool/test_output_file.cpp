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

TEST(OutputFile, WritesUnderAHiddenNameAndKeepsTheOldFileWhenTheWriterFails)
{
    SCRATCH_DIR dir;
    const fs::path target = dir.get_path() / "report.json";
    write_text_file(target.string(), "old\n");
    EXPECT_THROW(write_file_atomically(target.string(),
                                       [&](const std::string& path) {
                                           EXPECT_EQ(fs::path(path).parent_path(), dir.get_path());
                                           EXPECT_EQ(fs::path(path).filename().string().front(), '.');
                                           std::ofstream(path) << "half of the n";
                                           throw std::runtime_error("no space left on device");
                                       }),
                 std::runtime_error);
    EXPECT_EQ(read_text(target), "old\n");
    EXPECT_EQ(list_tree(dir.get_path()), std::vector<std::string>{"report.json"});
}

TEST(OutputFile, FailuresLeaveNoTemporaryAndSayWhy)
{
    SCRATCH_DIR dir;
    // A folder that is not empty cannot be replaced by a file.
    const fs::path taken = dir.get_path() / "map.png";
    fs::create_directories(taken / "occupied");
    EXPECT_EQ(get_output_error([&] { write_text_file(taken.string(), "complete\n"); }),
              "cannot rename the finished " + taken.string() + " into place: Is a directory.");
    const fs::path absent = dir.get_path() / "absent" / "report.json";
    EXPECT_EQ(get_output_error([&] { write_text_file(absent.string(), "complete\n"); }),
              "cannot write " + absent.string() + ": writing " + get_temporary_path(absent.string()) + " failed.");
    // A writer that reports success without creating the file is caught too.
    const fs::path silent = dir.get_path() / "silent.txt";
    EXPECT_EQ(get_output_error([&] { write_file_atomically(silent.string(), [](const std::string&) {}); }),
              "cannot write " + silent.string() + ": the file could not be created.");
    EXPECT_EQ(list_tree(dir.get_path()), (std::vector<std::string>{"map.png", "map.png/occupied"}));
}

}  // namespace
