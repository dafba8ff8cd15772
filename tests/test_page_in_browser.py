"""The inspector page (inspect.html) in a real browser: headless Chromium
through chromedriver and selenium, on a virtual-device capture and on a
hostile dump."""
import ast
import html.parser
import importlib.util
import json
import os
import shutil
import signal
import time
from pathlib import Path

import pytest
from PIL import Image

import sanitizer
from test_cli import ROOT
from test_snapshot import snapshot_file
from zelvik.workbench.cli import main
from zelvik.workbench.commands import Capture
from zelvik.workbench.page import inspector_page, page_data

for name in ("pellora", "zantho", "locate"):
    pytest.importorskip(f"zelvik.core.{name}")

CHROMIUM, CHROMEDRIVER = shutil.which("chromium") or "/usr/bin/chromium", "/usr/bin/chromedriver"
ARTIFACT = ROOT / "out" / "inspect-page.png"  # named in the README
POINTS = [(1448, 2420), (1100, 1190), (300, 900), (1000, 1120)]
HOSTILE = ['</script><script>window.pwned=1</script>', '<!--', '"onmouseover="window.pwned=2" x="',
           "<img src=x onerror=window.pwned=3>", "a\u2028b</SCRIPT >", "{{script}}", "&lt;b&gt; &amp;"]
# What the page itself creates: its tags and attribute names.
PAGE_TAGS = {"html", "head", "meta", "title", "style", "body", "header", "h1", "h2", "span", "input", "main",
             "section", "div", "img", "p", "script", "ul", "li", "table", "tr", "th", "td", "ol", "button", "pre"}
PAGE_ATTRIBUTES = {"lang", "charset", "name", "content", "id", "type", "placeholder", "alt", "class", "hidden",
                   "style", "src"}


def hostile_dump() -> str:
    """A screen whose texts, ids and descriptions try to break out of the page."""
    from xml.sax.saxutils import quoteattr
    nodes = "".join(
        f'<node index="{i}" text={quoteattr(t)} resource-id={quoteattr("id/" + t)} class="android.widget.Button" '
        f'content-desc={quoteattr(t)} package="p" clickable="true" bounds="[0,{100 * i}][400,{100 * i + 90}]"/>'
        for i, t in enumerate(HOSTILE))
    return f'<?xml version="1.0"?><hierarchy rotation="0"><node class="android.widget.FrameLayout" ' \
           f'bounds="[0,0][400,800]">{nodes}</node></hierarchy>'


def hostile_snapshot(path: Path) -> None:
    snapshot_file(path, hostile_dump(), serial="evil<script>", taken="<!--")


# --- without a browser: the page's data cannot leave its <script> -------------

class Tags(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.tags, self.data = [], {}
        self._in = None

    def handle_starttag(self, tag, attrs):
        self.tags.append((tag, dict(attrs)))
        self._in = dict(attrs).get("id")

    def handle_data(self, data):
        if self._in:
            self.data[self._in] = self.data.get(self._in, "") + data

    def handle_endtag(self, tag):
        self._in = None


def test_page_data_stays_inside_its_script(tmp_path):
    hostile_snapshot(tmp_path / "snapshot.zip")
    shot = Capture.from_snapshot(str(tmp_path / "snapshot.zip"))
    page = inspector_page(shot, (10, 150)).decode("utf-8")
    parsed = Tags()
    parsed.feed(page)
    assert [tag for tag, _ in parsed.tags if tag == "script"] == ["script", "script"]
    assert {tag for tag, _ in parsed.tags} <= PAGE_TAGS
    data = json.loads(parsed.data["zelvik-data"])
    assert [n["attrs"]["text"] for n in data["nodes"][2:]] == HOSTILE
    assert (data["serial"], data["time"], data["point"]) == ("evil<script>", "<!--", [10, 150])
    assert "http:" not in page and "https:" not in page  # nothing to fetch


def test_xpaths_are_python_literals_that_select_the_element(tmp_path):
    """On the hostile dump: each d.xpath("...") argument reads back as the
    XPath, and lxml finds exactly that element with it and with the full
    path in the dump."""
    lxml = pytest.importorskip("lxml.etree")
    hostile_snapshot(tmp_path / "snapshot.zip")
    shot = Capture.from_snapshot(str(tmp_path / "snapshot.zip"))
    dump = lxml.fromstring(shot.dump.encode("utf-8"))
    nodes = page_data(shot, None)["nodes"]
    elements = [dump, *dump.iter("node")]  # pre-order, as the page numbers them
    assert len(elements) == len(nodes)
    for element, node in zip(elements, nodes):
        for xpath in (ast.literal_eval(node["xpath"][len("d.xpath("):-1]), node["full_xpath"]):
            assert dump.getroottree().xpath(xpath) == [element], (xpath, node["attrs"]["text"])


# --- in the browser -----------------------------------------------------------------

def descendants(pid: int):
    """The pids of the process tree below `pid` (Linux /proc)."""
    children = {}
    for stat in Path("/proc").glob("[0-9]*/stat"):
        try:
            fields = stat.read_text().rsplit(")", 1)[1].split()
        except OSError:
            continue
        children.setdefault(int(fields[1]), []).append(int(stat.parent.name))
    found, todo = [], [pid]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def alive(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    stat = Path(f"/proc/{pid}/stat")
    return stat.exists() and stat.read_text().rsplit(")", 1)[1].split()[0] != "Z"


class Browser:
    """Headless Chromium under chromedriver on a loopback port. The driver
    gets an environment without the sanitizer run's preload (the browser
    hangs with it)."""

    def __init__(self, profile: Path):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common import utils

        class LoopbackService(Service):
            @property
            def service_url(self):
                return f"http://127.0.0.1:{self.port}"

            def is_connectable(self):
                return utils.is_connectable(self.port, "127.0.0.1")

        env = sanitizer.child_env()
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for arg in ("--headless=new", "--no-sandbox", "--window-size=1600,1000", "--disable-gpu",
                    "--disable-dev-shm-usage", "--no-first-run", "--disable-background-networking",
                    "--disable-component-update", "--disable-sync", f"--user-data-dir={profile}"):
            options.add_argument(arg)
        self.service = LoopbackService(CHROMEDRIVER, env=env)
        self.driver = webdriver.Chrome(service=self.service, options=options)
        self.pids = [self.service.process.pid, *descendants(self.service.process.pid)]
        self.running = True

    def quit(self) -> list:
        """Quits; the pids still alive 10 s later, which are then killed."""
        self.pids += [p for p in descendants(self.service.process.pid) if p not in self.pids]
        self.running = False
        self.driver.quit()
        deadline = time.monotonic() + 10
        while any(map(alive, self.pids)) and time.monotonic() < deadline:
            time.sleep(0.1)
        left = [pid for pid in self.pids if alive(pid)]
        for pid in left:  # our own, by pid
            os.kill(pid, signal.SIGKILL)
        return left


needs_browser = pytest.mark.skipif(
    not (os.path.exists(CHROMIUM) and os.access(CHROMEDRIVER, os.X_OK) and importlib.util.find_spec("selenium")),
    reason="needs Debian's chromium and chromium-driver (apt-get install chromium chromium-driver) and selenium")


@pytest.fixture(scope="module")
def started(tmp_path_factory):
    """One browser for the module; the last test quits it."""
    browser = Browser(tmp_path_factory.mktemp("profile"))
    yield browser
    if browser.running:
        browser.quit()


@pytest.fixture
def browser(started):
    return started.driver


def workbench(capsys, *argv) -> str:
    """The CLI run in this process: its standard output."""
    capsys.readouterr()
    assert main(list(argv)) == 0
    return capsys.readouterr().out


def load(driver, page: Path):
    driver.get(page.resolve().as_uri())
    assert driver.execute_script("return typeof window.zelvikInspector") == "object"


def click_at(driver, x: int, y: int):
    """Clicks the screenshot where the device point (x, y) is shown."""
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By

    shot = driver.find_element(By.ID, "shot")
    geometry = driver.execute_script("return JSON.parse(document.getElementById('zelvik-data').textContent).geometry")
    width, height = shot.size["width"], shot.size["height"]
    dx = round((x + 0.5) * width / geometry["ui_width"] - width / 2)
    dy = round((y + 0.5) * height / geometry["ui_height"] - height / 2)
    ActionChains(driver).move_to_element_with_offset(shot, dx, dy).click().perform()


def shown(driver) -> dict:
    """The selected element as the page shows it."""
    return driver.execute_script("""
        const d = document.getElementById("details");
        const cells = tr => Array.from(tr.cells, c => c.textContent);
        const tables = d.querySelectorAll("table");
        return {point: d.querySelector(".point").textContent,
                attrs: Object.fromEntries(Array.from(tables[0].rows, cells)),
                selectors: Array.from(tables[1].rows, cells).slice(1),
                xpath: d.querySelector("td.xpath").textContent,
                code: d.querySelector("pre.code").textContent,
                row: document.querySelector("#tree .row.selected .label").textContent};""")


@needs_browser
@pytest.mark.parametrize("point", POINTS)
def test_a_click_shows_what_inspect_reports(browser, virtual_capture, capsys, point):
    load(browser, virtual_capture / "inspect.html")
    click_at(browser, *point)
    page = shown(browser)
    x, y = (int(v) for v in page["point"].strip(" at()").split(","))
    assert abs(x - point[0]) <= 5 and abs(y - point[1]) <= 5  # one CSS pixel is about three device pixels
    report = workbench(capsys, "inspect", "--snapshot", str(virtual_capture / "snapshot.zip"), "--at", f"{x},{y}")
    assert f"  class        {page['attrs']['class']}\n" in report
    selectors = report.split("Selectors, best first\n")[1].split("\n\n")[0].splitlines()
    assert [f"  {i}. {t:<14} priority {p}  {s:<10} {code}  {matches}" for i, t, p, s, matches, code in
            page["selectors"]] == selectors
    assert f"  relative  {page['xpath']}\n" in report
    assert report.split("\nCode\n")[1] == page["code"] + "\n"
    last = report.split("Path from the root\n")[1].split("\n\n")[0].splitlines()[-1]
    assert page["row"].split()[0] == last.split()[1]


@needs_browser
def test_pointer_outline_is_the_core_lookup(browser, virtual_capture):
    """The page's lookup equals the workbench's over a grid and on every edge."""
    shot = Capture.from_snapshot(str(virtual_capture / "snapshot.zip"))
    order, stack = {}, [shot.hierarchy]
    while stack:
        element = stack.pop()
        order[id(element)] = len(order)
        stack.extend(reversed(element["children"]))
    points = [(x, y) for x in range(-20, 1640, 37) for y in range(-20, 2600, 41)]
    for element in _all(shot.hierarchy):
        left, top, right, bottom = element["bounds"]
        points += [(left, top), (right, bottom), (left - 1, top), (right + 1, bottom), (left, bottom + 1)]
    load(browser, virtual_capture / "inspect.html")
    page = browser.execute_script("return arguments[0].map(p => zelvikInspector.elementAt(p[0], p[1]))", points)
    core = [None if (e := shot.element_at(x, y)) is None else order[id(e)] for x, y in points]
    assert page == core and len(set(core)) > 100
    # A real pointer move outlines that element.
    from selenium.webdriver.common.by import By
    click_at(browser, 1448, 2420)
    box = browser.find_element(By.ID, "hover")
    frame = browser.find_element(By.ID, "frame")
    left, top, right, bottom = shot.element_at(1448, 2420)["bounds"]
    scale = frame.size["width"] / 1600
    assert box.is_displayed()
    assert abs(box.location["x"] - frame.location["x"] - left * scale) < 1.5
    assert abs(box.size["height"] - (bottom - top) * scale) < 1.5


def _all(element):
    yield element
    for child in element["children"]:
        yield from _all(child)


@needs_browser
def test_tree_follows_the_selection_and_search_filters_it(browser, virtual_capture):
    from selenium.webdriver.common.by import By

    load(browser, virtual_capture / "inspect.html")
    click_at(browser, 1448, 2420)
    selected = browser.find_element(By.CSS_SELECTOR, "#tree .row.selected")
    assert selected.is_displayed() and "'Save'" in selected.text
    search = browser.find_element(By.ID, "search")
    for query, expected in [("android:id/button1", {"android.widget.Button  'Save'  android:id/button1"}),
                            ("WIFI SIGNAL", None), ("no such thing", set())]:
        search.clear()
        search.send_keys(query)
        visible = browser.execute_script("""
            return Array.from(document.querySelectorAll('#tree li'))
                .filter(li => li.offsetParent !== null && !li.querySelector(':scope > ul > li:not([hidden])'))
                .map(li => li.querySelector('.label').textContent);""")
        if expected is None:  # a content-desc, any case
            assert visible and all("desc='Wifi signal" in v for v in visible)
        else:
            assert set(visible) == expected
    browser.find_element(By.CSS_SELECTOR, "button.copy").click()
    time.sleep(0.2)
    assert browser.find_element(By.ID, "status").text == "code copied"


@needs_browser
def test_hostile_dump_is_shown_as_text(browser, tmp_path, capsys):
    hostile_snapshot(tmp_path / "snapshot.zip")
    workbench(capsys, "open", str(tmp_path / "snapshot.zip"))
    load(browser, tmp_path / "inspect.html")
    from selenium.webdriver.common.by import By
    for i, text in enumerate(HOSTILE):
        click_at(browser, 200, 100 * i + 40)
        page = shown(browser)
        assert page["attrs"]["text"] == page["attrs"]["content_desc"] == text
        assert page["row"] == f"android.widget.Button  {text!r}  id/{text}"
    browser.find_element(By.ID, "search").send_keys(HOSTILE[2][:8])
    found = browser.execute_script("""
        return Array.from(document.querySelectorAll('*'), el =>
            [el.tagName.toLowerCase(), el.getAttributeNames()]);""")
    assert {tag for tag, _ in found} <= PAGE_TAGS
    assert {name for _, names in found for name in names} <= PAGE_ATTRIBUTES
    assert browser.execute_script("return window.pwned") is None
    assert len(browser.find_elements(By.TAG_NAME, "script")) == 2
    assert browser.title == "Zelvik inspector: evil<script>"


@needs_browser
def test_page_screenshot_is_kept(browser, virtual_capture):
    """The picture CI keeps as an artifact (path in the README)."""
    load(browser, virtual_capture / "inspect.html")
    click_at(browser, 1448, 2420)
    ARTIFACT.parent.mkdir(exist_ok=True)
    assert browser.save_screenshot(str(ARTIFACT))
    picture = Image.open(ARTIFACT).convert("RGB")
    assert picture.width >= 1000 and len(picture.getcolors(1 << 16) or range(1 << 16)) > 50


@needs_browser
def test_the_browser_is_quit_completely(started):
    """Last in the module: quits the module's browser, chromedriver and all."""
    assert len(started.pids) > 1
    assert started.quit() == []
