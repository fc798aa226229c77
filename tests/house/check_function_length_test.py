#!/usr/bin/env python3
"""The size check finds each function's real extent and only real tables pass."""

import importlib.util
import os
import subprocess
import sys
import tempfile
import textwrap
import unittest

SCRIPT = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "check-function-length.py")
spec = importlib.util.spec_from_file_location("check_function_length", SCRIPT)
check = importlib.util.module_from_spec(spec)
spec.loader.exec_module(check)


def extents(source):
    """(name, first line, last line) of each function found in source."""
    return [(f.name, f.start, f.end)
            for f in check.find_functions(check.tokenize(textwrap.dedent(source)))]


class ExtentTest(unittest.TestCase):
    def test_signature_to_closing_brace_across_initialisers_and_lambdas(self):
        found = extents("""\
            namespace a {
            Dlg::Dlg(int x,
                     int y)
                : Base{x},
                  cb_([y](int v) { return v + y; }),
                  n_(y) {
              auto f = [&] {
                if (x) { run(); }
              };
              f();
            }
            }  // namespace a
            template <typename T>
            T Twice(T v) { return v + v; }
            """)
        self.assertEqual(found, [("Dlg::Dlg", 2, 11), ("Twice", 13, 14)])

    def test_braces_in_literals_and_comments_are_not_code(self):
        found = extents("""\
            void f() {
              const char* s = "}}} {";
              char c = '}';
              int n = 1'000'000;  // }
              /* } { */
              auto r = R"x(} ")" {)x";
              #define BRACE }
            }
            void g() {}
            """)
        self.assertEqual(found, [("f", 1, 8), ("g", 9, 9)])

    def test_declarations_tables_and_members(self):
        found = extents("""\
            struct S {
              S() = default;
              S(const S&) = delete;
              bool operator==(const S& o) const { return n == o.n; }
              std::function<void()> hook{};
              int n{0};
            };
            enum class E { kA, kB };
            const std::vector<int> kTable = {
              1, 2, 3,
            };
            Widget w{1};
            """)
        self.assertEqual(found, [("operator==", 4, 4)])

    def test_a_struct_return_type_is_no_class(self):
        found = extents("""\
            struct stat Info(const char* path) {
              return {};
            }
            struct Less : std::integral_constant<bool, sizeof(int) == 4> {
              bool operator()(int a, int b) const { return a < b; }
            };
            """)
        self.assertEqual(found, [("Info", 1, 3), ("operator()", 5, 5)])

    def test_class_with_qt_macro_and_access_sections(self):
        found = extents("""\
            class W : public QDialog {
              Q_OBJECT
             public slots:
              void Go() {
                run();
              }
            };
            """)
        self.assertEqual(found, [("Go", 4, 6)])


class CommandTest(unittest.TestCase):
    def run_on(self, files):
        with tempfile.TemporaryDirectory() as root:
            for relative, text in files.items():
                path = os.path.join(root, relative)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "w") as stream:
                    stream.write(text)
            done = subprocess.run([sys.executable, SCRIPT, "--root", root],
                                  capture_output=True, text=True)
            return done.returncode, done.stdout

    @staticmethod
    def function(lines, before=""):
        """A function of exactly `lines` lines."""
        body = "".join(f"  step({i});\n" for i in range(lines - 2))
        return f"{before}void Long() {{\n{body}}}\n"

    def test_limits_and_the_data_table_marker(self):
        self.assertEqual(self.run_on({"app/a.cpp": self.function(80)}), (0, ""))
        status, out = self.run_on({"app/a.cpp": self.function(81)})
        self.assertEqual(status, 1)
        self.assertIn("app/a.cpp:1: Long is 81 lines", out)
        marked = self.function(120, "// data table: one entry a line\n")
        self.assertEqual(self.run_on({"ui/t.cpp": marked}), (0, ""))
        # The marker exempts only the function right below it.
        far = self.function(120, "// data table: one entry a line\n\n")
        self.assertEqual(self.run_on({"ui/t.cpp": far})[0], 1)
        # Outside the program's folders nothing is checked.
        self.assertEqual(self.run_on({"tests/a.cpp": self.function(200)}), (0, ""))

    def test_long_file(self):
        status, out = self.run_on({"tree/big.h": "int x;\n" * 601})
        self.assertEqual(status, 1)
        self.assertIn("tree/big.h: 601 lines", out)
        self.assertEqual(self.run_on({"tree/big.h": "int x;\n" * 600}), (0, ""))


if __name__ == "__main__":
    unittest.main()
