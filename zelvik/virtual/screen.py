"""The virtual device's screen: a tree of view nodes, and the built-in one.

The built-in screen is the two-pane Settings app of a tablet in portrait
(1600 x 2560 pixels): the settings list on the left, the Internet page on the
right with the Wi-Fi switch, the networks in reach and an "add network" form,
plus the status bar and the navigation bar. Bounds are screen pixels; the
scrolling lists show only what lies inside their viewport, as a device dump
does. `style` carries drawing hints for the renderer; it is not dumped.
"""
from dataclasses import dataclass, field
from typing import List, Optional, Tuple

WIDTH, HEIGHT = 1600, 2560
FLAGS = ("checkable", "checked", "clickable", "enabled", "focusable", "focused",
         "scrollable", "long-clickable", "password", "selected")

SETTINGS = "com.android.settings"
SYSTEMUI = "com.android.systemui"

# Material colours used by the built-in screen.
SURFACE = "#F8FAFD"
CONTAINER = "#E9EEF6"
PRIMARY = "#0B57D0"
SELECTED = "#D3E3FD"
ON_SURFACE = "#1F1F1F"
VARIANT = "#444746"


@dataclass
class Node:
    cls: str = ""
    bounds: Tuple[int, int, int, int] = (0, 0, 0, 0)
    text: str = ""
    rid: str = ""
    desc: str = ""
    package: str = ""
    hint: str = ""
    flags: set = field(default_factory=lambda: {"enabled"})
    children: List["Node"] = field(default_factory=list)
    style: dict = field(default_factory=dict)

    def walk(self):
        """This node and its descendants, in document order."""
        yield self
        for child in self.children:
            yield from child.walk()


def node(cls, bounds, *children, flags=(), style=None, **attrs):
    """A node of class `cls` ("Button" means android.widget.Button)."""
    if "." not in cls:
        cls = "android.widget." + cls
    return Node(cls=cls, bounds=tuple(bounds), flags={"enabled", *flags},
                children=list(children), style=style or {}, **attrs)


def text(bounds, value, size, colour=ON_SURFACE, **attrs):
    return node("TextView", bounds, text=value, style={"size": size, "colour": colour}, **attrs)


def icon(bounds, desc="", glyph="", colour=PRIMARY, cls="ImageView", **attrs):
    return node(cls, bounds, desc=desc, style={"glyph": glyph, "colour": colour}, **attrs)


# --- system windows ---------------------------------------------------------

def status_bar() -> Node:
    h = 72
    notifications = [icon((200 + 48 * i, 20, 232 + 48 * i, 52), desc, glyph, VARIANT,
                          rid=f"{SYSTEMUI}:id/notification_icon")
                     for i, (desc, glyph) in enumerate([("Messages notification: 2 new messages", "M"),
                                                        ("Gmail notification", "G"),
                                                        ("Calendar notification", "C")])]
    system = [icon((1320, 18, 1356, 54), "Wifi signal full.", "wifi", ON_SURFACE, rid=f"{SYSTEMUI}:id/wifi_signal"),
              icon((1380, 18, 1416, 54), "Phone four bars.", "bars", ON_SURFACE, rid=f"{SYSTEMUI}:id/mobile_signal"),
              node("LinearLayout", (1440, 14, 1568, 58),
                   icon((1440, 18, 1476, 54), "Battery 85 percent.", "battery", ON_SURFACE, rid=f"{SYSTEMUI}:id/battery"),
                   text((1488, 14, 1568, 58), "85%", 28, rid=f"{SYSTEMUI}:id/battery_percentage_view"),
                   rid=f"{SYSTEMUI}:id/battery_layout")]
    contents = node("LinearLayout", (0, 0, WIDTH, h),
                    node("LinearLayout", (32, 0, 800, h),
                         text((32, 14, 160, 58), "12:30", 30, rid=f"{SYSTEMUI}:id/clock", desc="12:30 PM"),
                         node("com.android.systemui.statusbar.phone.NotificationIconContainer", (200, 14, 400, 58),
                              *notifications, rid=f"{SYSTEMUI}:id/notificationIcons"),
                         rid=f"{SYSTEMUI}:id/status_bar_start_side_except_heads_up"),
                    node("LinearLayout", (1300, 0, 1568, h), *system, rid=f"{SYSTEMUI}:id/system_icons"),
                    rid=f"{SYSTEMUI}:id/status_bar_contents")
    return node("FrameLayout", (0, 0, WIDTH, h),
                node("FrameLayout", (0, 0, WIDTH, h), contents, rid=f"{SYSTEMUI}:id/status_bar"),
                rid=f"{SYSTEMUI}:id/status_bar_container", package=SYSTEMUI)


def navigation_bar() -> Node:
    top = HEIGHT - 96
    buttons = [icon((x - 48, top + 8, x + 48, HEIGHT - 8), desc, glyph, ON_SURFACE, cls="ImageView",
                    rid=f"{SYSTEMUI}:id/{rid}", flags=("clickable", "focusable", "long-clickable"))
               for x, desc, glyph, rid in [(560, "Back", "back", "back"), (800, "Home", "home", "home_button"),
                                           (1040, "Overview", "recents", "recent_apps")]]
    bar = node("FrameLayout", (0, top, WIDTH, HEIGHT),
               node("LinearLayout", (320, top, 1280, HEIGHT), *buttons, rid=f"{SYSTEMUI}:id/ends_group"),
               rid=f"{SYSTEMUI}:id/navigation_bar_view")
    return node("FrameLayout", (0, top, WIDTH, HEIGHT), bar,
                rid=f"{SYSTEMUI}:id/navigation_bar_frame", package=SYSTEMUI)


# --- the settings list (left pane) --------------------------------------------

HOMEPAGE = [
    ("Network & internet", "Wi-Fi, mobile, hotspot", "#1A73E8", "N"),
    ("Connected devices", "Bluetooth, pairing", "#12B5CB", "C"),
    ("Apps", "Assistant, recent apps, default apps", "#E8710A", "A"),
    ("Notifications", "Notification history, conversations", "#F538A0", "N"),
    ("Battery", "85% - About 1 day left", "#1E8E3E", "B"),
    ("Storage", "41% used - 75.52 GB free", "#9334E6", "S"),
    ("Sound & vibration", "Volume, haptics, Do Not Disturb", "#129EAF", "S"),
    ("Display", "Dark theme, font size, brightness", "#E37400", "D"),
    ("Wallpaper & style", "Colors, themed icons, app grid", "#D01884", "W"),
    ("Accessibility", "Display, interaction, audio", "#185ABC", "A"),
    ("Security & privacy", "App security, device lock, permissions", "#188038", "S"),
    ("Location", "On - 7 apps have access to location", "#A142F4", "L"),
    ("Passwords & accounts", "Saved passwords, autofill, synced accounts", "#C5221F", "P"),
    ("System", "Languages, gestures, time, backup", "#5F6368", "S"),
    ("About tablet", "Zelvik Virtual Tab", "#1967D2", "i"),
]


def preference(x0, y, x1, title, summary, colour, glyph, widget=None, selected=False, h=144) -> Node:
    """One preference row: icon, title and summary, and an optional widget."""
    mid = y + h // 2
    frame = node("LinearLayout", (x0 + 32, y, x0 + 128, y + h),
                 icon((x0 + 48, mid - 32, x0 + 112, mid + 32), glyph=glyph, colour=colour, rid="android:id/icon"),
                 rid="android:id/icon_frame")
    right = x1 - 32 if widget is None else widget.bounds[0] - 16
    labels = node("RelativeLayout", (x0 + 144, y + 16, right, y + h - 16),
                  text((x0 + 144, mid - 42, right, mid - 2), title, 32, rid="android:id/title"),
                  text((x0 + 144, mid + 2, right, mid + 38), summary, 26, VARIANT, rid="android:id/summary"))
    children = [frame, labels]
    if widget is not None:
        children.append(node("LinearLayout", (widget.bounds[0], y, x1 - 16, y + h), widget, rid="android:id/widget_frame"))
    style = {"fill": SELECTED, "radius": h // 2, "inset": 16} if selected else {}
    return node("LinearLayout", (x0, y, x1, y + h), *children, style=style,
                flags=("clickable", "focusable") + (("selected",) if selected else ()))


def settings_list(top, bottom) -> Node:
    x0, x1 = 0, 640
    title = text((48, top + 48, 592, top + 144), "Settings", 56, rid=f"{SETTINGS}:id/homepage_title")
    search = node("androidx.cardview.widget.CardView", (32, top + 176, 608, top + 288),
                  icon((64, top + 200, 128, top + 264), "Search", "search", VARIANT),
                  node("EditText", (144, top + 192, 544, top + 272), text="Search settings",
                       rid=f"{SETTINGS}:id/search_src_text", hint="Search settings",
                       flags=("clickable", "focusable", "long-clickable"), style={"size": 30, "colour": VARIANT, "bare": True}),
                  rid=f"{SETTINGS}:id/search_bar", flags=("clickable", "focusable"),
                  style={"fill": CONTAINER, "radius": 56})
    list_top = top + 320
    rows = [preference(x0, list_top + 16 + 144 * i, x1, title_, summary, colour, glyph, selected=(i == 0))
            for i, (title_, summary, colour, glyph) in enumerate(HOMEPAGE)]
    recycler = node("androidx.recyclerview.widget.RecyclerView", (x0, list_top, x1, bottom), *rows,
                    rid=f"{SETTINGS}:id/recycler_view", flags=("focusable", "scrollable"))
    return node("LinearLayout", (x0, top, x1, bottom), title, search, clip(recycler),
                rid=f"{SETTINGS}:id/homepage_container")


# --- the Internet page (right pane) -------------------------------------------

NETWORKS = [
    ("Home WiFi", "Connected", True),
    ('Café "Le Petit" Guest', "Saved", True),
    ("Office-5G", "Secured", True),
    ("NETGEAR-2.4", "Secured", True),
    ("Alex's iPhone", "Secured", True),
    ("xfinitywifi", "Open", False),
    ("DIRECT-7F-HP Laser", "Secured", True),
]


def section(x0, y, x1, title) -> Node:
    return text((x0 + 48, y + 24, x1 - 48, y + 64), title, 28, PRIMARY, rid="android:id/title")


def network_row(x0, y, x1, ssid, summary, secured) -> Node:
    h = 128
    widget = icon((x1 - 112, y + 32, x1 - 48, y + 96), "Network details", "gear", VARIANT, cls="ImageButton",
                  rid=f"{SETTINGS}:id/settings_button", flags=("clickable", "focusable"))
    row = preference(x0, y, x1, ssid, summary, PRIMARY, "wifi", widget=widget, h=h)
    row.children[0].children[0].desc = "Wifi signal full." + (" Secured network" if secured else "")
    return row


def labelled_field(x0, y, x1, label, field_node) -> List[Node]:
    return [text((x0, y, x1, y + 36), label, 26, VARIANT), field_node]


def add_network_form(x0, y, x1) -> Tuple[Node, int]:
    """The inline "add network" form: name, security, password, buttons."""
    left, right = x0 + 48, x1 - 48
    parts = [text((left, y + 24, right, y + 72), "Network details", 34, rid=f"{SETTINGS}:id/add_network_title")]
    edit = ("clickable", "focusable", "long-clickable")
    parts += labelled_field(left, y + 96, right, "Network name",
                            node("EditText", (left, y + 140, right, y + 236), text="Guest-Lab",
                                 rid=f"{SETTINGS}:id/ssid", hint="Enter the SSID",
                                 flags=edit + ("focused",), style={"size": 32}))
    parts += labelled_field(left, y + 260, right, "Security",
                            node("Spinner", (left, y + 304, right, y + 400),
                                 text((left + 32, y + 324, right - 96, y + 380), "WPA2/WPA3-Personal", 32,
                                      rid="android:id/text1"),
                                 rid=f"{SETTINGS}:id/security", flags=("clickable", "focusable")))
    parts += labelled_field(left, y + 424, right, "Password",
                            node("EditText", (left, y + 468, right, y + 564), text="••••••••",
                                 rid=f"{SETTINGS}:id/password", hint="Enter password",
                                 flags=edit + ("password",), style={"size": 32}))
    parts.append(node("CheckBox", (left, y + 588, left + 420, y + 652), text="Show password",
                      rid=f"{SETTINGS}:id/show_password", flags=("checkable", "clickable", "focusable")))
    parts.append(node("CheckBox", (left + 440, y + 588, right, y + 652), text="Auto-connect",
                      rid=f"{SETTINGS}:id/auto_connect", flags=("checkable", "checked", "clickable", "focusable")))
    buttons = node("LinearLayout", (left, y + 684, right, y + 780),
                   node("Button", (right - 440, y + 692, right - 232, y + 772), text="Cancel", rid="android:id/button2",
                        flags=("clickable", "focusable"), style={"variant": "text"}),
                   node("Button", (right - 208, y + 692, right, y + 772), text="Save", rid="android:id/button1",
                        flags=("clickable", "focusable")),
                   rid=f"{SETTINGS}:id/button_bar")
    parts.append(buttons)
    h = 812
    card = node("LinearLayout", (x0 + 32, y, x1 - 32, y + h), *parts, rid=f"{SETTINGS}:id/add_network_card",
                style={"fill": CONTAINER, "radius": 40})
    return card, h


def internet_page(top, bottom) -> Node:
    x0, x1 = 640, WIDTH
    toolbar = node("android.widget.Toolbar", (x0, top, x1, top + 128),
                   text((x0 + 48, top + 32, x1 - 160, top + 104), "Internet", 44),
                   icon((x1 - 112, top + 32, x1 - 48, top + 96), "Help & feedback", "?", VARIANT, cls="ImageButton",
                        flags=("clickable", "focusable")),
                   rid=f"{SETTINGS}:id/action_bar")
    y = top + 152
    content = []
    switch = node("Switch", (x1 - 176, y + 24, x1 - 64, y + 88), rid="android:id/switch_widget",
                  flags=("checkable", "checked", "clickable", "focusable"))
    content.append(node("LinearLayout", (x0 + 32, y, x1 - 32, y + 112),
                        text((x0 + 80, y + 32, x1 - 200, y + 80), "Use Wi-Fi", 34, rid=f"{SETTINGS}:id/switch_text"),
                        switch, rid=f"{SETTINGS}:id/main_switch_bar",
                        flags=("checkable", "checked", "clickable", "focusable"),
                        style={"fill": SELECTED, "radius": 56}))
    y += 136
    content.append(section(x0, y, x1, "Mobile network"))
    y += 72
    content.append(preference(x0, y, x1, "Zelvik Mobile", "Connected / 5G", "#1E8E3E", "bars", h=128))
    y += 144
    content.append(section(x0, y, x1, "Wi-Fi networks"))
    y += 72
    for ssid, summary, secured in NETWORKS:
        content.append(network_row(x0, y, x1, ssid, summary, secured))
        y += 128
    content.append(preference(x0, y, x1, "Add network", "Scan a QR code or enter the details", PRIMARY, "+", h=128))
    y += 144
    form, h = add_network_form(x0, y, x1)
    content.append(form)
    y += h + 16
    for title_, summary in [("Saved networks", "12 networks"),
                            ("Network preferences", "Wi-Fi turns back on automatically")]:
        content.append(preference(x0, y, x1, title_, summary, VARIANT, "S", h=128))
        y += 128
    column = node("LinearLayout", (x0, top + 128, x1, y), *content, rid=f"{SETTINGS}:id/detail_content")
    scroll = node("ScrollView", (x0, top + 128, x1, bottom), column,
                  rid=f"{SETTINGS}:id/detail_scroll", flags=("focusable", "scrollable"))
    return node("FrameLayout", (x0, top, x1, bottom), toolbar, clip(scroll),
                rid=f"{SETTINGS}:id/detail_pane", style={"fill": "#FFFFFF", "radius": 48, "inset": 16})


# --- assembly -------------------------------------------------------------------

def clip(container: Node, viewport: Optional[Tuple[int, int]] = None) -> Node:
    """Keeps what is visible inside the container's viewport, with bounds
    cut to it; nodes wholly outside are dropped."""
    top, bottom = viewport or (container.bounds[1], container.bounds[3])
    kept = []
    for child in container.children:
        l, t, r, b = child.bounds
        if b <= top or t >= bottom:
            continue
        child.bounds = (l, max(t, top), r, min(b, bottom))
        kept.append(clip(child, (top, bottom)))
    container.children = kept
    return container


def settings_screen() -> Node:
    """The root node of the built-in screen (the dump's <hierarchy>)."""
    top, bottom = 72, HEIGHT - 96
    panes = node("LinearLayout", (0, top, WIDTH, bottom),
                 settings_list(top, bottom), internet_page(top, bottom),
                 rid=f"{SETTINGS}:id/settings_homepage_container")
    content = node("FrameLayout", (0, 0, WIDTH, HEIGHT), panes, rid="android:id/content")
    app = node("FrameLayout", (0, 0, WIDTH, HEIGHT),
               node("LinearLayout", (0, 0, WIDTH, HEIGHT), content), package=SETTINGS)
    root = Node(flags=set(), style={"fill": SURFACE})
    # System windows lie above the app and come first, as in a device dump.
    root.children = [status_bar(), navigation_bar(), app]
    for window in root.children:
        for n in window.walk():
            n.package = window.package
    return root
