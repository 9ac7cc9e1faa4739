#!/usr/bin/env python3
"""Runs scripts/check-layers on small planted trees.

    check_layers_test.py PATH-TO-check-layers
"""
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = None

# name, {file: text}, expected exit status, texts the output must hold, texts it must not.
CASES = [
    ("downward and own-folder includes pass",
     {"platform/files.h": "#pragma once\n",
      "ui/window.cpp": '#include "ui/window.h"\n#include "platform/files.h"\n#include <vector>\n',
      "dbbuild/build.cpp": '#include "resolve/winsock.h"\n#include "dbread/reader.h"\n'
                           '#include "local.h"\n',
      "tools/tool.cpp": "".join(f'#include "{f}/x.h"\n' for f in
                                ("platform", "ui", "dbread", "resources", "settings",
                                 "sitelists", "resolve", "dbbuild", "progress", "update",
                                 "policy", "shell", "tools"))},
     0, ["follow the layer order"], ["may not include"]),

    ("an upward include names file, line and both folders",
     {"dbbuild/x.cpp": "// builds\n#include <string>\n#include \"update/y.h\"\n"},
     1, ["dbbuild/x.cpp:3: folder 'dbbuild' may not include 'update/...' (order: platform <"],
     []),

    ("a header's upward include is caught too",
     {"ui/window.h": '#pragma once\n#include "settings/store.h"\n'},
     1, ["ui/window.h:2: folder 'ui' may not include 'settings/...'"], []),

    ("a subfolder belongs to its top folder",
     {"resolve/wsock/posix.cpp": '#include "resolve/dns.h"\n#include "policy/policy.h"\n'},
     1, ["resolve/wsock/posix.cpp:2: folder 'resolve' may not include 'policy/...'"],
     ["posix.cpp:1:"]),

    ("a path relative to the file counts by where it leads",
     {"resolve/wsock/api.h": "#pragma once\n",
      "resolve/client.cpp": '#include "wsock/api.h"\n',
      "update/y.h": "#pragma once\n",
      "dbbuild/x.cpp": '#include "../update/y.h"\n'},
     1, ["dbbuild/x.cpp:1: folder 'dbbuild' may not include 'update/...'"], ["client.cpp"]),

    ("a folder that is not in the order fails, named",
     {"shell/main.cpp": '#include "shell/startup.h"\n#include "polcy/policy.h"\n'},
     1, ["shell/main.cpp:2: folder 'polcy'", "not in the layer order"], []),

    ("only lines that start with #include count",
     {"dbbuild/x.cpp": '// #include "update/y.h"\n/* #include "policy/p.h" */\n'
                       'const char* s = "#include \\"tools/t.h\\"";\n'},
     0, ["follow the layer order"], []),

    ("an indented include counts",
     {"platform/clock.cpp": '#ifdef X\n    #include "ui/types.h"\n#endif\n'},
     1, ["platform/clock.cpp:2: folder 'platform' may not include 'ui/...'"], []),

    ("every violation is reported",
     {"platform/a.cpp": '#include "tools/t.h"\n',
      "ui/b.cpp": '#include "shell/s.h"\n',
      "update/c.h": '#include "policy/p.h"\n'},
     1, ["platform/a.cpp:1:", "ui/b.cpp:1:", "update/c.h:1:", "3 include(s) break"], []),

    ("folders outside the order are not checked",
     {"platform/files.h": "#pragma once\n",
      "tests/platform/files_test.cpp": '#include "tools/t.h"\n#include "gtest/gtest.h"\n',
      "cmake/probe.cpp": '#include "shell/s.h"\n'},
     0, ["follow the layer order"], ["tests/", "cmake/"]),

    ("a tree without sources is an error, not a pass",
     {"README.md": "nothing here\n"},
     2, ["no source files"], []),
]


class CheckLayers(unittest.TestCase):
    def test_planted_trees(self):
        for name, files, status, wanted, unwanted in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as root:
                for path, text in files.items():
                    full = os.path.join(root, path)
                    os.makedirs(os.path.dirname(full), exist_ok=True)
                    with open(full, "w") as f:
                        f.write(text)
                run = subprocess.run([sys.executable, SCRIPT, root], capture_output=True,
                                     text=True)
                out = run.stdout + run.stderr
                self.assertEqual(run.returncode, status, out)
                for w in wanted:
                    self.assertIn(w, out)
                for u in unwanted:
                    self.assertNotIn(u, out)

    def test_the_project_root_is_the_default(self):
        # Run from elsewhere: without an argument the script finds its own repository.
        with tempfile.TemporaryDirectory() as cwd:
            run = subprocess.run([sys.executable, SCRIPT], capture_output=True, text=True,
                                 cwd=cwd)
        out = run.stdout + run.stderr
        self.assertNotIn("no source files", out)
        self.assertIn(run.returncode, (0, 1), out)


if __name__ == "__main__":
    SCRIPT = os.path.abspath(sys.argv.pop(1))
    unittest.main()
