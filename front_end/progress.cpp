// The phase lines and the thread that rewrites a long phase's line.
#include "front_end/progress.h"

#include <cstdio>

namespace {

// Back to the line's start and, after the text, clear what a longer line
// before it left.
constexpr const char* LINE_START = "\r";
constexpr const char* CLEAR_TO_END = "\x1b[K";
constexpr double MS_PER_SECOND = 1000.0;

}  // namespace

PROGRESS::PROGRESS(bool shown, const std::string& program, std::ostream& os)
    : m_shown(shown), m_program(program), m_os(os)
{
    if (m_shown)
        m_updater = std::thread([this] { run_updates(); });
}

PROGRESS::~PROGRESS()
{
    if (!m_shown)
        return;
    break_line();
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_updater.join();
}

void PROGRESS::break_line()
{
    if (!m_shown)
        return;
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_phase.empty())
        m_os << "\n" << std::flush;
    m_phase.clear();
}

void PROGRESS::begin(const std::string& phase, int steps)
{
    end();
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_phase = phase;
    m_steps = steps;
    m_done = 0;
    m_start = std::chrono::steady_clock::now();
}

void PROGRESS::add_step() { ++m_done; }

double PROGRESS::end()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_phase.empty())
        return 0.0;
    const double elapsed = get_elapsed_seconds();
    if (m_shown)
        write_line(elapsed, true);
    m_phase.clear();
    return elapsed * MS_PER_SECOND;
}

void PROGRESS::update()
{
    if (!m_shown)
        return;
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_phase.empty())
        write_line(get_elapsed_seconds(), false);
}

double PROGRESS::get_elapsed_seconds() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

void PROGRESS::write_line(double elapsed, bool done)
{
    char time[32];
    std::snprintf(time, sizeof time, "%.1f s", elapsed);
    m_os << LINE_START << m_program << ": " << m_phase;
    if (m_steps > 0)
        m_os << " " << m_done.load() << "/" << m_steps;
    m_os << (done ? " " : " ... ") << time << CLEAR_TO_END << (done ? "\n" : "") << std::flush;
}

void PROGRESS::run_updates()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        m_wake.wait_for(lock, UPDATE_INTERVAL);
        if (!m_stop && !m_phase.empty() && std::chrono::steady_clock::now() - m_start >= LONG_PHASE)
            write_line(get_elapsed_seconds(), false);
    }
}
