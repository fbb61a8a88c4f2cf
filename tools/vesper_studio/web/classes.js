// The class list, grouped by kind and filtered by name, and the header of the
// chosen class: name, kind, capabilities, parameter count and paragraph.
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

function classButton(c) {
  const b = el("button", {
    className: "classItem" + (c.name === state.class ? " active" : ""), textContent: c.name, title: c.name,
  });
  b.dataset.class = c.name;
  b.addEventListener("click", () => selectClass(c.name, true));
  return b;
}

export function buildClassList() {
  const list = $("classList");
  list.textContent = "";
  const filter = $("classFilter").value.toLowerCase();
  for (const [kind, title] of kindGroups()) {
    const items = page.catalogue.classes.filter((c) => c.kind === kind && c.name.toLowerCase().includes(filter));
    if (!items.length) continue;
    list.append(el("div", { className: "kindTitle", textContent: `${title} · ${items.length}` }), ...items.map(classButton));
  }
}

const badge = (text, className = "badge") => el("span", { className, textContent: text });

function classHeader(c) {
  $("classHeader").replaceChildren(
    el("h2", { textContent: c.name }),
    badge(c.kind, "badge kind"),
    ...(c.capabilityNames || []).map((n) => badge(n)),
    badge(`${c.parameters.length} parameters`),
    el("p", { className: "about" }, ...noteNodes(page.notes.text(c.name))),
  );
}

// Shows class `name`; `fresh` starts from its preset instead of the restored parameters.
export function selectClass(name, fresh) {
  const c = page.classes.get(name);
  if (!c) return;
  state.class = name;
  if (fresh) {
    state.params = presetOf(c);
    state.pinned = null;
  }
  for (const b of document.querySelectorAll(".classItem")) b.classList.toggle("active", b.dataset.class === name);
  classHeader(c);
  $("shape").disabled = !shadesSurface(c);
  buildParams();
  changed();
}

export function initClassList() {
  $("classFilter").addEventListener("input", buildClassList);
}
