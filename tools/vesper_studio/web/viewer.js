// The viewer: one image, or two split by a divider that follows the pointer and
// the arrow keys, with their labels; the difference map and the RMSE and PSNR
// of the two; the refinement's progress; images of older settings dimmed.
import { $ } from "./dom.js";
import { compare } from "./compare.js";
import { scheduleLinkUpdate } from "./link.js";
import { shown, state } from "./state.js";

const progress = {};

function setSplit(f) {
  state.split = Math.min(1, Math.max(0, f));
  const percent = Math.round(state.split * 1000) / 10;
  $("divider").style.left = `${percent}%`;
  $("divider").setAttribute("aria-valuenow", String(percent));
  $("divider").setAttribute("aria-valuetext", `${percent}% A`);
  $("imgA").style.clipPath = `inset(0 ${100 - percent}% 0 0)`;
}

// Shows one image, or two (`paired`) labelled by the view's tab.
export function layoutViewer(paired) {
  const two = state.view !== "single";
  $("imgB").hidden = !two;
  $("divider").hidden = !two;
  $("viewer").classList.toggle("paired", two);
  if (!two) $("imgA").style.clipPath = "";
  else setSplit(state.split);
  const tab = document.querySelector(`.tabs [data-view="${CSS.escape(state.view)}"]`);
  const [tagA = "", tagB = ""] = paired ? tab.dataset.tags.split("|") : [];
  $("tagA").textContent = tagA;
  $("tagB").textContent = tagB;
  for (const b of document.querySelectorAll(".tabs [data-view]")) {
    b.classList.toggle("active", b.dataset.view === state.view);
    b.setAttribute("aria-selected", String(b.dataset.view === state.view));
  }
  if (!paired) delete progress.B;
}

// Shows the image `blob` of request `body` in a channel; no body clears it.
export function showImage(channel, body, blob) {
  const old = shown[channel];
  const img = $("img" + channel);
  if (body) {
    shown[channel] = { body, blob, url: URL.createObjectURL(blob) };
    img.alt = `${body.class}, ${body.mode} (${body.width}×${body.height}, ${body.spp} samples)`;
    img.src = shown[channel].url;
  } else {
    delete shown[channel];
    img.removeAttribute("src");
    img.alt = "";
    delete progress[channel];
  }
  if (old) setTimeout(() => URL.revokeObjectURL(old.url), 1000);
  $("placeholder").hidden = Boolean(shown.A);
}

const picture = (b) => b && JSON.stringify([b.class, b.params, b.mode, b.preview, b.environment]);

// Dims each image that no longer shows the settings its channel renders now.
export function markStale(targets) {
  for (const k of ["A", "B"]) {
    $("img" + k).classList.toggle("stale", Boolean(shown[k] && targets[k] && picture(shown[k].body) !== picture(targets[k])));
  }
}

// The samples done of the channel furthest behind, against the chosen count.
export function showProgress(channel, b, seconds) {
  progress[channel] = { b, seconds };
  const all = Object.values(progress);
  const least = all.reduce((x, y) => (y.b.width * y.b.spp < x.b.width * x.b.spp ? y : x));
  const { width, height, spp } = least.b, q = Number(state.quality);
  const done = width === 480 ? spp : 0;
  const bar = $("progressBar");
  bar.setAttribute("aria-valuemax", String(q));
  bar.setAttribute("aria-valuenow", String(done));
  bar.firstElementChild.style.width = `${(100 * done) / q}%`;
  const time = Number.isFinite(least.seconds) ? ` · ${least.seconds.toFixed(2)} s` : "";
  $("progress").textContent = `${width}×${height} · ${done} of ${q} samples${time}` + (done < q ? " · refining…" : "");
}

export async function updateComparison() {
  const two = state.view !== "single" && shown.A && shown.B;
  if (!two || shown.A.body.width !== shown.B.body.width) {
    $("metrics").textContent = "";
    $("heat").hidden = true;
    return;
  }
  const m = await compare(shown.A.blob, shown.B.blob, $("heat"));
  if (!m) return;
  $("heat").hidden = !state.diff;
  $("metrics").textContent = `RMSE ${m.rmse.toFixed(4)} · PSNR ${Number.isFinite(m.psnr) ? m.psnr.toFixed(1) + " dB" : "∞"}`;
}

// The divider follows a drag that starts anywhere on the viewer; the pointer is
// captured so that it keeps following outside, and no native image drag starts.
function initDrag() {
  const viewer = $("viewer");
  let pointer = null;
  const move = (e) => {
    if (e.pointerId !== pointer) return;
    const r = viewer.getBoundingClientRect();
    setSplit((e.clientX - r.left) / r.width);
    scheduleLinkUpdate();
  };
  viewer.addEventListener("pointerdown", (e) => {
    if (state.view === "single" || e.button !== 0) return;
    e.preventDefault();
    pointer = e.pointerId;
    viewer.setPointerCapture(pointer);
    $("divider").focus({ preventScroll: true });
    move(e);
  });
  viewer.addEventListener("pointermove", move);
  for (const type of ["pointerup", "pointercancel"]) viewer.addEventListener(type, () => (pointer = null));
  viewer.addEventListener("dragstart", (e) => e.preventDefault());
}

const KEY_STEPS = { ArrowLeft: -0.01, ArrowRight: 0.01, ArrowDown: -0.01, ArrowUp: 0.01, PageDown: -0.1, PageUp: 0.1 };

function initKeys() {
  $("divider").addEventListener("keydown", (e) => {
    let f = state.split;
    if (e.key in KEY_STEPS) f += KEY_STEPS[e.key] * (e.shiftKey ? 10 : 1);
    else if (e.key === "Home") f = 0;
    else if (e.key === "End") f = 1;
    else return;
    e.preventDefault();
    setSplit(Math.round(f * 1000) / 1000);
    scheduleLinkUpdate();
  });
}

export function initViewer() {
  initDrag();
  initKeys();
  $("diff").checked = state.diff;
  $("diff").addEventListener("change", () => {
    state.diff = $("diff").checked;
    $("heat").hidden = !state.diff || !shown.B;
    scheduleLinkUpdate();
  });
}
