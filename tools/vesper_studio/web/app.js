// vesper-studio's page: pick a class, edit its parameters, watch the preview
// refine, compare render paths or settings, read the lobe, save the scene.
import { Notes, noteHtml } from "./notes.js";
import { parameterRow, same } from "./widgets.js";
import { compare } from "./compare.js";
import { drawLobe, drawHemisphere } from "./lobe.js";

const $ = (id) => document.getElementById(id);
const pageId = Math.random().toString(36).slice(2, 10);
const CAP_NAMES = [[1, "shade"], [2, "shadowTransmission"], [4, "evaluateBsdf"], [8, "sampleBsdf"], [32, "light"], [64, "environment"]];
const BSDF = 4 | 8;

let catalogue, notes, classes = new Map();
const state = {
  class: "", params: {}, shape: "sphere", env: "sky", envFile: "", mode: "direct", quality: 16,
  view: "single", incidence: 45, pinned: null, log: false,
};
const shown = {};  // channel -> {body, blob, url}
let generation = 0, lobeGeneration = 0;

// ---- the state in the link ----

function encodeState() {
  const s = {
    c: state.class, p: state.params, s: state.shape, e: state.env, f: state.envFile, m: state.mode,
    q: state.quality, v: state.view, i: state.incidence, a: state.pinned,
  };
  const bytes = new TextEncoder().encode(JSON.stringify(s));
  return btoa(String.fromCharCode(...bytes)).replace(/\+/g, "-").replace(/\//g, "_").replace(/=+$/, "");
}

function decodeState(text) {
  try {
    const b = atob(text.replace(/-/g, "+").replace(/_/g, "/"));
    const s = JSON.parse(new TextDecoder().decode(Uint8Array.from(b, (c) => c.charCodeAt(0))));
    return {
      class: s.c, params: s.p || {}, shape: s.s || "sphere", env: s.e || "sky", envFile: s.f || "",
      mode: s.m || "direct", quality: s.q || 16, view: s.v || "single", incidence: s.i ?? 45, pinned: s.a || null,
    };
  } catch {
    return null;
  }
}

function updateLink() {
  const url = new URL(location.href);
  url.hash = "state=" + encodeState();
  history.replaceState(null, "", url);
  $("link").value = url.href;
}

// ---- the class list ----

function buildClassList() {
  const list = $("classList");
  list.textContent = "";
  const filter = $("classFilter").value.toLowerCase();
  for (const [kind, title] of [["material", "Materials"], ["light", "Lights"], ["environment", "Environments"]]) {
    const items = catalogue.classes.filter((c) => c.kind === kind && c.name.toLowerCase().includes(filter));
    if (!items.length) continue;
    list.append(Object.assign(document.createElement("div"), { className: "kindTitle", textContent: `${title} · ${items.length}` }));
    for (const c of items) {
      const b = Object.assign(document.createElement("button"), {
        className: "classItem" + (c.name === state.class ? " active" : ""), textContent: c.name, title: c.name,
      });
      b.dataset.class = c.name;
      b.addEventListener("click", () => selectClass(c.name, true));
      list.append(b);
    }
  }
}

function selectClass(name, fresh) {
  const c = classes.get(name);
  if (!c) return;
  state.class = name;
  if (fresh) {
    state.params = structuredClone(c.preset || {});
    state.pinned = null;
  }
  for (const b of document.querySelectorAll(".classItem")) b.classList.toggle("active", b.dataset.class === name);
  const caps = CAP_NAMES.filter(([bit]) => c.capabilities & bit).map(([, n]) => `<span class="badge">${n}</span>`).join("");
  $("classHeader").innerHTML =
    `<h2>${name}</h2><span class="badge kind">${c.kind}</span>${caps}` +
    `<span class="badge">${c.parameters.length} parameters</span>` +
    `<p class="about">${noteHtml(notes.text(name))}</p>`;
  $("shape").disabled = c.kind !== "material";
  buildParams();
  changed();
}

// ---- parameters ----

function buildParams() {
  const c = classes.get(state.class);
  const box = $("params");
  box.textContent = "";
  const filter = $("paramFilter").value.toLowerCase();
  const only = $("changedOnly").checked;
  for (const p of c.parameters) {
    if (filter && !p.name.toLowerCase().includes(filter)) continue;
    if (only && (state.params[p.name] === undefined || same(state.params[p.name], p.default))) continue;
    box.append(row(p));
  }
}

function row(p) {
  const set = (v) => {
    if (v === undefined) delete state.params[p.name];
    else state.params[p.name] = v;
    const r = document.querySelector(`.param[data-name="${CSS.escape(p.name)}"]`);
    if (v === undefined && r) r.replaceWith(row(p));
    else if (r) {
      r.classList.toggle("changed", !same(v, p.default));
      r.querySelector(".reset").disabled = false;
    }
    changed();
  };
  return parameterRow(p, state.params[p.name], notes.meaning(state.class, p.name), set, catalogue);
}

// ---- previews ----

function environment(s) {
  return s.env === "file" ? s.envFile : s.env;
}

function body(s, mode, width, height, spp) {
  return {
    class: state.class, params: s.params, width, height, spp, mode, seed: 1, preview: s.shape,
    environment: environment(s),
  };
}

// What each channel shows in the current view.
function channels() {
  if (state.view === "paths") return { A: ["direct", state, "direct · shade"], B: ["path", state, "path · sampleBsdf"] };
  if (state.view === "ab" && state.pinned) {
    return { A: [state.pinned.mode, { ...state, ...state.pinned }, "A · pinned"], B: [state.mode, state, "B · current"] };
  }
  return { A: [state.mode, state, ""] };
}

function steps() {
  const q = Number(state.quality);
  const list = [[320, 240, 1], [480, 360, Math.min(4, q)], [480, 360, Math.min(16, q)], [480, 360, q]];
  return list.filter((s, i) => i === 0 || !same(s, list[i - 1]));
}

async function post(path, data, client) {
  const headers = { "Content-Type": "application/json" };
  if (client) headers["X-Vesper-Client"] = client;
  const r = await fetch(path, { method: "POST", headers, body: JSON.stringify(data) });
  if (r.ok) return r;
  const e = await r.json().catch(() => ({ error: r.statusText }));
  throw Object.assign(new Error(e.error || r.statusText), { status: r.status, field: e.field });
}

function showError(e) {
  for (const r of document.querySelectorAll(".param.bad")) r.classList.remove("bad");
  if (!e) {
    $("error").hidden = true;
    return;
  }
  $("error").hidden = false;
  $("error").textContent = e.message;
  if (e.field && e.field.startsWith("params.")) {
    document.querySelector(`.param[data-name="${CSS.escape(e.field.slice(7))}"]`)?.classList.add("bad");
  }
}

async function refine(channel, [mode, s], gen) {
  for (const [w, h, spp] of steps()) {
    const b = body(s, mode, w, h, spp);
    const t0 = performance.now();
    let r;
    try {
      r = await post("/api/render", b, `${pageId}:${channel}`);
    } catch (e) {
      if (e.status === 409 || gen !== generation) return false;
      showError(e);
      $("viewer").dataset.status = "error";
      return false;
    }
    const blob = await r.blob();
    if (gen !== generation) return false;
    showError(null);
    const old = shown[channel];
    shown[channel] = { body: b, blob, url: URL.createObjectURL(blob) };
    $("img" + channel).src = shown[channel].url;
    if (old) setTimeout(() => URL.revokeObjectURL(old.url), 1000);
    const ms = Math.round(performance.now() - t0);
    $("progress").textContent = `${w}×${h} · ${spp} spp · ${ms} ms` + (spp < Number(state.quality) ? " · refining…" : "");
    await updateComparison();
  }
  return true;
}

async function updateComparison() {
  const two = state.view !== "single" && shown.A && shown.B;
  if (!two || shown.A.body.width !== shown.B.body.width) {
    $("metrics").textContent = "";
    $("heat").hidden = true;
    return;
  }
  const m = await compare(shown.A.blob, shown.B.blob, $("heat"));
  if (!m) return;
  $("heat").hidden = !$("diff").checked;
  $("metrics").textContent = `RMSE ${m.rmse.toFixed(4)} · PSNR ${Number.isFinite(m.psnr) ? m.psnr.toFixed(1) + " dB" : "∞"}`;
}

function layoutViewer() {
  const two = state.view !== "single";
  const ch = channels();
  $("imgB").hidden = !two;
  $("divider").hidden = !two;
  if (!two) $("imgA").style.clipPath = "";
  else setSplit(splitAt);
  $("tagA").textContent = ch.A[2];
  $("tagB").textContent = ch.B ? ch.B[2] : "";
  $("pinA").disabled = false;
  for (const b of document.querySelectorAll(".tabs [data-view]")) b.classList.toggle("active", b.dataset.view === state.view);
}

let splitAt = 0.5;
function setSplit(f) {
  splitAt = Math.min(1, Math.max(0, f));
  $("divider").style.left = `${splitAt * 100}%`;
  $("imgA").style.clipPath = `inset(0 ${(1 - splitAt) * 100}% 0 0)`;
}

let timer = 0;
function changed() {
  updateLink();
  clearTimeout(timer);
  timer = setTimeout(run, 30);
}

async function run() {
  const gen = ++generation;
  const ch = channels();
  layoutViewer();
  if (!ch.B) delete shown.B;
  $("viewer").dataset.status = "rendering";
  lobe();
  const done = await Promise.all(Object.entries(ch).map(([k, v]) => refine(k, v, gen)));
  if (gen === generation && done.every(Boolean)) $("viewer").dataset.status = "done";
}

// ---- the lobe ----

async function lobe() {
  const c = classes.get(state.class);
  const has = c.kind === "material" && (c.capabilities & BSDF) === BSDF;
  $("lobePanel").classList.toggle("off", !has);
  if (!has) {
    drawLobe($("lobe"), null);
    drawHemisphere($("hemi"), null);
    $("lobeInfo").textContent = c.kind === "material" ? "no evaluateBsdf / sampleBsdf" : `a ${c.kind}: no lobe`;
    return;
  }
  const gen = ++lobeGeneration;
  try {
    const r = await post("/api/lobe", { class: state.class, params: state.params, incidence: Number(state.incidence), samples: 60000 }, `${pageId}:lobe`);
    const data = await r.json();
    if (gen !== lobeGeneration) return;
    drawLobe($("lobe"), data, { log: $("lobeLog").checked });
    drawHemisphere($("hemi"), data);
    const k = Object.entries(data.kinds).filter(([, n]) => n > 0).map(([n, v]) => `${n} ${Math.round((100 * v) / data.samples)}%`).join(", ");
    $("lobeInfo").innerHTML =
      `<span class="swatch" style="background:#e8a23a"></span>evaluateBsdf<br>` +
      `<span class="swatch" style="background:rgba(90,169,230,.7)"></span>sampleBsdf, ${data.samples} samples<br>` +
      `albedo <b>${data.albedo.map((x) => x.toFixed(3)).join(" ")}</b><br>${k}`;
    lastLobe = data;
  } catch (e) {
    if (e.status !== 409 && gen === lobeGeneration) $("lobeInfo").textContent = e.message;
  }
}
let lastLobe = null;

// ---- start ----

function syncControls() {
  $("shape").value = state.shape;
  $("environment").value = state.env;
  $("envFile").hidden = state.env !== "file";
  $("envFile").value = state.envFile;
  $("mode").value = state.mode;
  $("quality").value = String(state.quality);
  $("incidence").value = state.incidence;
  $("incidenceOut").textContent = `${state.incidence}°`;
}

async function start() {
  const [cat, n] = await Promise.all([
    fetch("/api/classes").then((r) => r.json()),
    fetch("/class-notes.json").then((r) => r.json()).catch(() => ({})),
  ]);
  catalogue = cat;
  notes = new Notes(n);
  for (const c of catalogue.classes) classes.set(c.name, c);
  const restored = location.hash.startsWith("#state=") ? decodeState(location.hash.slice(7)) : null;
  if (restored && classes.has(restored.class)) Object.assign(state, restored);
  else state.class = classes.has("corvid_Mtl_Metal") ? "corvid_Mtl_Metal" : catalogue.classes[0].name;
  syncControls();
  buildClassList();

  $("classFilter").addEventListener("input", buildClassList);
  $("paramFilter").addEventListener("input", buildParams);
  $("changedOnly").addEventListener("change", buildParams);
  for (const id of ["shape", "mode", "quality"]) {
    $(id).addEventListener("change", () => {
      state[id === "shape" ? "shape" : id] = id === "quality" ? Number($(id).value) : $(id).value;
      changed();
    });
  }
  $("environment").addEventListener("change", () => {
    state.env = $("environment").value;
    $("envFile").hidden = state.env !== "file";
    if (state.env !== "file" || state.envFile) changed();
  });
  $("envFile").addEventListener("change", () => {
    state.envFile = $("envFile").value;
    changed();
  });
  $("resetAll").addEventListener("click", () => {
    state.params = {};
    buildParams();
    changed();
  });
  $("loadPreset").addEventListener("click", () => {
    state.params = structuredClone(classes.get(state.class).preset || {});
    buildParams();
    changed();
  });
  for (const b of document.querySelectorAll(".tabs [data-view]")) {
    b.addEventListener("click", () => {
      state.view = b.dataset.view;
      if (state.view === "ab" && !state.pinned) pinA();
      changed();
    });
  }
  const pinA = () => {
    state.pinned = { params: structuredClone(state.params), shape: state.shape, env: state.env, envFile: state.envFile, mode: state.mode };
  };
  $("pinA").addEventListener("click", () => {
    pinA();
    state.view = "ab";
    changed();
  });
  $("diff").addEventListener("change", () => ($("heat").hidden = !$("diff").checked || !shown.B));
  $("incidence").addEventListener("input", () => {
    state.incidence = Number($("incidence").value);
    $("incidenceOut").textContent = `${state.incidence}°`;
    updateLink();
    clearTimeout(lobeTimer);
    lobeTimer = setTimeout(lobe, 40);
  });
  $("lobeLog").addEventListener("change", () => lastLobe && drawLobe($("lobe"), lastLobe, { log: $("lobeLog").checked }));
  let dragging = false;
  $("viewer").addEventListener("pointerdown", (e) => {
    if (state.view === "single") return;
    dragging = true;
    $("viewer").setPointerCapture(e.pointerId);
    move(e);
  });
  const move = (e) => {
    if (!dragging) return;
    const r = $("viewer").getBoundingClientRect();
    setSplit((e.clientX - r.left) / r.width);
  };
  $("viewer").addEventListener("pointermove", move);
  $("viewer").addEventListener("pointerup", () => (dragging = false));
  $("saveScene").addEventListener("click", saveScene);
  $("copyLink").addEventListener("click", async () => {
    updateLink();
    $("link").select();
    try {
      await navigator.clipboard.writeText($("link").value);
    } catch {
      document.execCommand?.("copy");
    }
  });
  selectClass(state.class, !restored);
}
let lobeTimer = 0;

// Downloads the scene of the image on the left (the only one in a single view).
async function saveScene() {
  if (!shown.A) return;
  try {
    const r = await post("/api/scene", shown.A.body);
    const blob = new Blob([await r.text()], { type: "application/json" });
    const a = Object.assign(document.createElement("a"), { href: URL.createObjectURL(blob), download: `${state.class}.json` });
    document.body.append(a);
    a.click();
    a.remove();
  } catch (e) {
    showError(e);
  }
}

start();
