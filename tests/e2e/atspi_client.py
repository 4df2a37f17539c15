#!/usr/bin/python3
"""Drives an application over the accessibility bus (AT-SPI), as a screen reader, voice control or
a UI robot does, and prints one JSON line per step with what it saw.

    atspi_client.py APPLICATION STEP...

A step is one argument, its fields separated by "|":

    text|NAME|VALUE          puts VALUE into the editable text named NAME
    action|ROLE|NAME|ACTION  does the action (by its name, "Press") of the control ROLE NAME
    value|NAME|NUMBER        sets the slider named NAME to NUMBER through its value interface
    read|ROLE|NAME           reports the control's states, value and range
    announced|PREFIX         waits for a name change whose new name starts with PREFIX

Only controls that are showing count. Exits non-zero when a control or an announcement is missing.
"""

import json
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import GLib  # noqa: E402
import pyatspi  # noqa: E402

TIMEOUT = 8.0
announced = []


def pump(seconds):
    end = time.monotonic() + seconds
    context = GLib.MainContext.default()
    while time.monotonic() < end:
        while context.iteration(False):
            pass
        time.sleep(0.01)


def application(name):
    end = time.monotonic() + TIMEOUT
    while time.monotonic() < end:
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == name:
                return app
        pump(0.1)
    sys.exit(f"no application {name!r} on the accessibility bus")


def showing(node):
    return node.getState().contains(pyatspi.STATE_SHOWING)


def find(root, role, name):
    end = time.monotonic() + TIMEOUT
    while time.monotonic() < end:
        found = pyatspi.findDescendant(
            root, lambda n: n.name == name and (role is None or n.getRoleName() == role) and showing(n)
        )
        if found is not None:
            return found
        pump(0.1)
    sys.exit(f"no showing {role or 'control'} named {name!r}")


def report(node):
    states = node.getState()
    seen = {
        "role": node.getRoleName(),
        "name": node.name,
        "selected": states.contains(pyatspi.STATE_SELECTED),
        "enabled": states.contains(pyatspi.STATE_ENABLED),
    }
    try:
        value = node.queryValue()
        seen.update(value=value.currentValue, minimum=value.minimumValue, maximum=value.maximumValue,
                    increment=value.minimumIncrement)
    except NotImplementedError:
        pass
    return seen


def main():
    app = application(sys.argv[1])
    pyatspi.Registry.registerEventListener(
        lambda event: announced.append(event.source.name), "object:property-change:accessible-name"
    )
    for step in sys.argv[2:]:
        kind, *fields = step.split("|")
        if kind == "text":
            node = find(app, None, fields[0])
            node.queryEditableText().setTextContents(fields[1])
        elif kind == "action":
            node = find(app, fields[0], fields[1])
            actions = node.queryAction()
            names = [actions.getName(i) for i in range(actions.nActions)]
            if fields[2] not in names:
                sys.exit(f"{fields[1]!r} offers {names}, not {fields[2]!r}")
            actions.doAction(names.index(fields[2]))
        elif kind == "value":
            node = find(app, "slider", fields[0])
            node.queryValue().currentValue = float(fields[1])
        elif kind == "read":
            node = find(app, fields[0], fields[1])
        elif kind == "announced":
            end = time.monotonic() + TIMEOUT
            while not any(name.startswith(fields[0]) for name in announced) and time.monotonic() < end:
                pump(0.05)
            if not any(name.startswith(fields[0]) for name in announced):
                sys.exit(f"no name change to {fields[0]!r}…; seen: {announced}")
            print(json.dumps({"step": step, "announced": [n for n in announced if n.startswith(fields[0])]}))
            continue
        else:
            sys.exit(f"unknown step {step!r}")
        pump(0.05)  # lets the application act on it before the next step reads anything
        print(json.dumps({"step": step, **report(node)}), flush=True)


if __name__ == "__main__":
    main()
