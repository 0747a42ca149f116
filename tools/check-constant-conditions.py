#!/usr/bin/env python3
"""Fails on a runtime `if` or `while` whose condition, or an operand of its
`&&` or `||`, the compiler already knows: a constexpr variable, a macro
constant, a literal or a sizeof, also negated. MSVC reports those as C4127
(conditional expression is constant) at /W4, an error under /WX; what the
platform fixes at compile time belongs in `if constexpr` or `#if`. MSVC
exempts a bare literal (`while (true)`), and so does this check.

Usage: check-constant-conditions.py FILE...
"""
import re
import sys

IDENTIFIER = re.compile(r"[A-Za-z_]\w*")
NUMBER = re.compile(r"(0[xX][0-9a-fA-F']+|\d[\d']*(\.\d*)?)([uUlLfF]*)")
CONSTEXPR_VARIABLE = re.compile(
    r"\bconstexpr\s+(?:(?:static|inline|const|unsigned|signed|long|short)\s+)*"
    r"[\w:]+(?:<[^;{}()]*?>)?\s*[*&]?\s*(\w+)\s*(?:=|\{|\[)")
CONTROL = re.compile(r"\b(if|while)\b(\s+constexpr)?\s*\(")
# Words that name types or casts: they say nothing of whether a value is known.
NEUTRAL = {
    "static_cast", "reinterpret_cast", "const_cast", "bool", "char", "int", "long",
    "short", "unsigned", "signed", "float", "double", "auto", "const", "std", "wchar_t",
    "char16_t", "char32_t", "size_t", "void",
}
CONSTANT_WORDS = {"true", "false", "nullptr"}
COMPILE_TIME_OPERATORS = {"sizeof", "alignof", "noexcept", "decltype"}


def strip_comments_and_literals(text):
    """Comments, string and character literals become blanks; lines stay put."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            out.append(" " * (end - i))
            i = end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append(re.sub(r"[^\n]", " ", text[i:end]))
            i = end
        elif c == "R" and text.startswith('R"', i) and (i == 0 or not text[i - 1].isalnum()):
            open_paren = text.find("(", i)
            delimiter = text[i + 2:open_paren]
            end = text.find(")" + delimiter + '"', open_paren)
            end = n if end < 0 else end + len(delimiter) + 2
            out.append('""' + re.sub(r"[^\n]", " ", text[i + 2:end]))
            i = end
        elif c in "\"'" and not (c == "'" and i > 0 and text[i - 1].isalnum()):
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            out.append(c + " " * (j - i - 1) + c)
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


def matching(text, start, open_char="(", close_char=")"):
    """The index just past the bracket that closes the one at start."""
    depth = 0
    for i in range(start, len(text)):
        if text[i] == open_char:
            depth += 1
        elif text[i] == close_char:
            depth -= 1
            if depth == 0:
                return i + 1
    return len(text)


def split_top_level(text, separators):
    parts, depth, start, i = [], 0, 0, 0
    while i < len(text):
        c = text[i]
        if c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
        elif depth == 0 and any(text.startswith(s, i) for s in separators):
            parts.append(text[start:i])
            i += 2
            start = i
            continue
        i += 1
    parts.append(text[start:])
    return parts


def unwrap(operand):
    """Without leading negations and outer parentheses."""
    while True:
        operand = operand.strip()
        if operand.startswith("!") and not operand.startswith("!="):
            operand = operand[1:]
        elif operand.startswith("(") and matching(operand, 0) == len(operand):
            operand = operand[1:-1]
        else:
            return operand


def operands(condition):
    """The operands of a condition's && and ||, at every level."""
    parts = split_top_level(condition, ("&&", "||"))
    if len(parts) == 1:
        inner = unwrap(condition)
        if inner != condition.strip() and len(split_top_level(inner, ("&&", "||"))) > 1:
            return operands(inner)
        return [inner]
    found = []
    for part in parts:
        found.extend(operands(part))
    return found


def is_known(operand, constants):
    """Whether the compiler knows the operand's value: only constants in it."""
    constant = False
    i, n = 0, len(operand)
    while i < n:
        c = operand[i]
        if c.isspace():
            i += 1
            continue
        number = NUMBER.match(operand, i)
        if number and (i == 0 or not (operand[i - 1].isalnum() or operand[i - 1] == "_")):
            constant = True
            i = number.end()
            continue
        word = IDENTIFIER.match(operand, i)
        if not word:
            i += 1
            continue
        name, i = word.group(), word.end()
        rest = operand[i:].lstrip()
        if name in COMPILE_TIME_OPERATORS and rest.startswith("("):
            constant = True
            i = matching(operand, operand.index("(", i))
        elif name in ("static_cast", "reinterpret_cast", "const_cast") and rest.startswith("<"):
            i = matching(operand, operand.index("<", i), "<", ">")
        elif rest.startswith("::") or name in NEUTRAL:
            continue
        elif name in CONSTANT_WORDS or name in constants:
            constant = True
        elif name.isupper() or (name[0] == "_" and name[1:].isupper()):
            constant = constant or not rest.startswith("(")  # a function-like macro: its arguments decide
        else:
            return False  # a variable or a function: known only at run time
    return constant


def main(paths):
    texts = {}
    constants = set()
    for path in paths:
        with open(path, encoding="utf-8") as source:
            texts[path] = strip_comments_and_literals(source.read())
        constants.update(CONSTEXPR_VARIABLE.findall(texts[path]))
    findings = 0
    for path, text in texts.items():
        for control in CONTROL.finditer(text):
            line_start = text.rfind("\n", 0, control.start()) + 1
            if text[line_start:control.start()].lstrip().startswith("#") or control.group(2):
                continue
            open_paren = control.end() - 1
            condition = text[open_paren + 1:matching(text, open_paren) - 1]
            condition = split_top_level(condition, (";",))[-1] if ";" in condition else condition
            if control.group(1) == "while" and condition.strip() in ("true", "1"):
                continue
            known = [o for o in operands(condition) if is_known(o, constants)]
            if known:
                line = text.count("\n", 0, control.start()) + 1
                shown = " ".join(condition.split())
                print(f"{path}:{line}: `{control.group(1)} ({shown})`: "
                      f"`{' '.join(known[0].split())}` is known at compile time; "
                      "use if constexpr or #if (MSVC: C4127)")
                findings += 1
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
