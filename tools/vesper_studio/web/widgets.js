// One editor per parameter, chosen by its declared type. Every row shows the
// class default, marks a changed value and resets to the default. Every field
// of an editor shows the value sent: typing in one moves the others, and text
// that is not a value the parameter can hold is answered with a message and
// the last valid value.
import { el } from "./dom.js";
import { same } from "./state.js";

export const isColour = (p) => /colou?r|tint/i.test(p.name) && (p.type === "float3" || p.type === "float4");
const isTexture = (t) => t.startsWith("texture");
const FILE = "\u0000file";
const FLOAT_MAX = 3.4028234663852886e38;
const INT_MIN = -2147483648, INT_MAX = 2147483647;
const NUMBER = /^[+-]?(\d+\.?\d*|\.\d+)(e[+-]?\d+)?$/i;

// A short text of a value as the class declares it.
export function valueText(p, v) {
  if (v === undefined || v === null) return "—";
  if (isTexture(p.type)) return typeof v === "string" ? v : v.bound ? "bound" : "none";
  if (Array.isArray(v)) return v.map(num).join(", ");
  return typeof v === "number" ? num(v) : String(v);
}

function num(x) {
  return Number.isInteger(x) ? String(x) : String(+x.toPrecision(6));
}

// The value of typed text for a float or int field, or {error}; ints are
// rounded to the integer sent, with a note.
function judgeNumber(text, integer) {
  const t = text.trim();
  if (t === "") return { error: "empty: enter a number" };
  if (!NUMBER.test(t)) return { error: `"${t}" is not a number` };
  const x = Number(t);
  if (integer) {
    const i = Math.round(x);
    if (!(i >= INT_MIN && i <= INT_MAX)) return { error: `${t} is out of range: an int holds ${INT_MIN} to ${INT_MAX}` };
    return i === x ? { value: i } : { value: i, note: `rounded to ${i}` };
  }
  if (!(Math.abs(x) <= FLOAT_MAX)) return { error: `${t} is out of range: a float holds at most ±3.4028235e38` };
  return { value: x };
}

// A text field for one number: `onValue(x)` with each valid entry; otherwise
// `tell` says why and the field shows the last valid value again.
function numberField(value, io, integer = false) {
  const n = el("input", { type: "text", inputMode: integer ? "numeric" : "decimal", className: "num", value: num(value), spellcheck: false });
  n.addEventListener("change", () => {
    const r = judgeNumber(n.value, integer);
    if (r.error) {
      n.value = num(value);
      return io.tell(r.error + `; kept ${num(value)}`, "error");
    }
    value = r.value;
    n.value = num(value);
    io.tell(r.note || "");
    io.onValue(value);
  });
  n.show = (x) => {
    value = x;
    n.value = num(x);
  };
  return n;
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

function boolEditor(p, current, io) {
  const c = el("input", { type: "checkbox", checked: !!current });
  c.setAttribute("aria-label", p.name);
  c.addEventListener("change", () => io.set(c.checked));
  return [c];
}

function intEditor(p, current, io) {
  const n = numberField(current, { ...io, onValue: io.set }, true);
  n.addEventListener("keydown", (e) => {
    const step = { ArrowUp: 1, ArrowDown: -1 }[e.key];
    if (!step || judgeNumber(n.value, true).error) return;
    e.preventDefault();
    n.value = String(judgeNumber(n.value, true).value + step);
    n.dispatchEvent(new Event("change"));
  });
  return [n];
}

// The slider and the number field move together; a number beyond the slider's
// travel widens it.
function floatEditor(p, current, io) {
  const s = el("input", { type: "range" });
  const fit = (x) => {
    const [lo, hi] = range(p, x);
    Object.assign(s, { min: lo, max: hi, step: (hi - lo) / 500 });
    s.value = x;
  };
  fit(current);
  const n = numberField(current, { ...io, onValue: (x) => (fit(x), io.set(x)) });
  s.addEventListener("input", () => {
    const x = +Number(s.value).toPrecision(6);
    n.show(x);
    io.tell("");
    io.set(x);
  });
  return [s, n];
}

// One number field per component of `v`, which each edit changes in place.
function componentFields(v, io, after = () => {}) {
  return v.map((x, i) =>
    numberField(x, {
      ...io,
      onValue: (y) => {
        v[i] = y;
        after();
        io.set([...v]);
      },
    }),
  );
}

function vectorEditor(p, current, io) {
  const v = [...current];
  if (!isColour(p)) return componentFields(v, io);
  const c = el("input", { type: "color", value: hex(v) });
  c.setAttribute("aria-label", `${p.name} colour`);
  const numbers = componentFields(v, io, () => (c.value = hex(v)));
  c.addEventListener("input", () => {
    const rgb = fromHex(c.value);
    for (let i = 0; i < 3; ++i) v[i] = rgb[i];
    numbers.forEach((n, i) => n.show(v[i]));
    io.tell("");
    io.set([...v]);
  });
  return [c, ...numbers];
}

function matrixEditor(p, current, io) {
  const grid = el("div", { className: "matrix" }, ...componentFields([...current], io));
  grid.style.gridTemplateColumns = `repeat(${p.type === "matrix3" ? 3 : 4}, auto)`;
  return [grid];
}

// A built-in image, an image file, or none (cube maps: the preview environment's).
function textureEditor(p, current, io, value, context) {
  const cube = p.type === "textureCube";
  const names = cube ? context.cubes : context.textures;
  const sel = el("select", {}, el("option", { value: "", textContent: cube ? "preview environment" : "none" }),
    ...names.map((n) => el("option", { value: n, textContent: n })), el("option", { value: FILE, textContent: "image file…" }));
  sel.setAttribute("aria-label", p.name);
  const path = el("input", { type: "text", placeholder: "/path/to/image.png, then Enter", hidden: true });
  const isFile = typeof value === "string" && !names.includes(value);
  sel.value = typeof value === "string" ? (isFile ? FILE : value) : "";
  path.hidden = !isFile;
  if (isFile) path.value = value;
  sel.addEventListener("change", () => {
    path.hidden = sel.value !== FILE;
    if (sel.value === "") io.set(undefined);
    else if (sel.value !== FILE) io.set(sel.value);
    else if (path.value.trim()) io.set(path.value.trim());
    else path.focus();
  });
  path.addEventListener("change", () => path.value.trim() && io.set(path.value.trim()));
  return [sel, path];
}

const WIDTH = { float2: 2, float3: 3, float4: 4 };

function editorOf(type) {
  if (type === "bool") return boolEditor;
  if (type === "int") return intEditor;
  if (type === "float") return floatEditor;
  if (type.startsWith("matrix")) return matrixEditor;
  if (WIDTH[type]) return vectorEditor;
  return isTexture(type) ? textureEditor : () => [];
}

// The row of one parameter: name, type, default, reset, meaning, editor and a
// line for its messages. `value` undefined is the default; `set(v)` changes it
// (undefined resets); `context` has the built-in texture and cube names.
export function parameterRow(p, value, meaning, set, context) {
  const changed = value !== undefined && !same(value, p.default);
  const row = el("div", { className: "param" + (changed ? " changed" : "") });
  row.dataset.name = p.name;
  const reset = el("button", { className: "reset", textContent: "↺", title: "reset to the default", disabled: !changed && value === undefined });
  reset.setAttribute("aria-label", `reset ${p.name} to the default`);
  reset.addEventListener("click", () => set(undefined));
  const defaultText = "default " + valueText(p, p.default);
  const message = el("div", { className: "pMessage" });
  message.setAttribute("role", "status");
  const tell = (text, kind = "note") => {
    message.textContent = text;
    message.className = "pMessage " + kind;
  };
  row.append(
    el("div", { className: "pHead" },
      el("span", { className: "pName", textContent: p.name }),
      el("span", { className: "pType", textContent: p.type }),
      el("span", { className: "pDefault", textContent: defaultText, title: defaultText }),
      reset),
  );
  if (meaning) row.append(el("div", { className: "pMeaning", textContent: meaning }));
  row.append(el("div", { className: "pUse" }));
  const current = value === undefined ? p.default : value;
  row.append(el("div", { className: "pWidget" }, ...editorOf(p.type)(p, current, { set, tell }, value, context)), message);
  return row;
}
