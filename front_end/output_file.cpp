// Staging outputs under temporary names and putting them in place together.
#include "front_end/output_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "h/parallel_blocks.h"

namespace fs = std::filesystem;

namespace {

// As many links as the system itself follows before giving up.
constexpr int MAX_LINK_HOPS = 40;
constexpr std::size_t COPY_BUFFER_BYTES = 1 << 16;
constexpr mode_t PERMISSION_BITS = 07777;
constexpr const char* STANDARD_OUTPUT = "-";

std::string get_display_name(const std::string& path) { return path == STANDARD_OUTPUT ? "standard output" : path; }

bool is_same_file(const struct stat& a, int descriptor)
{
    struct stat b;
    return ::fstat(descriptor, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string get_errno_message() { return std::strerror(errno); }

// Writes the whole of the open file `source` to the open descriptor and
// closes `source`; false with errno set when a read or a write fails.
bool copy_to(int source, int descriptor)
{
    std::array<char, COPY_BUFFER_BYTES> buffer;
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(source, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < got;) {
            const ssize_t put = ::write(descriptor, buffer.data() + done, static_cast<std::size_t>(got - done));
            if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // A stream left non-blocking (a pipe of the caller's) takes
                // what fits: wait until it takes more.
                pollfd writable{descriptor, POLLOUT, 0};
                ::poll(&writable, 1, -1);
            } else if (put < 0 && errno != EINTR) {
                ok = false;
            } else if (put > 0) {
                done += put;
            }
        }
        if (!ok)
            break;
    }
    const int saved = errno;
    ::close(source);
    errno = saved;
    return ok;
}

// The name a file is staged under beside its target.
std::string get_staging_path(const fs::path& target)
{
    return (target.parent_path() / ("." + target.filename().string() + ".tmp" + std::to_string(::getpid()))).string();
}

// Every staged file and created folder of the process's OUTPUT_SETs, which
// remove_staged_outputs removes when a run is interrupted, and the labels of
// the outputs put in place. Never destroyed: an interruption may come while
// the process exits.
struct STAGED_REGISTRY {
    std::mutex mutex;
    std::set<std::string> files;
    std::vector<std::string> folders;  // deepest first
    std::vector<std::string> written;  // labels, once each, in the order written
    // Staging work under way (STAGING_WORK), and whether an interruption
    // began, after which none begins; `idle` is notified as work ends.
    int working = 0;
    bool interrupted = false;
    std::condition_variable idle;
};

STAGED_REGISTRY& get_registry()
{
    static auto* registry = new STAGED_REGISTRY;
    return *registry;
}

// Work that creates, writes or renames staged files or makes output
// folders. An interruption waits for the work under way to end before it
// removes what was staged, and no work begins once an interruption has (the
// thread waits for the process to end): so nothing is created after the
// removal, and a set of renames is done whole or not at all.
class STAGING_WORK {
 public:
    STAGING_WORK()
    {
        STAGED_REGISTRY& registry = get_registry();
        std::unique_lock<std::mutex> lock(registry.mutex);
        if (registry.interrupted)
            registry.idle.wait(lock, [] { return false; });
        ++registry.working;
    }
    ~STAGING_WORK()
    {
        STAGED_REGISTRY& registry = get_registry();
        {
            const std::lock_guard<std::mutex> lock(registry.mutex);
            --registry.working;
        }
        registry.idle.notify_all();
    }
    STAGING_WORK(const STAGING_WORK&) = delete;
    STAGING_WORK& operator=(const STAGING_WORK&) = delete;
};

// Whether a file can be made in the folder `dir`: one is made under a
// staging name and removed. "" when it can, else the reason.
std::string probe_folder(const fs::path& dir)
{
    const STAGING_WORK work;
    const std::string probe = get_staging_path(dir / "congestion-estimate");
    const int descriptor = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (descriptor < 0)
        return errno == EEXIST ? "" : get_errno_message();
    ::close(descriptor);
    ::unlink(probe.c_str());
    return "";
}

// "a", "a and b", "a, b and c".
std::string join_labels(const std::vector<std::string>& labels)
{
    std::string joined;
    for (std::size_t i = 0; i < labels.size(); ++i)
        joined += (i == 0 ? "" : i + 1 == labels.size() ? " and " : ", ") + labels[i];
    return joined;
}

void forget_folders(const std::vector<std::string>& folders)
{
    STAGED_REGISTRY& registry = get_registry();
    const std::lock_guard<std::mutex> lock(registry.mutex);
    for (const std::string& folder : folders)
        registry.folders.erase(std::remove(registry.folders.begin(), registry.folders.end(), folder),
                               registry.folders.end());
}

}  // namespace

std::string remove_staged_outputs()
{
    STAGED_REGISTRY& registry = get_registry();
    std::unique_lock<std::mutex> lock(registry.mutex);
    registry.interrupted = true;
    registry.idle.wait(lock, [&] { return registry.working == 0; });
    const bool all_written = registry.files.empty();
    for (const std::string& file : registry.files)
        ::unlink(file.c_str());
    for (const std::string& folder : registry.folders)
        ::rmdir(folder.c_str());  // only when empty: a folder may hold what was already there
    registry.files.clear();
    registry.folders.clear();
    if (registry.written.empty())
        return "no output was written";
    if (all_written)
        return "every output was written";
    return "already written: " + join_labels(registry.written) + "; the others were not written";
}

OUTPUT_TARGET get_output_target(const std::string& path)
{
    OUTPUT_TARGET target;
    if (path == STANDARD_OUTPUT) {
        target.is_stream = true;
        target.descriptor = STDOUT_FILENO;
        return target;
    }
    struct stat status;
    if (::stat(path.c_str(), &status) == 0) {
        // Renaming over the file a standard stream is redirected to would cut
        // the stream off from it, so that file is written as the stream.
        for (int descriptor : {STDOUT_FILENO, STDERR_FILENO})
            if (is_same_file(status, descriptor)) {
                target.is_stream = true;
                target.descriptor = descriptor;
                return target;
            }
        if (!S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) {
            target.is_stream = true;
            target.path = path;
            return target;
        }
    }
    // Replacing a symbolic link's target keeps the link; a dangling link's
    // target is created.
    fs::path file(path);
    std::error_code error;
    for (int hops = 0; fs::is_symlink(fs::symlink_status(file, error)); ++hops) {
        if (hops == MAX_LINK_HOPS)
            throw OUTPUT_ERROR("cannot write " + path + ": it is a loop of symbolic links.");
        const fs::path link = fs::read_symlink(file, error);
        file = link.is_absolute() ? link : file.parent_path() / link;
    }
    target.path = file.string();
    return target;
}

void check_output_path(const std::string& path)
{
    const OUTPUT_TARGET target = get_output_target(path);
    if (target.is_stream)
        return;
    const fs::path parent = fs::path(target.path).parent_path();
    std::error_code error;
    if (fs::is_directory(target.path, error))
        throw OUTPUT_ERROR("cannot write " + path + ": it is a directory.");
    if (!parent.empty() && !fs::is_directory(parent, error))
        throw OUTPUT_ERROR("cannot write " + path + ": the directory " + parent.string() + " does not exist.");
    const std::string reason = probe_folder(parent.empty() ? fs::path(".") : parent);
    if (!reason.empty())
        throw OUTPUT_ERROR("cannot write " + path + ": " + reason + ".");
}

void check_output_folder(const std::string& dir, const std::string& what)
{
    std::error_code error;
    if (fs::exists(dir, error) && !fs::is_directory(dir, error))
        throw OUTPUT_ERROR("cannot write " + what + " into " + dir + ": it is not a directory.");
    // A folder to be made is made in the nearest one that exists.
    fs::path existing = fs::absolute(dir, error);
    while (!fs::exists(existing, error) && existing.has_relative_path())
        existing = existing.parent_path();
    if (!fs::is_directory(existing, error))
        throw OUTPUT_ERROR("cannot write " + what + " into " + dir + ": " + existing.string() + " is not a directory.");
    const std::string reason = probe_folder(existing);
    if (!reason.empty())
        throw OUTPUT_ERROR("cannot write " + what + " into " + dir + ": " + reason + ".");
}

OUTPUT_SET::~OUTPUT_SET()
{
    remove_staged();
    std::error_code error;
    for (const std::string& folder : m_created_folders)
        fs::remove(folder, error);  // only when empty: a committed folder holds its outputs
    forget_folders(m_created_folders);
}

OUTPUT_SET::OUTPUT& OUTPUT_SET::add(const std::string& path, const std::string& label)
{
    OUTPUT output{path, label, get_output_target(path), ""};
    const STAGING_WORK work;
    if (output.target.is_stream) {
        std::string name = (fs::temp_directory_path() / "congestion-estimate.XXXXXX").string();
        const int descriptor = ::mkstemp(name.data());
        if (descriptor < 0)
            fail(path, "cannot create a temporary file: " + get_errno_message());
        ::close(descriptor);
        output.staged = name;
    } else {
        output.staged = get_staging_path(output.target.path);
    }
    {
        STAGED_REGISTRY& registry = get_registry();
        const std::lock_guard<std::mutex> lock(registry.mutex);
        registry.files.insert(output.staged);
    }
    m_outputs.push_back(output);
    return m_outputs.back();
}

void OUTPUT_SET::stage(const std::string& path, const std::string& label,
                       const std::function<void(const std::string&)>& write)
{
    stage_each({path}, label, [&](std::size_t, const std::string& file) { write(file); });
}

void OUTPUT_SET::stage_each(const std::vector<std::string>& paths, const std::string& label,
                            const std::function<void(std::size_t, const std::string&)>& write)
{
    const std::size_t first = m_outputs.size();
    for (const std::string& path : paths)
        add(path, label);
    std::vector<std::string> failures(paths.size());
    congestion_internal::parallel_loop(static_cast<int>(paths.size()), [&](int i) {
        try {
            const STAGING_WORK work;
            const std::string& staged = m_outputs[first + i].staged;
            write(static_cast<std::size_t>(i), staged);
            std::error_code error;
            if (!fs::is_regular_file(staged, error))
                failures[i] = "the file could not be created";
        } catch (const std::exception& error) {
            failures[i] = error.what();
        }
    });
    for (std::size_t i = 0; i < paths.size(); ++i)
        if (!failures[i].empty())
            fail(paths[i], failures[i]);
}

void OUTPUT_SET::stage_text(const std::string& path, const std::string& label, const std::string& text)
{
    stage(path, label, [&](const std::string& file) {
        FILE* stream = std::fopen(file.c_str(), "wb");
        if (stream == nullptr)
            throw OUTPUT_ERROR(get_errno_message());
        const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
        const int saved = errno;
        if (std::fclose(stream) != 0 || !written)
            throw OUTPUT_ERROR(written ? get_errno_message() : std::strerror(saved));
    });
}

void OUTPUT_SET::create_folder(const std::string& path)
{
    const STAGING_WORK work;
    std::error_code error;
    if (fs::exists(path, error))
        return;
    // Each folder made, deepest first, so that a failed run removes them all.
    std::vector<std::string> made;
    for (fs::path folder = fs::absolute(path, error); !fs::exists(folder, error) && folder.has_relative_path();
         folder = folder.parent_path())
        made.push_back(folder.string());
    fs::create_directories(path, error);
    if (error)
        fail(path, "the folder cannot be created: " + error.message());
    m_created_folders.insert(m_created_folders.begin(), made.begin(), made.end());
    STAGED_REGISTRY& registry = get_registry();
    const std::lock_guard<std::mutex> lock(registry.mutex);
    registry.folders.insert(registry.folders.begin(), made.begin(), made.end());
}

void OUTPUT_SET::remove_on_commit(const std::string& path) { m_removals.push_back(path); }

void OUTPUT_SET::commit()
{
    // The files' checks and renames are one piece of staging work: an
    // interruption finds every file in place or none.
    std::optional<STAGING_WORK> work(std::in_place);
    // Every file's target is checked before the first rename, so that a
    // target in the way fails the run before anything is replaced.
    for (const OUTPUT& output : m_outputs) {
        if (output.target.is_stream)
            continue;
        const fs::path file(output.target.path);
        std::error_code error;
        if (!file.parent_path().empty() && !fs::is_directory(file.parent_path(), error))
            fail(output.path, "the directory " + file.parent_path().string() + " does not exist");
        struct stat status;
        if (::stat(file.c_str(), &status) != 0)
            continue;
        if (S_ISDIR(status.st_mode))
            fail(output.path, "it is a directory");
        if (!S_ISREG(status.st_mode))
            fail(output.path, "it is no longer a regular file");
        // A replaced file keeps its permissions.
        if (::chmod(output.staged.c_str(), status.st_mode & PERMISSION_BITS) != 0)
            fail(output.path, "cannot give it the permissions of the file it replaces: " + get_errno_message());
    }
    for (OUTPUT& output : m_outputs)
        if (!output.target.is_stream)
            put_in_place(output);
    for (const std::string& path : m_removals) {
        std::error_code error;
        if (fs::is_regular_file(path, error) && !fs::remove(path, error))
            fail(path, "it cannot be removed: " + error.message());
    }
    work.reset();
    // A stream may block (a FIFO without a reader), so an interruption does
    // not wait for it.
    for (OUTPUT& output : m_outputs)
        if (output.target.is_stream)
            put_in_place(output);
    forget_folders(m_created_folders);
    m_created_folders.clear();
}

void OUTPUT_SET::put_in_place(OUTPUT& output)
{
    if (output.target.is_stream) {
        const int descriptor = output.target.descriptor >= 0 ? output.target.descriptor
                                                             : ::open(output.target.path.c_str(), O_WRONLY | O_CLOEXEC);
        if (descriptor < 0)
            fail(output.path, get_errno_message());
        // Opened as staging work, so that an interruption removes the
        // staged content only once it is open or not yet made.
        int source = -1;
        {
            const STAGING_WORK work;
            source = ::open(output.staged.c_str(), O_RDONLY | O_CLOEXEC);
        }
        std::string reason = source >= 0 && copy_to(source, descriptor) ? "" : get_errno_message();
        if (output.target.descriptor < 0 && ::close(descriptor) != 0 && reason.empty())
            reason = get_errno_message();
        if (!reason.empty())
            fail(output.path, reason);
        std::error_code error;
        fs::remove(output.staged, error);
    }
    // Renamed, forgotten and listed as written as one step for
    // remove_staged_outputs.
    STAGED_REGISTRY& registry = get_registry();
    std::unique_lock<std::mutex> lock(registry.mutex);
    if (!output.target.is_stream) {
        std::error_code error;
        fs::rename(output.staged, output.target.path, error);
        if (error) {
            lock.unlock();
            fail(output.path, error.message());
        }
    }
    registry.files.erase(output.staged);
    output.staged.clear();
    for (std::vector<std::string>* written : {&m_written, &registry.written})
        if (std::find(written->begin(), written->end(), output.label) == written->end())
            written->push_back(output.label);
}

void OUTPUT_SET::remove_staged()
{
    STAGED_REGISTRY& registry = get_registry();
    const std::lock_guard<std::mutex> lock(registry.mutex);
    std::error_code error;
    for (OUTPUT& output : m_outputs)
        if (!output.staged.empty()) {
            fs::remove(output.staged, error);
            registry.files.erase(output.staged);
            output.staged.clear();
        }
}

void OUTPUT_SET::fail(const std::string& path, const std::string& reason)
{
    remove_staged();
    std::error_code error;
    for (const std::string& folder : m_created_folders)
        fs::remove(folder, error);
    forget_folders(m_created_folders);
    m_created_folders.clear();
    throw OUTPUT_ERROR(
        "cannot write " + get_display_name(path) + ": " + reason + "; " +
        (m_written.empty() ? std::string("no output was written") : "already written: " + join_labels(m_written)) +
        ".");
}
