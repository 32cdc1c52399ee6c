"""GNOME Files (Nautilus 43 and later, through python3-nautilus): "Share with
halvernsignet" in the context menu of selected files and folders, and
nothing else (no item on a folder's background, which would share the whole
folder)."""

import subprocess

import gi

gi.require_version("Nautilus", "4.0")
from gi.repository import GLib, GObject, Nautilus  # noqa: E402

PROGRAM = "halvernsignet-share"


def local_paths(files):
    """The selection's local paths (a GVfs file has its FUSE path), or none
    when any item has no local path: the program copies files, it never
    shares a remote one as a link text."""
    paths = [info.get_location().get_path() for info in files]
    return paths if paths and all(paths) else []


def share(paths):
    # Without a shell, so no name is ever interpreted; absolute paths, so
    # none is taken for an option. A session of its own: the share (and its
    # dialogs) outlives a Files window closed meanwhile, and a signal sent to
    # Files' group never reaches it.
    try:
        child = subprocess.Popen([PROGRAM, *paths], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 start_new_session=True, close_fds=True)
    except OSError as error:
        print(f"{PROGRAM} could not be started: {error}", flush=True)
        return
    # Reaped by GLib when it exits, so no zombie stays behind in Files.
    running.add(child)
    GLib.child_watch_add(GLib.PRIORITY_DEFAULT, child.pid, reaped, child)


# Shares still running, kept until GLib has reaped them.
running = set()


def reaped(_pid, wait_status, child):
    child.returncode = wait_status  # reaped: Popen must not wait for it again
    running.discard(child)


class HalvernsignetShareMenu(GObject.GObject, Nautilus.MenuProvider):
    def get_file_items(self, files):
        paths = local_paths(files)
        if not paths:
            return []
        item = Nautilus.MenuItem(name="HalvernsignetShare::share", label="Share with halvernsignet",
                                 tip="Hand the selected items over to halvernsignet", icon="send-to")
        item.connect("activate", lambda _item: share(paths))
        return [item]
