// The preview: each change renders at 320x240 with one sample first, then
// refines at 480x360 up to the chosen sample count while nothing changes. A
// newer change, or a newer request of the same view (409), abandons a refinement.
import { $ } from "./dom.js";
import { post } from "./api.js";
import { markBadParameter } from "./params.js";
import { pageId, same, shown, state } from "./state.js";
import { layoutViewer, updateComparison } from "./viewer.js";

let generation = 0;

function environment(s) {
  return s.env === "file" ? s.envFile : s.env;
}

function body(s, mode, width, height, spp) {
  return {
    class: state.class, params: s.params, width, height, spp, mode, seed: 1, preview: s.shape,
    environment: environment(s),
  };
}

// What each channel shows in the current view: [mode, settings].
function channels() {
  if (state.view === "paths") return { A: ["direct", state], B: ["path", state] };
  if (state.view === "ab" && state.pinned) return { A: [state.pinned.mode, { ...state, ...state.pinned }], B: [state.mode, state] };
  return { A: [state.mode, state] };
}

function steps() {
  const q = Number(state.quality);
  const list = [[320, 240, 1], [480, 360, Math.min(4, q)], [480, 360, Math.min(16, q)], [480, 360, q]];
  return list.filter((s, i) => i === 0 || !same(s, list[i - 1]));
}

// The message of a refused request under the viewer, and its parameter marked; null clears both.
export function showError(e) {
  markBadParameter(e?.field);
  $("error").hidden = !e;
  if (e) $("error").textContent = e.message;
}

function show(channel, b, blob) {
  const old = shown[channel];
  shown[channel] = { body: b, blob, url: URL.createObjectURL(blob) };
  $("img" + channel).src = shown[channel].url;
  if (old) setTimeout(() => URL.revokeObjectURL(old.url), 1000);
}

// One request of a refinement: its image, or null when it was abandoned or refused.
async function renderStep(channel, b, gen) {
  try {
    const r = await post("/api/render", b, `${pageId}:${channel}`);
    const blob = await r.blob();
    return gen === generation ? blob : null;
  } catch (e) {
    if (e.status === 409 || gen !== generation) return null;
    showError(e);
    $("viewer").dataset.status = "error";
    return null;
  }
}

async function refine(channel, [mode, s], gen) {
  for (const [w, h, spp] of steps()) {
    const b = body(s, mode, w, h, spp);
    const t0 = performance.now();
    const blob = await renderStep(channel, b, gen);
    if (!blob) return false;
    showError(null);
    show(channel, b, blob);
    const ms = Math.round(performance.now() - t0);
    $("progress").textContent = `${w}×${h} · ${spp} spp · ${ms} ms` + (spp < Number(state.quality) ? " · refining…" : "");
    await updateComparison();
  }
  return true;
}

// Renders the current state into every channel of the view.
export async function renderPreview() {
  const gen = ++generation;
  const ch = channels();
  layoutViewer(Boolean(ch.B));
  if (!ch.B) delete shown.B;
  $("viewer").dataset.status = "rendering";
  const done = await Promise.all(Object.entries(ch).map(([k, v]) => refine(k, v, gen)));
  if (gen === generation && done.every(Boolean)) $("viewer").dataset.status = "done";
}
