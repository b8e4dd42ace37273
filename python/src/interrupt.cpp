// INTERRUPT_WATCH: running Python's signal handlers from inside engine calls.
#include "python/src/interrupt.h"

#include <pybind11/pybind11.h>

namespace py = pybind11;

namespace {

thread_local unsigned s_calls_since_poll = 0;

}  // namespace

INTERRUPT_WATCH::INTERRUPT_WATCH()
{
    const py::module_ threading = py::module_::import("threading");
    if (threading.attr("current_thread")().is(threading.attr("main_thread")()))
        m_signal_thread = std::this_thread::get_id();
}

void INTERRUPT_WATCH::poll()
{
    if (++s_calls_since_poll < POLL_PERIOD)
        return;
    s_calls_since_poll = 0;
    if (!m_interrupted.load(std::memory_order_acquire) && std::this_thread::get_id() == m_signal_thread) {
        py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() != 0) {
            m_error = std::make_exception_ptr(py::error_already_set());
            m_interrupted.store(true, std::memory_order_release);
        }
    }
    if (m_interrupted.load(std::memory_order_acquire))
        throw INTERRUPTED();
}

void INTERRUPT_WATCH::raise() const { std::rethrow_exception(m_error); }
