// One editor per parameter, chosen by its declared type. Every row shows the
// class default, marks a changed value and resets to the default.
import { el } from "./dom.js";
import { same } from "./state.js";

export const isColour = (p) => /colou?r|tint/i.test(p.name) && (p.type === "float3" || p.type === "float4");
const isTexture = (t) => t.startsWith("texture");
const width = { float2: 2, float3: 3, float4: 4, matrix3: 9, matrix4: 16 };
const FILE = "\u0000file";

// A short text of a value as the class declares it.
export function valueText(p, v) {
  if (v === undefined || v === null) return "—";
  if (isTexture(p.type)) return typeof v === "string" ? v : v.bound ? "bound" : "none";
  if (Array.isArray(v)) return v.map(num).join(", ");
  return typeof v === "number" ? num(v) : String(v);
}

function num(x) {
  return Number.isInteger(x) ? String(x) : String(+x.toPrecision(4));
}

// Linear <-> sRGB for the colour picker (the parameters are linear).
const toSrgb = (x) => {
  x = Math.min(1, Math.max(0, x));
  return x <= 0.0031308 ? 12.92 * x : 1.055 * Math.pow(x, 1 / 2.4) - 0.055;
};
const toLinear = (x) => (x <= 0.04045 ? x / 12.92 : Math.pow((x + 0.055) / 1.055, 2.4));
const hex = (rgb) => "#" + rgb.slice(0, 3).map((c) => Math.round(toSrgb(c) * 255).toString(16).padStart(2, "0")).join("");
const fromHex = (h) => [1, 3, 5].map((i) => +toLinear(parseInt(h.slice(i, i + 2), 16) / 255).toFixed(4));

// Slider range: the default's decade, widened to hold the value.
function range(p, value) {
  const d = typeof p.default === "number" ? p.default : 0;
  let lo = 0, hi = 1;
  if (/ior/i.test(p.name)) [lo, hi] = [1, 3];
  else if (d > 1) hi = d * 4;
  else if (d < 0) [lo, hi] = [d * 4, -d * 4];
  if (value > hi) hi = value * 2;
  if (value < lo) lo = value < 0 ? value * 2 : 0;
  return [lo, hi];
}

// A number field that reports finite numbers only.
function numberInput(v, onValue, step = "any") {
  const n = el("input", { type: "number", step, value: v });
  n.addEventListener("change", () => {
    const x = Number(n.value);
    if (n.value.trim() !== "" && Number.isFinite(x)) onValue(x);
  });
  return n;
}

function boolEditor(p, current, set) {
  const c = el("input", { type: "checkbox", checked: !!current });
  c.addEventListener("change", () => set(c.checked));
  return [c];
}

function intEditor(p, current, set) {
  return [numberInput(current, (x) => set(Math.round(x)), "1")];
}

function floatEditor(p, current, set) {
  const [lo, hi] = range(p, current);
  const s = el("input", { type: "range", min: lo, max: hi, step: (hi - lo) / 500, value: current });
  const n = numberInput(current, (x) => set(x));
  s.addEventListener("input", () => {
    n.value = s.value;
    set(Number(s.value));
  });
  return [s, n];
}

// One number field per component of `v`, which each edit changes in place.
function componentInputs(v, set) {
  return v.map((x, i) =>
    numberInput(x, (y) => {
      v[i] = y;
      set([...v]);
    }),
  );
}

function vectorEditor(p, current, set) {
  const v = [...current];
  const numbers = componentInputs(v, set);
  if (!isColour(p)) return numbers;
  const c = el("input", { type: "color", value: hex(v) });
  c.addEventListener("input", () => {
    const rgb = fromHex(c.value);
    for (let i = 0; i < 3; ++i) v[i] = rgb[i];
    numbers.forEach((n, i) => (n.value = v[i]));
    set([...v]);
  });
  return [c, ...numbers];
}

function matrixEditor(p, current, set) {
  const grid = el("div", { className: "matrix" }, ...componentInputs([...current], set));
  grid.style.gridTemplateColumns = `repeat(${p.type === "matrix3" ? 3 : 4}, auto)`;
  return [grid];
}

// A built-in image, an image file, or none (cube maps: the preview environment's).
function textureEditor(p, current, set, value, context) {
  const cube = p.type === "textureCube";
  const names = cube ? context.cubes : context.textures;
  const sel = el("select", {}, el("option", { value: "", textContent: cube ? "preview environment" : "none" }),
    ...names.map((n) => el("option", { value: n, textContent: n })), el("option", { value: FILE, textContent: "image file…" }));
  const path = el("input", { type: "text", placeholder: "/path/to/image.png", hidden: true });
  const isFile = typeof value === "string" && !names.includes(value);
  sel.value = typeof value === "string" ? (isFile ? FILE : value) : "";
  path.hidden = !isFile;
  if (isFile) path.value = value;
  sel.addEventListener("change", () => {
    path.hidden = sel.value !== FILE;
    if (sel.value === "") set(undefined);
    else if (sel.value !== FILE) set(sel.value);
    else if (path.value) set(path.value);
  });
  path.addEventListener("change", () => path.value && set(path.value));
  return [sel, path];
}

function editorOf(type) {
  if (type === "bool") return boolEditor;
  if (type === "int") return intEditor;
  if (type === "float") return floatEditor;
  if (type.startsWith("matrix")) return matrixEditor;
  if (width[type]) return vectorEditor;
  return isTexture(type) ? textureEditor : () => [];
}

// The editor of parameter `p` with current value `value` (undefined: the
// default). `set(v)` changes it (undefined resets). `context` has the built-in
// texture and cube names.
export function widget(p, value, set, context) {
  const current = value === undefined ? p.default : value;
  return el("div", { className: "pWidget" }, ...editorOf(p.type)(p, current, set, value, context));
}

// The row of one parameter: name, type, default, reset, meaning, editor.
export function parameterRow(p, value, meaning, set, context) {
  const changed = value !== undefined && !same(value, p.default);
  const row = el("div", { className: "param" + (changed ? " changed" : "") });
  row.dataset.name = p.name;
  const reset = el("button", { className: "reset", textContent: "↺", title: "reset to the default", disabled: !changed && value === undefined });
  reset.addEventListener("click", () => set(undefined));
  const defaultText = "default " + valueText(p, p.default);
  row.append(
    el("div", { className: "pHead" },
      el("span", { className: "pName", textContent: p.name }),
      el("span", { className: "pType", textContent: p.type }),
      el("span", { className: "pDefault", textContent: defaultText, title: defaultText }),
      reset),
  );
  if (meaning) row.append(el("div", { className: "pMeaning", textContent: meaning }));
  row.append(widget(p, value, set, context));
  return row;
}
