# The importer's progress on standard error: each step with its elapsed time, only on a terminal.
import sys
import time


class PROGRESS:
    """Names each step as it starts and, when it ends, its time; a step's
    details (router iterations) update its line in place. Silent unless
    `enabled` (standard error is a terminal and --quiet was not given)."""

    def __init__(self, program, enabled):
        self.program, self.enabled = program, enabled
        self.step = None
        self.started = 0.0

    @classmethod
    def for_terminal(cls, program, quiet):
        return cls(program, not quiet and sys.stderr.isatty())

    def start(self, step):
        if step == self.step:
            return
        self.finish()
        self.step, self.started = step, time.time()
        self._show("%s ..." % step)

    def update(self, detail):
        if self.step:
            self._show("%s: %s (%.0f s)" % (self.step, detail, time.time() - self.started))

    def finish(self):
        if self.step:
            self._show("%s %.1f s\n" % (self.step, time.time() - self.started))
        self.step = None

    def stop(self):
        """Ends the current step's line without a time (before an error)."""
        if self.step and self.enabled:
            sys.stderr.write("\n")
        self.step = None

    def _show(self, text):
        if self.enabled:
            # Carriage return and erase-line: the step's line is rewritten in place.
            sys.stderr.write("\r\033[K%s: %s" % (self.program, text))
            sys.stderr.flush()
