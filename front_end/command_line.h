// What the command-line programs share: their exit statuses, the one-sentence
// usage error, whole-number option values, the command line of one design
// folder with --help and --version, and main's handling of every error.
// Header only: the programs that include it link Boost.Program_options.
#ifndef CONGESTION_COMMAND_LINE_H
#define CONGESTION_COMMAND_LINE_H

#include <charconv>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/program_options.hpp>

#include "front_end/design_reader.h"
#include "front_end/interrupts.h"

constexpr int EXIT_OUTPUT_FAILED = 1;
constexpr int EXIT_BAD_INPUT = 2;

// A bad command line or option value; what() is one sentence.
class USAGE_ERROR : public std::runtime_error {
 public:
    using std::runtime_error::runtime_error;
};

// The value of `option` as a whole number of type INT from minimum to
// maximum (a value INT cannot hold is not a whole number).
template <typename INT>
INT parse_whole(const std::string& text, const std::string& option, INT minimum, INT maximum)
{
    INT value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        throw USAGE_ERROR("the value '" + text + "' of " + option + " is not a whole number");
    if (value < minimum || value > maximum)
        throw USAGE_ERROR("the value " + text + " of " + option + " is not between " + std::to_string(minimum) +
                          " and " + std::to_string(maximum));
    return value;
}

// A parsed command line of `visible` options and exactly one design folder.
struct FOLDER_COMMAND_LINE {
    boost::program_options::variables_map values;
    std::string folder;
};

// Parses the command line; prints the usage for --help, and the program and
// the library's version for --version, and then gives nothing.
template <typename USAGE>
std::optional<FOLDER_COMMAND_LINE> parse_folder_command_line(int argc, char** argv, const char* program,
                                                             const boost::program_options::options_description& visible,
                                                             USAGE&& get_usage)
{
    namespace po = boost::program_options;
    po::options_description all;
    all.add(visible).add_options()("folder", po::value<std::vector<std::string>>(), "design folder");
    po::positional_options_description positional;
    positional.add("folder", -1);
    FOLDER_COMMAND_LINE line;
    try {
        po::store(po::command_line_parser(argc, argv).options(all).positional(positional).run(), line.values);
        po::notify(line.values);
    } catch (const po::error& error) {
        throw USAGE_ERROR(error.what());
    }
    if (line.values.count("help") != 0) {
        std::cout << get_usage(visible);
        return std::nullopt;
    }
    if (line.values.count("version") != 0) {
        std::cout << program << " (congestion library " << CONGESTION_VERSION << ")\n";
        return std::nullopt;
    }
    if (line.values.count("folder") == 0)
        throw USAGE_ERROR("no design folder given");
    const auto& folders = line.values["folder"].as<std::vector<std::string>>();
    if (folders.size() != 1)
        throw USAGE_ERROR("exactly one design folder is expected, " + std::to_string(folders.size()) + " were given");
    line.folder = folders[0];
    return line;
}

// A program's main: the signals blocked, then run(), whose status it
// returns; a usage error, a bad design and a failed output each end with
// one line on standard error and their status.
template <typename RUN>
int run_main(const char* program, RUN&& run)
{
    INTERRUPTS::block();
    try {
        return run();
    } catch (const USAGE_ERROR& error) {
        std::cerr << program << ": " << error.what() << " (see --help).\n";
        return EXIT_BAD_INPUT;
    } catch (const DESIGN_ERROR& error) {
        std::cerr << program << ": " << error.what() << "\n";
        return EXIT_BAD_INPUT;
    } catch (const std::exception& error) {
        // OUTPUT_ERROR and anything else the run could not finish.
        std::cerr << program << ": " << error.what() << "\n";
        return EXIT_OUTPUT_FAILED;
    }
}

#endif
