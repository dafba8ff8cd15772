"use strict";
// Every text from the device goes into the page through textContent only.
(function () {
  const data = JSON.parse(document.getElementById("zelvik-data").textContent);
  const nodes = data.nodes;
  const geometry = data.geometry;
  const shot = document.getElementById("shot");
  const hoverBox = document.getElementById("hover");
  const chosenBox = document.getElementById("chosen");
  const details = document.getElementById("details");
  const status = document.getElementById("status");
  const rows = [];  // per node: its tree row
  const items = [];  // per node: its tree <li>
  let selected = null;

  function make(tag, className, text) {
    const el = document.createElement(tag);
    if (className) el.className = className;
    if (text !== undefined) el.textContent = text;
    return el;
  }

  // The element under a point, as the workbench finds it: a depth-first
  // search in which the first child containing the point wins, started at
  // the root and then at each window. Bounds other than four numbers stop
  // the search, as they do in the core.
  function searchNode(id, x, y) {
    const b = nodes[id].bounds;
    if (!b || b.length === 0) return null;
    if (b.length !== 4) throw new Error("bounds of " + b.length + " values");
    if (!(b[0] <= x && x <= b[2] && b[1] <= y && y <= b[3])) return null;
    for (const child of nodes[id].children) {
      const found = searchNode(child, x, y);
      if (found !== null) return found;
    }
    return id;
  }

  function elementAt(x, y) {
    try {
      for (const top of [0].concat(nodes[0].children)) {
        const found = searchNode(top, x, y);
        if (found !== null) return found;
      }
    } catch (e) {
      return null;
    }
    return null;
  }

  function place(box, id) {
    const b = id === null ? null : nodes[id].bounds;
    if (!b || b.length !== 4) {
      box.hidden = true;
      return;
    }
    box.style.left = (100 * b[0] / geometry.ui_width) + "%";
    box.style.top = (100 * b[1] / geometry.ui_height) + "%";
    box.style.width = (100 * (b[2] - b[0]) / geometry.ui_width) + "%";
    box.style.height = (100 * (b[3] - b[1]) / geometry.ui_height) + "%";
    box.hidden = false;
  }

  function devicePoint(event) {
    const r = shot.getBoundingClientRect();
    return [Math.floor((event.clientX - r.left) * geometry.ui_width / r.width),
            Math.floor((event.clientY - r.top) * geometry.ui_height / r.height)];
  }

  // --- the element tree ---------------------------------------------------
  function buildTree() {
    const top = document.getElementById("tree").appendChild(make("ul"));
    nodes.forEach(function (n, id) {  // pre-order: a parent's list exists before its children
      const item = (n.parent === -1 ? top : items[n.parent].lastElementChild).appendChild(make("li"));
      const row = item.appendChild(make("div", "row"));
      const toggle = row.appendChild(make("span", "toggle", n.children.length ? "\u25be" : ""));
      row.appendChild(make("span", "label", n.label));
      toggle.addEventListener("click", function (e) {
        e.stopPropagation();
        setCollapsed(id, !item.classList.contains("collapsed"));
      });
      row.addEventListener("click", function () { select(id, null); });
      row.addEventListener("mouseenter", function () { place(hoverBox, id); });
      if (n.children.length) item.appendChild(make("ul"));
      rows[id] = row;
      items[id] = item;
    });
  }

  function setCollapsed(id, collapsed) {
    if (!nodes[id].children.length) return;
    items[id].classList.toggle("collapsed", collapsed);
    rows[id].firstChild.textContent = collapsed ? "\u25b8" : "\u25be";
  }

  function filter(query) {
    query = query.trim().toLowerCase();
    const shown = new Array(nodes.length);
    for (let id = nodes.length - 1; id >= 0; id--) {  // children come after their parent
      const n = nodes[id];
      shown[id] = !query || ["text", "resource_id", "content_desc"].some(function (key) {
        return String(n.attrs[key]).toLowerCase().includes(query);
      }) || n.children.some(function (c) { return shown[c]; });
      items[id].hidden = !shown[id];
      if (query && shown[id]) setCollapsed(id, false);
    }
  }

  // --- the selected element -----------------------------------------------
  function section(title) {
    details.appendChild(make("h2", "", title));
  }

  function table(head, body) {
    const t = make("table");
    if (head) {
      const tr = t.appendChild(make("tr"));
      for (const h of head) tr.appendChild(make("th", "", h));
    }
    for (const cells of body) {
      const tr = t.appendChild(make("tr"));
      for (const [className, text] of cells) tr.appendChild(make("td", className, text));
    }
    return details.appendChild(t);
  }

  function copy(text) {
    const done = function () { status.textContent = "code copied"; };
    const fallback = function () {
      const area = document.body.appendChild(make("textarea"));
      area.value = text;
      area.select();
      const ok = document.execCommand("copy");
      area.remove();
      status.textContent = ok ? "code copied" : "copy failed: select the code and copy it";
    };
    if (navigator.clipboard && navigator.clipboard.writeText) {
      navigator.clipboard.writeText(text).then(done, fallback);
    } else {
      fallback();
    }
  }

  function showDetails(id, point) {
    const n = nodes[id];
    details.replaceChildren();
    details.scrollTop = 0;
    const title = make("h2", "", "Element");
    if (point) title.appendChild(make("span", "point", " at (" + point[0] + ", " + point[1] + ")"));
    details.appendChild(title);
    table(null, Object.entries(n.attrs).map(function (kv) {
      return [["key", kv[0]], ["value", typeof kv[1] === "string" ? kv[1] : JSON.stringify(kv[1])]];
    }));
    section("Path from the root");
    const path = details.appendChild(make("ol", "path"));
    const chain = [];
    for (let p = id; p !== -1; p = nodes[p].parent) chain.unshift(p);
    for (const p of chain) {
      path.appendChild(make("li", "", nodes[p].label)).addEventListener("click", function () { select(p, null); });
    }
    section("Selectors, best first");
    table(["#", "type", "priority", "stability", "matches", "code"], n.selectors.map(function (s, i) {
      return [["index", String(i + 1)], ["type", s.type], ["priority", String(s.priority)],
              ["stability", s.stability], [s.count === 1 ? "matches" : "matches flag", s.matches],
              ["code", s.code]];
    }));
    section("XPath");
    table(null, [[["key", "relative"], ["code xpath", n.xpath]], [["key", "full"], ["code full-xpath", n.full_xpath]]]);
    section("Code");
    const button = details.appendChild(make("button", "copy", "Copy code"));
    button.type = "button";
    button.addEventListener("click", function () { copy(n.code); });
    details.appendChild(make("pre", "code", n.code));
  }

  function select(id, point) {
    if (selected !== null) rows[selected].classList.remove("selected");
    selected = id;
    place(chosenBox, id);
    if (id === null) {
      details.replaceChildren(make("p", "hint", point ? "No element at (" + point[0] + ", " + point[1] + ")." : ""));
      return;
    }
    for (let p = nodes[id].parent; p !== -1; p = nodes[p].parent) setCollapsed(p, false);
    rows[id].classList.add("selected");
    rows[id].scrollIntoView({block: "nearest"});
    showDetails(id, point);
  }

  // --- wiring -------------------------------------------------------------
  document.title = "Zelvik inspector: " + data.serial;
  document.getElementById("capture").textContent =
      data.serial + ", " + data.time + ", " + nodes.length + " elements";
  shot.src = "data:image/png;base64," + data.png;
  buildTree();
  shot.addEventListener("mousemove", function (e) {
    const [x, y] = devicePoint(e);
    const id = elementAt(x, y);
    place(hoverBox, id);
    status.textContent = "(" + x + ", " + y + ")  " + (id === null ? "no element" : nodes[id].label);
  });
  shot.addEventListener("mouseleave", function () { hoverBox.hidden = true; });
  shot.addEventListener("click", function (e) {
    const point = devicePoint(e);
    select(elementAt(point[0], point[1]), point);
  });
  document.getElementById("search").addEventListener("input", function (e) { filter(e.target.value); });
  if (data.point) select(elementAt(data.point[0], data.point[1]), data.point);
  window.zelvikInspector = {elementAt: elementAt, select: select};
})();
