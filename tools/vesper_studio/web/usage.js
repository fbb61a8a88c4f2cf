// Which operations read each parameter, and whether it can change the current
// view. The class description lists, per parameter, the operations whose
// results it changes for some settings ("readBy"); /api/usage answers the same
// for the current settings, where a parameter may do nothing because another
// one switches its part off. A row whose parameter cannot change the view says so.
import { $, el } from "./dom.js";
import { latest, post } from "./api.js";
import { currentClass, state } from "./state.js";

let now = null; // {key, parameters: {name: [operation]}} of the latest answered settings

const settingsKey = () => JSON.stringify([state.class, state.params, state.env === "file" ? state.envFile : state.env]);

// The operations whose results the current view shows (the B side in A vs B). A
// path-traced image also shows shade, through the rays other surfaces trace.
function viewOperations() {
  const direct = ["shade", "shadowTransmission"];
  const path = [...direct, "evaluateBsdf", "sampleBsdf"];
  return state.view === "paths" || state.mode === "path" ? path : direct;
}

function viewName() {
  if (state.view === "paths") return "direct and path views";
  return `${state.mode} view` + (state.view === "ab" ? " of B" : "");
}

const meets = (a, b) => a.some((o) => b.includes(o));

// Whether parameter p cannot change the view: [short mark, explanation], or
// null when it can (or nothing is known).
function inert(p, ops) {
  if (!Array.isArray(p.readBy)) return null;
  if (!p.readBy.length) return ["read by no operation", "The probe of this class found no operation whose results it changes."];
  if (!meets(p.readBy, ops)) {
    const lobe = p.readBy.includes("evaluateBsdf") || p.readBy.includes("sampleBsdf");
    return [`not in the ${viewName()}`, `Read by ${p.readBy.join(", ")} only` + (lobe ? ": see the path view and the lobe." : ".")];
  }
  const current = now?.key === settingsKey() ? now.parameters[p.name] : undefined;
  if (current && !meets(current, ops)) {
    return ["no effect now", `With the other settings as they are, changing it does not change the ${viewName()}.`];
  }
  return null;
}

// The operations that read p as chips (those the view shows stand out), and
// the mark when it cannot change the view.
function markRow(row, p, ops) {
  const use = row.querySelector(".pUse");
  const why = inert(p, ops);
  row.classList.toggle("inert", why !== null);
  if (!Array.isArray(p.readBy)) return use.replaceChildren();
  const chips = p.readBy.map((o) => el("span", { className: "op" + (ops.includes(o) ? " inView" : ""), textContent: o }));
  const mark = why ? [el("span", { className: "why", textContent: why[0], title: why[1] })] : [];
  use.replaceChildren(...chips, ...mark);
  use.title = why ? why[1] : `read by ${p.readBy.join(", ")}`;
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
    const [cls, params, environment] = JSON.parse(key);
    const r = await post("/api/usage", { class: cls, params, environment });
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
