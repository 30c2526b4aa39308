"""The console's identifiers as resources/console_ids.h defines them, read from the header at import.

Every `#define NAME value` becomes an attribute of this module: a number (decimal or hex, or an
expression over numbers and names defined before it), a string, or for a macro with parameters a
function of them. The scenarios name controls, strings and dialogs by these names, so that they
follow the header instead of repeating its numbers. A define this module cannot read fails the
import: no scenario runs with a name missing.
"""

import ast
import os
import re

HEADER = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", "resources", "console_ids.h"))

_DEFINE = re.compile(r"^\s*#\s*define\s+([A-Za-z_]\w*)(\(([^)]*)\))?\s+(.*?)\s*$")
_OPERATORS = {ast.Add: lambda a, b: a + b, ast.Sub: lambda a, b: a - b, ast.Mult: lambda a, b: a * b,
              ast.LShift: lambda a, b: a << b, ast.RShift: lambda a, b: a >> b, ast.BitOr: lambda a, b: a | b,
              ast.BitAnd: lambda a, b: a & b, ast.BitXor: lambda a, b: a ^ b}
_UNARY = {ast.USub: lambda a: -a, ast.UAdd: lambda a: a, ast.Invert: lambda a: ~a}


def _strip_comment(text):
    text = re.sub(r"/\*.*?\*/", " ", text)
    return text.split("//", 1)[0].strip()


def _evaluate(node, names):
    """An integer expression of the header: numbers, names known so far, + - * << >> | & ^ ~."""
    if isinstance(node, ast.Expression):
        return _evaluate(node.body, names)
    if isinstance(node, ast.Constant) and isinstance(node.value, int):
        return node.value
    if isinstance(node, ast.Name) and isinstance(names.get(node.id), int):
        return names[node.id]
    if isinstance(node, ast.BinOp) and type(node.op) in _OPERATORS:
        return _OPERATORS[type(node.op)](_evaluate(node.left, names), _evaluate(node.right, names))
    if isinstance(node, ast.UnaryOp) and type(node.op) in _UNARY:
        return _UNARY[type(node.op)](_evaluate(node.operand, names))
    raise ValueError(ast.dump(node))


def _parse(value):
    # Integer suffixes (10u, 0x10L) mean nothing here.
    return ast.parse(re.sub(r"\b(0[xX][0-9a-fA-F]+|\d+)[uUlL]+\b", r"\1", value), mode="eval")


def _function(name, params, tree, names):
    def call(*args):
        if len(args) != len(params):
            raise TypeError("%s takes %d arguments" % (name, len(params)))
        return _evaluate(tree, dict(names, **dict(zip(params, args))))
    call.__name__ = name
    return call


def read(path=HEADER):
    """{name: value} of every define of the header, in its order."""
    names = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            found = _DEFINE.match(line)
            if not found:
                continue
            name, params, value = found.group(1), found.group(3), _strip_comment(found.group(4))
            try:
                if params is not None:
                    names[name] = _function(name, [p.strip() for p in params.split(",") if p.strip()], _parse(value),
                                            names)
                elif re.fullmatch(r'"[^"\\]*"', value):
                    names[name] = value[1:-1]
                else:
                    names[name] = _evaluate(_parse(value), names)
            except (SyntaxError, ValueError) as e:
                raise ValueError("%s:%d: cannot read the define of %s (%s)" % (path, number, name, e)) from None
    return names


globals().update(read())
