// The parameters of the chosen class, filtered by name or to the changed ones;
// each row's editor (widgets.js) writes the state, and its marks (usage.js)
// say which operations read it.
import { $, el } from "./dom.js";
import { changed, currentClass, page, presetOf, same, state } from "./state.js";
import { markUsage } from "./usage.js";
import { parameterRow } from "./widgets.js";

export function buildParams() {
  const box = $("params");
  box.textContent = "";
  const filter = $("paramFilter").value.toLowerCase();
  const only = $("changedOnly").checked;
  for (const p of currentClass().parameters) {
    if (filter && !p.name.toLowerCase().includes(filter)) continue;
    if (only && (state.params[p.name] === undefined || same(state.params[p.name], p.default))) continue;
    box.append(row(p));
  }
  if (!box.childElementCount) box.append(el("p", { className: "empty", textContent: emptyText(filter, only) }));
  markUsage();
}

function emptyText(filter, only) {
  if (!currentClass().parameters.length) return "This class has no parameters.";
  if (only && !filter) return "No parameter differs from the class default.";
  return `No ${only ? "changed " : ""}parameter matches "${$("paramFilter").value}".`;
}

const rowOf = (name) => document.querySelector(`.param[data-name="${CSS.escape(name)}"]`);

function row(p) {
  const set = (v) => {
    if (v === undefined) delete state.params[p.name];
    else state.params[p.name] = v;
    const r = rowOf(p.name);
    if (v === undefined && r) {
      r.replaceWith(row(p));
      markUsage();
    } else if (r) {
      r.classList.toggle("changed", !same(v, p.default));
      r.classList.remove("bad");
      r.querySelector(".reset").disabled = false;
    }
    changed();
  };
  return parameterRow(p, state.params[p.name], page.notes.meaning(state.class, p.name), set, page.catalogue);
}

// Marks the row of the parameter a refused request names (`params.<name>`), or none.
export function markBadParameter(field) {
  for (const r of document.querySelectorAll(".param.bad")) r.classList.remove("bad");
  if (field && field.startsWith("params.")) rowOf(field.slice(7))?.classList.add("bad");
}

function setParams(params) {
  state.params = params;
  buildParams();
  changed();
}

export function initParams() {
  $("paramFilter").addEventListener("input", buildParams);
  $("changedOnly").addEventListener("change", buildParams);
  $("resetAll").addEventListener("click", () => setParams({}));
  $("loadPreset").addEventListener("click", () => setParams(presetOf(currentClass())));
}
