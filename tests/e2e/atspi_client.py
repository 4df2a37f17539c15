#!/usr/bin/python3
"""Acts on an application over the accessibility bus (AT-SPI) as assistive technology does, and
prints one JSON line per step with what the control reports afterwards.

    atspi_client.py APPLICATION STEP...

STEP is text|NAME|VALUE (editable text), action|ROLE|NAME|ACTION, value|NAME|NUMBER (a slider),
read|ROLE|NAME, or announced|PREFIX (a name change to a text starting so). Only showing controls
count; a missing control, action or announcement ends it with an error.
"""

import json
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import GLib  # noqa: E402
import pyatspi  # noqa: E402


def wait(find, what):
    end = time.monotonic() + 8
    while time.monotonic() < end:
        while GLib.MainContext.default().iteration(False):
            pass
        found = find()
        if found:
            return found
        time.sleep(0.02)
    sys.exit(f"not found: {what}")


def report(node):
    seen = {"role": node.getRoleName(), "name": node.name,
            "selected": node.getState().contains(pyatspi.STATE_SELECTED)}
    try:
        value = node.queryValue()
        seen.update(value=value.currentValue, minimum=value.minimumValue, maximum=value.maximumValue,
                    increment=value.minimumIncrement)
    except NotImplementedError:
        pass
    return seen


def control(app, role, name):
    return pyatspi.findDescendant(app, lambda n: n.name == name and role in (None, n.getRoleName())
                                  and n.getState().contains(pyatspi.STATE_SHOWING))


app = wait(lambda: next((a for a in pyatspi.Registry.getDesktop(0) if a and a.name == sys.argv[1]), None),
           sys.argv[1])
names = []
pyatspi.Registry.registerEventListener(lambda event: names.append(event.source.name),
                                       "object:property-change:accessible-name")
for step in sys.argv[2:]:
    kind, *fields = step.split("|")
    if kind == "announced":
        seen = {"names": wait(lambda: [n for n in names if n.startswith(fields[0])], step)}
    else:
        role, name = {"text": (None, fields[0]), "value": ("slider", fields[0])}.get(kind, fields[:2])
        node = wait(lambda: control(app, role, name), step)
        if kind == "text":
            node.queryEditableText().setTextContents(fields[1])
        elif kind == "value":
            node.queryValue().currentValue = float(fields[1])
        elif kind == "action":
            actions = node.queryAction()
            offered = [actions.getName(i) for i in range(actions.nActions)]
            if fields[2] not in offered:
                sys.exit(f"{step}: the control offers {offered}")
            actions.doAction(offered.index(fields[2]))
        seen = report(node)
    print(json.dumps({"step": step, **seen}, ensure_ascii=False), flush=True)
