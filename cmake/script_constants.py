"""Writes a C++ file of static_asserts that hold when the script worker's protocol numbers equal
the C++ ones: compiled into the build, it stops the build at the first one that differs.

    python3 cmake/script_constants.py engine/script/vellumor_engine.py OUTPUT.cpp

The script ships alone and carries the numbers itself; its values are read with Python's own
parser (nothing runs, nothing is imported), the C++ values come from the headers as compiled.
"""

import ast
import sys

# Each name the script must define, and the C++ expression it must equal.
TWINS = [
    ("PROTOCOL_VERSION", "protocol::kVersion"),
    ("MAX_PAYLOAD", "protocol::kMaxPayload"),
    ("TOKEN_VARIABLE", "protocol::kTokenVariable"),
    ("HELLO", "protocol::MessageType::Hello"),
    ("READY", "protocol::MessageType::Ready"),
    ("LOAD", "protocol::MessageType::Load"),
    ("SAVE", "protocol::MessageType::Save"),
    ("QUIT", "protocol::MessageType::Quit"),
    ("RESULT", "protocol::MessageType::Result"),
    ("OK", "protocol::Status::Ok"),
    ("NOT_FOUND", "protocol::Status::NotFound"),
    ("REFUSED", "protocol::Status::Refused"),
    ("PASSWORD_PROTECTED", "protocol::Status::PasswordProtected"),
    ("LOAD_FAILED", "protocol::Status::LoadFailed"),
    ("SAVE_FAILED", "protocol::Status::SaveFailed"),
    ("NO_DOCUMENT", "protocol::Status::NoDocument"),
    ("BAD_REQUEST", "protocol::Status::BadRequest"),
    ("START_FAILED", "protocol::Status::StartFailed"),
    ("OPTION_PDFA", "protocol::kOptionPdfA"),
    ("FORMAT_DOC", "kFormatDoc"),
    ("FORMAT_DOCX", "kFormatDocx"),
    ("FORMAT_PDF", "kFormatPdf"),
    ("EXIT_DONE", "WorkerExit::Done"),
    ("EXIT_START_FAILED", "WorkerExit::StartFailed"),
    ("EXIT_USAGE", "WorkerExit::Usage"),
    ("EXIT_CLIENT_GONE", "WorkerExit::ClientGone"),
    ("EXIT_DEADLINE", "WorkerExit::Deadline"),
    ("EXIT_PROTOCOL", "WorkerExit::Protocol"),
    ("EXIT_OFFICE_DIED", "WorkerExit::OfficeCrashed"),
    ("EXIT_MEMORY_CEILING", "WorkerExit::MemoryCeiling"),
    ("LOAD_ALLOW_LOCAL_LINKS", "protocol::kLoadAllowLocalLinks"),
    ("LOAD_EIGHT_BIT_TEXT", "protocol::kLoadEightBitText"),
    ("LOAD_REFUSE_TEXT_IMPORT", "protocol::kLoadRefuseTextImport"),
    ("LOAD_CEILING_SHIFT", "protocol::kLoadCeilingShift"),
    ("LOAD_IMPORT_SHIFT", "protocol::kLoadImportShift"),
    ("LOAD_IMPORT_MASK", "protocol::kLoadImportMask"),
    ("LAST_WORD_IMPORT", "kLastWordImport"),
    ("UNRECOGNISED_CONTENT", "kUnrecognisedContent"),
]


def value_of(node):
    """A literal, or a shift of literals (1 << 20); ValueError for anything else."""
    if isinstance(node, ast.BinOp) and isinstance(node.op, ast.LShift):
        return value_of(node.left) << value_of(node.right)
    return ast.literal_eval(node)


def script_values(source, path):
    """The script's module-level NAME = literal assignments."""
    values = {}
    for statement in ast.parse(source, path).body:
        if not isinstance(statement, ast.Assign) or len(statement.targets) != 1:
            continue
        target = statement.targets[0]
        if not isinstance(target, ast.Name):
            continue
        try:
            values[target.id] = value_of(statement.value)
        except (ValueError, TypeError, SyntaxError):
            continue  # not a literal: names no protocol number
    return values


def cpp_literal(value):
    if isinstance(value, bool) or not isinstance(value, (int, str)):
        raise ValueError("is neither a whole number nor a text")
    if isinstance(value, int):
        return str(value)
    return '"' + "".join(c if c.isalnum() or c in " ()_-." else "\\x%02x" % ord(c)
                         for c in value) + '"'


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    script, output = argv[1], argv[2]
    with open(script, encoding="utf-8") as f:
        values = script_values(f.read(), script)
    lines = [
        "// Written by cmake/script_constants.py from " + script + ": do not edit.",
        '#include "core/engine_codes.h"',
        '#include "core/engine_protocol.h"',
        '#include "core/input_check.h"',
        "",
        "#include <string_view>",
        "",
        "namespace vellumor {",
    ]
    problems = []
    for name, cpp in TWINS:
        if name not in values:
            problems.append("%s defines no %s (the twin of %s)" % (script, name, cpp))
            continue
        try:
            literal = cpp_literal(values[name])
        except ValueError as e:
            problems.append("%s's %s %s" % (script, name, e))
            continue
        if isinstance(values[name], str):
            check = "std::string_view(%s) == %s" % (cpp, literal)
        else:
            check = "static_cast<long long>(%s) == %s" % (cpp, literal)
        lines.append('static_assert(%s, "the script worker\'s %s differs from %s");'
                     % (check, name, cpp))
    # The import filters of each Word format, in the same order.
    filters = values.get("WORD_IMPORT_FILTERS")
    if not isinstance(filters, dict) or sorted(filters) != list(range(1, values.get(
            "LAST_WORD_IMPORT", 0) + 1)):
        problems.append("%s's WORD_IMPORT_FILTERS does not name every Word format" % script)
    else:
        for code, names in sorted(filters.items()):
            for index, name in enumerate(tuple(names) + ("",)):
                lines.append('static_assert(WordImportFilter(static_cast<WordImport>(%d), %d) == '
                             '%s, "the script worker\'s filters of Word format %d differ");'
                             % (code, index, cpp_literal(name), code))
    if problems:
        sys.stderr.write("".join("script_constants.py: %s\n" % p for p in problems))
        return 1
    lines.append("}  // namespace vellumor")
    text = "\n".join(lines) + "\n"
    try:
        with open(output, encoding="utf-8") as f:
            if f.read() == text:
                return 0
    except OSError:
        pass
    with open(output, "w", encoding="utf-8") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
