// The outputs of one run: staged complete under temporary names, then put in
// place together, with what already stands at each path respected.
#ifndef CONGESTION_OUTPUT_FILE_H
#define CONGESTION_OUTPUT_FILE_H

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// An output that could not be written; what() is one sentence.
class OUTPUT_ERROR : public std::runtime_error {
 public:
    using std::runtime_error::runtime_error;
};

// Where an output path leads.
struct OUTPUT_TARGET {
    // A stream is written to directly and never renamed over: "-", the
    // process's standard output or error under any name (/dev/stdout, or the
    // very file the standard output is redirected to), and an existing file
    // that is not regular (a FIFO, a device).
    bool is_stream = false;
    int descriptor = -1;  // a stream the process already holds open, else -1
    // A regular file: the path its symbolic links lead to, which is replaced.
    // A stream without a descriptor: the path to open.
    std::string path;

    bool operator==(const OUTPUT_TARGET& other) const
    {
        return is_stream == other.is_stream && descriptor == other.descriptor && path == other.path;
    }
};

// Resolves an output path. Throws OUTPUT_ERROR on a loop of symbolic links.
OUTPUT_TARGET get_output_target(const std::string& path);

// Throws OUTPUT_ERROR unless `path` can hold a regular output file: the
// folder its target lies in exists, a file can be made there (one is made
// and removed; else the system's reason, e.g. "Permission denied") and the
// target is not a folder.
void check_output_path(const std::string& path);

// Throws OUTPUT_ERROR, naming the outputs as `what`, unless `dir` is a
// folder, or can be made, in which files can be made.
void check_output_folder(const std::string& dir, const std::string& what);

// For a run interrupted by a signal, from a thread of its own (it waits on
// a mutex, so not from a signal handler): waits for the staging work under
// way to end (a file being written, the renames of a commit) and lets no
// more begin, so that a thread about to stage a file waits for the process
// to end instead; then removes every file that an OUTPUT_SET of the process
// has staged and not yet put in place, and every folder one made that is
// still empty. Returns what that leaves, as a clause: "no output was
// written", "every output was written" (every output staged so far is in
// place), or "already written: A and B; the others were not written".
std::string remove_staged_outputs();

// The outputs of one run. Each is first written completely: a regular file
// under a hidden temporary name beside its target, a stream's content into
// the temporary folder. commit() then checks every target, renames the
// files into place and writes the streams, in the order they were staged.
// On any failure what is still staged is removed and OUTPUT_ERROR says, in
// one sentence, which outputs had already been written.
class OUTPUT_SET {
 public:
    OUTPUT_SET() = default;
    ~OUTPUT_SET();
    OUTPUT_SET(const OUTPUT_SET&) = delete;
    OUTPUT_SET& operator=(const OUTPUT_SET&) = delete;

    // Stages the output `path` by calling write(file), which must create the
    // complete content at `file` or throw. `label` names the output in the
    // list of what was written; outputs of one label are listed once.
    void stage(const std::string& path, const std::string& label, const std::function<void(const std::string&)>& write);
    void stage_text(const std::string& path, const std::string& label, const std::string& text);
    // Stages every one of `paths` as stage does, calling write(i, file) for
    // paths[i] on several threads at once. A failure is reported for the
    // first failed path in their order, after every write has ended.
    void stage_each(const std::vector<std::string>& paths, const std::string& label,
                    const std::function<void(std::size_t, const std::string&)>& write);

    // Creates the folder `path` for outputs to be staged in; commit removes
    // it again, when it stays empty, if the run fails.
    void create_folder(const std::string& path);

    // Makes commit remove the regular file at `path`, when there is one,
    // right after it has renamed the staged files into place and as part of
    // the same step: a file that the new outputs replace in meaning (an
    // earlier run's file that they would contradict) goes with their
    // arrival, never before it nor after.
    void remove_on_commit(const std::string& path);

    void commit();

 private:
    struct OUTPUT {
        std::string path;
        std::string label;
        OUTPUT_TARGET target;
        std::string staged;
    };

    // Adds the output and chooses the name it is staged under.
    OUTPUT& add(const std::string& path, const std::string& label);
    void put_in_place(OUTPUT& output);
    [[noreturn]] void fail(const std::string& path, const std::string& reason);
    void remove_staged();

    std::vector<OUTPUT> m_outputs;
    std::vector<std::string> m_created_folders;  // the last made first
    std::vector<std::string> m_removals;
    std::vector<std::string> m_written;  // labels, in the order written
};

#endif
