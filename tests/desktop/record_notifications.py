"""A notification service for tests: owns org.freedesktop.Notifications on
the session bus and appends each Notify call, as one JSON line, to the file
named by its argument. Prints "ready" once it owns the name."""

import json
import sys

from gi.repository import Gio, GLib

INTERFACE = """
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
    </method>
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
    </method>
  </interface>
</node>
"""

calls_file = sys.argv[1]
count = 0


def on_call(connection, sender, path, interface, method, parameters, invocation):
    global count
    if method == "Notify":
        app_name, replaces, icon, summary, body, actions, hints, timeout = parameters.unpack()
        count += 1
        with open(calls_file, "a") as f:
            f.write(json.dumps({"app_name": app_name, "summary": summary, "body": body,
                                "hints": sorted(hints), "timeout": timeout}) + "\n")
        invocation.return_value(GLib.Variant("(u)", (count,)))
    elif method == "GetCapabilities":
        invocation.return_value(GLib.Variant("(as)", (["body"],)))
    else:
        invocation.return_value(GLib.Variant("(ssss)", ("recorder", "tests", "1", "1.2")))


def on_bus(connection, name):
    node = Gio.DBusNodeInfo.new_for_xml(INTERFACE)
    connection.register_object("/org/freedesktop/Notifications", node.interfaces[0], on_call, None, None)


def on_name(connection, name):
    print("ready", flush=True)


Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.Notifications", Gio.BusNameOwnerFlags.NONE,
                 on_bus, on_name, lambda *a: sys.exit(1))
GLib.MainLoop().run()
