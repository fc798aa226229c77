#!/usr/bin/python3
"""The acceptance run of the main window, driven through the accessibility
interface (AT-SPI) as a screen reader or a test robot sees it.

  atspi_drive.py DOVRANE PID WINDOW [second]

DOVRANE is the program (for the changes another workstation makes
meanwhile), PID the running window's process, WINDOW its X window. The
installation is the one the DOVRANE_* variables point at (dovrane-mkinstall
--hosts 2 --projects 8 --laptop; this computer is WS01, pinging off).

Every command is given as a person gives it: buttons, check boxes and menu
items are pressed through their accessible actions, rows are clicked and
keys typed through AT-SPI's own device events. Each command has its expected
effect in steps(): a window that shows up with its name, a row that changes,
the status bar, and the files; "pressed, and nothing happened" fails the run.
Nothing waits by sleeping: every wait polls the accessibility tree or the
files until a deadline.
"""

import os
import re
import subprocess
import sys
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402
import pyatspi  # noqa: E402,F401  (python3-pyatspi: initialises the AT-SPI client)

# libatspi marks the interface getters deprecated in favour of others that
# python3-pyatspi's version does not have yet.
warnings.filterwarnings("ignore", category=DeprecationWarning)

DOVRANE, PID, WINDOW = sys.argv[1], int(sys.argv[2]), sys.argv[3]
# "second": the short run of a second start under another computer name.
SECOND = len(sys.argv) > 4 and sys.argv[4] == "second"
# Sanitizer builds run 3 to 10 times slower: every deadline is stretched.
SLOW = float(os.environ.get("DOVRANE_ATSPI_SLOW", "1"))
UNC = os.environ["DOVRANE_UNC_ROOT"]
NET = os.path.join(UNC, "SRV1", "cad", "Net")
CAPTION = "Varnholtek Dovranix"

KEY_F1, KEY_F2, KEY_F5 = 0xFFBE, 0xFFBF, 0xFFC2
KEY_DELETE, KEY_ESCAPE, KEY_RETURN = 0xFFFF, 0xFF1B, 0xFF0D

covered = []  # (command, how, what was seen), for the report at the end


class Failure(Exception):
    pass


def fail(text):
    raise Failure(text)


def pump_events():
    """Takes in the accessibility events that arrived (the focus)."""
    context = GLib.MainContext.default()
    while context.iteration(False):
        pass


def wait_for(what, condition, timeout=20.0):
    """Polls condition() until it gives a true value; fails after the deadline."""
    deadline = time.monotonic() + timeout * SLOW
    last = None
    while True:
        pump_events()
        try:
            value = condition()
        except GLib.Error as error:  # an object that went away while it was read
            value, last = None, error
        if value:
            return value
        if time.monotonic() > deadline:
            fail("timed out waiting for %s%s" % (what, " (%s)" % last if last else ""))
        time.sleep(0.02)


# ----------------------------------------------------------------------------
# The accessibility tree.

def children(acc):
    try:
        return [acc.get_child_at_index(i) for i in range(acc.get_child_count())]
    except GLib.Error:
        return []


def role(acc):
    return acc.get_role_name()


def name(acc):
    try:
        return acc.get_name() or ""
    except GLib.Error:
        return ""


def states(acc):
    return acc.get_state_set()


def showing(acc):
    try:
        return states(acc).contains(Atspi.StateType.SHOWING)
    except GLib.Error:
        return False


def find_all(acc, predicate, depth=12):
    found = []
    if depth < 0 or acc is None:
        return found
    for child in children(acc):
        if child is None:
            continue
        try:
            if predicate(child):
                found.append(child)
        except GLib.Error:
            continue
        found.extend(find_all(child, predicate, depth - 1))
    return found


def find(acc, predicate, depth=12):
    found = find_all(acc, predicate, depth)
    return found[0] if found else None


def named(text, *roles):
    return lambda a: name(a) == text and (not roles or role(a) in roles)


def application():
    desktop = Atspi.get_desktop(0)
    for app in children(desktop):
        try:
            if app and app.get_process_id() == PID:
                return app
        except GLib.Error:
            continue
    return None


def windows():
    """The program's top-level windows on screen, popup menus included."""
    return [w for w in children(APP) if w is not None and showing(w)]


def text_of(acc):
    """What a label or an edit shows (its text, else its name)."""
    try:
        t = acc.get_text_iface()
        if t is not None:
            return t.get_text(0, t.get_character_count())
    except GLib.Error:
        pass
    return name(acc)


def window_texts(window):
    return " | ".join(text_of(a) for a in find_all(window, lambda a: role(a) in ("label", "text", "static")))


def other_windows():
    return [w for w in windows() if not (w.get_process_id() == PID and is_main(w))]


def is_main(w):
    return find(w, named("Host tree"), depth=4) is not None


def press(acc, wait_reply=True, kind=("press", "click", "activate")):
    """Presses a button or menu item (toggles a check box) through its
    accessible action.

    A command that opens a modal window answers only once that window is
    closed: such presses do not wait for the reply."""
    action = acc.get_action_iface()
    if action is None:
        fail("%s %r has no action" % (role(acc), name(acc)))
    names = [action.get_action_name(i) for i in range(action.get_n_actions())]
    index = next((i for i, n in enumerate(names) if n.lower() in kind), None)
    if index is None:
        fail("%s %r offers no press (%s)" % (role(acc), name(acc), names))
    if wait_reply:
        action.do_action(index)
        return
    Atspi.set_timeout(100, -1)
    try:
        action.do_action(index)
    except GLib.Error:
        pass  # the reply comes when the modal window has closed
    finally:
        Atspi.set_timeout(int(25000 * SLOW), -1)


def centre(acc):
    box = acc.get_component_iface().get_extents(Atspi.CoordType.SCREEN)
    return box.x + box.width // 2, box.y + box.height // 2


_last_click = [None]


def focus_main():
    """Gives the main window the keyboard focus, as a window manager does
    when a window is clicked (there is none on this X server, and a closed
    dialog leaves the focus nowhere)."""
    subprocess.run(["xdotool", "windowfocus", "--sync", WINDOW], check=False, timeout=30 * SLOW)


def click(acc, button=1):
    """Clicks the middle of acc (a row of the main window). Two clicks on one
    place in quick succession would be a double click (which expands or
    collapses a row): a click on the place of the last one lands a little to
    its right."""
    focus_main()
    x, y = centre(acc)
    last = _last_click[0]
    if last and abs(last[0] - x) <= 8 and abs(last[1] - y) <= 8:
        x += 12
    _last_click[0] = (x, y)
    Atspi.generate_mouse_event(x, y, "b%dc" % button)


def key(keysym):
    Atspi.generate_keyboard_event(keysym, None, Atspi.KeySynthType.SYM)


def type_text(text):
    Atspi.generate_keyboard_event(0, text, Atspi.KeySynthType.STRING)


def checked(acc):
    return states(acc).contains(Atspi.StateType.CHECKED)


def enabled(acc):
    return states(acc).contains(Atspi.StateType.ENABLED)


def selected(acc):
    return states(acc).contains(Atspi.StateType.SELECTED)


# ----------------------------------------------------------------------------
# The window's parts.

def control(text, *roles):
    acc = wait_for("the control %r" % text, lambda: find(MAIN, named(text, *roles)))
    return acc


def tree(which):
    return control(which + " tree", "tree", "tree table", "table")


def rows(which):
    """The rows of a tree as (name, accessible), in their order."""
    return [(name(c).strip(), c) for c in find_all(tree(which), lambda a: role(a) in ("tree item", "table cell"), 3)
            if showing(c)]


def row(which, text):
    return wait_for("the row %r in the %s tree" % (text, which),
                    lambda: next((a for n, a in rows(which) if n == text), None))


def no_row(which, text):
    wait_for("the row %r to leave the %s tree" % (text, which),
             lambda: all(n != text for n, _ in rows(which)))


def status_texts():
    bar = find(MAIN, named("Status bar"))
    return [name(p) for p in find_all(bar, lambda a: role(a) in ("label", "static"), 2) if showing(p)]


def path_label():
    return wait_for("the data path label", lambda: find(MAIN, lambda a: role(a) == "label" and
                                                         a.get_description() == "Data path"))


def select_row(which, text):
    cell = row(which, text)
    click(cell)
    wait_for("the row %r selected" % text, lambda: selected(row(which, text)))
    return cell


def popup_menu(title):
    return wait_for("the menu %r" % title,
                    lambda: next((w for w in windows() if role(w) == "popup menu" and name(w) == title), None))


def menu_items(menu):
    return [(name(i), i) for i in children(menu) if role(i) in ("menu item", "check menu item")]


def context_menu(which, text=None, ctrl=False):
    """Right-clicks a row (or the tree's empty area), with Ctrl held if asked,
    and returns the menu."""
    # Ctrl is held on the X server itself (AT-SPI's key presses take key
    # codes, which differ between keyboard maps; xdotool finds Ctrl's).
    if ctrl:
        subprocess.run(["xdotool", "keydown", "Control_L"], check=True, timeout=30 * SLOW)
    try:
        if text is None:
            t = tree(which)
            box = t.get_component_iface().get_extents(Atspi.CoordType.SCREEN)
            Atspi.generate_mouse_event(box.x + box.width // 2, box.y + box.height - 12, "b3c")
        else:
            click(row(which, text), 3)
        return popup_menu("Host tree menu" if which == "Host" else "Project tree menu")
    finally:
        if ctrl:
            subprocess.run(["xdotool", "keyup", "Control_L"], check=True, timeout=30 * SLOW)


def description(which, text):
    """What a screen reader says of a row besides its name (in use, checked
    out, not reachable)."""
    try:
        return row(which, text).get_description() or ""
    except GLib.Error:
        return ""


def wait_description(which, text, wanted):
    wait_for("the row %r described as %r" % (text, wanted), lambda: description(which, text) == wanted)


def menu_command(which, text, item, wait_reply=False, ctrl=False, while_open=None):
    """Gives a row's menu command; while_open runs once the menu is shown
    and before its item is pressed."""
    menu = context_menu(which, text, ctrl)
    entries = dict(menu_items(menu))
    if while_open is not None:
        while_open()
    if item not in entries:
        fail("the menu of %r offers no %r (it offers %s)" % (text, item, list(entries)))
    if not enabled(entries[item]):
        fail("%r is disabled in the menu of %r" % (item, text))
    press(entries[item], wait_reply)
    wait_for("the menu to close", lambda: not any(role(w) == "popup menu" for w in windows()))


def close_menu():
    key(KEY_ESCAPE)
    wait_for("the menu to close", lambda: not any(role(w) == "popup menu" for w in windows()))


def box_with(text):
    """A window other than the main one whose texts hold text."""
    return wait_for("a window saying %r" % text,
                    lambda: next((w for w in other_windows() if text in window_texts(w) or text in name(w)), None),
                    timeout=30)


def dialog_named(title):
    return wait_for("the dialog %r" % title,
                    lambda: next((w for w in other_windows() if name(w) == title), None), timeout=30)


def answer(window, button):
    b = wait_for("the button %r" % button, lambda: find(window, named(button, "push button")))
    press(b, wait_reply=False)
    wait_for("the window to close after %r" % button, lambda: not showing(window) or window not in windows())


def no_progress_left():
    """No progress window stays among the application's windows, shown or hidden."""
    wait_for("the progress window to be destroyed",
             lambda: not any(name(w) == "Progress" for w in children(APP) if w is not None), timeout=30)


# The object that has the keyboard focus, from the focus events. The in-place
# editor of a tree row is no child of the tree's accessible rows: a screen
# reader meets it by its focus, and so does this run.
focused = [None]


def on_focus(event):
    if event.detail1:
        focused[0] = event.source


def editor():
    def focused_editor():
        acc = focused[0]
        return acc if acc is not None and name(acc) == "Project name" and role(acc) == "text" and showing(acc) else None
    focus_main()
    return wait_for("the name editor", focused_editor)


def editor_closed(ed):
    wait_for("the editor to close", lambda: not showing(ed))


# ----------------------------------------------------------------------------
# The files.

def admin_text():
    with open(os.path.join(NET, "project.dat"), "rb") as f:
        return f.read().decode("cp1252")


def record(name_):
    """The project's line of project.dat (its name padded to 50 characters)."""
    for line in admin_text().splitlines():
        if line[:50].rstrip() == name_ and line[50:51] == "@":
            return line
    return None


def record_host(name_):
    line = record(name_)
    m = re.search(r";([^;@]*?) *@", line[51:]) if line else None
    return m.group(1) if m else None


def cli(*args):
    return subprocess.run([DOVRANE, *args], capture_output=True, text=True, timeout=60 * SLOW)


def prj_folders(host):
    folder = os.path.join(UNC, host, "cad", "Prj")
    return sorted(f for f in os.listdir(folder) if f.lower().endswith(".prj"))


# ----------------------------------------------------------------------------
# The commands, each with its expected effect.

def cmd_check_boxes():
    box = control("Refresh automatically", "check box")
    before = checked(box)
    press(box, kind=("toggle",))
    wait_for("the refresh box to change", lambda: checked(box) != before)
    covered.append(("Refresh automatically (check box)", "press", "checked %s -> %s" % (before, not before)))
    return not before


def cmd_help_menu():
    bar = control("Menu", "menu bar")
    help_menu = wait_for("the Help menu", lambda: find(bar, named("Help", "popup menu"), 2))
    items = dict((name(i), i) for i in children(help_menu) if role(i) == "menu item")
    for wanted in ("Help", "About Dovrane..."):
        if wanted not in items:
            fail("the Help menu offers no %r (%s)" % (wanted, list(items)))
    press(items["About Dovrane..."], wait_reply=False)
    about = dialog_named("About")
    answer(about, "OK")
    covered.append(("Help > About Dovrane...", "menu item", "dialog 'About', OK closes it"))
    press(items["Help"], wait_reply=False)
    box = box_with("DOVRANE.HTML")
    answer(box, "OK")
    covered.append(("Help > Help", "menu item", "message naming the missing help document"))


def cmd_f1():
    click(row("Host", "SRV1"))
    key(KEY_F1)
    box = box_with("DOVRANE.HTML")
    answer(box, "OK")
    covered.append(("F1", "key", "message naming the missing help document"))


def cmd_select_host(host, expect_projects):
    select_row("Host", host)
    wait_for("the status bar to show %s" % host, lambda: status_texts() and status_texts()[0] == host)
    wait_for("the data path %s" % host, lambda: name(path_label()) == host)
    for p in expect_projects:
        row("Project", p)


def cmd_search(target):
    edit = control("Search", "text")
    edit.get_editable_text_iface().set_text_contents(target)
    button = control("Search", "push button")
    press(button)
    box = wait_for("the search box", lambda: next((w for w in other_windows() if name(w) == "Search"), None))
    wait_for("the match %r selected in the host tree" % target,
             lambda: any(n == target and selected(a) for n, a in rows("Host")))
    wait_for("the search button disabled while the box waits", lambda: not enabled(button))
    answer(box, "Cancel")
    wait_for("the search button enabled again", lambda: enabled(button))
    covered.append(("Search button", "press", "box 'Search' at the match %r; Cancel ends it" % target))


def selected_host_row():
    return next(((n, centre(a)) for n, a in rows("Host") if selected(a)), None)


def cmd_search_continue(target):
    """Continue walks on from match to match; past the last one the walk ends."""
    press(control("Search", "push button"))
    box = wait_for("the search box", lambda: next((w for w in other_windows() if name(w) == "Search"), None))
    for _ in range(20):
        at = wait_for("a match selected", selected_host_row)
        if target not in at[0]:
            fail("the search stopped at %r" % at[0])
        press(find(box, named("Continue", "push button")))
        wait_for("the next match or the end of the walk", lambda: not showing(box) or selected_host_row() != at)
        if not showing(box):
            break
    else:
        fail("Continue never ended the walk")
    wait_for("the search button enabled again", lambda: enabled(control("Search", "push button")))
    covered.append(("Search button, Continue", "press", "every match in turn; the walk ends after the last"))


def cmd_refresh_button():
    if cli("Atspi Aussen 1", "-create", "SRV2").returncode != 0:
        fail("another process could not create a project beside the window")
    press(control("Refresh", "push button"))
    # The refresh button fills the trees for this computer's host; the new
    # project shows under its host in the host tree.
    row("Host", "Atspi Aussen 1")
    wait_for("the data path WS01", lambda: name(path_label()) == "WS01")
    covered.append(("Refresh button", "press", "a project made by another process appears"))


def cmd_f5():
    if cli("Atspi Aussen 2", "-create", "SRV2").returncode != 0:
        fail("another process could not create a project beside the window")
    click(row("Project", "Atspi Aussen 1"))
    key(KEY_F5)
    row("Project", "Atspi Aussen 2")
    covered.append(("F5", "key", "a project made by another process appears"))


def type_name_and_enter(new_name):
    ed = editor()
    ed.get_editable_text_iface().set_text_contents(new_name)
    key(KEY_RETURN)
    editor_closed(ed)


def cmd_new_project_button():
    before = prj_folders("SRV2")
    press(control("New project", "push button"))
    wait_for("project.dat to hold 'New project'", lambda: record("New project"))
    wait_for("a new folder on SRV2", lambda: len(prj_folders("SRV2")) == len(before) + 1)
    type_name_and_enter("Atspi Neu")
    wait_for("the record renamed to 'Atspi Neu'", lambda: record("Atspi Neu") and not record("New project"))
    row("Project", "Atspi Neu")
    covered.append(("New project button + Enter", "press, type, Enter",
                    "record and folder made, then renamed in place"))


def cmd_rename_menu():
    menu_command("Project", "Atspi Neu", "Rename")
    type_name_and_enter("Atspi Zwei")
    wait_for("the record renamed to 'Atspi Zwei'", lambda: record("Atspi Zwei") and not record("Atspi Neu"))
    row("Project", "Atspi Zwei")
    covered.append(("project menu > Rename", "menu item", "editor; record renamed"))


def cmd_f2_escape():
    click(row("Project", "Atspi Zwei"))
    key(KEY_F2)
    ed = editor()
    key(KEY_ESCAPE)
    editor_closed(ed)
    if not record("Atspi Zwei"):
        fail("Escape in the editor changed the record")
    covered.append(("F2, Escape", "keys", "editor opens; Escape leaves the name"))
    # Escape on the window itself does not close it.
    key(KEY_ESCAPE)
    if not showing(MAIN):
        fail("Escape closed the window")


# The sample hosts' names resolve nowhere, but their shares are reached by
# the file system: the properties are measured and shown, never refused for
# the name.
PROPERTIES_CAPTION = "Properties"


def properties_shown(subject):
    def shown():
        for w in other_windows():
            # The name line holds the subject itself (a project's path would
            # hold its host's name too).
            lines = [t.strip() for t in window_texts(w).split(" | ")]
            if name(w) == PROPERTIES_CAPTION and subject in lines and find(w, named("OK", "push button")) is not None:
                return w, "dialog %r naming %r" % (PROPERTIES_CAPTION, subject)
        return None
    try:
        window, seen = wait_for("the properties of %r" % subject, shown, timeout=30)
    except Failure:
        for w in other_windows():
            print("  window %r: %s" % (name(w), window_texts(w)))
        raise
    answer(window, "OK")
    no_progress_left()
    return seen


def cmd_project_properties(project):
    menu_command("Project", project, "Properties")
    seen = properties_shown(project)
    covered.append(("project menu > Properties", "menu item", seen + "; OK; no Progress window left"))


def cmd_host_properties(host):
    menu_command("Host", host, "Properties")
    seen = properties_shown(host)
    covered.append(("host menu > Properties (%s)" % host, "menu item", seen + "; OK; no Progress window left"))


def cmd_copy_paste(project, host):
    menu_command("Project", project, "Copy")
    before = prj_folders(host)
    menu_command("Host", host, "Paste")
    box = box_with("Copy project")
    answer(box, "Yes")
    copy = "Copy of " + project
    wait_for("project.dat to hold %r" % copy, lambda: record(copy))
    wait_for("a new folder on %s" % host, lambda: len(prj_folders(host)) == len(before) + 1)
    no_progress_left()
    covered.append(("project menu > Copy, host menu > Paste", "menu items, Yes",
                    "record %r, folder on %s" % (copy, host)))
    return copy


def cmd_cut_paste(project, source, target):
    select_row("Host", source)
    menu_command("Project", project, "Cut")
    before_src, before_dst = prj_folders(source), prj_folders(target)
    menu_command("Host", target, "Paste")
    box = box_with("Move project")
    answer(box, "Yes")
    wait_for("the folder to move from %s to %s" % (source, target),
             lambda: len(prj_folders(source)) == len(before_src) - 1 and len(prj_folders(target)) == len(before_dst) + 1)
    wait_for("the record on %s" % target, lambda: record_host(project) == target)
    no_progress_left()
    covered.append(("project menu > Cut, host menu > Paste", "menu items, Yes",
                    "folder and record moved %s -> %s" % (source, target)))


def cmd_delete(project, host):
    select_row("Host", host)
    menu_command("Project", project, "Delete")
    box = box_with("delete project")
    answer(box, "No")
    if not record(project):
        fail("No deleted the project")
    covered.append(("project menu > Delete, No", "menu item", "question; nothing deleted"))
    before = prj_folders(host)
    click(row("Project", project))
    key(KEY_DELETE)
    box = box_with("delete project")
    answer(box, "Yes")
    wait_for("the record of %r to go" % project, lambda: not record(project))
    wait_for("its folder to go", lambda: len(prj_folders(host)) == len(before) - 1)
    no_row("Project", project)
    no_progress_left()
    covered.append(("Delete key, Yes", "key", "record, folder and row gone"))


def out_files():
    return sorted(f for f in os.listdir(NET) if f.lower().endswith(".out"))


def menu_offers(which, text, item, ctrl=False):
    return item in menu_offered(which, text, ctrl)


def menu_offered(which, text, ctrl=False):
    menu = context_menu(which, text, ctrl)
    offered = [n for n, _ in menu_items(menu)]
    close_menu()
    return offered


def project_folder(project):
    """The project's folder below the UNC root, from the command line's answer."""
    result = cli(project, "-getpath")
    m = re.match(r"\\\\([^\\]+)\\(.*)", result.stdout.strip())
    if result.returncode != 0 or not m:
        fail("-getpath %r answered %r" % (project, result.stdout))
    return os.path.join(UNC, m.group(1), *m.group(2).split("\\"))


def cmd_project_check_out_and_in(project, host):
    # The host stays selected from the deletion before; the status bar may
    # still name the deleted project (a click on the selected host does not
    # renew it), so the project tree's rows are what is waited for.
    select_row("Host", host)
    wait_for("the data path %s" % host, lambda: name(path_label()) == host)
    row("Project", project)
    before = out_files()
    menu_command("Project", project, "Check out project")
    dialog = wait_for("the check-out comment dialog",
                      lambda: next((w for w in other_windows() if find(w, named("OK", "push button"))
                                    and find(w, lambda a: role(a) == "text" and project in text_of(a))), None), 20)
    comment = wait_for("the comment field", lambda: find(dialog, lambda a: role(a) == "text" and
                                                        a.get_editable_text_iface() is not None and
                                                        project not in text_of(a)))
    comment.get_editable_text_iface().set_text_contents("Checked out through AT-SPI")
    ok = find(dialog, named("OK", "push button"))
    wait_for("OK enabled by the comment", lambda: enabled(ok))
    answer(dialog, "OK")
    out = wait_for("the project's check-out information file",
                   lambda: [f for f in out_files() if f not in before], timeout=30)
    # The end of the check-out refills the trees for this computer: the
    # project is looked for under its host in the host tree.
    wait_for("the menu to offer the check-in", lambda: menu_offers("Host", project, "Check in project"), 20)
    covered.append(("project menu > Check out project", "menu item, comment, OK",
                    "comment dialog; %s in Net; the menu offers the check-in" % out[0]))
    menu_command("Host", project, "Check in project")
    wait_for("the check-out information file to go", lambda: out_files() == before, timeout=30)
    wait_for("the menu to offer the check-out again",
             lambda: menu_offers("Host", project, "Check out project"), 20)
    covered.append(("project menu > Check in project", "menu item", "%s gone; check-out offered again" % out[0]))


def cmd_host_menu_new_project(host):
    before = prj_folders(host)
    menu_command("Host", host, "New project")
    wait_for("a new folder on %s" % host, lambda: len(prj_folders(host)) == len(before) + 1)
    ed = editor()
    key(KEY_ESCAPE)
    editor_closed(ed)
    wait_for("the record 'New project'", lambda: record("New project"))
    covered.append(("host menu > New project", "menu item", "record and folder; editor, Escape keeps the name"))


def cmd_empty_project_area_properties(host):
    # The project tree's empty area stands for the host it shows.
    menu = context_menu("Project")
    items = dict(menu_items(menu))
    if "Properties" not in items:
        fail("the project tree's empty area offers %s" % list(items))
    press(items["Properties"], wait_reply=False)
    seen = properties_shown(host)
    covered.append(("project tree empty area > Properties", "menu item", seen + "; OK"))


def cmd_remove_host_cancel(host):
    with open(os.path.join(NET, "data.cfg"), "rb") as f:
        before = f.read()
    menu_command("Host", host, "Remove data server")
    box = box_with("remove the data server")
    answer(box, "Cancel")
    with open(os.path.join(NET, "data.cfg"), "rb") as f:
        if f.read() != before:
            fail("Cancel changed data.cfg")
    row("Host", host)
    covered.append(("host menu > Remove data server, Cancel", "menu item", "question; data.cfg unchanged"))


def cmd_remove_host_ok(host):
    menu_command("Host", host, "Remove data server")
    box = box_with("remove the data server")
    answer(box, "OK")
    no_row("Host", host)

    def gone():
        with open(os.path.join(NET, "data.cfg"), "rb") as f:
            return all(not line.upper().startswith(host.encode() + b" ") for line in f.read().splitlines())
    wait_for("data.cfg without %s" % host, gone)
    covered.append(("host menu > Remove data server, OK", "menu item", "question; row and data.cfg line gone"))


def cmd_check_out_host_no(host):
    menu_command("Host", host, "Check out computer")
    box = wait_for("the check-out question", lambda: next(iter(other_windows()), None), timeout=30)
    answer(box, "No")
    if os.path.exists(os.path.join(NET, host + ".out")):
        fail("No checked the host out")
    covered.append(("host menu > Check out computer, No", "menu item", "question; no %s.out" % host))


def cmd_check_out_button_no(host):
    select_row("Host", host)
    button = control("Check Out", "push button")
    wait_for("the Check Out button enabled", lambda: enabled(button))
    press(button, wait_reply=False)
    box = wait_for("the check-out question", lambda: next(iter(other_windows()), None), timeout=30)
    answer(box, "No")
    if os.path.exists(os.path.join(NET, host + ".out")):
        fail("No checked the host out")
    covered.append(("Check Out button, No", "press", "question; no %s.out" % host))


def cmd_empty_host_area():
    menu = context_menu("Host")
    items = dict(menu_items(menu))
    add_local = next((i for n, i in items.items() if n.startswith("Add this computer")), None)
    if "Add data server..." not in items or add_local is None:
        fail("the host tree's empty area offers %s" % list(items))
    if enabled(add_local):
        fail("'Add this computer' is enabled though WS01 is a host already")
    press(items["Add data server..."], wait_reply=False)
    dialog = dialog_named("Select data server")
    answer(dialog, "Close")
    covered.append(("host tree empty area > Add data server...", "menu item",
                    "dialog 'Select data server'; Close; 'Add this computer' disabled"))


def cmd_path_button():
    with open(os.path.join(NET, "data.cfg"), "rb") as f:
        before = f.read()
    press(control("Data path", "push button"), wait_reply=False)
    dialog = dialog_named("Select data server")
    answer(dialog, "Close")
    with open(os.path.join(NET, "data.cfg"), "rb") as f:
        if f.read() != before:
            fail("closing the browse dialog changed data.cfg")
    covered.append(("Data path button", "press", "dialog 'Select data server'; Close; data.cfg unchanged"))


def cmd_ping_box():
    box = control("Ping data servers", "check box")
    before = checked(box)
    press(box, kind=("toggle",))
    wait_for("the ping box to change", lambda: checked(box) != before)
    press(box, kind=("toggle",))
    wait_for("the ping box back", lambda: checked(box) == before)
    covered.append(("Ping data servers (check box)", "press twice", "checked and back"))
    return before


IN_USE = "The project is in use by another user."
HOST_OUT = "Data server is checked out"
NOT_REACHABLE = "Not reachable"


def cmd_lock_file(project, host):
    """A project another session works on: its menu offers only the
    properties; Ctrl adds "Delete lock file", which refuses while the session
    holds the file and deletes it once the session is gone."""
    import fcntl
    lock_path = os.path.join(project_folder(project), "project.lck")
    select_row("Host", host)
    with open(lock_path, "w") as held:
        held.write("session of another workstation")
        held.flush()
        fcntl.lockf(held, fcntl.LOCK_EX | fcntl.LOCK_NB)
        key(KEY_F5)
        wait_description("Project", project, IN_USE)
        if menu_offered("Project", project) != ["Properties"]:
            fail("a project in use offers %s" % menu_offered("Project", project))
        menu_command_in_use(project, IN_USE)
        box = box_with(project)
        answer(box, "OK")
        if not os.path.exists(lock_path):
            fail("the lock file of a running session was deleted")
        # The session ends (its lock goes with it) while the menu made for the
        # project in use is open: a check of the row after the release would
        # show it free and offer the usual menu instead.
        menu_command_in_use(project, IN_USE, while_open=held.close)
    wait_for("the lock file to go", lambda: not os.path.exists(lock_path))
    wait_description("Project", project, "Project")
    covered.append(("project in use: menu, Ctrl > Delete lock file", "keys, menu items",
                    "only Properties; held: refused with a message; released: deleted"))


def menu_command_in_use(project, in_use, while_open=None):
    """Ctrl's "Delete lock file" on a project shown in use. A refill (the
    window's own refresh) shows the rows unchecked until their checks come
    back, and such a row offers the usual menu: the menu is opened again once
    the row is described in use again."""
    for _ in range(5):
        wait_description("Project", project, in_use)
        menu = context_menu("Project", project, ctrl=True)
        entries = dict(menu_items(menu))
        if "Delete lock file" in entries:
            if while_open is not None:
                while_open()
            press(entries["Delete lock file"], False)
            wait_for("the menu to close", lambda: not any(role(w) == "popup menu" for w in windows()))
            return
        close_menu()
    fail("the menu of %r offers no 'Delete lock file' while it is described in use" % project)


def cmd_host_checked_out_elsewhere(host):
    """A host another laptop checked out: only its properties; Ctrl offers the
    check-in, which removes the check-out information file."""
    out = os.path.join(NET, host + ".out")
    with open(out, "w") as f:
        f.write("LAPTOP7\nchecked out elsewhere\n")
    key(KEY_F5)
    wait_description("Host", host, HOST_OUT)
    if menu_offered("Host", host) != ["Properties"]:
        fail("a host checked out elsewhere offers %s" % menu_offered("Host", host))
    menu_command("Host", host, "Check in", ctrl=True)
    wait_for("%s.out to go" % host, lambda: not os.path.exists(out))
    key(KEY_F5)
    wait_description("Host", host, "Computer")
    covered.append(("host checked out elsewhere: menu, Ctrl > Check in", "keys, menu item",
                    "only Properties; Ctrl: %s.out removed" % host))


def cmd_unreachable_project(project, host):
    """A project whose folder is gone: described so, and no menu at all."""
    folder = project_folder(project)
    os.rename(folder, folder + ".away")
    try:
        select_row("Host", host)
        # Its folder is asked for again when it becomes the selected row.
        other = next(n for n, _ in rows("Project") if n != project)
        select_row("Project", other)
        select_row("Project", project)
        wait_description("Project", project, NOT_REACHABLE)
        click(row("Project", project), 3)
        # Events are taken in order: the menu of the next row shows, none before it.
        offered = menu_offered("Project", other)
        if "Cut" not in offered:
            fail("the menu shown after the unreachable project's offers %s" % offered)
    finally:
        os.rename(folder + ".away", folder)
    select_row("Project", other)
    select_row("Project", project)
    wait_description("Project", project, "Project")
    covered.append(("unreachable project: right click", "click", "described 'Not reachable'; no menu"))


def cmd_unreachable_host(host):
    """With pinging on, a data server without projects that answers no ping is
    shown so; its menu removes it."""
    box = control("Ping data servers", "check box")
    press(box, kind=("toggle",))
    wait_for("the ping box checked", lambda: checked(box))
    wait_description("Host", host, NOT_REACHABLE)
    if menu_offered("Host", host) != ["Remove data server"]:
        fail("an unreachable host offers %s" % menu_offered("Host", host))
    cmd_remove_host_ok(host)
    press(box, kind=("toggle",))
    wait_for("the ping box unchecked", lambda: not checked(box))
    covered.append(("unreachable host: menu > Remove data server", "check box, menu item",
                    "described 'Not reachable'; removed"))


def network_row(dialog, text):
    net = wait_for("the network tree", lambda: find(dialog, named("Network")))
    return wait_for("the row %r in the network tree" % text,
                    lambda: next((a for a in find_all(net, lambda a: role(a) in ("tree item", "table cell"), 3)
                                  if name(a).strip() == text and showing(a)), None), timeout=30)


def register_in_browse_dialog(dialog, computer, share):
    """Opens the computer in the browse dialog, chooses its share and
    registers it with OK and Yes."""
    cell = network_row(dialog, computer)
    if not states(cell).contains(Atspi.StateType.EXPANDED):
        x, y = centre(cell)
        Atspi.generate_mouse_event(x, y, "b1d")  # a double click opens a row
    cell = network_row(dialog, share)
    x, y = centre(cell)
    Atspi.generate_mouse_event(x, y, "b1c")
    path = wait_for("the path field", lambda: find(dialog, named("Path", "text")))
    wanted = "\\\\%s\\%s" % (computer, share)
    wait_for("the path %r" % wanted, lambda: text_of(path) == wanted)
    ok = find(dialog, named("OK", "push button"))
    wait_for("OK enabled", lambda: enabled(ok))
    press(ok, wait_reply=False)
    question = box_with("registered as a data server")
    answer(question, "Yes")
    wait_for("the browse dialog to close", lambda: not showing(dialog) or dialog not in windows())


def data_cfg_hosts():
    with open(os.path.join(NET, "data.cfg"), "rb") as f:
        return [line.split(b" ")[0].decode("cp1252").upper() for line in f.read().splitlines() if line.strip()]


def cmd_path_button_register(host):
    press(control("Data path", "push button"), wait_reply=False)
    dialog = dialog_named("Select data server")
    register_in_browse_dialog(dialog, host, "cad")
    wait_for("data.cfg to name %s" % host, lambda: host in data_cfg_hosts())
    row("Host", host)
    wait_for("the data path %s" % host, lambda: name(path_label()) == host)
    if not os.path.isfile(os.path.join(UNC, host, "cad", "Prj", "project.srv")):
        fail("no project.srv in the registered data server")
    covered.append(("Data path button, OK, Yes", "press, double click, click",
                    "%s in data.cfg, its row, project.srv; the data path shows it" % host))


def answer_until(done, what, comment):
    """Answers every window the program opens until done() holds: a comment
    field gets the comment, then the affirmative button is pressed. The
    progress window (titled with a path) is left alone."""
    def step():
        if done():
            return True
        for w in other_windows():
            title = name(w)
            if title.startswith("\\\\") or title == "Progress":
                continue
            fields = [a for a in find_all(w, lambda a: role(a) == "text")
                      if enabled(a) and states(a).contains(Atspi.StateType.EDITABLE)]
            for field in fields:
                # The window may be going while it is read: a field without
                # its interface now is left alone.
                editable = field.get_editable_text_iface()
                if editable is not None and not text_of(field):
                    editable.set_text_contents(comment)
            for button in ("Yes", "OK", "Continue"):
                b = find(w, named(button, "push button"))
                if b is not None and enabled(b):
                    press(b, wait_reply=False)
                    return False
        return False
    wait_for(what, step, timeout=120)


def settings_hold(value):
    with open(os.environ["DOVRANE_HKLM"]) as f:
        return any(line.startswith(value) for line in f)


def cmd_host_check_out_and_in(host):
    select_row("Host", host)
    button = control("Check Out", "push button")
    wait_for("the Check Out button enabled", lambda: enabled(button))
    press(button, wait_reply=False)
    out = os.path.join(NET, host + ".out")
    # Done only once the button has turned: the files are final before the
    # last message of the operation opens, and that message must be answered.
    answer_until(lambda: settings_hold("CheckedOutPath") and os.path.exists(out) and not other_windows()
                 and find(MAIN, named("Check In", "push button")) is not None,
                 "the host check-out to finish", "Checked out through AT-SPI")
    with open(out, "rb") as f:
        if b"Checked out through AT-SPI" not in f.read():
            fail("the comment is not in %s.out" % host)
    button = wait_for("the button to offer the check-in",
                      lambda: find(MAIN, named("Check In", "push button")))
    covered.append(("Check Out button, Yes, comment, OK", "press, answers",
                    "%s.out with the comment; CheckedOutPath set; the button says Check In" % host))
    # The laptop now shows its copy, where its host's menu offers the check-in
    # and its projects are free to work on.
    select_row("Host", host)
    wait_for("the host's menu to offer the check-in", lambda: menu_offers("Host", host, "Check in"), 20)
    project = wait_for("a project of %s" % host, lambda: next((n for n, _ in rows("Project")), None))
    wait_description("Project", project, "Project")
    covered.append(("checked-out host: menu", "right click", "'Check in' offered; its projects free on the copy"))
    wait_for("the Check In button enabled", lambda: enabled(button))
    press(button, wait_reply=False)
    # The report opens after the files are final; the button turns once it is closed.
    answer_until(lambda: not settings_hold("CheckedOutPath") and not settings_hold("CheckingInPath")
                 and not os.path.exists(out) and not other_windows()
                 and find(MAIN, named("Check Out", "push button")) is not None, "the host check-in to finish", "")
    if not any(re.match(r"%s-checkin-.*\.txt$" % host, f) for f in os.listdir(NET)):
        fail("no check-in report in Net")
    wait_for("the button to offer the check-out again", lambda: find(MAIN, named("Check Out", "push button")))
    covered.append(("Check In button, answers", "press", "%s.out and the settings values gone; report kept" % host))


def cmd_close(*_):
    press(control("Close", "push button"), wait_reply=False)
    covered.append(("Close button", "press", "program ends, switches saved"))


# Every command of the window, in the order the run gives them, with the
# effect it must have (each step fails the run when its effect does not come).
def steps(srv2):
    return [
        ("Refresh automatically check box", "unchecked; saved as RefreshIsAllowed = 0 at the close",
         cmd_check_boxes),
        ("Help > About Dovrane..., Help > Help", "dialog 'About' (OK); message naming the missing help document",
         cmd_help_menu),
        ("F1", "message naming the missing help document", cmd_f1),
        ("a click on host SRV2", "row selected; status bar and data path say SRV2; its projects listed",
         lambda: cmd_select_host("SRV2", srv2)),
        ("Search button", "box 'Search' at the first match, button off; Cancel ends it",
         lambda: cmd_search(srv2[0])),
        ("Search button, Continue", "each match selected in turn; the box closes after the last",
         lambda: cmd_search_continue(srv2[0])),
        ("Refresh button", "a project made meanwhile by another process appears", cmd_refresh_button),
        ("a click on host SRV2 again", "its projects listed", lambda: cmd_select_host("SRV2", srv2 + ["Atspi Aussen 1"])),
        ("F5", "a project made meanwhile by another process appears", cmd_f5),
        ("New project button, Enter", "record and folder made; name typed in place and stored",
         cmd_new_project_button),
        ("project menu > Rename, Enter", "editor; record renamed", cmd_rename_menu),
        ("F2, Escape", "editor; Escape keeps the name; Escape leaves the window open", cmd_f2_escape),
        ("project menu > Properties", "the properties dialog naming the project; no Progress window left",
         lambda: cmd_project_properties("Atspi Zwei")),
        ("host menu > Properties", "the properties dialog naming the host; no Progress window left",
         lambda: cmd_host_properties("SRV2")),
        ("project tree empty area > Properties", "the properties dialog naming the host it shows",
         lambda: cmd_empty_project_area_properties("SRV2")),
        ("project menu > Copy, host menu > Paste, Yes", "question; record 'Copy of ...' and folder on SRV1",
         lambda: STATE.update(copy=cmd_copy_paste("Atspi Zwei", "SRV1"))),
        ("project menu > Cut, host menu > Paste, Yes", "question; record and folder moved SRV1 -> WS01",
         lambda: cmd_cut_paste(STATE["copy"], "SRV1", "WS01")),
        ("project menu > Delete (No), Delete key (Yes)", "question; No keeps, Yes erases record, folder and row",
         lambda: cmd_delete("Atspi Zwei", "SRV2")),
        ("project menu > Check out project, Check in project",
         "comment dialog; a check-out information file in Net and the menu offers the check-in; then gone",
         lambda: cmd_project_check_out_and_in("Atspi Aussen 1", "SRV2")),
        ("host menu > New project, Escape", "record and folder; editor; Escape keeps the name",
         lambda: cmd_host_menu_new_project("SRV2")),
        ("host menu > Remove data server, Cancel", "question; data.cfg unchanged",
         lambda: cmd_remove_host_cancel("SRV2")),
        ("host menu > Remove data server, OK", "question; the host's row and data.cfg line gone",
         lambda: cmd_remove_host_ok("SRV9")),
        ("host menu > Check out computer, No", "question; no WS01.out", lambda: cmd_check_out_host_no("WS01")),
        ("Check Out button, No", "question; no WS01.out", lambda: cmd_check_out_button_no("WS01")),
        ("host tree empty area > Add data server..., Close",
         "dialog 'Select data server'; 'Add this computer' disabled (WS01 is a host)", cmd_empty_host_area),
        ("Data path button, Close", "dialog 'Select data server'; data.cfg unchanged", cmd_path_button),
        ("Ping data servers check box", "checked, and back; saved as PingIsAllowed = 0", cmd_ping_box),
        ("project in use: menu; Ctrl > Delete lock file",
         "described in use; only Properties; Ctrl: refused while held, deleted once released",
         lambda: cmd_lock_file(srv2[0], "SRV2")),
        ("host checked out elsewhere: menu; Ctrl > Check in",
         "described checked out; only Properties; Ctrl: its .out removed", lambda: cmd_host_checked_out_elsewhere("SRV2")),
        ("unreachable project: right click", "described not reachable; no menu",
         lambda: cmd_unreachable_project(srv2[0], "SRV2")),
        ("Ping on: unreachable host > Remove data server, OK", "described not reachable; row and data.cfg line gone",
         lambda: cmd_unreachable_host("SRV7")),
        ("Data path button, a share, OK, Yes", "registered: data.cfg, row, project.srv, data path",
         lambda: cmd_path_button_register("SRV8")),
        ("Check Out button to the end, then Check In", "host checked out with the comment, then checked in",
         lambda: cmd_host_check_out_and_in("WS01")),
        ("Close button", "the program ends with status 0 (checked by the script)", lambda: cmd_close(0, 0)),
    ]


# A second start with another computer name, which is no data server yet.
def second_steps():
    return [
        ("host tree empty area > Add this computer, a share, OK, Yes",
         "enabled; the browse dialog shows this computer; registered", lambda: cmd_add_this_computer("WS05")),
        ("Close button", "the program ends", lambda: cmd_close(0, 0)),
    ]


def cmd_add_this_computer(computer):
    menu = context_menu("Host")
    items = dict(menu_items(menu))
    add_local = next((i for n, i in items.items() if n.startswith("Add this computer (%s)" % computer)), None)
    if add_local is None or not enabled(add_local):
        fail("the host tree's empty area offers %s, 'Add this computer' not enabled" % list(items))
    press(add_local, wait_reply=False)
    dialog = dialog_named("Select data server")
    register_in_browse_dialog(dialog, computer, "cad")
    wait_for("data.cfg to name %s" % computer, lambda: computer in data_cfg_hosts())
    row("Host", computer)
    covered.append(("host tree empty area > Add this computer", "menu item, double click, click, OK, Yes",
                    "%s registered and shown" % computer))


STATE = {}


def main():
    global APP, MAIN
    Atspi.set_timeout(int(25000 * SLOW), -1)
    listener = Atspi.EventListener.new(on_focus)
    listener.register("object:state-changed:focused")
    APP = wait_for("the program on the accessibility bus", application, timeout=30)
    Atspi.get_desktop(0).set_cache_mask(Atspi.Cache.NONE)
    MAIN = wait_for("the main window", lambda: next((w for w in children(APP) if w and is_main(w)), None), 30)
    if name(MAIN) != CAPTION:
        fail("the main window is named %r" % name(MAIN))
    for host in ("SRV1", "SRV2") if SECOND else ("SRV1", "SRV2", "WS01"):
        row("Host", host)
    if SECOND:
        plan = second_steps()
    else:
        srv2 = sorted(n for n in open(os.environ["ATSPI_PROJECTS_SRV2"]).read().splitlines() if n)
        plan = steps(srv2)
    for command, effect, run in plan:
        start = time.monotonic()
        try:
            run()
        except Failure as failure:
            raise Failure("%s: %s (expected: %s)" % (command, failure, effect))
        print("ok %5.1fs  %-50s %s" % (time.monotonic() - start, command, effect), flush=True)
    for command, how, seen in covered:
        print("seen: %-45s %-22s %s" % (command, how, seen))


if __name__ == "__main__":
    try:
        main()
    except Failure as failure:
        print("FAIL: %s" % failure)
        print("  windows: %s" % [(role(w), name(w)) for w in windows()])
        for w in other_windows():
            print("  window %r says: %s" % (name(w), window_texts(w)))
        print("  status bar: %s; data path: %r; focus: %s" % (
            status_texts(), name(path_label()), (role(focused[0]), name(focused[0])) if focused[0] else None))
        for which in ("Host", "Project"):
            try:
                print("  %s rows: %s" % (which, [(n, selected(a), centre(a)) for n, a in rows(which)]))
            except Exception as error:  # the report must not hide the failure
                print("  %s rows: %s" % (which, error))
        sys.exit(1)
