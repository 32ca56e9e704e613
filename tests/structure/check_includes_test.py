#!/usr/bin/env python3
"""The include check run over small made-up source trees: each bad include makes it fail and
names the file and line; allowed includes and listed breaches pass; a stale list entry fails."""
import io
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_includes  # noqa: E402


class IncludeCheckTest(unittest.TestCase):
    def setUp(self):
        self.fresh()

    def fresh(self):
        """Starts again from the clean tree in a new folder."""
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.src = os.path.join(self.tmp.name, "src")
        # A clean tree: lower layers, the own folder, a program using a public header, app -> ui.
        self.files = {
            "platform/log.h": "",
            "options/options.h": '#include "platform/log.h"\n',
            "pdf/doc.h": '#include <string>\n#include "options/options.h"\n',
            "pdf/doc_private.h": "",
            "pdf/doc.cpp": '#include "pdf/doc.h"\n#include "doc_private.h"\n',
            "extract/page.cpp": '#include "pdf/doc_private.h"\n#include "ui_generated.h"\n',
            "worker/run.h": '#include "pdf/doc.h"\n',
            "cli/main.cpp": '#include "cli/own.h"\n#include "worker/run.h"\n',
            "cli/own.h": "",
            "ui/widget.h": "",
            "app/main.cpp": '#include "ui/widget.h"\n#include "platform/log.h"\n',
        }
        self.public = ["platform/log.h", "options/options.h", "pdf/doc.h", "worker/run.h"]

    def run_check(self, allow=None):
        for rel, text in self.files.items():
            path = os.path.join(self.src, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(text)
        argv = ["--src", self.src, "--public", *self.public]
        if allow is not None:
            allow_path = os.path.join(self.tmp.name, "allow.txt")
            with open(allow_path, "w") as f:
                f.write(allow)
            argv += ["--allow", allow_path]
        out = io.StringIO()
        status = check_includes.main(argv, out)
        return status, out.getvalue()

    def assert_fails_at(self, where, reason):
        status, out = self.run_check()
        self.assertEqual(status, 1, out)
        self.assertIn(where, out)
        self.assertIn(reason, out)

    def test_clean_tree_passes(self):
        status, out = self.run_check()
        self.assertEqual(status, 0, out)
        self.assertIn("0 new breaches, 0 known", out)

    def test_upward_include_fails_naming_file_and_line(self):
        self.files["pdf/doc.cpp"] += '#include "extract/page.h"\n'
        self.assert_fails_at("src/pdf/doc.cpp:3:", "extract is above pdf")

    def test_angle_bracket_and_relative_spellings_are_caught(self):
        self.files["options/options.cpp"] = '#include <worker/run.h>\n#include "../pdf/doc.h"\n'
        status, out = self.run_check()
        self.assertEqual(status, 1, out)
        self.assertIn("src/options/options.cpp:1: options includes worker/run.h", out)
        self.assertIn("src/options/options.cpp:2: options includes pdf/doc.h", out)

    def test_engine_errors_are_caught_only_in_pdf_and_extract(self):
        self.files["pdf/doc.cpp"] += "void f() { fz_try(ctx) g(); fz_catch(ctx) h(); }\n"
        self.files["extract/page.cpp"] += "EngineStatus s = EngineTry(ctx, body);\n"
        self.files["cli/main.cpp"] += "// no fz_try here: the wrapper catches\n"
        status, out = self.run_check()
        self.assertEqual(status, 0, out)
        self.files["worker/run.cpp"] = "int f() {\n  auto s = EngineTry(ctx, body);\n}\n"
        self.assert_fails_at("src/worker/run.cpp:2:", "worker catches engine errors")

    def test_core_including_a_program_fails(self):
        self.files["worker/run.cpp"] = '#include "ui/widget.h"\n'
        self.assert_fails_at("src/worker/run.cpp:1:", "ui is a program")

    def test_programs_include_each_other_only_as_allowed(self):
        for source, dest in [("cli", "app"), ("ui", "app"), ("ui", "interactive"),
                             ("interactive", "app"), ("cli", "ui")]:
            with self.subTest(source=source, dest=dest):
                self.fresh()
                self.files["%s/x.cpp" % source] = '#include "%s/y.h"\n' % dest
                self.files["%s/y.h" % dest] = ""
                self.assert_fails_at("src/%s/x.cpp:1:" % source, "do not include each other")
        self.fresh()
        self.files["interactive/x.cpp"] = '#include "ui/widget.h"\n'
        self.files["app/x.cpp"] = '#include "interactive/x.h"\n'
        self.files["interactive/x.h"] = ""
        self.assertEqual(self.run_check()[0], 0)

    def test_private_headers_stay_inside_the_core(self):
        self.files["cli/main.cpp"] += '#include "pdf/doc_private.h"\n'
        self.assert_fails_at("src/cli/main.cpp:3:", "private header pdf/doc_private.h")
        self.fresh()
        self.files["pdf/doc.h"] += '#include "doc_private.h"\n'
        self.assert_fails_at("src/pdf/doc.h:3:", "public header includes the private header pdf/doc_private.h")
        self.fresh()
        self.public.append("pdf/gone.h")
        self.assert_fails_at("src/pdf/gone.h", "listed as public but missing")

    def test_folder_outside_the_table_fails(self):
        self.files["misc/tool.cpp"] = '#include "platform/log.h"\n'
        self.assert_fails_at("src/misc/tool.cpp:1:", "'misc' is not in the layer table")

    def test_allow_list_tolerates_listed_breaches_and_must_not_go_stale(self):
        self.files["pdf/doc.cpp"] += '#include "extract/page.h"\n'
        status, out = self.run_check("# known\npdf/doc.cpp  extract/page.h   # being moved\n")
        self.assertEqual(status, 0, out)
        self.assertIn("(known)", out)
        self.assertIn("0 new breaches, 1 known", out)
        # A second breach in the same file is still new.
        self.files["pdf/doc.cpp"] += '#include "xhtml/w.h"\n'
        self.assertEqual(self.run_check("pdf/doc.cpp extract/page.h\n")[0], 1)
        # Once the include is gone, its entry fails the check.
        self.fresh()
        status, out = self.run_check("\npdf/doc.cpp extract/page.h\n")
        self.assertEqual(status, 1, out)
        self.assertIn("allow.txt:2: 'pdf/doc.cpp extract/page.h' no longer occurs", out)


if __name__ == "__main__":
    unittest.main()
