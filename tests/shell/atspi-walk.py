#!/usr/bin/env python3
"""atspi-walk.py PID [TASK...]: the accessible tree of process PID as a screen reader sees it.

Without a task: walks every window of the process and prints each visible focusable or editable
control and each visible image that has no accessible name (role and path); exits 1 when there
is any.
With tasks, performs them in order, each "WINDOW|ROLE|NAME|ACTION[|TEXT]": finds the first
showing element of that role and name in the window of that title and sets its text (ACTION
"text") or runs its action (ACTION "click", the element's first action); exits 2 when an
element is not found."""
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

WANTS_NAME = {Atspi.StateType.FOCUSABLE, Atspi.StateType.EDITABLE}
IMAGES = {Atspi.Role.IMAGE, Atspi.Role.ICON}


def application(pid):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        try:
            if app and app.get_process_id() == pid:
                return app
        except gi.repository.GLib.Error:
            continue
    return None


def walk(node, path, visit):
    visit(node, path)
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            walk(child, f"{path}/{child.get_role_name()}[{i}]", visit)


def unnamed(app):
    found = []

    def visit(node, path):
        states = node.get_state_set()
        needs = any(states.contains(s) for s in WANTS_NAME) or node.get_role() in IMAGES
        # A control the application keeps hidden (such as the info bar's own close button, which
        # the download bar does not use) is met by nobody; hidden pages' controls stay visible.
        needs = needs and states.contains(Atspi.StateType.VISIBLE)
        if needs and not (node.get_name() or "").strip():
            found.append(path)

    for i in range(app.get_child_count()):
        window = app.get_child_at_index(i)
        walk(window, f"{window.get_role_name()} \"{window.get_name()}\"", visit)
    return found


def find(app, title, role, name):
    match = []

    def visit(node, path):
        if (not match and node.get_role_name() == role and node.get_name() == name
                and node.get_state_set().contains(Atspi.StateType.SHOWING)):
            match.append(node)

    for i in range(app.get_child_count()):
        window = app.get_child_at_index(i)
        if window is not None and window.get_name() == title:
            walk(window, "", visit)
    return match[0] if match else None


def main():
    app = application(int(sys.argv[1]))
    if app is None:
        print("the process is not on the accessibility bus")
        return 3
    tasks = sys.argv[2:]
    if not tasks:
        missing = unnamed(app)
        for path in missing:
            print("no accessible name:", path)
        return 1 if missing else 0
    for task in tasks:
        title, role, name, action, *text = task.split("|")
        node = find(app, title, role, name)
        if node is None:
            print(f"not found: {role} \"{name}\" in \"{title}\"")
            return 2
        if action == "text":
            node.set_text_contents(text[0] if text else "")
        else:
            node.do_action(0)
    return 0


sys.exit(main())
