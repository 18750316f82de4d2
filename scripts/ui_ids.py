#!/usr/bin/env python3
"""Writes ui/ids.h: one C++ name for every id of the window templates in data/ui.

Every <control> of a dialog template (data/ui/dialogs/<id>-<name>.xml) with an id other than -1, every
<item> of a menu (data/ui/menus), every key of accelerators.xml, every picture of images.xml and every
<command> of commands.xml carries a name="..." beside its id; the header gives the code the same names:

  ui::dlg::<dialog name>::id              the dialog template's id
  ui::dlg::<dialog name>::<control name>  a control of that template (numbers repeat across templates)
  ui::menu::<menu name>                   a menu template's id
  ui::cmd::<command name>                 a command id (one name per id across menus, keys and commands.xml)
  ui::<group>::<command name>             a command of a menu built in code (a <group> of commands.xml)
  ui::accel::<table name>, ui::image::<picture name>

The build fails with the file and the id when a name is missing, is no plain identifier, is given twice
in one scope, or one command id has two names. The header is rewritten only when its text changes.

usage: ui_ids.py <data/ui folder> <output header>
"""
import glob
import os
import re
import sys
import xml.etree.ElementTree as ET

NAME = re.compile(r"[a-z][a-z0-9_]*\Z")
# C++ keywords a name must not be.
CPP_KEYWORDS = set("""alignas alignof and and_eq asm auto bitand bitor bool break case catch char char8_t char16_t
char32_t class compl concept const consteval constexpr constinit const_cast continue co_await co_return co_yield
decltype default delete do double dynamic_cast else enum explicit export extern false float for friend goto if
inline int long mutable namespace new noexcept not not_eq nullptr operator or or_eq private protected public
register reinterpret_cast requires return short signed sizeof static static_assert static_cast struct switch
template this thread_local throw true try typedef typeid typename union unsigned using virtual void volatile
wchar_t while xor xor_eq""".split())


class Problem(Exception):
    pass


def checked_name(element, where):
    name = element.get("name")
    if not name:
        raise Problem(f"{where}: id {element.get('id', element.get('cmd'))} has no name=\"...\"")
    if not NAME.match(name):
        raise Problem(f"{where}: name \"{name}\" is not a lower-case identifier")
    if name in CPP_KEYWORDS:
        raise Problem(f"{where}: name \"{name}\" is a C++ keyword")
    return name


def number(element, attribute, where):
    try:
        return int(element.get(attribute, ""))
    except ValueError:
        raise Problem(f"{where}: {attribute}=\"{element.get(attribute)}\" is not a number") from None


class Scope:
    """Names of one namespace: each name once, and (where ids must be unique) each id once."""

    def __init__(self, label, one_name_per_id):
        self.label = label
        self.one_name_per_id = one_name_per_id
        self.by_name = {}
        self.by_id = {}
        self.comments = {}

    def add(self, name, value, where, comment=""):
        if name in self.by_name and self.by_name[name] != value:
            raise Problem(f"{where}: name \"{name}\" is {self.by_name[name]} elsewhere in {self.label}, here {value}")
        if self.one_name_per_id and value in self.by_id and self.by_id[value] != name:
            raise Problem(f"{where}: id {value} is named \"{self.by_id[value]}\" elsewhere, here \"{name}\"")
        self.by_name.setdefault(name, value)
        self.by_id.setdefault(value, name)
        if comment and name not in self.comments:
            self.comments[name] = comment

    def lines(self, indent=""):
        out = []
        for name, value in self.by_name.items():
            comment = f"  // {self.comments[name]}" if name in self.comments else ""
            out.append(f"{indent}inline constexpr int {name} = {value};{comment}")
        return out


def caption_of(element):
    text = element.get("caption") or element.get("text") or ""
    return text.replace("\n", " ")[:60]


def read(folder):
    dialogs = []
    for path in sorted(glob.glob(os.path.join(folder, "dialogs", "*.xml")), key=lambda p: int(os.path.basename(p).split("-")[0])):
        where = os.path.relpath(path, folder)
        root = ET.parse(path).getroot()
        name = checked_name(root, where)
        scope = Scope(f"dialog {name}", one_name_per_id=True)
        scope.add("id", number(root, "id", where), where)
        for control in root.iter("control"):
            value = number(control, "id", where)
            if value == -1:
                continue
            scope.add(checked_name(control, where), value, where, f"{control.get('class')} {caption_of(control)}".strip())
        dialogs.append((name, scope))
    names = [n for n, _ in dialogs]
    for n in names:
        if names.count(n) > 1:
            raise Problem(f"dialogs: two templates are named \"{n}\"")

    menus = Scope("menu", one_name_per_id=True)
    commands = Scope("cmd", one_name_per_id=True)
    for path in sorted(glob.glob(os.path.join(folder, "menus", "*.xml"))):
        where = os.path.relpath(path, folder)
        root = ET.parse(path).getroot()
        menus.add(checked_name(root, where), number(root, "id", where), where)
        for item in root.iter("item"):
            commands.add(checked_name(item, where), number(item, "id", where), where, item.get("text", ""))

    accel = Scope("accel", one_name_per_id=True)
    path = os.path.join(folder, "accelerators.xml")
    root = ET.parse(path).getroot()
    accel.add(checked_name(root, "accelerators.xml"), number(root, "id", "accelerators.xml"), "accelerators.xml")
    for key in root.iter("accel"):
        commands.add(checked_name(key, "accelerators.xml"), number(key, "cmd", "accelerators.xml"), "accelerators.xml",
                     "key " + "+".join(filter(None, [key.get("mods", "").replace(" ", "+"), key.get("key")])))

    groups = []
    root = ET.parse(os.path.join(folder, "commands.xml")).getroot()
    for command in root.findall("command"):
        commands.add(checked_name(command, "commands.xml"), number(command, "id", "commands.xml"), "commands.xml")
    for group in root.findall("group"):
        scope = Scope(checked_name(group, "commands.xml"), one_name_per_id=True)
        for command in group.findall("command"):
            scope.add(checked_name(command, "commands.xml"), number(command, "id", "commands.xml"), "commands.xml")
        groups.append(scope)

    images = Scope("image", one_name_per_id=True)
    for image in ET.parse(os.path.join(folder, "images.xml")).getroot().iter("image"):
        images.add(checked_name(image, "images.xml"), number(image, "id", "images.xml"), "images.xml", image.get("file", ""))
    return dialogs, menus, commands, groups, accel, images


def header(dialogs, menus, commands, groups, accel, images):
    out = ["// Generated by scripts/ui_ids.py from data/ui (the templates' name=\"...\" attributes); do not edit.",
           "// The names of the dialog templates' controls, the menus and the command ids.",
           "#pragma once", "", "namespace ui {", "", "namespace dlg {"]
    for name, scope in dialogs:
        out += ["", f"namespace {name} {{"] + scope.lines() + [f"}}  // namespace {name}"]
    out += ["", "}  // namespace dlg", ""]
    scopes = [("menu", menus), ("cmd", commands)] + [(g.label, g) for g in groups] + [("accel", accel), ("image", images)]
    for label, scope in scopes:
        out += [f"namespace {label} {{"] + scope.lines() + [f"}}  // namespace {label}", ""]
    out += ["}  // namespace ui", ""]
    return "\n".join(out)


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    folder, output = sys.argv[1], sys.argv[2]
    try:
        text = header(*read(folder))
    except (Problem, ET.ParseError) as e:
        print(f"ui_ids.py: {e}", file=sys.stderr)
        return 1
    try:
        with open(output, encoding="utf-8") as f:
            if f.read() == text:
                return 0
    except OSError:
        pass
    os.makedirs(os.path.dirname(output), exist_ok=True)
    with open(output + ".tmp", "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(output + ".tmp", output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
