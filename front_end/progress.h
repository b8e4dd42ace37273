// Progress of a run for a person watching a terminal: each phase on a line
// of standard error, its elapsed time updated in place while it runs. The
// time of each phase is measured whether it is shown or not, once: the line
// shows the time that end() returns for the report.
#ifndef CONGESTION_PROGRESS_H
#define CONGESTION_PROGRESS_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

class PROGRESS {
 public:
    // How often a running phase's line is rewritten, and after how long.
    static constexpr std::chrono::milliseconds UPDATE_INTERVAL{250};
    static constexpr std::chrono::milliseconds LONG_PHASE{500};

    // Writes nothing unless `shown`, but measures the phases all the same;
    // the lines begin with `program`.
    PROGRESS(bool shown, const std::string& program, std::ostream& os);
    // Ends the line of a phase left running (a failed run) without a time.
    ~PROGRESS();
    PROGRESS(const PROGRESS&) = delete;
    PROGRESS& operator=(const PROGRESS&) = delete;

    // Ends the phase before, if any, and starts `phase`, which counts
    // `steps` steps when it is positive.
    void begin(const std::string& phase, int steps = 0);
    // One more step of the current phase done; from any thread.
    void add_step();
    // Ends the current phase, if one runs: its line with the time it took,
    // which it returns in milliseconds (0 without a phase).
    double end();
    // Ends a phase's line, if one is open, without a time, so that a
    // message can follow on a line of its own.
    void break_line();
    // Rewrites the current phase's line with its elapsed time and steps;
    // what the updating thread does while a phase runs long.
    void update();

 private:
    // The current phase's line with `elapsed` seconds, the last one when
    // `done`.
    void write_line(double elapsed, bool done);
    double get_elapsed_seconds() const;
    void run_updates();

    const bool m_shown;
    const std::string m_program;
    std::ostream& m_os;
    std::mutex m_mutex;
    std::string m_phase;  // empty between phases
    int m_steps = 0;
    std::atomic<int> m_done{0};
    std::chrono::steady_clock::time_point m_start;
    bool m_stop = false;
    std::condition_variable m_wake;
    std::thread m_updater;
};

#endif
