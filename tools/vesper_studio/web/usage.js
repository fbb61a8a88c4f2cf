// Which operations read each parameter, and whether it can change the current
// view. The class description lists, per parameter, the operations whose
// results it changes for some settings ("readBy"); /api/usage answers the same
// for the current settings, where a parameter may be inert because another one
// switches its part off. A row whose parameter cannot change the view says so.
import { $, el } from "./dom.js";
import { latest, post } from "./api.js";
import { currentClass, hasLobe, state } from "./state.js";

let now = null; // {key, parameters: {name: [operation]}} of the latest answered settings

const settingsKey = () => JSON.stringify([state.class, state.params]);

// The operations whose results the current view shows (the B side in A vs B).
function viewOperations() {
  const c = currentClass();
  const shade = ["shade", "shadowTransmission"];
  const path = hasLobe(c) ? ["evaluateBsdf", "sampleBsdf", "shadowTransmission"] : shade;
  if (state.view === "paths") return [...new Set([...shade, ...path])];
  return state.mode === "path" ? path : shade;
}

function viewName() {
  if (state.view === "paths") return "direct and path views";
  return `${state.mode} view` + (state.view === "ab" ? " of B" : "");
}

// Why parameter p cannot change the view, or "" when it can (or nobody knows).
function inertBecause(p, ops) {
  if (!Array.isArray(p.readBy)) return "";
  if (!p.readBy.length) return "no operation reads it";
  if (!p.readBy.some((o) => ops.includes(o))) {
    const lobe = p.readBy.includes("evaluateBsdf") || p.readBy.includes("sampleBsdf");
    return `no effect on the ${viewName()}: read by ${p.readBy.join(", ")} only` + (lobe ? " (see the path view and the lobe)" : "");
  }
  const current = now?.key === settingsKey() ? now.parameters[p.name] : undefined;
  if (current && !current.some((o) => ops.includes(o))) return `no effect on the ${viewName()} with the other settings as they are`;
  return "";
}

function markRow(row, p, ops) {
  const use = row.querySelector(".pUse");
  const why = inertBecause(p, ops);
  row.classList.toggle("inert", why !== "");
  if (!Array.isArray(p.readBy)) return use.replaceChildren();
  const chips = p.readBy.map((o) => el("span", { className: "op" + (ops.includes(o) ? " inView" : ""), textContent: o }));
  use.replaceChildren(...chips, ...(why ? [el("span", { className: "why", textContent: why })] : []));
  use.title = p.readBy.length ? `read by ${p.readBy.join(", ")}` : "read by no operation";
}

// Marks every parameter row for the current view and settings.
export function markUsage() {
  const c = currentClass();
  if (!c) return;
  const ops = viewOperations();
  const byName = new Map(c.parameters.map((p) => [p.name, p]));
  for (const row of $("params").querySelectorAll(".param")) {
    const p = byName.get(row.dataset.name);
    if (p) markRow(row, p, ops);
  }
}

const ask = latest(
  async (key) => {
    const [cls, params] = JSON.parse(key);
    const r = await post("/api/usage", { class: cls, params });
    return r && { key, parameters: (await r.json()).parameters || {} };
  },
  (answer) => {
    now = answer;
    markUsage();
  },
  () => {},
);

// Asks which parameters the current settings leave able to change each
// operation's results; the marks follow when the answer comes.
export function updateUsage() {
  markUsage();
  if (!currentClass()?.parameters.some((p) => Array.isArray(p.readBy))) return;
  if (now?.key !== settingsKey()) ask(settingsKey());
}
