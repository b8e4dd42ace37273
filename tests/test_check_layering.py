#!/usr/bin/env python3
# Tests of tests/check_layering.py on a small tree of its own: each kind of fault is found, and only faults are.
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_layering  # noqa: E402

TABLE = """# Contributing

## Who may include and link whom

| room | may include | may link |
|---|---|---|
| `low/` | `low/` | |
| `mid/` | `mid/` `low/` `top/api.h` | `low/` `engine` |
| `top/` | `top/` `low/` | `low/` `engine_static` |

## Next section

| `other/` | `mid/` | |
"""

# Every include and link that the table allows.
SOURCES = {
    "low/a.h": "",
    "low/a.cpp": '#include "a.h"\n#include <vector>\n',
    "mid/m.cpp": '#include "low/a.h"\n#include "top/api.h"\n#include "mid/m.h"\n',
    "mid/m.h": "",
    "top/api.h": "",
    "top/internal.h": "",
    "top/t.cpp": '#include "top/internal.h"\n',
}
GRAPH = [("target", "low_lib", "low"), ("target", "mid_tool", "mid/sub"), ("link", "mid_tool", "low_lib"),
         ("link", "mid_tool", "engine"), ("link", "mid_tool", "External::lib"), ("target", "engine", "top"),
         ("target", "engine_static", "top"), ("target", "top_lib", "top"), ("link", "top_lib", "engine_static")]


class LayeringTest(unittest.TestCase):
    def run_check(self, sources=None, graph=None):
        with tempfile.TemporaryDirectory() as root:
            with open(os.path.join(root, "CONTRIBUTING.md"), "w") as text:
                text.write(TABLE)
            for path, content in dict(SOURCES, **(sources or {})).items():
                os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
                with open(os.path.join(root, path), "w") as text:
                    text.write(content)
            os.makedirs(os.path.join(root, "build", "low"))
            for name in ("CMakeCache.txt", os.path.join("low", "generated.cpp")):
                with open(os.path.join(root, "build", name), "w") as text:
                    text.write('#include "nowhere.h"\n')
            graph_path = os.path.join(root, "graph.txt")
            with open(graph_path, "w") as text:
                text.write("".join("\t".join(line) + "\n" for line in GRAPH + (graph or [])))
            rows = check_layering.read_table(os.path.join(root, "CONTRIBUTING.md"))
            return check_layering.check_includes(root, rows) + check_layering.check_links(graph_path, rows)

    def test_the_table_rows_and_nothing_after_them(self):
        with tempfile.TemporaryDirectory() as root:
            path = os.path.join(root, "CONTRIBUTING.md")
            with open(path, "w") as text:
                text.write(TABLE)
            rows = check_layering.read_table(path)
        self.assertEqual(rows, {"low": (["low/"], []), "mid": (["mid/", "low/", "top/api.h"], ["low/", "engine"]),
                                "top": (["top/", "low/"], ["low/", "engine_static"])})

    def test_allowed_tree_has_no_fault(self):
        self.assertEqual(self.run_check(), [])

    def test_each_forbidden_include(self):
        faults = self.run_check({"low/b.cpp": '#include "mid/m.h"\n', "mid/n.cpp": '#include "top/internal.h"\n',
                                 "mid/o.cpp": '#include "missing.h"\n', "stray/s.h": ""})
        self.assertEqual(faults, [
            "low/b.cpp includes mid/m.h, which the low/ row does not allow",
            "mid/n.cpp includes top/internal.h, which the mid/ row does not allow",
            'mid/o.cpp includes "missing.h", which is not in the tree',
            "stray/s.h: stray/ is not a room of the layering table",
        ])

    def test_each_forbidden_link(self):
        faults = self.run_check(graph=[("link", "low_lib", "top_lib"), ("link", "top_lib", "$<LINK_ONLY:engine>"),
                                       ("target", "stray_lib", "stray")])
        self.assertEqual(faults, [
            "target low_lib links top_lib (top/), which the low/ row does not allow",
            "target stray_lib: stray/ is not a room of the layering table",
            "target top_lib links engine (top/), which the top/ row does not allow",
            # low_lib and mid_tool reach both engines through top_lib.
            "target low_lib links engine and engine_static: one engine at most",
            "target mid_tool links engine and engine_static: one engine at most",
            "target top_lib links engine and engine_static: one engine at most",
        ])

    def test_an_empty_graph_is_a_fault(self):
        with tempfile.TemporaryDirectory() as root:
            graph_path = os.path.join(root, "graph.txt")
            open(graph_path, "w").close()
            faults = check_layering.check_links(graph_path, {"low": ([], [])})
            self.assertEqual(faults, [graph_path + " lists no target"])


if __name__ == "__main__":
    unittest.main()
