// The class list, grouped by kind and filtered by name, and the header of the
// chosen class: name, kind, capabilities, parameter count and paragraph. The
// list is one listbox: a single Tab stop, the arrow keys move the choice.
import { $, el } from "./dom.js";
import { noteNodes } from "./notes.js";
import { buildParams } from "./params.js";
import { changed, page, presetOf, shadesSurface, state } from "./state.js";

// [kind, title] in the reference's order; a kind it does not list follows under its own name.
function kindGroups() {
  const groups = [...page.notes.kinds];
  for (const c of page.catalogue.classes) if (!groups.some(([k]) => k === c.kind)) groups.push([c.kind, c.kind]);
  return groups;
}

function classOption(c) {
  const active = c.name === state.class;
  const o = el("div", { className: "classItem" + (active ? " active" : ""), textContent: c.name, title: c.name, id: `class-${c.name}` });
  o.setAttribute("role", "option");
  o.setAttribute("aria-selected", String(active));
  o.dataset.class = c.name;
  o.addEventListener("click", () => selectClass(c.name, true));
  return o;
}

export function buildClassList() {
  const list = $("classList");
  list.textContent = "";
  const filter = $("classFilter").value.toLowerCase();
  for (const [kind, title] of kindGroups()) {
    const items = page.catalogue.classes.filter((c) => c.kind === kind && c.name.toLowerCase().includes(filter));
    if (!items.length) continue;
    const heading = el("div", { className: "kindTitle", textContent: `${title} · ${items.length}`, id: `kind-${kind}` });
    const group = el("div", {}, heading, ...items.map(classOption));
    group.setAttribute("role", "group");
    group.setAttribute("aria-labelledby", heading.id);
    list.append(group);
  }
  if (!list.childElementCount) list.append(el("p", { className: "empty", textContent: `No class matches "${$("classFilter").value}".` }));
  markActive();
}

function markActive() {
  const list = $("classList");
  const active = list.querySelector(".classItem.active");
  if (active) list.setAttribute("aria-activedescendant", active.id);
  else list.removeAttribute("aria-activedescendant");
  active?.scrollIntoView({ block: "nearest" });
}

const badge = (text, className = "badge") => el("span", { className, textContent: text });

// The paragraph shows a few lines; "more" opens the whole of it.
function aboutNote(text) {
  const p = el("p", { className: "about", id: "about" }, ...noteNodes(text));
  const more = el("button", { className: "more", textContent: "more", type: "button" });
  more.setAttribute("aria-expanded", "false");
  more.setAttribute("aria-controls", "about");
  more.addEventListener("click", () => {
    const open = p.classList.toggle("open");
    more.textContent = open ? "less" : "more";
    more.setAttribute("aria-expanded", String(open));
  });
  requestAnimationFrame(() => (more.hidden = p.scrollHeight <= p.clientHeight + 1));
  return [p, more];
}

function classHeader(c) {
  $("classHeader").replaceChildren(
    el("h2", { textContent: c.name }),
    badge(c.kind, "badge kind"),
    ...(c.capabilityNames || []).map((n) => badge(n)),
    badge(`${c.parameters.length} parameters`),
    ...aboutNote(page.notes.text(c.name)),
  );
}

// Shows class `name`; `fresh` starts from its preset instead of the restored
// parameters. A pinned A of another class is dropped with its comparison.
export function selectClass(name, fresh) {
  const c = page.classes.get(name);
  if (!c) return;
  state.class = name;
  if (fresh) state.params = presetOf(c);
  if (state.pinned && (fresh || (state.pinned.class ?? name) !== name)) {
    state.pinned = null;
    if (state.view === "ab") state.view = "single";
  }
  for (const o of document.querySelectorAll(".classItem")) {
    o.classList.toggle("active", o.dataset.class === name);
    o.setAttribute("aria-selected", String(o.dataset.class === name));
  }
  markActive();
  classHeader(c);
  $("shape").disabled = !shadesSurface(c);
  buildParams();
  changed();
}

const KEYS = { ArrowDown: 1, ArrowUp: -1, PageDown: 8, PageUp: -8, Home: -Infinity, End: Infinity };

function onListKey(e) {
  if (!(e.key in KEYS)) return;
  e.preventDefault();
  const items = [...$("classList").querySelectorAll(".classItem")];
  if (!items.length) return;
  const at = items.findIndex((o) => o.classList.contains("active"));
  const next = Math.min(items.length - 1, Math.max(0, (at < 0 ? 0 : at) + KEYS[e.key]));
  if (next !== at) selectClass(items[next].dataset.class, true);
}

export function initClassList() {
  $("classFilter").addEventListener("input", buildClassList);
  $("classList").addEventListener("keydown", onListKey);
}
