// The viewer: one image, or two split by a divider the pointer drags, with
// their labels; the difference map and the RMSE and PSNR of the two.
import { $ } from "./dom.js";
import { compare } from "./compare.js";
import { shown, state } from "./state.js";

let splitAt = 0.5;

function setSplit(f) {
  splitAt = Math.min(1, Math.max(0, f));
  $("divider").style.left = `${splitAt * 100}%`;
  $("imgA").style.clipPath = `inset(0 ${(1 - splitAt) * 100}% 0 0)`;
}

// Shows one image, or two (`paired`) labelled by the view's tab.
export function layoutViewer(paired) {
  const two = state.view !== "single";
  $("imgB").hidden = !two;
  $("divider").hidden = !two;
  if (!two) $("imgA").style.clipPath = "";
  else setSplit(splitAt);
  const tab = document.querySelector(`.tabs [data-view="${CSS.escape(state.view)}"]`);
  const [tagA = "", tagB = ""] = paired ? tab.dataset.tags.split("|") : [];
  $("tagA").textContent = tagA;
  $("tagB").textContent = tagB;
  $("pinA").disabled = false;
  for (const b of document.querySelectorAll(".tabs [data-view]")) b.classList.toggle("active", b.dataset.view === state.view);
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
  $("heat").hidden = !$("diff").checked;
  $("metrics").textContent = `RMSE ${m.rmse.toFixed(4)} · PSNR ${Number.isFinite(m.psnr) ? m.psnr.toFixed(1) + " dB" : "∞"}`;
}

function initDivider() {
  const viewer = $("viewer");
  let dragging = false;
  const move = (e) => {
    if (!dragging) return;
    const r = viewer.getBoundingClientRect();
    setSplit((e.clientX - r.left) / r.width);
  };
  viewer.addEventListener("pointerdown", (e) => {
    if (state.view === "single") return;
    dragging = true;
    viewer.setPointerCapture(e.pointerId);
    move(e);
  });
  viewer.addEventListener("pointermove", move);
  viewer.addEventListener("pointerup", () => (dragging = false));
}

export function initViewer() {
  initDivider();
  $("diff").addEventListener("change", () => ($("heat").hidden = !$("diff").checked || !shown.B));
}
