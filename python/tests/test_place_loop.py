"""docs/python.md's congestion-driven loop, run as written: it prints what the page says (under the
default smoothing) and lowers its figure."""
import contextlib
import io
import os
import pathlib
import re

import congestion as cg

TOP = pathlib.Path(__file__).resolve().parents[2]
HEADING = "## A congestion-driven loop of your own"


def get_example():
    page = (TOP / "docs" / "python.md").read_text()
    section = page[page.index(HEADING):]
    code = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    after_code = section[section.index("```\n", section.index("```python")):]
    quoted = [" ".join(text.split()) for text in re.findall(r"`(figure [^`]*)`", after_code)]
    return code, quoted


def test_the_loop_lowers_its_figure():
    code, quoted = get_example()
    names = {"__name__": "__example__"}
    printed = io.StringIO()
    here = os.getcwd()
    os.chdir(TOP)
    try:
        with contextlib.redirect_stdout(printed):
            exec(compile(code, "docs/python.md", "exec"), names)
    finally:
        os.chdir(here)
    lines = printed.getvalue().splitlines()
    if cg.ALGORITHM == "new":  # the page quotes what it prints under the default smoothing
        assert lines == quoted
    before, after = (float(re.match(r"figure ([\d.]+)", line).group(1)) for line in lines)
    assert after < before and names["kept"] > 0

