"""Reads a command's options from where they are defined: the arena's --help (printed from its option
table) or the argument parser a Python tool builds. The man pages and the shell completion are
generated from what this returns, so neither can list an option the command does not have."""

import argparse
import importlib.util
import re
import subprocess
import sys
from dataclasses import dataclass, field

# "  -h, --help          print..." or "  --moves N           run...": the value's name is in capitals.
OPTION_LINE = re.compile(r"^  (?:(-[A-Za-z0-9]), )?(--[A-Za-z0-9][A-Za-z0-9-]*)(?:[ =]([A-Z][A-Z0-9_:]*))?(?: +(.*))?$")


@dataclass
class Option:
    names: list            # ["-h", "--help"]: the short spelling first
    value: str = ""        # what the value is called ("FILE"); empty for a flag
    help: str = ""
    repeats: bool = False  # takes one value or more (argparse's nargs="+")


@dataclass
class Command:
    name: str
    summary: str                                   # one line: what the command is
    description: list = field(default_factory=list)  # paragraphs
    positionals: list = field(default_factory=list)  # Options without names: names = [METAVAR]
    options: list = field(default_factory=list)
    exit_status: list = field(default_factory=list)  # paragraphs


def paragraphs(lines):
    """Hard-wrapped lines as paragraphs: a new one starts at a blank line or at a line that starts
    a sentence (a capital, an option or a contestant kind) after one that ended a sentence."""
    found, current = [], []
    for line in lines:
        line = line.strip()
        starts = re.match(r"[A-Z]|--|exec:", line) and current and current[-1].endswith((".", ":", ")"))
        if not line or starts:
            if current:
                found.append(" ".join(current))
            current = []
        if line:
            current.append(line)
    if current:
        found.append(" ".join(current))
    return found


def from_help(program, name):
    """The arena's options from `program --help`."""
    text = subprocess.run([program, "--help"], capture_output=True, text=True, check=True, timeout=60).stdout
    lines = text.splitlines()
    if not lines or not lines[0].startswith("Usage: "):
        raise ValueError("%s --help does not start with a usage line" % program)
    blocks, block = [], []
    for line in lines[1:] + [""]:
        if line.strip():
            block.append(line)
        elif block:
            blocks.append(block)
            block = []
    if len(blocks) < 2:
        raise ValueError("%s --help has no block of options after its description" % program)
    description, table, notes = blocks[0], blocks[1], [line for b in blocks[2:] for line in b + [""]]
    # The first sentence names the command; the rest of the description follows it.
    first, _, rest = description[0].strip().partition(". ")
    command = Command(name=name, summary=first.rstrip("."))
    command.description = paragraphs(([rest] if rest else []) + description[1:])
    for line in table:
        match = OPTION_LINE.match(line)
        if match:
            short, long, value, help_text = match.groups()
            command.options.append(Option([n for n in (short, long) if n], value or "", help_text or ""))
        elif line.startswith(" ") and command.options:
            command.options[-1].help += " " + line.strip()
        else:
            raise ValueError("cannot read this line of %s --help: %r" % (program, line))
    exit_at = next((i for i, line in enumerate(notes) if line.startswith("Exit status")), len(notes))
    command.description += paragraphs(notes[:exit_at])
    command.exit_status = paragraphs(notes[exit_at:])
    return command


class _Captured(Exception):
    def __init__(self, parser):
        super().__init__("parser captured")
        self.parser = parser


def from_argparse(script, name):
    """The options of a Python tool that builds an ArgumentParser in main(argv) and parses with it:
    main runs until it first parses (parse_args, parse_known_args), which hands over the parser instead of parsing."""
    where = importlib.util.spec_from_file_location("_tool", script)
    module = importlib.util.module_from_spec(where)
    where.loader.exec_module(module)
    original = argparse.ArgumentParser.parse_known_args

    def capture(self, *args, **kwargs):
        raise _Captured(self)

    argparse.ArgumentParser.parse_known_args = capture
    saved_argv0 = sys.argv[0]
    sys.argv[0] = name
    try:
        module.main([])
        raise ValueError("%s: main() returned without parsing its arguments" % script)
    except _Captured as captured:
        parser = captured.parser
    finally:
        argparse.ArgumentParser.parse_known_args = original
        sys.argv[0] = saved_argv0
    parser.prog = name
    formatter = parser._get_formatter()
    command = Command(name=name, summary=(parser.description or name).strip().rstrip("."))
    doc = (module.__doc__ or "").split("\n\n")
    # The module's notes after its first line and its usage block describe the tool.
    command.description = [" ".join(p.split()) for p in doc[1:] if p.strip() and not p.lstrip().startswith("Usage")]
    for action in parser._actions:
        help_text = formatter._expand_help(action) if action.help else ""
        if action.option_strings:
            value = ""
            if action.nargs != 0:
                value = action.metavar or action.dest.upper()
            names = sorted(action.option_strings, key=lambda n: (n.startswith("--"), n))
            command.options.append(Option(names, value, help_text, action.nargs in ("+", "*")))
        else:
            shown = action.metavar or action.dest
            command.positionals.append(Option([shown], shown, help_text, action.nargs in ("+", "*")))
    return command
