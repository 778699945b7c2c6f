"""GoogleTest's result lines for the Python suites, so that scripts/test
counts their results like every other suite's: one line per check as it
ends, then the closing summary."""

import time


class Checks:
    def __init__(self, suite):
        self.suite = suite
        self.passed = []
        self.failed = []

    def expect(self, name, passed, detail):
        """Records a check whose outcome is known; `detail` tells why it failed."""
        if passed:
            self._passed(name, "")
        else:
            self.fail(name, detail)

    def run(self, name, check):
        """Runs `check`: an exception fails it, a text it returns goes on its line."""
        started = time.monotonic()
        try:
            note = check()
        except Exception as failure:  # every failure is reported, none ends the run
            self.fail(name, failure)
            return
        elapsed = (time.monotonic() - started) * 1000
        self._passed(name, " (%d ms)%s" % (elapsed, " " + note if note else ""))

    def fail(self, name, detail):
        self.failed.append(name)
        print("[  FAILED  ] %s: %s" % (name, detail), flush=True)

    def note(self, text):
        print("[   NOTE   ] %s" % text, flush=True)

    def summary(self):
        """Prints the closing lines; the suite's exit status."""
        print("[==========] %d tests from %s ran." % (len(self.passed) + len(self.failed),
                                                    self.suite))
        print("[  PASSED  ] %d tests." % len(self.passed))
        if self.failed:
            print("[  FAILED  ] %d tests, listed below:" % len(self.failed))
            for name in self.failed:
                print("[  FAILED  ] %s" % name)
        return 1 if self.failed else 0

    def _passed(self, name, suffix):
        self.passed.append(name)
        print("[       OK ] %s%s" % (name, suffix), flush=True)
